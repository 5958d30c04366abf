#include "core/file_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

#include "core/error.h"
#include "tests/support/test_util.h"

namespace quarrendel {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

const Bytes kOld{0x4F, 0x4C, 0x44};
const Bytes kNew{0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& item : fs::directory_iterator(folder)) names.push_back(item.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

mode_t ModeOf(const fs::path& path) {
  struct stat st{};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode;
}

// The message WriteFile throws, or "" when it succeeds.
std::string Outcome(const std::function<void()>& write) {
  try {
    write();
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::Io);
    return e.what();
  }
  return "";
}

// Fails one call with a chosen errno; every other call goes to the system.
struct FailingCalls : FileCalls {
  enum class At { FirstWrite, Midway, Sync, Close, Rename };
  At at;
  size_t written = 0;

  explicit FailingCalls(At a) : at(a) {}
  ssize_t Write(int fd, const uint8_t* data, size_t size) override {
    if (at == At::FirstWrite || (at == At::Midway && written > 0)) return Fail(ENOSPC);
    // Midway: half the bytes go through, the next write fails.
    const size_t n = at == At::Midway ? size / 2 : size;
    const ssize_t r = FileCalls::Write(fd, data, n);
    if (r > 0) written += static_cast<size_t>(r);
    return r;
  }
  int Sync(int fd) override { return at == At::Sync ? Fail(EIO) : FileCalls::Sync(fd); }
  int Close(int fd) override {
    const int r = FileCalls::Close(fd);
    return at == At::Close ? Fail(EDQUOT) : r;
  }
  int Rename(const std::string& from, const std::string& to) override {
    return at == At::Rename ? Fail(EXDEV) : FileCalls::Rename(from, to);
  }
  static int Fail(int err) {
    errno = err;
    return -1;
  }
};

TEST(FileWriter, AFailureAtAnyStepKeepsTheEarlierFileAndLeavesNoTemporaryFile) {
  struct Row {
    FailingCalls::At at;
    int err;
  };
  const Row rows[] = {{FailingCalls::At::FirstWrite, ENOSPC}, {FailingCalls::At::Midway, ENOSPC},
                      {FailingCalls::At::Sync, EIO},          {FailingCalls::At::Close, EDQUOT},
                      {FailingCalls::At::Rename, EXDEV}};
  for (const Row& row : rows) {
    for (const bool existing : {true, false}) {
      TempDir dir;
      const std::string target = (dir / "out.bin").string();
      if (existing) {
        WriteFileBytes(target, kOld);
        fs::permissions(target, fs::perms(0640));
      }
      FailingCalls calls(row.at);
      const std::string message = Outcome([&] { WriteFile(target, kNew, {}, calls); });
      const std::string where = "step " + std::to_string(static_cast<int>(row.at)) + (existing ? " over a file" : "");
      EXPECT_EQ(message, "cannot write " + target + ": " + std::strerror(row.err)) << where;
      if (existing) {
        EXPECT_EQ(ReadFileBytes(target), kOld) << where;
        EXPECT_EQ(ModeOf(target) & 07777, 0640u) << where;
        EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"out.bin"}) << where;
      } else {
        EXPECT_TRUE(Names(dir.Path()).empty()) << where;
      }
    }
  }
}

// A file written in three pieces, then its second and third bytes overwritten.
void ProducePieces(FileSink& sink) {
  sink.Append(Bytes{0x10, 0x20, 0x30});
  sink.Append(Bytes{0x40, 0x50});
  sink.Append(Bytes{0x60});
  sink.Overwrite(1, Bytes{0xAA, 0xBB});
}
const Bytes kPieces{0x10, 0xAA, 0xBB, 0x40, 0x50, 0x60};

