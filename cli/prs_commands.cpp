#include "cli/prs_commands.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/capacity.h"
#include "core/error.h"
#include "core/file_writer.h"
#include "core/mapped_file.h"
#include "prs/prs.h"

namespace quarrendel::cli {

namespace {

struct PrsFiles {
  std::string in;
  std::string out;
  bool best = false;  // compress --best
};

// What `prs compress` writes: the greedy stream, or with --best the smallest.
std::vector<uint8_t> Pack(std::span<const uint8_t> in, bool best) {
  return best ? prs::CompressBest(in) : prs::Compress(in);
}

void Run(CliContext& context, const PrsFiles& files, bool compress) {
  try {
    const MappedFile in(files.in);
    RequireBufferBytes(static_cast<int64_t>(in.Bytes().size()), "the file");
    const std::vector<uint8_t> out = compress ? Pack(in.Bytes(), files.best) : prs::DecompressWhole(in.Bytes());
    WriteFile(files.out, out, {{files.in}, false});
    context.err << (compress ? "compressed " : "decompressed ") << files.in << ": " << in.Bytes().size() << " -> "
                << out.size() << " bytes\n";
  } catch (const Error& e) {
    // Reading and writing errors name their file; the others get the input's name.
    if (e.Kind() != ErrorKind::Io) context.err << (compress ? "cannot compress " : "cannot decompress ") << files.in << ": ";
    context.err << e.what() << "\n";
    context.status = 1;
  }
}

}  // namespace

void RegisterPrsCommands(CLI::App& app, CliContext& context) {
  CLI::App* prs = app.add_subcommand("prs", "Compress or decompress a whole file in PRS format");
  prs->require_subcommand(1);

  const auto add = [&](const char* name, const char* description, bool compress) {
    auto files = std::make_shared<PrsFiles>();
    CLI::App* sub = prs->add_subcommand(name, description);
    sub->add_option("IN", files->in, "File to read")->required();
    sub->add_option("OUT", files->out, "File to write (only written on success)")->required();
    if (compress) sub->add_flag("--best", files->best, "Write the smallest stream whose copies reach at most 8191 bytes back, as every game decoder reads them (slower)");
    sub->callback([&context, files, compress] { Run(context, *files, compress); });
  };
  add("compress", "Compress IN into the PRS stream OUT", true);
  add("decompress", "Decompress the PRS stream IN into OUT", false);
}

}  // namespace quarrendel::cli
