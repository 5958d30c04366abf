// What the commands that work on a loaded file share: the file loaded as the
// Load command loads it, image indexes checked against it, and raised errors
// turned into a message and a failed status.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>

#include "cli/cli_context.h"
#include "cli/cli_frontend.h"
#include "core/error.h"
#include "core/image_store.h"
#include "core/outcome.h"

namespace quarrendel::cli {

inline constexpr const char* kLoadFileHelp =
    "file to load: a PVM, GVM, XVM or AFS archive, a BML package, or any of them PRS-compressed as \".prs\"";

// A store and front end for one command.
struct Loaded {
  std::unique_ptr<ImageStore> store = std::make_unique<ImageStore>();
  CliFrontEnd frontEnd;

  explicit Loaded(CliContext& context);
};

// Loads `path` as the Load command does; false (status set, reason shown)
// when the file cannot be read or the load reported an error. A load that
// read less than the file declares goes on with status 3.
bool LoadForCommand(CliContext& context, Loaded& loaded, const std::string& path);

// The exit status of a command that ended with `status`.
int ExitStatus(Status status);

// Checks that an argument is an image index: decimal digits only.
CLI::Validator ImageIndexValidator();

// Checks that an argument names a kind of file `save` writes (pvm, xvm, ...).
CLI::Validator SaveKindValidator();

// The index `text` names, or -1 (status set, reason shown) when it names no
// loaded image.
int32_t LoadedIndex(CliContext& context, const ImageStore& store, const std::string& text);

// Loads `path` and picks the image `indexText` names: its index, or -1
// (status set, reason shown) when the load failed or the index names no image.
int32_t LoadImageForCommand(CliContext& context, Loaded& loaded, const std::string& path,
                            const std::string& indexText);

// Writes a warning to the error stream for every global index that several
// loaded images share (games look textures up by it); the status stays.
void WarnSharedGlobalIndices(CliContext& context, const ImageStore& store);

// True when the output suits the loaded file: --rebuild for a BML package,
// --save for anything else; else false (status 1, reason shown).
bool OutputSuitsLoaded(CliContext& context, const std::string& file, const ImageStore& store, bool rebuild);

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

// Makes `command` run `body` Guarded.
template <typename Body>
void GuardedCallback(CLI::App* command, CliContext& context, Body body) {
  command->callback([&context, body] { Guarded(context, body); });
}

}  // namespace quarrendel::cli
