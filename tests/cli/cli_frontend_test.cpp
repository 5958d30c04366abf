#include "cli/cli_frontend.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "tests/support/test_util.h"

namespace quarrendel::cli {
namespace {

// Either kind of box is a line on the error stream; what it means for the
// exit status is the command's outcome's business.
TEST(CliFrontEndTest, MessagesOfBothKindsGoToTheErrorStream) {
  std::ostringstream err;
  CliFrontEnd ui(err, false);
  ui.ShowMessage("This BML does'nt contain any images");
  ui.ShowInformation("This file is not suported.");
  EXPECT_EQ(err.str(), "This BML does'nt contain any images\nThis file is not suported.\n");
}

TEST(CliFrontEndTest, ProgressIsDrawnOnlyWhenAskedAndEndsItsLine) {
  std::ostringstream quiet;
  CliFrontEnd off(quiet, false);
  off.SetProgress("Decompressing PVM #1 / 4", 4, 1);
  off.SetProgressVisible(false);
  EXPECT_EQ(quiet.str(), "");

  std::ostringstream tty;
  {
    CliFrontEnd on(tty, true);
    on.SetProgress("Decompressing PVM #1 / 4", 4, 1);  // the caption carries the count
    on.SetProgress("Decompressing GVM #2 / 4", 4, 2);
    on.ShowMessage("done");
    on.SetProgress("Writing PNG : a.png", 3, 2);  // the count is added
  }  // the end of the command ends the line
  EXPECT_EQ(tty.str(),
            "\rDecompressing PVM #1 / 4\33[K\rDecompressing GVM #2 / 4\33[K\ndone\n"
            "\rWriting PNG : a.png (2 / 3)\33[K\n");
}

// What quarrendel-cli writes on stderr when stderr is a terminal (a
// pseudo-terminal here, which turns "\n" into "\r\n") or a file.
test::CliResult RunProgram(const std::vector<std::string>& args, bool terminal, const test::TempDir& dir) {
  int master = -1;
  int slave = -1;
  const std::string errFile = (dir / "stderr").string();
  if (terminal) {
    EXPECT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  } else {
    slave = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  }
  const std::string outFile = (dir / "stdout").string();
  std::vector<const char*> argv{QUARRENDEL_CLI_PATH};
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || ::dup2(out, STDOUT_FILENO) < 0 || ::dup2(slave, STDERR_FILENO) < 0) ::_exit(127);
    ::execv(argv[0], const_cast<char* const*>(argv.data()));
    ::_exit(127);
  }
  ::close(slave);
  test::CliResult r;
  if (terminal) {
    char buffer[4096];
    for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) r.err.append(buffer, static_cast<size_t>(n));
    ::close(master);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  const test::Bytes out = test::ReadFileBytes(outFile);
  r.out.assign(out.begin(), out.end());
  if (!terminal) {
    const test::Bytes err = test::ReadFileBytes(errFile);
    r.err.assign(err.begin(), err.end());
  }
  return r;
}

TEST(CliFrontEndTest, LongCommandsShowProgressOnATerminalOnly) {
  test::TempDir dir;
  const std::string pvm = std::string(QUARRENDEL_SOURCE_DIR) + "/samples/sample.pvm";
  const std::string pack = (dir / "pack").string();
  const test::CliResult tty = RunProgram({"unpack", pvm, pack}, true, dir);
  EXPECT_EQ(tty.status, 0);
  EXPECT_EQ(tty.err,
            "\rWriting PNG : gradient_rgb565.png (1 / 3)\33[K"
            "\rWriting PNG : checker_disc_argb4444.png (2 / 3)\33[K"
            "\rWriting PNG : letters_twiddled_argb1555.png (3 / 3)\33[K\r\n");
  // Scripts see what they saw before: no progress, nothing but the messages.
  const test::CliResult file = RunProgram({"unpack", pvm, pack}, false, dir);
  EXPECT_EQ(file.status, 0);
  EXPECT_EQ(file.err, "");
  const test::CliResult listed = RunProgram({"pack", pack + "/index.txt", (dir / "again").string(), "--as", "pvm"},
                                            false, dir);
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(listed.err, "");
}


}  // namespace
}  // namespace quarrendel::cli
