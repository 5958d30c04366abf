// Helpers shared by the unit tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

namespace quarrendel::test {

using Bytes = std::vector<uint8_t>;

Bytes ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes);
// "01 0a ff" -> {0x01, 0x0A, 0xFF}; whitespace is ignored.
Bytes FromHex(const std::string& hex);
// {0x01, 0x0A} -> "01 0A"
std::string ToHex(const Bytes& bytes);

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

struct CliResult {
  int status = 0;
  std::string out;
  std::string err;
};
// Runs the command line in-process with the given arguments (without argv[0]).
CliResult RunCli(std::initializer_list<std::string> args);
CliResult RunCli(const std::vector<std::string>& args);

}  // namespace quarrendel::test
