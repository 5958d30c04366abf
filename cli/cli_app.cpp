#include "cli/cli_app.h"

#include <CLI/CLI.hpp>
#include <exception>
#include <new>
#include <ostream>

#include "cli/archive_commands.h"
#include "cli/cli_context.h"
#include "cli/fd_output.h"
#include "cli/pack_commands.h"
#include "cli/prs_commands.h"
#include "cli/transfer_commands.h"

namespace quarrendel::cli {

namespace {

int ParseAndRun(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  CLI::App app{"Quarrendel: texture archives of Dreamcast, GameCube and Xbox-era games", "quarrendel-cli"};
  app.set_version_flag("--version", std::string("quarrendel-cli ") + QUARRENDEL_VERSION);
  app.require_subcommand(0, 1);

  CliContext context{out, err};
  // Command families register their subcommands here.
  RegisterArchiveCommands(app, context);
  RegisterPrsCommands(app, context);
  RegisterPackCommands(app, context);
  RegisterTransferCommands(app, context);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    out << app.help();
    return 0;
  } catch (const CLI::CallForAllHelp& e) {
    out << app.help("", CLI::AppFormatMode::All);
    return 0;
  } catch (const CLI::CallForVersion& e) {
    out << app.version() << "\n";
    return 0;
  } catch (const CLI::ParseError& e) {
    err << e.what() << "\nRun with --help for more information.\n";
    return kUsageStatus;
  }
  if (app.get_subcommands().empty()) {
    out << app.help();
  }
  return context.status;
}

}  // namespace

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  int status = 1;
  // Whatever a command throws ends it with a message, never an abort.
  try {
    status = ParseAndRun(argc, argv, out, err);
  } catch (const std::bad_alloc&) {
    err << "out of memory\n";
  } catch (const std::exception& e) {
    err << e.what() << "\n";
  } catch (...) {
    err << "the command ended with an unknown error\n";
  }
  // Data that did not reach its reader is a failure too.
  if (!out.flush()) {
    err << "cannot write standard output: " << WriteFailure(out) << "\n";
    if (status == 0 || status == kIncompleteStatus) status = 1;
  }
  return status;
}

}  // namespace quarrendel::cli
