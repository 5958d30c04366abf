#include "tests/support/recording_frontend.h"

namespace quarrendel {

namespace {

std::optional<FileChoice> TakeChoice(std::deque<std::optional<FileChoice>>& queue) {
  if (queue.empty()) return std::nullopt;
  auto choice = std::move(queue.front());
  queue.pop_front();
  return choice;
}

}  // namespace

std::optional<FileChoice> RecordingFrontEnd::AskOpenFile(DialogId dialog, std::string_view) {
  dialogsAsked.push_back(dialog);
  return TakeChoice(fileChoices);
}

std::optional<FileChoice> RecordingFrontEnd::AskSaveFile(DialogId dialog, std::string_view) {
  dialogsAsked.push_back(dialog);
  return TakeChoice(fileChoices);
}

void RecordingFrontEnd::SetDialogFileName(DialogId dialog, std::string_view name) {
  dialogFileNames.emplace_back(dialog, std::string(name));
}

void RecordingFrontEnd::ShowMessage(std::string_view text) {
  messages.push_back({MessageKind::Plain, std::string(text)});
}

void RecordingFrontEnd::ShowInformation(std::string_view text) {
  messages.push_back({MessageKind::Information, std::string(text)});
}

void RecordingFrontEnd::SetProgress(std::string_view caption, int32_t maximum, int32_t position) {
  progress.push_back({std::string(caption), maximum, position});
}

void RecordingFrontEnd::ListClear() {
  list.clear();
  selected = -1;
}

void RecordingFrontEnd::ListDelete(int32_t index) {
  if (index < 0 || index >= ListCount()) return;
  list.erase(list.begin() + index);
  if (selected == index) {
    selected = -1;
  } else if (selected > index) {
    --selected;
  }
}

void RecordingFrontEnd::ListSetSelectedIndex(int32_t index) {
  selected = (index >= 0 && index < ListCount()) ? index : -1;
}

ImportOptions RecordingFrontEnd::RunImportOptions(const ImportOptionsRequest& request) {
  importRequests.push_back(request);
  return PresetImportOptions{family, blackTransparent, typedLevels, formatChoice, format}(request);
}

}  // namespace quarrendel
