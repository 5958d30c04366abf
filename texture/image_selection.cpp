#include "texture/image_selection.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace quarrendel::texture {

std::string Hex8(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

std::vector<std::string> DescriptionMemo(const TImage_Entry& entry, bool packageMode, const DecodedTexture& decoded) {
  std::vector<std::string> memo{"Description :"};
  memo.push_back("Size : " + std::to_string(entry.Width) + "x" + std::to_string(entry.Height));
  memo.push_back("Format : " + Hex8(entry.Format));
  memo.push_back("Data Length : " + std::to_string(entry.DataLength));
  memo.push_back("PSO ID : " + Hex8(entry.GlobalIndex));
  if (packageMode) memo.push_back("In package : " + std::to_string(entry.PackageIndex));
  if (decoded.mipmapCount >= 0) memo.push_back("Mipmaps count: " + std::to_string(decoded.mipmapCount));
  memo.push_back(decoded.choice.text);
  if (!decoded.Supported()) memo.emplace_back("Unsupported format");
  return memo;
}

namespace {

// Zeroes what the last selection wrote in the canvas beyond `columns` x
// `rows`, and records that extent as written.
void ClearBeyond(ImageStore& store, int32_t columns, int32_t rows) {
  const int32_t writtenColumns = store.canvasWrittenWidth;
  const int32_t writtenRows = store.canvasWrittenHeight;
  if (writtenRows > rows) {
    const size_t below = static_cast<size_t>(writtenRows - rows) * sizeof(uint32_t);
    for (int32_t x = 0; x < std::min(columns, writtenColumns); ++x) std::memset(store.canvas.Column(x) + rows, 0, below);
  }
  for (int32_t x = columns; x < writtenColumns; ++x) {
    std::memset(store.canvas.Column(x), 0, static_cast<size_t>(writtenRows) * sizeof(uint32_t));
  }
  store.canvasWrittenWidth = columns;
  store.canvasWrittenHeight = rows;
}

// The W x H decoded pixels in rows of W: the decoded memory itself where it
// is laid out so (square and wide images, plain rectangles), else a copy.
std::vector<uint32_t> TakeTrueSize(DecodedTexture& decoded, const RgbaRect& shown) {
  const size_t count = static_cast<size_t>(shown.width) * static_cast<size_t>(shown.height);
  if (!decoded.rectangleRows.empty() && shown.first == decoded.rectangleRows.data()) {
    return std::move(decoded.rectangleRows);
  }
  if (shown.first == decoded.area.pixels.data() && shown.stride == shown.width && decoded.area.pixels.size() == count) {
    return std::move(decoded.area.pixels);
  }
  std::vector<uint32_t> rows(count);
  for (int32_t y = 0; y < shown.height; ++y) {
    std::copy_n(shown.Row(y), shown.width, rows.data() + static_cast<size_t>(y) * static_cast<size_t>(shown.width));
  }
  return rows;
}

// The status line of a selected entry: its size, its format in words, and its
// palette file found or the notice.
ImageStatus StatusOf(const TImage_Entry& entry, const Selection& selection) {
  ImageStatus status;
  status.width = entry.Width;
  status.height = entry.Height;
  status.format = selection.description;
  if (!selection.formatSupported) {
    status.format = status.format.empty() ? "Unsupported format" : status.format + " - Unsupported format";
  }
  status.palette = PaletteNotice(selection.palette);
  status.paletteMissing = !status.palette.empty();
  if (selection.palette.fromFile && !status.paletteMissing) status.palette = "Palette file " + selection.palette.path;
  status.name = entry.Name;
  status.globalIndex = entry.GlobalIndex;
  status.formatWord = entry.Format;
  status.levels = selection.levels;
  return status;
}

}  // namespace

Selection SelectImage(ImageStore& store, int32_t index, PictureParts parts) {
  const TImage_Entry& entry = store.Entry(index);
  DecodedTexture decoded = DecodeEntry(store, index, std::move(store.selectionPixels));
  store.selectionPixels.clear();
  Selection selection;
  selection.memo = DescriptionMemo(entry, store.packageMode == 1, decoded);
  selection.formatSupported = decoded.Supported();
  selection.description = decoded.choice.text;
  selection.palette = decoded.palette;
  selection.levels = decoded.mipmapCount >= 0 ? decoded.mipmapCount : 1;
  store.currentImage = index;
  store.readCursor = decoded.cursor;
  CopyIntoCanvas(decoded.area.Rect(), store.canvas);
  ClearBeyond(store, decoded.area.width, decoded.area.height);
  if (parts != PictureParts::None) {
    const RgbaRect shown = decoded.TrueSize();
    if (parts == PictureParts::DecodedAndPainted) selection.picture = PaintOverCheckerboard(shown);
    selection.picture.width = shown.width;
    selection.picture.height = shown.height;
    selection.picture.decoded = TakeTrueSize(decoded, shown);
    const TexelDepths& d = decoded.depths;
    selection.picture.bits = ChannelBits{d.red, d.green, d.blue, d.alpha, d.rgb5a3};
  }
  // Whatever memory the picture did not take is there for the next selection.
  if (!decoded.area.pixels.empty()) store.selectionPixels = std::move(decoded.area.pixels);
  return selection;
}

void SelectListedImage(ImageStore& store, FrontEnd& frontEnd) {
  const int32_t index = frontEnd.ListSelectedIndex();
  if (index < 0) return;
  // The list can hold more items than images (an AFS lists its "end" member
  // before the table stops); the entry behind such an item holds whatever an
  // earlier file left there, so nothing is decoded and the window shows no image.
  if (index >= store.imageCount) {
    frontEnd.SetMemo({"Description :"});
    frontEnd.ShowPicture(Picture{});
    frontEnd.ShowStatus(ImageStatus{});
    return;
  }
  Selection selection = SelectImage(store, index, frontEnd.ShownPictureParts());
  frontEnd.SetMemo(selection.memo);
  frontEnd.HandOverPicture(selection.picture);
  frontEnd.ShowStatus(StatusOf(store.images[static_cast<size_t>(index)], selection));
  std::vector<uint32_t>& decoded = selection.picture.decoded;
  if (decoded.capacity() > store.selectionPixels.capacity()) store.selectionPixels = std::move(decoded);
}

std::string PaletteNotice(const PaletteUse& use) {
  if (!use.fromFile || use.entriesRead >= use.entries) return {};
  if (use.path.empty()) return "No palette file for an image name that is not a file name: fallback palette";
  if (!use.found) return "Palette file not found: " + use.path + ": fallback palette";
  return "Palette file " + use.path + " holds " + std::to_string(use.entriesRead) + " of " +
         std::to_string(use.entries) + " colours: fallback palette for the rest";
}

uint32_t CheckerboardColour(int32_t x, int32_t y) {
  uint32_t colour = 0xFFFFFF;
  if (x & 16) colour ^= 0x505050;
  if (y & 16) colour ^= 0x505050;
  return colour;
}

Picture PaintOverCheckerboard(const RgbaRect& rect, bool withDecoded, int32_t paintedWidth) {
  Picture picture;
  picture.width = rect.width;
  picture.height = rect.height;
  const size_t count = static_cast<size_t>(std::max(rect.width, 0)) * static_cast<size_t>(std::max(rect.height, 0));
  picture.pixels.resize(count);
  if (withDecoded) picture.decoded.resize(count);
  const int32_t painted = std::clamp(paintedWidth, 0, std::max(rect.width, 0));
  for (int32_t y = 0; y < rect.height; ++y) {
    const uint32_t* row = rect.Row(y);
    uint32_t* out = picture.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(rect.width);
    for (int32_t x = 0; x < rect.width; ++x) {
      out[x] = x < painted ? BlendOverBackground(row[x], CheckerboardColour(x, y)) : CheckerboardColour(x, y);
    }
    if (withDecoded) {
      std::copy_n(row, painted, picture.decoded.data() + static_cast<size_t>(y) * static_cast<size_t>(rect.width));
    }
  }
  return picture;
}

}  // namespace quarrendel::texture
