#include "cli/transfer_commands.h"

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "cli/loaded_file.h"
#include "imagefile/export.h"
#include "texture/image_selection.h"

namespace quarrendel::cli {

namespace {

// --as of export and export-all: the filter index of the export dialog.
const std::map<std::string, int32_t> kExportKinds = {{"pvr", 1}, {"xvr", 2}, {"gvr", 3}, {"bmp", 4}, {"dds", 5}};

struct ExportArgs {
  std::string file;
  std::string index;
  std::string out;
  int32_t kind = 0;
};

void Fail(CliContext& context) {
  if (context.status == 0 || context.status == kIncompleteStatus) context.status = 1;
}

}  // namespace

void RegisterTransferCommands(CLI::App& app, CliContext& context) {
  const auto kinds = CLI::CheckedTransformer(kExportKinds, CLI::ignore_case);

  auto one = std::make_shared<ExportArgs>();
  CLI::App* exportOne = app.add_subcommand(
      "export", "Write image INDEX as a PVR, XVR or GVR texture, a 32-bit bitmap or a DDS file; OUT gets the "
                "kind's extension");
  exportOne->add_option("FILE", one->file, kLoadFileHelp)->required();
  exportOne->add_option("INDEX", one->index, "image index, decimal, from 0")->required()->check(ImageIndexValidator());
  exportOne->add_option("OUT", one->out, "file to write; its extension is replaced by the kind's")->required();
  exportOne->add_option("--as", one->kind, "pvr, xvr, gvr, bmp or dds")->required()->transform(kinds);
  exportOne->callback([&context, one] {
    Guarded(context, [&] {
      Loaded loaded(context);
      const int32_t index = LoadImageForCommand(context, loaded, one->file, one->index);
      if (index < 0) return;
      loaded.frontEnd.ListSetSelectedIndex(index);
      texture::SelectListedImage(*loaded.store, loaded.frontEnd);
      loaded.frontEnd.fileChoices.push_back(FileChoice{one->out, one->kind});
      if (!imagefile::Export1Click(*loaded.store, loaded.frontEnd)) Fail(context);
    });
  });

  auto all = std::make_shared<ExportArgs>();
  CLI::App* exportAll = app.add_subcommand(
      "export-all", "Write every image into DIR as NAME plus the kind's extension ('/', '\\' and control characters "
                    "of a name become '_'); the images that cannot be written are listed at the end");
  exportAll->add_option("FILE", all->file, kLoadFileHelp)->required();
  exportAll->add_option("DIR", all->out, "existing folder to write into")->required();
  exportAll->add_option("--as", all->kind, "pvr, xvr, gvr, bmp or dds")->required()->transform(kinds);
  exportAll->callback([&context, all] {
    Guarded(context, [&] {
      std::error_code ec;
      if (!std::filesystem::is_directory(all->out, ec)) {
        context.err << "cannot export into " << all->out << ": not a folder\n";
        context.status = 1;
        return;
      }
      Loaded loaded(context);
      if (!LoadForCommand(context, loaded, all->file)) return;
      const std::string folder = all->out.back() == '/' ? all->out : all->out + "/";
      loaded.frontEnd.fileChoices.push_back(FileChoice{folder + "-", all->kind});
      if (!imagefile::Exportall1Click(*loaded.store, loaded.frontEnd)) Fail(context);
    });
  });
}

}  // namespace quarrendel::cli
