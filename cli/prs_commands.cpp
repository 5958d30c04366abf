#include "cli/prs_commands.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>
#include <unistd.h>

#include "core/capacity.h"
#include "core/error.h"
#include "prs/prs.h"

namespace quarrendel::cli {

namespace {

namespace fs = std::filesystem;

struct PrsFiles {
  std::string in;
  std::string out;
  bool best = false;  // compress --best
};

// What `prs compress` writes: the greedy stream, or with --best the smallest.
std::vector<uint8_t> Pack(const std::vector<uint8_t>& in, bool best) {
  return best ? prs::CompressBest(in) : prs::Compress(in);
}

// The whole file, refused before reading when it cannot fit the buffers.
std::vector<uint8_t> ReadInput(const std::string& path) {
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  if (ec) throw Error(ErrorKind::Io, "cannot read " + path + ": " + ec.message());
  RequireBufferBytes(static_cast<int64_t>(size), path);
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.eof() && in.fail()) throw Error(ErrorKind::Io, "cannot read " + path);
  RequireBufferBytes(static_cast<int64_t>(bytes.size()), path);
  return bytes;
}

// Writes beside the target first and renames, so a failed write leaves no
// half-written OUT behind.
void WriteOutput(const std::string& path, const std::vector<uint8_t>& bytes) {
  const fs::path target(path);
  fs::path temp = target;
  temp += ".partial-" + std::to_string(::getpid());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (out) out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
      std::error_code ignored;
      fs::remove(temp, ignored);
      throw Error(ErrorKind::Io, "cannot write " + path);
    }
  }
  std::error_code ec;
  fs::rename(temp, target, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    throw Error(ErrorKind::Io, "cannot write " + path + ": " + ec.message());
  }
}

void Run(CliContext& context, const PrsFiles& files, bool compress) {
  try {
    const std::vector<uint8_t> in = ReadInput(files.in);
    const std::vector<uint8_t> out = compress ? Pack(in, files.best) : prs::Decompress(in, kBufferSize);
    WriteOutput(files.out, out);
    context.out << (compress ? "compressed " : "decompressed ") << files.in << ": " << in.size() << " -> "
                << out.size() << " bytes\n";
  } catch (const Error& e) {
    context.err << "error: " << e.what() << "\n";
    context.status = 1;
  } catch (const std::exception& e) {
    context.err << "error: " << e.what() << "\n";
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
    if (compress) sub->add_flag("--best", files->best, "Write the smallest stream the format allows (slower)");
    sub->callback([&context, files, compress] { Run(context, *files, compress); });
  };
  add("compress", "Compress IN into the PRS stream OUT", true);
  add("decompress", "Decompress the PRS stream IN into OUT", false);
}

}  // namespace quarrendel::cli
