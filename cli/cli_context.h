// What every command of the command line shares: its output streams and the
// exit status it leaves. Each command family registers its subcommands here.
#pragma once

#include <CLI/CLI.hpp>
#include <ostream>

namespace quarrendel::cli {

struct CliContext {
  std::ostream& out;
  std::ostream& err;
  int status = 0;
};

}  // namespace quarrendel::cli
