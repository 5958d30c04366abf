// What every command of the command line shares: its output streams and the
// exit status it leaves. Each command family registers its subcommands here.
#pragma once

#include <CLI/CLI.hpp>
#include <ostream>

namespace quarrendel::cli {

// Exit statuses: 0 done, 1 error, 2 usage, 3 loaded but incomplete, 4 format not supported.
inline constexpr int kUsageStatus = 2;
inline constexpr int kIncompleteStatus = 3;
inline constexpr int kUnsupportedStatus = 4;

struct CliContext {
  std::ostream& out;
  std::ostream& err;
  int status = 0;
};

}  // namespace quarrendel::cli
