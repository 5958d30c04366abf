#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <sys/stat.h>

#include "archive/archive_writer.h"
#include "archive/load_command.h"
#include "cli/archive_commands.h"
#include "imagefile/png_file.h"
#include "imagefile/texture_png.h"
#include "texture/format_choice.h"
#include "texture/image_selection.h"
#include "texture/texture_encode.h"
#include "tests/archive/archive_bytes.h"
#include "tests/support/test_util.h"

namespace quarrendel::test {
namespace {

namespace fs = std::filesystem;

struct PackCliTest : ::testing::Test {
  TempDir dir;
  std::string WritePvm(const std::string& name, const ImageList& list) {
    WriteFileBytes(dir / name, archive::BuildArchiveFile(PackageArchiveKind::Pvm, list.images));
    return (dir / name).string();
  }
};

TEST_F(PackCliTest, ListJsonDescribesTheContainerAndEveryImage) {
  const std::string pvm = (dir / "a.pvm").string();
  WriteFileBytes(pvm, PvmTwoTextures());
  const CliResult r = RunCli({"list", pvm, "--json"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\n"
            "  \"kind\": \"pvm\",\n"
            "  \"compressed\": false,\n"
            "  \"complete\": true,\n"
            "  \"images\": [\n"
            "    {\"index\": 0, \"name\": \"wall\", \"width\": 2, \"height\": 2, \"format\": 2305, \"dataLength\": 4, "
            "\"globalIndex\": 287454020, \"packageIndex\": 0},\n"
            "    {\"index\": 1, \"name\": \"floor\", \"width\": 4, \"height\": 8, \"format\": 3450536192, "
            "\"dataLength\": 2, \"globalIndex\": 305419896, \"packageIndex\": 0}\n"
            "  ]\n"
            "}\n");

  const Bytes whole = PvmTwoTextures();
  const std::string cut = (dir / "cut.pvm").string();
  WriteFileBytes(cut, Bytes(whole.begin(), whole.begin() + 110));
  const CliResult c = RunCli({"list", "--json", cut});
  EXPECT_EQ(c.status, 3);
  EXPECT_NE(c.out.find("\"complete\": false,\n"), std::string::npos) << c.out;
  EXPECT_NE(c.out.find("\"name\": \"wall\""), std::string::npos);

  const std::string sample = (fs::path(QUARRENDEL_SOURCE_DIR) / "samples/sample_xvm.prs").string();
  const CliResult prs = RunCli({"list", "--json", sample});
  EXPECT_EQ(prs.status, 0);
  EXPECT_EQ(prs.out.substr(0, 48), "{\n  \"kind\": \"xvm\",\n  \"compressed\": true,\n  \"comp");
}

TEST_F(PackCliTest, UnpackWritesOnePngPerTextureAndTheIndex) {
  ImageList list;
  // Twiddled ARGB1555 2 x 2: white, red with alpha bit 0, green, 5-bit grey 1.
  list.Add("wall", FromHex("FFFF 007C E083 2104"), 0, 0x0100, 2, 7);
  list.Add("Wall", FromHex("FFFF E007"), 0, 0x0B01, 1, 4294967295u).Width = 2;  // stride RGB565 2 x 1
  list.Add("a/b", FromHex("0000 0000 0000 0000"), 0, 0x0100, 2, 0);
  const std::string pvm = WritePvm("in.pvm", list);
  const fs::path pack = dir / "new" / "pack";
  const CliResult r = RunCli({"unpack", pvm, pack.string()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ReadFileBytes(pack / "index.txt"),
            Bytes(std::string_view("7,wall.png,2x2,00000100\n4294967295,Wall~2.png,2x1,00000B01\n0,a_b.png,2x2,00000100\n").begin(),
                  std::string_view("7,wall.png,2x2,00000100\n4294967295,Wall~2.png,2x1,00000B01\n0,a_b.png,2x2,00000100\n").end()));
  const imagefile::RgbaImage wall = imagefile::ReadPngFile(pack / "wall.png");
  EXPECT_EQ(ToHex(wall.pixels), ToHex(FromHex("FFFFFFFF 00FF00FF FF000000 08080800")));
  const imagefile::RgbaImage stride = imagefile::ReadPngFile(pack / "Wall~2.png");
  EXPECT_EQ(ToHex(stride.pixels), ToHex(FromHex("FFFFFFFF 00FF00FF")));
  EXPECT_EQ(std::distance(fs::directory_iterator(pack), fs::directory_iterator()), 4);
}

TEST_F(PackCliTest, UnpackRefusesOversizedTexturesBeforeWritingAndFlagsUnsupportedFormats) {
  ImageList list;
  list.Add("ok", Bytes(8, 0), 0, 0x0100, 2);
  list.Add("odd", Bytes(8, 0), 0, 0x0C00, 2);
  list.Add("clut", Bytes(8, 0), 0, 0x0500, 4);  // 4-bit CLUT whose clut.pvp is missing
  const CliResult unsupported = RunCli({"unpack", WritePvm("u.pvm", list), (dir / "u").string()});
  EXPECT_EQ(unsupported.status, 4);
  EXPECT_EQ(unsupported.err, "image 1: Unsupported format: its PNG is transparent\nimage 2: Palette file not found: " +
                                 (dir / "clut.pvp").string() + ": fallback palette\n");
  EXPECT_TRUE(fs::exists(dir / "u" / "odd.png"));
  EXPECT_TRUE(fs::exists(dir / "u" / "index.txt"));

  list.Add("huge", Bytes(8, 0), 0, 0x0100, 4096);
  const CliResult huge = RunCli({"unpack", WritePvm("h.pvm", list), (dir / "h").string()});
  EXPECT_EQ(huge.status, 1);
  EXPECT_EQ(huge.err, "image 3 (huge) is 4096x4096: a PNG holds 1x1 to 2048x2048 pixels\n");
  EXPECT_FALSE(fs::exists(dir / "h"));

  // A folder that cannot be made: a file stands in its way.
  WriteFileBytes(dir / "file", Bytes{1});
  const CliResult blocked = RunCli({"unpack", (dir / "u.pvm").string(), (dir / "file" / "sub").string()});
  EXPECT_EQ(blocked.status, 1);
  EXPECT_EQ(blocked.err.rfind("cannot create the folder " + (dir / "file" / "sub").string() + ": ", 0), 0u)
      << blocked.err;
}

// The folder an unpack writes into may hold what someone else put there: a
// link is replaced by the file, never followed; a FIFO or folder under a
// name is refused before anything is written (a FIFO never blocks); an
// earlier pack's pictures stay and are named.
TEST_F(PackCliTest, UnpackIntoAHostileFolderWritesOnlyInsideIt) {
  ImageList list;
  list.Add("wall", Bytes(8, 0xFF), 0, 0x0100, 2, 1);
  list.Add("floor", Bytes(8, 0x00), 0, 0x0100, 2, 2);
  const std::string pvm = WritePvm("in.pvm", list);
  WriteFileBytes(dir / "victim.txt", Bytes{'v'});
  const fs::path pack = dir / "pack";
  fs::create_directory(pack);
  fs::create_symlink(dir / "victim.txt", pack / "index.txt");
  fs::create_symlink(dir / "victim.txt", pack / "wall.png");
  WriteFileBytes(pack / "old.png", Bytes{1});
  // Left by a killed run (no process has this id), and by a live one (pid 1).
  WriteFileBytes(pack / ".wall.png.quarrendel-tmp-2147483646-0", Bytes{2});
  WriteFileBytes(pack / ".index.txt.quarrendel-tmp-1-0", Bytes{3});
  const CliResult r = RunCli({"unpack", pvm, pack.string()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, (pack / "old.png").string() + ": not listed in index.txt\n");
  EXPECT_EQ(ReadFileBytes(dir / "victim.txt"), Bytes{'v'});
  for (const char* name : {"index.txt", "wall.png", "floor.png"}) EXPECT_FALSE(fs::is_symlink(pack / name)) << name;
  const std::string index = "1,wall.png,2x2,00000100\n2,floor.png,2x2,00000100\n";
  EXPECT_EQ(ReadFileBytes(pack / "index.txt"), Bytes(index.begin(), index.end()));
  EXPECT_EQ(ReadFileBytes(pack / "old.png"), Bytes{1});
  EXPECT_FALSE(fs::exists(pack / ".wall.png.quarrendel-tmp-2147483646-0"));
  EXPECT_TRUE(fs::exists(pack / ".index.txt.quarrendel-tmp-1-0"));

  const std::pair<const char*, const char*> refused[] = {{"index.txt", "FIFO"}, {"floor.png", "FIFO"},
                                                          {"wall.png", "folder"}};
  for (const auto& [name, what] : refused) {
    const fs::path hostile = dir / (std::string("h_") + name);
    fs::create_directory(hostile);
    if (std::string(what) == "FIFO") {
      ASSERT_EQ(::mkfifo((hostile / name).c_str(), 0600), 0);
    } else {
      fs::create_directory(hostile / name);
    }
    const CliResult h = RunCli({"unpack", pvm, hostile.string()});
    EXPECT_EQ(h.status, 1) << name;
    EXPECT_EQ(h.err, "cannot write " + (hostile / name).string() + ": it is a " + what + ", not a regular file\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(hostile), fs::directory_iterator()), 1) << name;
  }
}

using AlphaOf = std::function<uint32_t(int32_t, int32_t)>;

// Picture k: 16 x 16, rows from the top, gradients with alpha(x, y);
// transparent pixels black, as a DXT1 or CMPR texel decodes.
std::vector<uint32_t> Picture(size_t k, const AlphaOf& alpha) {
  std::vector<uint32_t> pixels;
  for (int32_t y = 0; y < 16; ++y) {
    for (int32_t x = 0; x < 16; ++x) {
      const auto r = static_cast<uint32_t>(x * 16 + static_cast<int32_t>(k) * 40) & 255;
      const auto g = static_cast<uint32_t>(y * 16) & 255;
      const auto b = static_cast<uint32_t>((x + y) * 8);
      const uint32_t a = alpha(x, y);
      pixels.push_back(a == 0 ? 0 : r | g << 8 | b << 16 | a << 24);
    }
  }
  return pixels;
}

// An archive of `kind` holding the pictures, each encoded for `family` and
// marked as Import does, named "texK" with global index 100 + K.
Bytes EncodedArchive(PackageArchiveKind kind, TargetFamily family, const std::vector<AlphaOf>& alphas) {
  const auto store = std::make_unique<ImageStore>();
  for (size_t k = 0; k < alphas.size(); ++k) {
    const std::vector<uint32_t> pixels = Picture(k, alphas[k]);
    for (int32_t y = 0; y < 16; ++y)
      for (int32_t x = 0; x < 16; ++x) store->canvas(x, y) = pixels[static_cast<size_t>(y * 16 + x)];
    const auto i = static_cast<int32_t>(k);
    texture::EncodeCanvasIntoEntry(*store, i, 16, family);
    texture::SelectImage(*store, i);
    texture::ApplyXboxMarking(*store, i);
    store->images[k].Name = "tex" + std::to_string(k);
    store->images[k].GlobalIndex = 100 + static_cast<uint32_t>(k);
  }
  return archive::BuildArchiveFile(kind, std::span<const TImage_Entry>(store->images.data(), alphas.size()));
}

// Every image of `path` decoded: its format word, name, global index and pixels.
struct Decoded {
  uint32_t format;
  std::string name;
  uint32_t globalIndex;
  std::vector<uint32_t> pixels;
};
std::vector<Decoded> DecodeAll(const std::string& path) {
  const auto store = std::make_unique<ImageStore>();
  RecordingFrontEnd ui;
  archive::LoadFile(*store, ui, path);
  std::vector<Decoded> all;
  for (int32_t i = 0; i < store->imageCount; ++i) {
    const TImage_Entry& e = store->images[static_cast<size_t>(i)];
    all.push_back({e.Format, e.Name, e.GlobalIndex, texture::SelectImage(*store, i).picture.decoded});
  }
  return all;
}

int32_t MaxChannelError(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  int32_t worst = a.size() == b.size() ? 0 : 255;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
    for (int shift = 0; shift < 32; shift += 8) {
      worst = std::max(worst, std::abs(static_cast<int32_t>((a[i] >> shift) & 255) -
                                       static_cast<int32_t>((b[i] >> shift) & 255)));
    }
  }
  return worst;
}

// Textures in the formats the encoders make, unpacked and packed again as
// the same kind: twiddled ARGB1555 and RGB5A3 (alpha 0, 64, 128, 255) come
// back texel for texel; DXT1, DXT3 and CMPR blocks are encoded again, which
// moves opaque colours by at most 8. The encoder fits a block's end points
// to all 16 pixels, black transparent ones included, so a cutout block may
// move as far as the encoder's own error on the picture.
TEST_F(PackCliTest, UnpackThenPackAsTheSameKindGivesTheTexturesBack) {
  constexpr int32_t kEncoderError = -1;
  const auto opaque = [](int32_t, int32_t) { return 255u; };
  const auto cutout = [](int32_t x, int32_t y) { return (x + y) % 5 == 0 ? 0u : 255u; };
  const auto graded = [](int32_t x, int32_t) { return std::array<uint32_t, 4>{0, 64, 128, 255}[x % 4]; };
  struct Texture {
    AlphaOf alpha;
    int32_t tolerance;  // largest channel difference, or kEncoderError
  };
  struct Row {
    const char* kind;
    PackageArchiveKind archive;
    TargetFamily family;
    std::vector<Texture> textures;
  };
  const Row rows[] = {
      {"pvm", PackageArchiveKind::Pvm, TargetFamily::DcPc, {{opaque, 0}, {cutout, 0}}},
      {"gvm", PackageArchiveKind::Gvm, TargetFamily::Gc, {{graded, 0}, {opaque, 8}, {cutout, kEncoderError}}},
      {"xvm", PackageArchiveKind::Xvm, TargetFamily::XboxBb, {{opaque, 8}, {cutout, kEncoderError}, {graded, 8}}},
  };
  for (const Row& row : rows) {
    const std::string name = row.kind;
    const std::string original = (dir / (name + "." + name)).string();
    std::vector<AlphaOf> alphas;
    for (const Texture& t : row.textures) alphas.push_back(t.alpha);
    WriteFileBytes(original, EncodedArchive(row.archive, row.family, alphas));
    const std::string pack = (dir / (name + "_pack")).string();
    ASSERT_EQ(RunCli({"unpack", original, pack}).status, 0) << name;
    const CliResult packed = RunCli({"pack", pack + "/index.txt", (dir / (name + "_again")).string(), "--as", name});
    ASSERT_EQ(packed.status, 0) << name << ": " << packed.err;
    EXPECT_EQ(packed.err, "") << name;
    const std::vector<Decoded> before = DecodeAll(original);
    const std::vector<Decoded> after = DecodeAll((dir / (name + "_again." + name)).string());
    ASSERT_EQ(after.size(), before.size()) << name;
    for (size_t i = 0; i < before.size(); ++i) {
      const std::string what = name + " image " + std::to_string(i);
      EXPECT_EQ(texture::Hex8(after[i].format), texture::Hex8(before[i].format)) << what;
      EXPECT_EQ(after[i].name, before[i].name) << what;
      EXPECT_EQ(after[i].globalIndex, before[i].globalIndex) << what;
      const int32_t tolerance = row.textures[i].tolerance == kEncoderError
                                    ? MaxChannelError(before[i].pixels, Picture(i, alphas[i]))
                                    : row.textures[i].tolerance;
      EXPECT_LE(MaxChannelError(after[i].pixels, before[i].pixels), tolerance) << what;
    }
  }
}

// Every image of `path` as loaded: header fields and data bytes.
struct Stored {
  uint32_t format;
  int32_t width, height;
  Bytes data;
  imagefile::RgbaImage png;  // what unpack writes for it
};
std::vector<Stored> LoadStored(const std::string& path) {
  const auto store = std::make_unique<ImageStore>();
  RecordingFrontEnd ui;
  archive::LoadFile(*store, ui, path);
  std::vector<Stored> all;
  for (int32_t i = 0; i < store->imageCount; ++i) {
    const TImage_Entry& e = store->images[static_cast<size_t>(i)];
    all.push_back({e.Format, e.Width, e.Height, Bytes(e.Bytes().begin(), e.Bytes().end()),
                   imagefile::TextureImage(*store, i)});
  }
  return all;
}

// The mean of the channel differences of RGBA pixels, over the pixels that
// `b` does not make transparent (whose colour no decoder keeps).
double MeanChannelError(const Bytes& a, const Bytes& b) {
  if (a.size() != b.size() || a.empty()) return 255;
  double sum = 0;
  size_t count = 0;
  for (size_t i = 0; i < a.size(); i += 4) {
    if (b[i + 3] == 0) {
      sum += a[i + 3];
      ++count;
      continue;
    }
    for (size_t c = 0; c < 4; ++c) sum += std::abs(static_cast<int32_t>(a[i + c]) - static_cast<int32_t>(b[i + c]));
    count += 4;
  }
  return sum / static_cast<double>(count);
}

// unpack, then pack --onto: with no edit the bytes `save` (or the rebuild)
// writes of the unmodified file; with one picture edited (its colours
// inverted) only that texture changes, keeping its format word, size and
// data length, and it decodes to the edited picture: exactly for the 16-bit
// texel layouts (an inverted stretched level is a stretched level), within
// the encoder's error for DXT1.
TEST_F(PackCliTest, PackOntoTheOriginalChangesOnlyTheEditedTexture) {
  struct Row {
    const char* sample;
    const char* kind;  // "" for the BML rebuild
    size_t edited;
    double meanError;
  };
  const Row rows[] = {{"sample.pvm", "pvm", 2, 0}, {"sample.gvm", "gvm", 0, 0}, {"sample.xvm", "xvm", 1, 4},
                      {"sample.bml", "", 1, 0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.sample);
    const bool bml = row.kind[0] == '\0';
    const fs::path folder = dir / (std::string(row.sample) + "_work");
    fs::create_directory(folder);
    const fs::path original = folder / row.sample;
    fs::copy_file(fs::path(QUARRENDEL_SOURCE_DIR) / "samples" / row.sample, original);
    const fs::path copy = folder / ("copy_" + std::string(row.sample));
    fs::copy_file(original, copy);
    const std::string pack = (folder / "pack").string();
    ASSERT_EQ(RunCli({"unpack", original.string(), pack}).status, 0);
    const std::string index = pack + "/index.txt";
    std::vector<std::string> onto = {"pack", index, "--onto", original.string()};
    if (bml) {
      onto.emplace_back("--rebuild");
      ASSERT_EQ(RunCli({"edit", copy.string(), "--rebuild"}).status, 0);
    } else {
      onto.insert(onto.end(), {"--save", (folder / "onto").string()});
      ASSERT_EQ(RunCli({"save", original.string(), (folder / "saved").string(), "--as", row.kind}).status, 0);
    }
    CliResult r = RunCli(onto);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string told = bml ? "BML have been rebuild succefully\n" : "";
    EXPECT_EQ(r.err, told + "0 images were updated from " + index + "\n");
    const std::string ext = bml ? "" : std::string(".") + row.kind;
    const fs::path written = bml ? original : folder / ("onto" + ext);
    EXPECT_EQ(ReadFileBytes(written), ReadFileBytes(bml ? copy : folder / ("saved" + ext)));

    // One picture edited.
    const std::vector<Stored> before = LoadStored(written.string());
    std::vector<std::string> lines;
    ASSERT_LT(row.edited, before.size());
    const std::string text = [&] {
      const Bytes b = ReadFileBytes(index);
      return std::string(b.begin(), b.end());
    }();
    size_t at = 0;
    for (size_t k = 0; k < row.edited; ++k) at = text.find('\n', at) + 1;
    const size_t comma = text.find(',', at);
    const std::string file = text.substr(comma + 1, text.find(',', comma + 1) - comma - 1);
    imagefile::RgbaImage edited = imagefile::ReadPngFile(fs::path(pack) / file);
    for (size_t i = 0; i < edited.pixels.size(); ++i) {
      if (i % 4 != 3) edited.pixels[i] = static_cast<uint8_t>(255 - edited.pixels[i]);
    }
    WriteFileBytes(fs::path(pack) / file, imagefile::WritePng(edited));
    if (!bml) onto.back() = (folder / "edited").string();
    r = RunCli(onto);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, told + "1 images were updated from " + index + "\n");
    const std::vector<Stored> after = LoadStored(bml ? original.string() : (folder / ("edited" + ext)).string());
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) {
      EXPECT_EQ(texture::Hex8(after[i].format), texture::Hex8(before[i].format)) << i;
      EXPECT_EQ(after[i].width, before[i].width) << i;
      EXPECT_EQ(after[i].data.size(), before[i].data.size()) << i;
      if (i != row.edited) {
        EXPECT_EQ(after[i].data, before[i].data) << i;
      } else {
        EXPECT_NE(after[i].data, before[i].data);
        EXPECT_LE(MeanChannelError(after[i].png.pixels, edited.pixels), row.meanError);
      }
    }
  }
}

// A pack that is not the archive's: a line naming another file, lines missing,
// or an edited picture the layout cannot take; nothing is written.
TEST_F(PackCliTest, PackOntoRefusesAPackThatDoesNotMatch) {
  const std::string pvm = (dir / "s.pvm").string();
  fs::copy_file(fs::path(QUARRENDEL_SOURCE_DIR) / "samples/sample.pvm", pvm);
  const std::string pack = (dir / "p").string();
  ASSERT_EQ(RunCli({"unpack", pvm, pack}).status, 0);
  const std::string index = pack + "/index.txt";
  const Bytes good = ReadFileBytes(index);
  const std::string text(good.begin(), good.end());
  const Bytes gradient = ReadFileBytes(fs::path(pack) / "gradient_rgb565.png");
  const std::string second = text.substr(text.find('\n') + 1);
  const std::string renamed = "4096,gradient_rgb565.png,64x64,00000901\n4097,other.png,32x32,00000902\n" +
                              second.substr(second.find('\n') + 1);
  const Bytes small = imagefile::WritePng(imagefile::RgbaImage{3, 3, Bytes(36, 9)});
  const std::pair<std::string, std::string> rows[] = {
      {renamed, "index.txt line 2 (other.png): image 1 is written as checker_disc_argb4444.png by unpack"},
      {text.substr(0, text.find('\n') + 1), "index.txt lists 1 pictures; the archive holds 3 images"},
      {text, "index.txt line 1 (gradient_rgb565.png): RECTANGLE RGB565 No transparency takes sides that are "
             "powers of two from 1 to 2048; this picture is 3 x 3."},
  };
  for (const auto& [lines, message] : rows) {
    WriteFileBytes(index, Bytes(lines.begin(), lines.end()));
    WriteFileBytes(fs::path(pack) / "gradient_rgb565.png", lines == text ? small : gradient);
    const CliResult r = RunCli({"pack", index, "--onto", pvm, "--save", (dir / "out").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, message + "\n");
    EXPECT_FALSE(fs::exists(dir / "out.pvm"));
  }
  EXPECT_EQ(RunCli({"pack", index, "--onto", pvm}).status, 2);
  EXPECT_EQ(RunCli({"pack", index, "--onto", pvm, "--rebuild", "--save", (dir / "out").string()}).status, 2);
}

// Saved as a kind of another family, every texture is re-encoded for it by
// the family rule: it then belongs to that family, keeps its name, size and
// global index, and decodes to its picture within the target layout's error.
// A picture the family cannot take refuses the save, naming it.
TEST_F(PackCliTest, SavingAsAnotherFamilyConvertsEveryTexture) {
  const std::pair<const char*, const char*> families[] = {{"pvm", "DC/PC"}, {"gvm", "GC"}, {"xvm", "XBox/BB"}};
  for (const auto& [from, fromName] : families) {
    const std::string source = (fs::path(QUARRENDEL_SOURCE_DIR) / "samples" / ("sample." + std::string(from))).string();
    const std::vector<Stored> before = LoadStored(source);
    for (const auto& [to, toName] : families) {
      SCOPED_TRACE(std::string(from) + " as " + to);
      const std::string out = (dir / (std::string(from) + "_as_" + to)).string();
      const CliResult r = RunCli({"save", source, out, "--as", to});
      ASSERT_EQ(r.status, 0) << r.err;
      const bool same = std::string(from) == to;
      EXPECT_EQ(r.err, same ? "" : std::to_string(before.size()) + " images were converted for " + toName + "\n");
      const auto store = std::make_unique<ImageStore>();
      RecordingFrontEnd ui;
      archive::LoadFile(*store, ui, out + "." + to);
      const std::vector<Stored> after = LoadStored(out + "." + to);
      ASSERT_EQ(after.size(), before.size());
      for (size_t i = 0; i < after.size(); ++i) {
        const std::optional<TargetFamily> family = texture::EntryFamily(*store, static_cast<int32_t>(i));
        ASSERT_TRUE(family.has_value());
        EXPECT_STREQ(texture::TargetFamilyName(*family), toName) << i;
        EXPECT_EQ(after[i].width, before[i].width);
        EXPECT_EQ(after[i].height, before[i].height);
        if (same) {
          EXPECT_EQ(after[i].data, before[i].data) << i;
        }
        EXPECT_LE(MeanChannelError(after[i].png.pixels, before[i].png.pixels), 8.0) << i;
      }
    }
  }
  // 2 x 2 textures have no CMPR or RGB5A3 tiles: refused, nothing written.
  ImageList list;
  list.Add("tiny", Bytes(8, 1), 0, 0x0100, 2, 1);
  const CliResult r = RunCli({"save", WritePvm("tiny.pvm", list), (dir / "tiny").string(), "--as", "gvm"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "The file was not saved:\nimage 0 (tiny): S3TC RGBA565 GC takes sides that are powers of two "
                   "from 8 to 2048; this picture is 2 x 2.\n");
  EXPECT_FALSE(fs::exists(dir / "tiny.gvm"));
}

TEST_F(PackCliTest, PackStopsAtTheFirstBadLineAndWritesNothing) {
  ImageList list;
  list.Add("a", Bytes(8, 0xFF), 0, 0x0100, 2, 5);
  list.Add("b", Bytes(8, 0x00), 0, 0x0100, 2, 6);
  ASSERT_EQ(RunCli({"unpack", WritePvm("in.pvm", list), (dir / "p").string()}).status, 0);
  const std::string index = (dir / "p" / "index.txt").string();
  const std::string out = (dir / "out").string();
  imagefile::RgbaImage wide{6, 2, Bytes(48, 0xFF)};
  WriteFileBytes(dir / "p" / "wide.png", imagefile::WritePng(wide));
  WriteFileBytes(dir / "p" / "fake.png", FromHex("424D 0000"));
  const std::pair<std::string, std::string> rows[] = {
      {"5,a.png,2x2\n6,gone.png,2x2\n",
       "index.txt line 2 (gone.png): cannot read " + (dir / "p" / "gone.png").string() + ": No such file or directory"},
      {"5,a.png,2x2\n\n6;b.png;2x2\n", "index.txt line 3: expected GLOBALINDEX,FILE.png,WIDTHxHEIGHT"},
      {"6,wide.png,6x2\n", "index.txt line 1 (wide.png): TWIDDLED RECTANGLE ARGB1555 takes sides that are powers of two from 1 to 2048; this picture is 6 x 2."},
      {"6,fake.png,2x2\n", "index.txt line 1 (fake.png): PNG Error: this file is not a PNG file."},
      {"", "index.txt lists no pictures: nothing was written"},
      // Only regular files inside the pack's folder are read, and what the line says is shown escaped.
      {"5,out.png,2x2\n", "index.txt line 1 (out.png): it is a symlink that leads out of the pack's folder"},
      {"5,fifo.png,2x2\n", "index.txt line 1 (fifo.png): cannot read " + (dir / "p" / "fifo.png").string() +
                               ": not a regular file"},
      {"5,\x1b[2J.png,2x2\n", "index.txt line 1 (\\x1b[2J.png): cannot read " + (dir / "p").string() +
                                  "/\\x1b[2J.png: No such file or directory"},
  };
  WriteFileBytes(dir / "outside.png", ReadFileBytes(dir / "p" / "a.png"));
  fs::create_symlink(dir / "outside.png", dir / "p" / "out.png");
  ASSERT_EQ(::mkfifo((dir / "p" / "fifo.png").c_str(), 0600), 0);
  for (const auto& [text, message] : rows) {
    WriteFileBytes(index, Bytes(text.begin(), text.end()));
    const CliResult r = RunCli({"pack", index, out, "--as", "pvm"});
    EXPECT_EQ(r.status, 1) << text;
    EXPECT_EQ(r.err, message + "\n") << text;
    EXPECT_FALSE(fs::exists(out + ".pvm")) << text;
  }
  // A kind that does not exist is a usage error.
  EXPECT_EQ(RunCli({"pack", index, out, "--as", "png"}).status, 2);

  // Two pictures with one global index: a warning, and the archive is written.
  // A byte-order mark before the first line and a link that stays in the folder are read.
  fs::create_directory(dir / "p" / "sub");
  fs::create_symlink("sub/../b.png", dir / "p" / "b_link.png");
  const std::string twice = "\xEF\xBB\xBF" "9,a.png,2x2\n9,b_link.png,2x2\n";
  WriteFileBytes(index, Bytes(twice.begin(), twice.end()));
  const CliResult r = RunCli({"pack", index, out, "--as", "pvm", "--levels", "3"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err,
            "warning: --levels 3 is not used: a texture made from a PNG file has one level\n"
            "warning: images 0 and 1 share the global index 9 (00000009)\n");
  EXPECT_EQ(DecodeAll(out + ".pvm").size(), 2u);
}

TEST_F(PackCliTest, SaveWarnsOfSharedGlobalIndicesAndStillWrites) {
  ImageList list;
  list.Add("a", Bytes(8, 1), 0, 0x0100, 2, 0x1234);
  list.Add("b", Bytes(8, 2), 0, 0x0100, 2, 0x1234);
  const CliResult r = RunCli({"save", WritePvm("in.pvm", list), (dir / "out").string(), "--as", "afs-pc"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "warning: images 0 and 1 share the global index 4660 (00001234)\n");
  EXPECT_EQ(DecodeAll((dir / "out.afs").string()).size(), 2u);
}

}  // namespace
}  // namespace quarrendel::test
