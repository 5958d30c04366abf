#include "ui/import_options_form.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

#include "texture/layout_encode.h"
#include "ui/spin_edit.h"

namespace quarrendel::ui {

namespace {

// Room kept between a group box's right edge and the widest control in it.
constexpr int kGroupPadding = 5;
constexpr int kFormatGroupWidth = 260;

// The list's first entries; the layouts follow with their format word as data.
const QString kSameFormat = QStringLiteral("Same format as the replaced image");
const QString kFamilyRule = QStringLiteral("By the image format above (family rule)");
constexpr int kRoleChoice = Qt::UserRole;
constexpr int kRoleWord = Qt::UserRole + 1;

template <typename T>
T* Place(QWidget* parent, const char* name, const QString& caption, int x, int y, int w, int h) {
  auto* widget = new T(caption, parent);
  widget->setObjectName(QLatin1String(name));
  widget->setGeometry(x, y, w, h);
  return widget;
}

}  // namespace

TForm2::TForm2(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(QStringLiteral("Import option"));
  setModal(true);
  setFixedSize(231, 273);
  move(192, 114);

  GroupBox1 = Place<QGroupBox>(this, "GroupBox1", QStringLiteral("Image Format : "), 8, 8, 215, 89);
  RadioButton1 = Place<QRadioButton>(GroupBox1, "RadioButton1", QStringLiteral("DC/PC format"), 12, 20, 190, 20);
  RadioButton2 = Place<QRadioButton>(GroupBox1, "RadioButton2", QStringLiteral("GC Format"), 12, 42, 190, 20);
  RadioButton3 = Place<QRadioButton>(GroupBox1, "RadioButton3", QStringLiteral("XBox/BB Format"), 12, 64, 190, 20);
  RadioButton1->setChecked(true);

  GroupBox2 = Place<QGroupBox>(this, "GroupBox2", QStringLiteral("Transparency : "), 8, 104, 215, 67);
  RadioButton4 = Place<QRadioButton>(GroupBox2, "RadioButton4", QStringLiteral("No Transparency"), 12, 20, 190, 20);
  RadioButton5 = Place<QRadioButton>(GroupBox2, "RadioButton5", QStringLiteral("Use Black as transparent color"), 12,
                                     42, 198, 20);
  RadioButton4->setChecked(true);

  GroupBox3 = Place<QGroupBox>(this, "GroupBox3", QStringLiteral("MipMaps : "), 8, 178, 215, 53);
  Label1 = Place<QLabel>(GroupBox3, "Label1", QStringLiteral("Number of level to load: "), 12, 22, 140, 16);
  SpinEdit1 = new TSpinEdit(GroupBox3);
  SpinEdit1->setObjectName(QStringLiteral("SpinEdit1"));
  SpinEdit1->setGeometry(152, 18, 50, 22);
  SpinEdit1->SetMinValue(0);
  SpinEdit1->SetMaxValue(1);
  SpinEdit1->SetValue(1);
  connect(SpinEdit1, &TSpinEdit::Change, this, &TForm2::SpinEdit1Change);

  Button1 = Place<QPushButton>(this, "Button1", QStringLiteral("OK"), 78, 240, 75, 25);
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
  Button2 = Place<QPushButton>(this, "Button2", QStringLiteral("Cancel"), 156, 240, 75, 25);
  connect(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);

  GroupBox4 = Place<QGroupBox>(this, "GroupBox4", QStringLiteral("Texture format : "), 231, 8, kFormatGroupWidth, 223);
  ListBox1 = new QListWidget(GroupBox4);
  ListBox1->setObjectName(QStringLiteral("ListBox1"));
  ListBox1->setGeometry(8, 20, kFormatGroupWidth - 16, 195);
  for (QRadioButton* button : {RadioButton1, RadioButton2, RadioButton3}) {
    connect(button, &QRadioButton::toggled, this, [this](bool checked) {
      if (checked) FillFormatList(true);
    });
  }
  FillFormatList(false);

  FitCaptions();
}

void TForm2::FillFormatList(bool familyRule) {
  ListBox1->clear();
  const auto add = [this](const QString& text, FormatChoice choice, uint32_t word) {
    auto* item = new QListWidgetItem(text, ListBox1);
    item->setData(kRoleChoice, static_cast<int>(choice));
    item->setData(kRoleWord, word);
    return item;
  };
  QListWidgetItem* same = replacing_ ? add(kSameFormat, FormatChoice::SameAsReplaced, 0) : nullptr;
  QListWidgetItem* rule = add(kFamilyRule, FormatChoice::FamilyRule, 0);
  const TargetFamily family = Options().family;
  for (const texture::EncodableLayout& layout : texture::EncodableLayouts(family)) {
    add(QString::fromStdString(texture::LayoutListName(layout)), FormatChoice::Word, layout.format);
  }
  ListBox1->setCurrentItem(same != nullptr && !familyRule ? same : rule);
}

void TForm2::FitCaptions() {
  // The pixel widths above suit the captions in a small Windows font; in a
  // wider font a control keeps its place and grows to the right.
  int groupWidth = 215;
  for (QGroupBox* group : {GroupBox1, GroupBox2, GroupBox3}) {
    int right = 0;
    for (QWidget* child : group->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
      if (qobject_cast<QRadioButton*>(child) != nullptr || qobject_cast<QLabel*>(child) != nullptr) {
        child->resize(std::max(child->width(), child->sizeHint().width()), child->height());
      }
      // The spin field sits right after its label.
      if (child == SpinEdit1) child->move(std::max(child->x(), Label1->x() + Label1->width()), child->y());
      right = std::max(right, child->x() + child->width());
    }
    groupWidth = std::max({groupWidth, right + kGroupPadding, group->minimumSizeHint().width()});
  }
  // The three groups keep one width; the client area keeps its margins around
  // them, and the two buttons stay centred side by side.
  for (QGroupBox* group : {GroupBox1, GroupBox2, GroupBox3}) group->resize(groupWidth, group->height());
  const int clientWidth = std::max(231, GroupBox1->x() * 2 + groupWidth);
  constexpr int kButtonGap = 8;
  const int left = (clientWidth - Button1->width() - kButtonGap - Button2->width()) / 2;
  Button1->move(left, Button1->y());
  Button2->move(left + Button1->width() + kButtonGap, Button2->y());
  // The format list stands beside the three groups; the dialog grows to hold it.
  GroupBox4->move(clientWidth, GroupBox4->y());
  setFixedSize(clientWidth + GroupBox4->width() + GroupBox1->x(), 273);
}

void TForm2::Prepare(const ImportOptionsRequest& request) {
  cancelled_ = false;
  SpinEdit1->SetMinValue(request.spinMinimum);
  SpinEdit1->SetMaxValue(request.spinMaximum);
  SpinEdit1->SetValue(request.spinValue);
  replacing_ = request.replacing;
  FillFormatList(false);
}

ImportOptions TForm2::Options() const {
  ImportOptions options;
  options.family = RadioButton2->isChecked()   ? TargetFamily::Gc
                   : RadioButton3->isChecked() ? TargetFamily::XboxBb
                                               : TargetFamily::DcPc;
  options.blackTransparent = RadioButton5->isChecked();
  options.levels = SpinFieldValue(SpinEdit1->MinValue(), SpinEdit1->MaxValue(), SpinEdit1->Value());
  if (const QListWidgetItem* item = ListBox1 != nullptr ? ListBox1->currentItem() : nullptr) {
    options.formatChoice = static_cast<FormatChoice>(item->data(kRoleChoice).toInt());
    options.format = item->data(kRoleWord).toUInt();
  }
  return options;
}

void TForm2::Button1Click() {
  cancelled_ = false;
  accept();
}

void TForm2::Button2Click() {
  cancelled_ = true;
  reject();
}

void TForm2::keyPressEvent(QKeyEvent* event) {
  // Escape is Cancel; the close box (a reject without it) stays OK.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    Button2Click();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TForm2::SpinEdit1Change() {
  if (SpinEdit1->Value() == 0) SpinEdit1->SetValue(1);
}

}  // namespace quarrendel::ui
