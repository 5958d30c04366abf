// The info dialog opened from the "?" menu: who made the program and thanks.
#pragma once

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

namespace quarrendel::ui {

class TForm4 : public QDialog {
 public:
  explicit TForm4(QWidget* parent = nullptr);

  void Button1Click();

  QPlainTextEdit* Memo1;
  QPushButton* Button1;
};

}  // namespace quarrendel::ui
