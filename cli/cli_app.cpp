#include "cli/cli_app.h"

#include <CLI/CLI.hpp>
#include <ostream>

#include "cli/archive_commands.h"
#include "cli/cli_context.h"
#include "cli/prs_commands.h"

namespace quarrendel::cli {

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  CLI::App app{"Quarrendel: texture archives of Dreamcast, GameCube and Xbox-era games", "quarrendel-cli"};
  app.set_version_flag("--version", std::string("quarrendel-cli ") + QUARRENDEL_VERSION);
  app.require_subcommand(0, 1);

  CliContext context{out, err};
  // Command families register their subcommands here.
  RegisterArchiveCommands(app, context);
  RegisterPrsCommands(app, context);

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
    err << e.what() << "\n";
    return e.get_exit_code() == 0 ? 2 : e.get_exit_code();
  }
  if (app.get_subcommands().empty()) {
    out << app.help();
  }
  return context.status;
}

}  // namespace quarrendel::cli
