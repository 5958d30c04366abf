#include "core/mapped_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

#include "core/error.h"
#include "tests/support/test_util.h"

namespace quarrendel {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

TEST(MappedFile, GivesTheBytesFetchesAndReleasesParts) {
  test::TempDir dir;
  // More than the 256 KiB that are dropped at a time.
  Bytes content(80 * 4096 + 100);
  for (size_t k = 0; k < content.size(); ++k) content[k] = static_cast<uint8_t>(k * 7 + k / 4096);
  test::WriteFileBytes(dir / "a.bin", content);
  const MappedFile file((dir / "a.bin").string());
  const auto bytes = file.Bytes();
  ASSERT_EQ(Bytes(bytes.begin(), bytes.end()), content);

  Bytes buffer(5000, 0);
  const auto part = bytes.subspan(4000, 5000);
  const auto copy = file.Fetch(part, buffer);
  EXPECT_EQ(copy.data(), buffer.data());
  EXPECT_EQ(Bytes(copy.begin(), copy.end()), Bytes(part.begin(), part.end()));
  EXPECT_THROW(file.Fetch(bytes.subspan(0, 5001), buffer), Error);

  // Released parts read the file again when touched, in any order.
  file.Release(bytes.subspan(10, 300'000));
  file.Release(bytes.subspan(300'010));
  file.Release(bytes.subspan(0, 5000));
  file.Release(bytes.subspan(4096, 270'000));
  EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), content);

  // A small file is read whole: releasing its parts gives nothing back, and
  // cutting the file short afterwards leaves the bytes read.
  const Bytes small(content.begin(), content.begin() + 20'000);
  test::WriteFileBytes(dir / "small.bin", small);
  const MappedFile read((dir / "small.bin").string());
  fs::resize_file(dir / "small.bin", 100);
  read.Release(read.Bytes());
  EXPECT_EQ(Bytes(read.Bytes().begin(), read.Bytes().end()), small);
  const auto fetched = read.Fetch(read.Bytes().subspan(19'000), buffer);
  EXPECT_EQ(Bytes(fetched.begin(), fetched.end()), Bytes(small.begin() + 19'000, small.end()));
  EXPECT_FALSE(read.CutWhileRead());

  test::WriteFileBytes(dir / "empty.bin", {});
  EXPECT_TRUE(MappedFile((dir / "empty.bin").string()).Bytes().empty());
}

TEST(MappedFile, RefusesWhatALoadCannotTakeBeforeReading) {
  test::TempDir dir;
  const std::string fifo = (dir / "pipe").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);  // no writer: opening it to read would wait
  const std::string big = (dir / "big.afs").string();
  test::WriteFileBytes(big, {});
  fs::resize_file(big, (uint64_t{1} << 32) + 1);  // sparse
  const std::string missing = (dir / "missing.pvm").string();
  struct Row {
    std::string path;
    ErrorKind kind;
    std::string message;
  };
  const Row rows[] = {
      {missing, ErrorKind::Io, "cannot read " + missing + ": No such file or directory"},
      {dir.Path().string(), ErrorKind::Unsupported, "cannot read " + dir.Path().string() + ": Is a directory"},
      {fifo, ErrorKind::Unsupported, "cannot read " + fifo + ": not a regular file"},
      {big, ErrorKind::OverCapacity,
       "cannot read " + big + ": 4294967297 bytes is more than the 4 GiB an archive can hold"},
  };
  for (const Row& row : rows) {
    try {
      MappedFile file(row.path);
      ADD_FAILURE() << row.path << " was opened";
    } catch (const Error& e) {
      EXPECT_EQ(e.Kind(), row.kind) << row.path;
      EXPECT_EQ(e.what(), row.message);
    }
  }
}

}  // namespace
}  // namespace quarrendel
