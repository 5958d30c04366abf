// Long commands off the window's thread: the command runs on a thread of its
// own with the store to itself, and every call it makes to the front end is
// carried over to the window's thread and waited for, so dialogs, boxes, the
// list and the progress panel stay the window's. Meanwhile the window's
// thread runs its event loop: the window repaints and the panel moves.
#pragma once

#include <QObject>
#include <QThread>
#include <exception>
#include <functional>
#include <type_traits>

#include "core/frontend.h"

namespace quarrendel::ui {

// The window's front end as a command on another thread sees it.
class ForwardingFrontEnd final : public FrontEnd {
 public:
  // `context` lives on the window's thread; `target` is used only there.
  ForwardingFrontEnd(QObject& context, FrontEnd& target) : context_(context), target_(target) {}

  std::optional<FileChoice> AskOpenFile(DialogId dialog, std::string_view filter) override {
    return There([&] { return target_.AskOpenFile(dialog, filter); });
  }
  std::optional<FileChoice> AskSaveFile(DialogId dialog, std::string_view filter) override {
    return There([&] { return target_.AskSaveFile(dialog, filter); });
  }
  void SetDialogFileName(DialogId dialog, std::string_view name) override {
    There([&] { target_.SetDialogFileName(dialog, name); });
  }
  void ShowMessage(std::string_view text) override {
    There([&] { target_.ShowMessage(text); });
  }
  void ShowInformation(std::string_view text) override {
    There([&] { target_.ShowInformation(text); });
  }
  void SetProgressVisible(bool visible) override {
    There([&] { target_.SetProgressVisible(visible); });
  }
  void SetProgress(std::string_view caption, int32_t maximum, int32_t position) override {
    There([&] { target_.SetProgress(caption, maximum, position); });
  }
  void ListClear() override {
    There([&] { target_.ListClear(); });
  }
  void ListAdd(std::string_view text) override {
    There([&] { target_.ListAdd(text); });
  }
  void ListDelete(int32_t index) override {
    There([&] { target_.ListDelete(index); });
  }
  int32_t ListCount() const override {
    return There([&] { return target_.ListCount(); });
  }
  int32_t ListSelectedIndex() const override {
    return There([&] { return target_.ListSelectedIndex(); });
  }
  void ListSetSelectedIndex(int32_t index) override {
    There([&] { target_.ListSetSelectedIndex(index); });
  }
  void SetLabel(std::string_view text) override {
    There([&] { target_.SetLabel(text); });
  }
  void SetMemo(const std::vector<std::string>& lines) override {
    There([&] { target_.SetMemo(lines); });
  }
  void ShowPicture(const Picture& picture) override {
    There([&] { target_.ShowPicture(picture); });
  }
  void HandOverPicture(Picture& picture) override {
    There([&] { target_.HandOverPicture(picture); });
  }
  PictureParts ShownPictureParts() const override {
    return There([&] { return target_.ShownPictureParts(); });
  }
  void ShowStatus(const ImageStatus& status) override {
    There([&] { target_.ShowStatus(status); });
  }
  ImportOptions RunImportOptions(const ImportOptionsRequest& request) override {
    return There([&] { return target_.RunImportOptions(request); });
  }

 private:
  // Runs `call` on the context's thread and waits for it; what it throws is
  // thrown here.
  template <typename Call>
  auto There(Call&& call) const -> decltype(call()) {
    using Result = decltype(call());
    if constexpr (std::is_void_v<Result>) {
      There([&] {
        call();
        return true;
      });
    } else {
      if (QThread::currentThread() == context_.thread()) return call();
      Result result{};
      std::exception_ptr failure;
      QMetaObject::invokeMethod(
          &context_,
          [&] {
            try {
              result = call();
            } catch (...) {
              failure = std::current_exception();
            }
          },
          Qt::BlockingQueuedConnection);
      if (failure) std::rethrow_exception(failure);
      return result;
    }
  }

  QObject& context_;
  FrontEnd& target_;
};

// Runs `command` on a thread of its own with `frontEnd` carried over to
// `context`'s thread, which runs an event loop until the command ends; what
// the command throws is thrown here.
void RunOffThread(QObject& context, FrontEnd& frontEnd, const std::function<void(FrontEnd&)>& command);

}  // namespace quarrendel::ui
