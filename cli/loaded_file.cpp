#include "cli/loaded_file.h"

#include <algorithm>

#include "archive/load_command.h"
#include "archive/save_names.h"
#include "archive/shared_global_index.h"
#include "core/mapped_file.h"

namespace quarrendel::cli {

namespace {

bool IsImageIndex(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

Loaded::Loaded(CliContext& context) : frontEnd(context.err, IsTerminalStderr(context.err)) {}

bool LoadForCommand(CliContext& context, Loaded& loaded, const std::string& path) {
  const MappedFile file(path);
  const Outcome outcome = archive::LoadContents(*loaded.store, loaded.frontEnd, path, file.Bytes(), file);
  context.status = ExitStatus(outcome.status);
  return outcome.Ok();
}

CLI::Validator ImageIndexValidator() {
  return CLI::Validator(
      [](std::string& text) { return IsImageIndex(text) ? std::string() : "not a valid image index: " + text; },
      "INDEX");
}

CLI::Validator SaveKindValidator() {
  return CLI::Validator(
      [](std::string& text) {
        return archive::SaveKindOfName(text)
                   ? std::string()
                   : "not a kind of file (" + archive::SaveKindNameList() + "): " + text;
      },
      "KIND");
}

int ExitStatus(Status status) {
  switch (status) {
    case Status::Done: return 0;
    case Status::Incomplete: return kIncompleteStatus;
    case Status::Unsupported: return kUnsupportedStatus;
    case Status::Refused:
    case Status::Error: break;
  }
  return 1;
}

int32_t LoadedIndex(CliContext& context, const ImageStore& store, const std::string& text) {
  const std::string digits = text.substr(std::min(text.find_first_not_of('0'), text.size()));
  if (digits.size() <= 9) {
    const auto index = static_cast<int32_t>(digits.empty() ? 0 : std::stol(digits));
    if (index < store.imageCount) return index;
  }
  if (store.imageCount == 0) {
    context.err << "image index " << text << " is out of range: the file holds no images\n";
  } else {
    context.err << "image index " << text << " is outside 0.." << store.imageCount - 1 << "\n";
  }
  context.status = 1;
  return -1;
}

int32_t LoadImageForCommand(CliContext& context, Loaded& loaded, const std::string& path,
                            const std::string& indexText) {
  if (!LoadForCommand(context, loaded, path)) return -1;
  return LoadedIndex(context, *loaded.store, indexText);
}

bool OutputSuitsLoaded(CliContext& context, const std::string& file, const ImageStore& store, bool rebuild) {
  if (rebuild == (store.bmlFlag != 0)) return true;
  context.err << file
              << (rebuild ? " is not a BML package: write it with --save instead\n"
                          : " is a BML package: rebuild it in place with --rebuild instead\n");
  context.status = 1;
  return false;
}

void WarnSharedGlobalIndices(CliContext& context, const ImageStore& store) {
  const std::span<const TImage_Entry> images(store.images.data(), static_cast<size_t>(store.imageCount));
  for (const std::string& warning : archive::SharedGlobalIndexWarnings(images)) context.err << warning << "\n";
}

}  // namespace quarrendel::cli
