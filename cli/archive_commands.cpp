#include "cli/archive_commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "archive/load_command.h"
#include "cli/cli_frontend.h"
#include "core/error.h"
#include "core/image_store.h"

namespace quarrendel::cli {

namespace {

// A store and front end for one command, with the file loaded.
struct Loaded {
  std::unique_ptr<ImageStore> store = std::make_unique<ImageStore>();
  CliFrontEnd frontEnd;

  explicit Loaded(CliContext& context) : frontEnd(context.err, IsTerminalStderr(context.err)) {}
};

// Why `path` cannot be read, or an empty text when it can.
std::string UnreadableReason(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return std::strerror(EISDIR);
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return std::strerror(errno);
  std::fclose(f);
  return {};
}

// Loads `path` as the Load command does; false (status set, reason shown) when
// the file cannot be read or the load reported an error.
bool LoadForCommand(CliContext& context, Loaded& loaded, const std::string& path) {
  const std::string reason = UnreadableReason(path);
  if (!reason.empty()) {
    context.err << "cannot open " << path << ": " << reason << "\n";
    context.status = 1;
    return false;
  }
  archive::LoadFile(*loaded.store, loaded.frontEnd, path);
  if (loaded.frontEnd.Failed()) {
    context.status = 1;
    return false;
  }
  return true;
}

std::string Hex8(uint32_t v) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", v);
  return text;
}

void PrintList(CliContext& context, const Loaded& loaded) {
  const ImageStore& store = *loaded.store;
  context.out << loaded.frontEnd.label << "\n";
  for (int32_t i = 0; i < store.imageCount; ++i) {
    const TImage_Entry& e = store.images[static_cast<size_t>(i)];
    context.out << i << '\t' << e.Name << '\t' << e.Width << 'x' << e.Height << '\t' << Hex8(e.Format) << '\t'
                << e.DataLength << '\t' << Hex8(e.GlobalIndex);
    if (store.packageMode != 0) context.out << '\t' << e.PackageIndex;
    context.out << '\n';
  }
}

// Runs `body`, turning a raised error into its message and a failed status.
template <typename Body>
void Guarded(CliContext& context, Body body) {
  try {
    body();
  } catch (const Error& e) {
    context.err << e.what() << "\n";
    context.status = 1;
  }
}

}  // namespace

void RegisterArchiveCommands(CLI::App& app, CliContext& context) {
  auto file = std::make_shared<std::string>();
  CLI::App* list = app.add_subcommand(
      "list", "Print \"<count> Images\", then per image: index, name, WxH, format, data length, global index "
              "and, for packages, the member index (tab-separated)");
  list->add_option("FILE", *file, "PVM, GVM or XVM archive")->required();
  list->callback([&context, file] {
    Guarded(context, [&] {
      Loaded loaded(context);
      if (LoadForCommand(context, loaded, *file)) PrintList(context, loaded);
    });
  });
}

}  // namespace quarrendel::cli