TEST(FileWriter, InPiecesAFailureAtAnyStepKeepsTheEarlierFileAndLeavesNoTemporaryFile) {
  // Fails the n-th write (from 1), the overwrite, the rename, or the
  // producer itself after its pieces went to the disk.
  enum class At { Write, Overwrite, Rename, Producer };
  struct Calls : FileCalls {
    At at;
    int failWrite;
    int writes = 0;
    Calls(At a, int n) : at(a), failWrite(n) {}
    ssize_t Write(int fd, const uint8_t* data, size_t size) override {
      if (at == At::Write && ++writes == failWrite) return FailingCalls::Fail(ENOSPC);
      return FileCalls::Write(fd, data, size);
    }
    ssize_t WriteAt(int fd, const uint8_t* data, size_t size, off_t offset) override {
      return at == At::Overwrite ? FailingCalls::Fail(EIO) : FileCalls::WriteAt(fd, data, size, offset);
    }
    int Rename(const std::string& from, const std::string& to) override {
      return at == At::Rename ? FailingCalls::Fail(EXDEV) : FileCalls::Rename(from, to);
    }
  };
  struct Row {
    At at;
    int failWrite;
    std::string reason;
  };
  const Row rows[] = {{At::Write, 1, std::strerror(ENOSPC)},   // the first piece
                      {At::Write, 2, std::strerror(ENOSPC)},   // midway
                      {At::Overwrite, 0, std::strerror(EIO)},  // over bytes written
                      {At::Rename, 0, std::strerror(EXDEV)},
                      {At::Producer, 0, ""}};
  for (const Row& row : rows) {
    TempDir dir;
    const std::string target = (dir / "out.afs").string();
    WriteFileBytes(target, kOld);
    Calls calls(row.at, row.failWrite);
    const auto produce = [&](FileSink& sink) {
      ProducePieces(sink);
      if (row.at == At::Producer) throw Error(ErrorKind::OverCapacity, "too large");
    };
    const std::string where = "row " + std::to_string(static_cast<int>(row.at)) + "/" + std::to_string(row.failWrite);
    try {
      WriteFileInPieces(target, produce, {}, calls);
      ADD_FAILURE() << where << " succeeded";
    } catch (const Error& e) {
      if (row.at == At::Producer) {
        EXPECT_EQ(e.Kind(), ErrorKind::OverCapacity) << where;
        EXPECT_STREQ(e.what(), "too large") << where;
      } else {
        EXPECT_EQ(e.Kind(), ErrorKind::Io) << where;
        EXPECT_EQ(std::string(e.what()), "cannot write " + target + ": " + row.reason) << where;
      }
    }
    EXPECT_EQ(ReadFileBytes(target), kOld) << where;
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"out.afs"}) << where;
  }
}

TEST(FileWriter, InPiecesWritesEveryPieceAndTheOverwrites) {
  TempDir dir;
  const fs::path target = dir / "out.afs";
  WriteFileBytes(target, kOld);
  fs::permissions(target, fs::perms(0604));
  WriteFileInPieces(target.string(), ProducePieces);
  EXPECT_EQ(ReadFileBytes(target), kPieces);
  EXPECT_EQ(ModeOf(target) & 07777, 0604u);

  // Past the bytes appended: refused, nothing written.
  const std::string past = (dir / "past").string();
  EXPECT_THROW(WriteFileInPieces(past, [](FileSink& sink) {
    sink.Append(kNew);
    sink.Overwrite(7, Bytes{1, 2});
  }), Error);
  EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"out.afs"});

  // A FIFO gets the finished bytes in place.
  const fs::path fifo = dir / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  Bytes received;
  std::thread reader([&] { received = ReadFileBytes(fifo); });
  WriteFileInPieces(fifo.string(), ProducePieces);
  reader.join();
  EXPECT_EQ(received, kPieces);

  ByteSink held;
  ProducePieces(held);
  EXPECT_EQ(held.Bytes(), kPieces);
  EXPECT_THROW(held.Overwrite(5, Bytes{1, 2}), Error);
}

