// The import-options dialog: target platform family, black as the
// transparent colour, the number of mipmap levels to load from a DDS file,
// and, beside them, the "Texture format" list: "Same format as the replaced
// image" (offered to Import, and chosen when it is offered), the family rule
// of the checked format button (chosen for Add, and whenever a format button
// is clicked), then every layout that family encodes by name. Created hidden at start; its radio choices persist
// for the run; the list follows the checked family.
#pragma once

#include <QDialog>

#include "core/frontend.h"

class QGroupBox;
class QKeyEvent;
class QLabel;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace quarrendel::ui {

class TSpinEdit;

class TForm2 : public QDialog {
 public:
  explicit TForm2(QWidget* parent = nullptr);

  // What Import and Add do before each showing: the spin field's minimum,
  // maximum and value, in that order.
  void Prepare(const ImportOptionsRequest& request);
  // What they read after it closes.
  ImportOptions Options() const;
  // The dialog was closed by Cancel or Escape: the Import or Add ends with
  // nothing changed. OK and the close box go on with the choices shown.
  bool Cancelled() const { return cancelled_; }

  void Button1Click();
  void Button2Click();
  // A value of 0 is raised to 1 at once.
  void SpinEdit1Change();

  QGroupBox* GroupBox1;
  QRadioButton* RadioButton1;
  QRadioButton* RadioButton2;
  QRadioButton* RadioButton3;
  QGroupBox* GroupBox2;
  QRadioButton* RadioButton4;
  QRadioButton* RadioButton5;
  QGroupBox* GroupBox3;
  QLabel* Label1;
  TSpinEdit* SpinEdit1;
  QPushButton* Button1;
  QPushButton* Button2;  // "Cancel"
  QGroupBox* GroupBox4;
  QListWidget* ListBox1 = nullptr;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // Fills the list for the checked family and chooses the family rule when
  // asked (a format button was clicked), else the default: the replaced
  // image's format when it is offered.
  void FillFormatList(bool familyRule);
  bool replacing_ = false;

  // Widens every captioned control to what its caption needs in the font in
  // use, and the group boxes and the client area with them.
  void FitCaptions();

  bool cancelled_ = false;
};

}  // namespace quarrendel::ui
