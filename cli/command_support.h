// What the commands that load a file share: a store and front end per run,
// the load as the Load command does it with the CLI's exit statuses, and the
// guard that turns a raised error into its message.
#pragma once

#include <memory>
#include <string>

#include "cli/cli_context.h"
#include "cli/cli_frontend.h"
#include "core/error.h"
#include "core/image_store.h"

namespace quarrendel::cli {

// A store and front end for one command.
struct Loaded {
  std::unique_ptr<ImageStore> store = std::make_unique<ImageStore>();
  CliFrontEnd frontEnd;

  explicit Loaded(CliContext& context) : frontEnd(context.err, IsTerminalStderr(context.err)) {}
};

// Loads `path` as the Load command does; false (status set, reason shown)
// when the file cannot be read or the load reported an error. A load that
// read less than the file declares goes on with status 3.
bool LoadForCommand(CliContext& context, Loaded& loaded, const std::string& path);

// Runs `body`, turning a raised error into its message and a failed status.
template <typename Body>
void Guarded(CliContext& context, Body body) {
  try {
    body();
  } catch (const Error& e) {
    context.err << e.what() << "\n";
    context.status = 1;
  }
}

}  // namespace quarrendel::cli