TEST(FileWriter, WithoutSyncTheFileIsWrittenAndOnlyTheFileSystemFlushReachesTheDisk) {
  struct CountingCalls : FileCalls {
    int syncs = 0;
    int Sync(int fd) override {
      ++syncs;
      return FileCalls::Sync(fd);
    }
  } calls;
  TempDir dir;
  const std::string target = (dir / "out.bin").string();
  WriteOptions options;
  options.sync = false;
  WriteFile(target, kNew, options, calls);
  EXPECT_EQ(calls.syncs, 0);
  EXPECT_EQ(ReadFileBytes(target), kNew);
  WriteFile(target, kOld, {}, calls);
  EXPECT_EQ(calls.syncs, 1);
  SyncFileSystem(dir.Path().string());
  const std::string missing = (dir / "none").string();
  EXPECT_EQ(Outcome([&] { SyncFileSystem(missing); }), "cannot write " + missing + ": No such file or directory");
}

TEST(FileWriter, RegularTargetsAreReplacedKeepingTheirPermissionBits) {
  TempDir dir;
  const fs::path fresh = dir / "fresh.bin";
  const mode_t mask = ::umask(022);
  ::umask(mask);
  WriteFile(fresh.string(), kNew);
  EXPECT_EQ(ReadFileBytes(fresh), kNew);
  EXPECT_EQ(ModeOf(fresh) & 07777, 0666u & ~mask);

  const fs::path kept = dir / "kept.bin";
  WriteFileBytes(kept, kOld);
  fs::permissions(kept, fs::perms(0604));
  WriteFile(kept.string(), kNew);
  EXPECT_EQ(ReadFileBytes(kept), kNew);
  EXPECT_EQ(ModeOf(kept) & 07777, 0604u);

  WriteFile(kept.string(), {});
  EXPECT_TRUE(ReadFileBytes(kept).empty());
  EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"fresh.bin", "kept.bin"}));
}

TEST(FileWriter, SymlinksAreFollowedAndStayLinks) {
  TempDir dir;
  fs::create_directory(dir / "real");
  WriteFileBytes(dir / "real" / "target.bin", kOld);
  fs::create_symlink("real/target.bin", dir / "link.bin");
  fs::create_symlink("link.bin", dir / "link2.bin");  // a chain of two
  WriteFile((dir / "link2.bin").string(), kNew);
  EXPECT_TRUE(fs::is_symlink(dir / "link.bin"));
  EXPECT_TRUE(fs::is_symlink(dir / "link2.bin"));
  EXPECT_EQ(ReadFileBytes(dir / "real" / "target.bin"), kNew);
  EXPECT_EQ(Names(dir / "real"), std::vector<std::string>{"target.bin"});

  // A dangling link names the file to create.
  fs::create_symlink("real/new.bin", dir / "dangling.bin");
  WriteFile((dir / "dangling.bin").string(), kNew);
  EXPECT_TRUE(fs::is_symlink(dir / "dangling.bin"));
  EXPECT_EQ(ReadFileBytes(dir / "real" / "new.bin"), kNew);

  fs::create_symlink("loop.bin", dir / "loop.bin");
  const std::string loop = (dir / "loop.bin").string();
  EXPECT_EQ(Outcome([&] { WriteFile(loop, kNew); }), "cannot write " + loop + ": " + std::strerror(ELOOP));
}

TEST(FileWriter, RefusesReadOnlyFilesFoldersAndTheInput) {
  TempDir dir;
  const fs::path readOnly = dir / "read-only.bin";
  WriteFileBytes(readOnly, kOld);
  fs::permissions(readOnly, fs::perms(0444));
  EXPECT_EQ(Outcome([&] { WriteFile(readOnly.string(), kNew); }),
            "cannot write " + readOnly.string() + ": " + std::strerror(EACCES));
  EXPECT_EQ(ReadFileBytes(readOnly), kOld);

  EXPECT_EQ(Outcome([&] { WriteFile(dir.Path().string(), kNew); }),
            "cannot write " + dir.Path().string() + ": " + std::strerror(EISDIR));

  const fs::path input = dir / "in.pvm";
  WriteFileBytes(input, kOld);
  fs::create_hard_link(input, dir / "hard.pvm");
  fs::create_symlink("in.pvm", dir / "soft.pvm");
  const WriteOptions options{{input.string()}, false};
  for (const char* name : {"in.pvm", "hard.pvm", "soft.pvm"}) {
    const std::string target = (dir / name).string();
    EXPECT_EQ(Outcome([&] { WriteFile(target, kNew, options); }),
              "cannot write " + target + ": it is the input file " + input.string());
  }
  EXPECT_EQ(ReadFileBytes(input), kOld);
  // The package rebuild rewrites its input, through a temporary file all the same.
  WriteFile(input.string(), kNew, {{input.string()}, true});
  EXPECT_EQ(ReadFileBytes(input), kNew);
  EXPECT_EQ(ReadFileBytes(dir / "hard.pvm"), kOld);  // the rename gave `in.pvm` a new inode
}

