#include "cli/command_support.h"

#include <algorithm>

#include "archive/load_command.h"
#include "core/mapped_file.h"

namespace quarrendel::cli {

bool LoadForCommand(CliContext& context, Loaded& loaded, const std::string& path) {
  const MappedFile file(path);
  archive::LoadContents(*loaded.store, loaded.frontEnd, path, file.Bytes(), file);
  if (loaded.frontEnd.Failed()) {
    const auto& messages = loaded.frontEnd.messages;
    const bool unsupported = std::any_of(messages.begin(), messages.end(), [](const auto& m) {
      return m.text == archive::kNotSupported;
    });
    context.status = unsupported ? kUnsupportedStatus : 1;
    return false;
  }
  if (loaded.store->loadIncomplete) context.status = kIncompleteStatus;
  return true;
}

}  // namespace quarrendel::cli
