#include "tests/support/test_util.h"

#include <atomic>
#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

#include "cli/cli_app.h"

namespace quarrendel::test {

Bytes ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path.string());
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes FromHex(const std::string& hex) {
  Bytes out;
  int nibbles = 0;
  uint8_t current = 0;
  for (char c : hex) {
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    const int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::toupper(c) - 'A' + 10;
    if (v < 0 || v > 15) throw std::invalid_argument("bad hex digit");
    current = static_cast<uint8_t>((current << 4) | v);
    if (++nibbles == 2) {
      out.push_back(current);
      nibbles = 0;
      current = 0;
    }
  }
  if (nibbles != 0) throw std::invalid_argument("odd number of hex digits");
  return out;
}

std::string ToHex(const Bytes& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i) s += ' ';
    s += digits[bytes[i] >> 4];
    s += digits[bytes[i] & 15];
  }
  return s;
}

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  path_ = std::filesystem::temp_directory_path() /
          ("quarrendel-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

CliResult RunCli(std::initializer_list<std::string> args) {
  return RunCli(std::vector<std::string>(args));
}

CliResult RunCli(const std::vector<std::string>& args) {
  std::vector<std::string> all{"quarrendel-cli"};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<const char*> argv;
  for (const auto& a : all) argv.push_back(a.c_str());
  std::ostringstream out, err;
  CliResult r;
  r.status = quarrendel::cli::RunCli(static_cast<int>(argv.size()), argv.data(), out, err);
  r.out = out.str();
  r.err = err.str();
  return r;
}

}  // namespace quarrendel::test