TEST(FileWriter, FifoIsWrittenInPlace) {
  TempDir dir;
  const fs::path fifo = dir / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  Bytes received;
  std::thread reader([&] { received = ReadFileBytes(fifo); });
  WriteFile(fifo.string(), kNew);
  reader.join();
  EXPECT_EQ(received, kNew);
  EXPECT_TRUE(S_ISFIFO(ModeOf(fifo)));
  EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"pipe"});
}

// Device nodes made for the test: the system's own are never a target here.
TEST(FileWriter, CharacterDevicesAreWrittenInPlaceAndTheirErrorsReported) {
  if (::geteuid() != 0) GTEST_SKIP() << "making device nodes needs root";
  TempDir dir;
  const fs::path null = dir / "null";
  const fs::path full = dir / "full";
  ASSERT_EQ(::mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
  ASSERT_EQ(::mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
  WriteFile(null.string(), kNew);
  EXPECT_EQ(Outcome([&] { WriteFile(full.string(), kNew); }),
            "cannot write " + full.string() + ": " + std::strerror(ENOSPC));
  EXPECT_TRUE(S_ISCHR(ModeOf(null)));
  EXPECT_TRUE(S_ISCHR(ModeOf(full)));
  EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"full", "null"}));
}

// A folder a command writes derived names into may hold what someone else
// put there. Each entry is tried as a derived name; a non-blocking reader
// holds the FIFO open, so a write into it would not block but would arrive.
TEST(FileWriter, DerivedNamesReplaceSymlinksAndRefuseWhatIsNotARegularFile) {
  TempDir dir;
  const fs::path pack = dir / "pack";
  fs::create_directory(pack);
  WriteFileBytes(dir / "victim.txt", kOld);
  fs::create_symlink(dir / "victim.txt", pack / "link.png");
  fs::create_symlink("../absent.txt", pack / "dangling.png");
  WriteFileBytes(pack / "old.png", kOld);
  fs::permissions(pack / "old.png", fs::perms(0640));
  ASSERT_EQ(::mkfifo((pack / "fifo.png").c_str(), 0600), 0);
  const int reader = ::open((pack / "fifo.png").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  fs::create_directory(pack / "folder.png");
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = (pack / "socket.png").string();
  ASSERT_LT(socketPath.size(), sizeof(address.sun_path));
  std::strcpy(address.sun_path, socketPath.c_str());
  ASSERT_EQ(::bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);

  WriteOptions derived;
  derived.derivedName = true;
  struct Row {
    const char* name;
    const char* refusal;  // "" when the name is written
  };
  const Row rows[] = {
      {"link.png", ""},    {"dangling.png", ""}, {"old.png", ""},
      {"fifo.png", "it is a FIFO, not a regular file"},
      {"folder.png", "it is a folder, not a regular file"},
      {"socket.png", "it is a socket, not a regular file"},
  };
  for (const Row& row : rows) {
    const std::string target = (pack / row.name).string();
    const std::string refusal = *row.refusal ? "cannot write " + target + ": " + row.refusal : "";
    EXPECT_EQ(Outcome([&] { CheckDerivedTarget(target); }), refusal) << row.name;
    EXPECT_EQ(Outcome([&] { WriteFile(target, kNew, derived); }), refusal) << row.name;
    if (refusal.empty()) {
      EXPECT_TRUE(S_ISREG(ModeOf(target))) << row.name;
      EXPECT_EQ(ReadFileBytes(target), kNew) << row.name;
    }
  }
  EXPECT_EQ(ReadFileBytes(dir / "victim.txt"), kOld);
  EXPECT_FALSE(fs::exists(dir / "absent.txt"));
  EXPECT_EQ(ModeOf(pack / "old.png") & 07777, 0640u);  // a regular file keeps its permission bits
  uint8_t byte = 0;
  EXPECT_LE(::read(reader, &byte, 1), 0);  // nothing reached the FIFO
  EXPECT_TRUE(S_ISFIFO(ModeOf(pack / "fifo.png")));
  EXPECT_TRUE(S_ISSOCK(ModeOf(pack / "socket.png")));
  ::close(reader);
  ::close(sock);

  // The input is never replaced, not even under a derived name.
  const std::string input = (pack / "old.png").string();
  EXPECT_EQ(Outcome([&] { WriteFile(input, kOld, WriteOptions{{input}, false, true, true}); }),
            "cannot write " + input + ": it is the input file " + input);
  EXPECT_EQ(ReadFileBytes(input), kNew);
}

// A killed run leaves its temporary file; the next write of that target
// removes it, and only it: a live process's file (pid 1, and this process),
// another target's and names off the exact pattern stay. No Linux process
// has the id 2147483646 (ids stop at 4194304).
TEST(FileWriter, TemporaryFilesAreNamedAfterTheProgramAndStaleOnesOfTheTargetAreRemoved) {
  TempDir dir;
  const std::string self = std::to_string(::getpid());
  const std::vector<std::string> kept = {
      ".out.bin.quarrendel-tmp-1-0",
      ".out.bin.quarrendel-tmp-" + self + "-7",
      ".out.bin.quarrendel-tmp-2147483646-0x",
      ".out.bin.quarrendel-tmp-02147483646-0",
      ".out.bin.quarrendel-tmp-2147483646",
      ".out.bin.tmp-2147483646-0",
      ".other.bin.quarrendel-tmp-2147483646-0",
      "x.out.bin.quarrendel-tmp-2147483646-0",
  };
  for (const std::string& name : kept) WriteFileBytes(dir / name, kOld);
  WriteFileBytes(dir / ".out.bin.quarrendel-tmp-2147483646-0", kOld);
  WriteFileBytes(dir / ".out.bin.quarrendel-tmp-2147483646-12", kOld);

  struct NamingCalls : FileCalls {
    std::vector<std::string> opened;
    int Open(const std::string& path, int flags, mode_t mode) override {
      opened.push_back(path);
      return FileCalls::Open(path, flags, mode);
    }
  } calls;
  WriteFile((dir / "out.bin").string(), kNew, {}, calls);
  ASSERT_EQ(calls.opened.size(), 1u);
  const std::string temp = fs::path(calls.opened[0]).filename().string();
  const std::string lead = ".out.bin.quarrendel-tmp-" + self + "-";
  EXPECT_EQ(temp.substr(0, lead.size()), lead);
  EXPECT_TRUE(temp.size() > lead.size() &&
              temp.find_first_not_of("0123456789", lead.size()) == std::string::npos) << temp;

  std::vector<std::string> expected = kept;
  expected.push_back("out.bin");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Names(dir.Path()), expected);

  // A batch looks through the folder once for all its targets.
  WriteFileBytes(dir / ".out.bin.quarrendel-tmp-2147483646-1", kOld);
  WriteFileBytes(dir / ".a.quarrendel-tmp-b.quarrendel-tmp-2147483646-1", kOld);
  const std::vector<std::string> batch = {"out.bin", "a.quarrendel-tmp-b"};
  RemoveStaleTemporaryFiles(dir.Path().string(), batch);
  EXPECT_EQ(Names(dir.Path()), expected);
}

}  // namespace
}  // namespace quarrendel
