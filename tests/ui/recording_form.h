// The main window with its message boxes, questions and file dialogs
// recorded and answered by the test instead of shown, and small helpers the
// window tests share.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "core/image_store.h"
#include "ui/main_form.h"
#include "ui/picture_view.h"

class RecordingForm : public quarrendel::ui::TForm1 {
 public:
  using TForm1::BoxKind;
  using TForm1::FileDialogRequest;

  explicit RecordingForm(quarrendel::ImageStore& store) : TForm1(store) {}

  struct Box {
    BoxKind kind;
    QString text;
  };
  std::vector<Box> boxes;
  std::vector<FileDialogRequest> requests;
  std::deque<std::optional<quarrendel::FileChoice>> answers;  // empty: the user cancels
  QStringList questions;
  std::deque<bool> questionAnswers;  // empty: the user cancels

  QStringList BoxTexts() const {
    QStringList texts;
    for (const Box& box : boxes) texts.push_back(box.text);
    return texts;
  }
  std::vector<quarrendel::DialogId> DialogsAsked() const {
    std::vector<quarrendel::DialogId> dialogs;
    for (const FileDialogRequest& request : requests) dialogs.push_back(request.dialog);
    return dialogs;
  }

 protected:
  void ShowBox(BoxKind kind, const QString& text) override { boxes.push_back({kind, text}); }

  bool AskQuestion(const QString& text, const QString&) override {
    questions.push_back(text);
    if (questionAnswers.empty()) return false;
    const bool answer = questionAnswers.front();
    questionAnswers.pop_front();
    return answer;
  }

  std::optional<quarrendel::FileChoice> RunFileDialog(const FileDialogRequest& request) override {
    requests.push_back(request);
    if (answers.empty()) return std::nullopt;
    auto answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

inline quarrendel::FileChoice Choose(const QString& path, int filterIndex = 1) {
  return quarrendel::FileChoice{QFile::encodeName(path).toStdString(), filterIndex};
}

// Hex digits to bytes; spaces are skipped.
inline std::vector<uint8_t> FromHex(const char* hex) {
  const QByteArray bytes = QByteArray::fromHex(QByteArray(hex));
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// Writes `bytes` to `name` in `dir`; returns the path, empty if it could not be written.
inline QString WriteFile(const QTemporaryDir& dir, const QString& name, const std::vector<uint8_t>& bytes) {
  const QString path = QDir(dir.path()).filePath(name);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return {};
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
  return path;
}

// Opens a menu as a click on its title does (which fills or enables its
// items), then closes it again.
inline void OpenMenu(QMenu* menu) {
  menu->popup(QPoint(0, 0));
  menu->hide();
}

// The picture's pixel (x, y) as the view paints it.
inline QRgb PixelAt(const quarrendel::ui::TForm1& form, int x, int y) {
  return form.Image1->grab(QRect(x, y, 1, 1)).toImage().pixel(0, 0);
}
