// quarrendel-cli: the commands of the window for scripts and batch work.
#pragma once

#include <iosfwd>

namespace quarrendel::cli {

// Runs the command line; output goes to `out`, messages and errors to `err`.
// Returns the process exit status: 0 done, 1 error (an exception of any kind,
// or `out` failing), 2 usage, 3 loaded but incomplete, 4 format not supported.
int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace quarrendel::cli
