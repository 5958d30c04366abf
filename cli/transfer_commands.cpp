#include "cli/transfer_commands.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archive/save_command.h"
#include "archive/save_names.h"
#include "core/mapped_file.h"
#include "core/worker_pool.h"
#include "cli/loaded_file.h"
#include "imagefile/export.h"
#include "imagefile/import.h"
#include "texture/format_choice.h"
#include "texture/image_selection.h"

namespace quarrendel::cli {

namespace {

// --as of export and export-all.
const std::map<std::string, imagefile::ExportKind> kExportKinds = {
    {"pvr", imagefile::ExportKind::Pvr},       {"xvr", imagefile::ExportKind::Xvr},
    {"gvr", imagefile::ExportKind::Gvr},       {"bmp", imagefile::ExportKind::Bitmap},
    {"dds", imagefile::ExportKind::Dds},       {"png", imagefile::ExportKind::Png}};

struct ExportArgs {
  std::string file;
  std::string index;
  std::string out;
  imagefile::ExportKind kind = imagefile::ExportKind::Pvr;
};

void Fail(CliContext& context) {
  if (context.status == 0 || context.status == kIncompleteStatus) context.status = 1;
}

// --platform of edit: the import dialog's format buttons.
const std::map<std::string, TargetFamily> kPlatforms = {
    {"dc", TargetFamily::DcPc}, {"gc", TargetFamily::Gc}, {"xbox", TargetFamily::XboxBb}};

struct EditArgs {
  std::string file;
  TargetFamily family = TargetFamily::DcPc;
  bool blackTransparent = false;
  int32_t levels = 1;
  std::vector<std::string> imports;  // INDEX=SRC
  std::vector<std::string> adds;
  std::string out;
  std::string kind;
  bool rebuild = false;
  bool best = false;
  std::string format;  // --format WORD
};

// One import or add, in command-line order.
struct EditStep {
  bool add = false;
  std::string index;  // imports only
  std::string source;
};

// INDEX=SRC: an image index, "=", and a file name.
std::string CheckImportArgument(const std::string& text) {
  const size_t eq = text.find('=');
  const bool digits = eq != std::string::npos && eq > 0 &&
                      text.find_first_not_of("0123456789") == eq;
  if (!digits || eq + 1 == text.size()) return "not INDEX=SRC: " + text;
  return {};
}

// The imports and adds in the order the command line gave them.
std::vector<EditStep> EditSteps(const CLI::App& edit, const CLI::Option* importOption, const CLI::Option* addOption,
                                const EditArgs& args) {
  std::vector<EditStep> steps;
  size_t imports = 0;
  size_t adds = 0;
  for (const CLI::Option* option : edit.parse_order()) {
    if (option == importOption && imports < args.imports.size()) {
      const std::string& text = args.imports[imports++];
      const size_t eq = text.find('=');
      steps.push_back({false, text.substr(0, eq), text.substr(eq + 1)});
    } else if (option == addOption && adds < args.adds.size()) {
      steps.push_back({true, {}, args.adds[adds++]});
    }
  }
  return steps;
}

// The family of --format WORD: --platform's when given, else the one family
// that encodes WORD, else (a word two families encode) the loaded file's.
// nullopt, the reason told and the status set to 2, when none fits.
std::optional<TargetFamily> FormatFamily(CliContext& context, const ImageStore& store, uint32_t word,
                                         std::optional<TargetFamily> platform) {
  std::vector<TargetFamily> families;
  for (const TargetFamily f : {TargetFamily::DcPc, TargetFamily::Gc, TargetFamily::XboxBb}) {
    if (platform && *platform != f) continue;
    if (texture::FamilyEncodes(f, word)) families.push_back(f);
  }
  if (families.size() == 1) return families.front();
  std::optional<TargetFamily> own;
  if (!families.empty() && store.imageCount > 0) own = texture::EntryFamily(store, 0);
  if (own && std::find(families.begin(), families.end(), *own) != families.end()) return own;
  context.err << "--format " << texture::Hex8(word)
              << (families.empty() ? std::string(" is no layout ") +
                                         (platform ? texture::TargetFamilyName(*platform) : "any family") +
                                         " encodes (see the README's list of layouts)"
                                   : std::string(": name the family with --platform"))
              << "\n";
  context.status = kUsageStatus;
  return std::nullopt;
}

// Runs the steps on the loaded file with the dialog's answers given; false
// (status set, reason shown) at the first that fails or is refused. Imports
// take `importOptions`, adds `options`.
bool ApplyEditSteps(CliContext& context, Loaded& loaded, const std::vector<EditStep>& steps,
                    const PresetImportOptions& options, const PresetImportOptions& importOptions) {
  ImageStore& store = *loaded.store;
  CliFrontEnd& frontEnd = loaded.frontEnd;
  for (const EditStep& step : steps) {
    Outcome done;
    if (step.add) {
      if (const std::optional<Outcome> refused = imagefile::AddRefusal(store)) {
        frontEnd.ShowInformation(refused->message);
        done = *refused;
      } else {
        const MappedFile file(step.source);
        done = imagefile::AddFile(store, frontEnd, file.Bytes(), imagefile::AddedImageName(step.source), options);
      }
    } else {
      const int32_t index = LoadedIndex(context, store, step.index);
      if (index < 0) return false;
      const MappedFile file(step.source);
      done = imagefile::ImportFile(store, frontEnd, index, file.Bytes(), importOptions);
    }
    if (!done) {
      Fail(context);
      return false;
    }
  }
  return true;
}

void RegisterEditCommand(CLI::App& app, CliContext& context) {
  auto args = std::make_shared<EditArgs>();
  CLI::App* edit = app.add_subcommand(
      "edit", "Load FILE, replace images (--import) and append images (--add) from bitmaps, PNG pictures, DDS, "
              "PVR, GVR or XVR files (--add also takes RGB565 \"4\" files) in the order given, then save as `save` "
              "does or rebuild the BML package. The options answer the import dialog; nothing is written when a "
              "step fails");
  edit->add_option("FILE", args->file, kLoadFileHelp)->required();
  CLI::Option* platform =
      edit->add_option("--platform", args->family,
                       "dc (default), gc or xbox: what bitmaps, PNG pictures and DDS files become by the family "
                       "rule; without it (and without --format) an import keeps the format of the image it "
                       "replaces")
          ->transform(CLI::CheckedTransformer(kPlatforms, CLI::ignore_case));
  CLI::Option* format = edit->add_option(
      "--format", args->format,
      "WORD: the texture layout, its format word in hex as `list` prints it (00000E00, 0x0E00), for the pictures "
      "of every --import and --add; its palette file is written beside FILE for palettised layouts");
  edit->add_flag("--black-transparent", args->blackTransparent,
                 "black pixels of bitmaps and PNG pictures become transparent");
  CLI::Option* levels = edit->add_option(
      "--levels", args->levels,
      "mipmap levels to keep from DDS files, as typed into the dialog: 0 reads as 1, more than the file has "
      "as its count (a file without a count takes N)");
  levels->check(CLI::NonNegativeNumber);
  CLI::Option* importOption = edit->add_option("--import", args->imports, "INDEX=SRC: replace image INDEX from SRC")
                                  ->allow_extra_args(false)
                                  ->type_name("INDEX=SRC")
                                  ->check(CLI::Validator(CheckImportArgument, "INDEX=SRC"));
  CLI::Option* addOption =
      edit->add_option("--add", args->adds, "SRC: append an image from SRC")->allow_extra_args(false);
  CLI::Option_group* output = edit->add_option_group("output", "what is written in the end");
  CLI::Option* out = output->add_option("--save", args->out, "OUT: write the images as `save` does");
  output->add_flag("--rebuild", args->rebuild, "rebuild the loaded BML package in place");
  output->require_option(1);
  CLI::Option* kind = edit->add_option("--as", args->kind, "kind of file for --save: " + archive::SaveKindNameList())
                          ->check(SaveKindValidator());
  out->needs(kind);
  kind->needs(out);
  edit->add_flag("--best", args->best, "the smallest PRS streams (copies at most 8191 bytes back) where the written file is PRS-compressed");

  GuardedCallback(edit, context, [&context, args, edit, levels, importOption, addOption, platform, format] {
    std::optional<uint32_t> word;
    if (format->count() > 0) {
      word = texture::ParseFormatWord(args->format);
      if (!word) {
        context.err << "--format " << args->format << ": not a format word in hex (00000E00)\n";
        context.status = kUsageStatus;
        return;
      }
    }
    Loaded loaded(context);
    if (!LoadForCommand(context, loaded, args->file)) return;
    PresetImportOptions options{args->family, args->blackTransparent, std::nullopt};
    if (levels->count() > 0) options.typedLevels = args->levels;
    if (word) {
      const std::optional<TargetFamily> family = FormatFamily(
          context, *loaded.store, *word, platform->count() > 0 ? std::optional(args->family) : std::nullopt);
      if (!family) return;
      options.family = *family;
      options.formatChoice = FormatChoice::Word;
      options.format = *word;
    }
    PresetImportOptions importOptions = options;
    if (!word && platform->count() == 0) importOptions.formatChoice = FormatChoice::SameAsReplaced;
    if (!ApplyEditSteps(context, loaded, EditSteps(*edit, importOption, addOption, *args), options, importOptions)) {
      return;
    }
    WarnSharedGlobalIndices(context, *loaded.store);
    if (!OutputSuitsLoaded(context, args->file, *loaded.store, args->rebuild)) return;

    archive::SaveOptions save;
    save.best = args->best;
    Outcome written;
    if (args->rebuild) {
      written = archive::RebuildLoadedBml(*loaded.store, loaded.frontEnd, save);
    } else {
      // Neither the loaded file nor a source may be written over.
      save.protectedInputs = {args->file};
      save.protectedInputs.insert(save.protectedInputs.end(), args->adds.begin(), args->adds.end());
      for (const std::string& text : args->imports) save.protectedInputs.push_back(text.substr(text.find('=') + 1));
      written = archive::SaveAs(*loaded.store, loaded.frontEnd, args->out, *archive::SaveKindOfName(args->kind), save);
    }
    if (!written) Fail(context);
  });
}

}  // namespace

void RegisterTransferCommands(CLI::App& app, CliContext& context) {
  const auto kinds = CLI::CheckedTransformer(kExportKinds, CLI::ignore_case);

  auto one = std::make_shared<ExportArgs>();
  CLI::App* exportOne = app.add_subcommand(
      "export", "Write image INDEX as a PVR, XVR or GVR texture, a 32-bit bitmap, a DDS file or a PNG picture "
                "(true size, alpha, channels stretched to the full range); OUT gets the kind's extension");
  exportOne->add_option("FILE", one->file, kLoadFileHelp)->required();
  exportOne->add_option("INDEX", one->index, "image index, decimal, from 0")->required()->check(ImageIndexValidator());
  exportOne->add_option("OUT", one->out, "file to write; its extension is replaced by the kind's")->required();
  exportOne->add_option("--as", one->kind, "pvr, xvr, gvr, bmp, dds or png")->required()->transform(kinds);
  GuardedCallback(exportOne, context, [&context, one] {
    Loaded loaded(context);
    const int32_t index = LoadImageForCommand(context, loaded, one->file, one->index);
    if (index < 0) return;
    imagefile::ExportImage(*loaded.store, index, one->out, one->kind);
  });

  auto all = std::make_shared<ExportArgs>();
  CLI::App* exportAll = app.add_subcommand(
      "export-all", "Write every image into DIR, named as `unpack` names its pictures: the whole image name made "
                    "safe and unique without regard to case (~2), then the kind's extension (wall.001 -> "
                    "wall.001.png); the images that cannot be written are listed at the end");
  exportAll->add_option("FILE", all->file, kLoadFileHelp)->required();
  exportAll->add_option("DIR", all->out, "folder to write into, created when missing")->required();
  exportAll->add_option("--as", all->kind, "pvr, xvr, gvr, bmp, dds or png")->required()->transform(kinds);
  GuardedCallback(exportAll, context, [&context, all] {
    std::error_code ec;
    if (std::filesystem::exists(all->out, ec) && !std::filesystem::is_directory(all->out, ec)) {
      context.err << "cannot export into " << all->out << ": not a folder\n";
      context.status = 1;
      return;
    }
    Loaded loaded(context);
    if (!LoadForCommand(context, loaded, all->file)) return;
    // Made only once the file has loaded, as `unpack` does: a failed load
    // leaves no empty folder behind.
    std::filesystem::create_directories(all->out, ec);
    if (ec) {
      context.err << "cannot create the folder " << all->out << ": " << ec.message() << "\n";
      context.status = 1;
      return;
    }
    const std::string folder = all->out.back() == '/' ? all->out : all->out + "/";
    WorkerPool pool;
    if (!imagefile::ExportAll(*loaded.store, loaded.frontEnd, folder, all->kind, pool)) Fail(context);
  });

  RegisterEditCommand(app, context);
}

}  // namespace quarrendel::cli
