// The import-options and info dialogs, the spin field under them, and the
// conversion of the commands' filter lists for Qt's file dialogs.
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "texture/layout_encode.h"
#include "ui/file_filter.h"
#include "ui/import_options_form.h"
#include "ui/info_form.h"
#include "ui/spin_edit.h"

using quarrendel::FormatChoice;
using quarrendel::ImportOptions;
using quarrendel::ImportOptionsRequest;
using quarrendel::TargetFamily;
using quarrendel::ui::FilterIndexOf;
using quarrendel::ui::QtNameFilters;
using quarrendel::ui::TForm2;
using quarrendel::ui::TForm4;
using quarrendel::ui::TSpinEdit;
namespace texture = quarrendel::texture;

namespace {

// Runs `dialog` modally; `script` acts on it from inside its event loop. The
// dialog is closed afterwards in any case, so a failing script cannot hang.
int ExecScripted(QDialog& dialog, const std::function<void(QDialog&)>& script) {
  QTimer::singleShot(0, &dialog, [&dialog, script] {
    script(dialog);
    if (dialog.isVisible()) dialog.done(-1);
  });
  return dialog.exec();
}

// Clicks a radio button on its indicator, which is where a click always lands on it.
void ClickRadio(QRadioButton* button) { QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2)); }

QLineEdit* EditOf(TSpinEdit* spin) { return spin->findChild<QLineEdit*>(); }

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void FiltersBecomeQtNameFilters_data();
  void FiltersBecomeQtNameFilters();
  void FilterIndexIsOneBased();

  void SpinFieldClampsUnlessBoundsAreEqual_data();
  void SpinFieldClampsUnlessBoundsAreEqual();
  void SpinFieldReadsTextThatIsNotANumberAsMinimum();
  void SpinFieldTakesOnlyDigitsFromTheKeyboard();
  void SpinFieldStepsWithinBounds();

  void ImportOptionsLayout();
  void ImportOptionsCaptionsAreNotCut_data();
  void ImportOptionsCaptionsAreNotCut();
  void ImportOptionsSpinRules_data();
  void ImportOptionsSpinRules();
  void ImportOptionsTypedZeroBecomesOne();
  void ImportOptionsChoicesPersistAndGroupsAreSeparate();
  void ImportOptionsOkAndCloseBoxBothClose();
  void ImportOptionsTextureFormatList();

  void InfoDialogLayoutAndClose();
};

void DialogsTest::FiltersBecomeQtNameFilters_data() {
  QTest::addColumn<QString>("filter");
  QTest::addColumn<QStringList>("expected");
  QTest::newRow("OpenDialog1")
      << QStringLiteral("All Suported format|*.xvm;*.pvm;*.gvm;*.afs;*.prs;*.bml|PC File format|*.pvm;*.prs|GC "
                        "Format|*.gvm;*.prs|Xbox/BB Format|*.xvm;*.prs|AFS Format|*.afs;*.prs|BML Package|*.bml")
      << QStringList{QStringLiteral("All Suported format (*.xvm *.pvm *.gvm *.afs *.prs *.bml)"),
                     QStringLiteral("PC File format (*.pvm *.prs)"),
                     QStringLiteral("GC Format (*.gvm *.prs)"),
                     QStringLiteral("Xbox/BB Format (*.xvm *.prs)"),
                     QStringLiteral("AFS Format (*.afs *.prs)"),
                     QStringLiteral("BML Package (*.bml)")};
  QTest::newRow("SaveDialog1, same pattern under different names")
      << QStringLiteral("PC Format|*.pvm|BB Format|*.xvm|AFS PC Format|*.afs|AFS BB/Xbox Format|*.afs|GC "
                        "Format|*.gvm|AFS GC Format|*.afs")
      << QStringList{QStringLiteral("PC Format (*.pvm)"),          QStringLiteral("BB Format (*.xvm)"),
                     QStringLiteral("AFS PC Format (*.afs)"),      QStringLiteral("AFS BB/Xbox Format (*.afs)"),
                     QStringLiteral("GC Format (*.gvm)"),          QStringLiteral("AFS GC Format (*.afs)")};
  QTest::newRow("OpenDialog2")
      << QStringLiteral("PC PVR Format|*.pvr|BB/Xbox XVR Format|*.xvr|Windows Bitmap Format|*.bmp|Gamecube GVR "
                        "format|*.gvr|All Suported Format|*.bmp;*.pvr;*.xvr;*.gvr;*.dds")
      << QStringList{QStringLiteral("PC PVR Format (*.pvr)"), QStringLiteral("BB/Xbox XVR Format (*.xvr)"),
                     QStringLiteral("Windows Bitmap Format (*.bmp)"), QStringLiteral("Gamecube GVR format (*.gvr)"),
                     QStringLiteral("All Suported Format (*.bmp *.pvr *.xvr *.gvr *.dds)")};
  QTest::newRow("description without patterns") << QStringLiteral("Any|*.*|Odd")
                                                 << QStringList{QStringLiteral("Any (*.*)"), QStringLiteral("Odd ()")};
  QTest::newRow("empty") << QString() << QStringList{};
}

void DialogsTest::FiltersBecomeQtNameFilters() {
  QFETCH(QString, filter);
  QFETCH(QStringList, expected);
  const QByteArray utf8 = filter.toUtf8();
  QCOMPARE(QtNameFilters(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size()))), expected);
}

void DialogsTest::FilterIndexIsOneBased() {
  const QStringList filters = QtNameFilters("PC Format|*.pvm|BB Format|*.xvm|AFS PC Format|*.afs|AFS BB/Xbox Format|*.afs");
  QCOMPARE(FilterIndexOf(filters, QStringLiteral("PC Format (*.pvm)")), 1);
  QCOMPARE(FilterIndexOf(filters, QStringLiteral("AFS BB/Xbox Format (*.afs)")), 4);
  QCOMPARE(FilterIndexOf(filters, QStringLiteral("AFS PC Format (*.afs)")), 3);
  // An entry the list does not hold is no choice at all, never the first entry.
  QCOMPARE(FilterIndexOf(filters, QStringLiteral("Something else (*.txt)")), std::nullopt);
  QCOMPARE(FilterIndexOf(filters, QStringLiteral("PC Format")), std::nullopt);
}

void DialogsTest::SpinFieldClampsUnlessBoundsAreEqual_data() {
  QTest::addColumn<int>("minimum");
  QTest::addColumn<int>("maximum");
  QTest::addColumn<int>("set");
  QTest::addColumn<int>("value");
  QTest::newRow("inside") << 0 << 9 << 4 << 4;
  QTest::newRow("above clamps to maximum") << 0 << 9 << 12 << 9;
  QTest::newRow("below clamps to minimum") << 2 << 9 << 1 << 2;
  QTest::newRow("zero is a plain value for the bare field") << 0 << 9 << 0 << 0;
  QTest::newRow("equal bounds keep a larger value") << 0 << 0 << 5 << 5;
  QTest::newRow("equal bounds keep zero") << 0 << 0 << 0 << 0;
  QTest::newRow("equal bounds keep a smaller value") << 3 << 3 << 1 << 1;
}

void DialogsTest::SpinFieldClampsUnlessBoundsAreEqual() {
  QFETCH(int, minimum);
  QFETCH(int, maximum);
  QFETCH(int, set);
  QFETCH(int, value);
  TSpinEdit spin;
  spin.SetMinValue(minimum);
  spin.SetMaxValue(maximum);
  spin.SetValue(set);
  QCOMPARE(spin.Value(), value);
  QCOMPARE(EditOf(&spin)->text(), QString::number(value));
}

void DialogsTest::SpinFieldReadsTextThatIsNotANumberAsMinimum() {
  TSpinEdit spin;
  spin.SetMinValue(2);
  spin.SetMaxValue(9);
  spin.SetValue(5);
  for (const QString& text : {QString(), QStringLiteral("abc"), QStringLiteral("99999999999999")}) {
    EditOf(&spin)->setText(text);
    QCOMPARE(spin.Value(), 2);
  }
  // Typed text beyond the maximum reads as the maximum.
  EditOf(&spin)->setText(QStringLiteral("15"));
  QCOMPARE(spin.Value(), 9);
}

void DialogsTest::SpinFieldTakesOnlyDigitsFromTheKeyboard() {
  TSpinEdit spin;
  spin.SetMinValue(0);
  spin.SetMaxValue(500);
  spin.SetValue(0);
  EditOf(&spin)->selectAll();
  QTest::keyClicks(&spin, QStringLiteral("1-x2 "));
  QCOMPARE(EditOf(&spin)->text(), QStringLiteral("12"));
  QCOMPARE(spin.Value(), 12);
}

void DialogsTest::SpinFieldStepsWithinBounds() {
  TSpinEdit spin;
  spin.SetMinValue(0);
  spin.SetMaxValue(3);
  spin.SetValue(2);
  spin.stepBy(1);
  QCOMPARE(spin.Value(), 3);
  spin.stepBy(1);
  QCOMPARE(spin.Value(), 3);
  spin.stepBy(-5);
  QCOMPARE(spin.Value(), 0);
  QSignalSpy changes(&spin, &TSpinEdit::Change);
  spin.stepBy(1);
  QCOMPARE(changes.count(), 1);
}

void DialogsTest::ImportOptionsLayout() {
  TForm2 form;
  QCOMPARE(form.windowTitle(), QStringLiteral("Import option"));
  QVERIFY(!form.isVisible());
  QVERIFY(form.isModal());
  // A fixed client area of 231 x 273, wider only where a caption needs it.
  QCOMPARE(form.minimumSize(), form.maximumSize());
  QVERIFY(form.minimumWidth() >= 231);
  QCOMPARE(form.minimumHeight(), 273);
  QCOMPARE(form.GroupBox1->title(), QStringLiteral("Image Format : "));
  QCOMPARE(form.GroupBox2->title(), QStringLiteral("Transparency : "));
  QCOMPARE(form.GroupBox3->title(), QStringLiteral("MipMaps : "));
  QCOMPARE(form.RadioButton1->text(), QStringLiteral("DC/PC format"));
  QCOMPARE(form.RadioButton2->text(), QStringLiteral("GC Format"));
  QCOMPARE(form.RadioButton3->text(), QStringLiteral("XBox/BB Format"));
  QCOMPARE(form.RadioButton4->text(), QStringLiteral("No Transparency"));
  QCOMPARE(form.RadioButton5->text(), QStringLiteral("Use Black as transparent color"));
  QCOMPARE(form.Label1->text(), QStringLiteral("Number of level to load: "));
  QCOMPARE(form.Button1->text(), QStringLiteral("OK"));
  QVERIFY(form.RadioButton1->isChecked());
  QVERIFY(form.RadioButton4->isChecked());
  QCOMPARE(form.SpinEdit1->MinValue(), 0);
  QCOMPARE(form.SpinEdit1->MaxValue(), 1);
  QCOMPARE(form.SpinEdit1->Value(), 1);
  // Every control lies inside the client area.
  for (QWidget* child : form.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
    QVERIFY2(QRect(QPoint(0, 0), form.maximumSize()).contains(child->geometry()), qPrintable(child->objectName()));
  }
  for (const char* name : {"GroupBox1", "RadioButton1", "RadioButton2", "RadioButton3", "GroupBox2", "RadioButton4",
                           "RadioButton5", "GroupBox3", "Label1", "SpinEdit1", "Button1"}) {
    QVERIFY2(form.findChild<QWidget*>(QLatin1String(name)) != nullptr, name);
  }
}

void DialogsTest::ImportOptionsCaptionsAreNotCut_data() {
  QTest::addColumn<int>("extraPoints");
  QTest::newRow("platform font") << 0;
  QTest::newRow("larger font") << 4;
}

// Each captioned control is as wide as its caption needs in the font in use,
// keeps its place, and lies inside its group box, which lies inside the
// client area.
void DialogsTest::ImportOptionsCaptionsAreNotCut() {
  QFETCH(int, extraPoints);
  const QFont platformFont = QApplication::font();
  QFont font = platformFont;
  font.setPointSize(platformFont.pointSize() + extraPoints);
  QApplication::setFont(font);
  TForm2 form;
  QApplication::setFont(platformFont);

  const QRect client(QPoint(0, 0), form.maximumSize());
  const std::vector<std::pair<QWidget*, QPoint>> captioned{
      {form.RadioButton1, {12, 20}}, {form.RadioButton2, {12, 42}}, {form.RadioButton3, {12, 64}},
      {form.RadioButton4, {12, 20}}, {form.RadioButton5, {12, 42}}, {form.Label1, {12, 22}}};
  for (const auto& [widget, pos] : captioned) {
    const QString name = widget->objectName();
    QCOMPARE(widget->pos(), pos);
    QVERIFY2(widget->width() >= widget->sizeHint().width(),
             qPrintable(QStringLiteral("%1: %2 < %3").arg(name).arg(widget->width()).arg(widget->sizeHint().width())));
    QWidget* group = widget->parentWidget();
    QVERIFY2(QRect(QPoint(0, 0), group->size()).contains(widget->geometry()), qPrintable(name));
    QVERIFY2(group->width() >= group->minimumSizeHint().width(), qPrintable(group->objectName()));
    QVERIFY2(client.contains(group->geometry()), qPrintable(group->objectName()));
  }
  // The spin field sits beside its label, not over it, and inside the group.
  QVERIFY(form.SpinEdit1->x() >= form.Label1->x() + form.Label1->width());
  QVERIFY(QRect(QPoint(0, 0), form.GroupBox3->size()).contains(form.SpinEdit1->geometry()));
  QVERIFY(client.contains(form.Button1->geometry()));
}

void DialogsTest::ImportOptionsSpinRules_data() {
  QTest::addColumn<int>("minimum");
  QTest::addColumn<int>("maximum");
  QTest::addColumn<int>("value");
  QTest::addColumn<int>("levels");
  QTest::newRow("Import and Add default") << 0 << 1 << 1 << 1;
  QTest::newRow("DDS without a mipmap count: raised to 1 and kept") << 0 << 0 << 0 << 1;
  QTest::newRow("DDS with 9 levels") << 0 << 9 << 9 << 9;
  QTest::newRow("value above maximum") << 0 << 9 << 12 << 9;
}

void DialogsTest::ImportOptionsSpinRules() {
  QFETCH(int, minimum);
  QFETCH(int, maximum);
  QFETCH(int, value);
  QFETCH(int, levels);
  TForm2 form;
  form.Prepare(ImportOptionsRequest{minimum, maximum, value});
  QCOMPARE(EditOf(form.SpinEdit1)->text(), QString::number(levels));
  QCOMPARE(form.Options().levels, levels);
}

void DialogsTest::ImportOptionsTypedZeroBecomesOne() {
  TForm2 form;
  form.show();
  form.Prepare(ImportOptionsRequest{0, 9, 9});
  QLineEdit* edit = EditOf(form.SpinEdit1);
  edit->selectAll();
  QTest::keyClicks(form.SpinEdit1, QStringLiteral("0"));
  QCOMPARE(edit->text(), QStringLiteral("1"));
  edit->selectAll();
  QTest::keyClicks(form.SpinEdit1, QStringLiteral("4"));
  QCOMPARE(form.Options().levels, 4);
  // Raising above 9 reads as 9.
  edit->selectAll();
  QTest::keyClicks(form.SpinEdit1, QStringLiteral("12"));
  QCOMPARE(form.Options().levels, 9);
  // Clearing the field reads as the minimum 0, which the field turns into 1 at once.
  edit->clear();
  QCOMPARE(edit->text(), QStringLiteral("1"));
  QCOMPARE(form.Options().levels, 1);
}

void DialogsTest::ImportOptionsChoicesPersistAndGroupsAreSeparate() {
  TForm2 form;
  form.show();
  ClickRadio(form.RadioButton2);
  QVERIFY(form.RadioButton2->isChecked());
  QVERIFY(!form.RadioButton1->isChecked());
  QVERIFY(form.RadioButton4->isChecked());  // the other group is untouched
  ClickRadio(form.RadioButton5);
  QVERIFY(form.RadioButton2->isChecked());
  QVERIFY(!form.RadioButton4->isChecked());

  // Preparing the next Import resets only the spin field.
  form.Prepare(ImportOptionsRequest{0, 1, 1});
  auto options = form.Options();
  QCOMPARE(options.family, TargetFamily::Gc);
  QVERIFY(options.blackTransparent);

  ClickRadio(form.RadioButton3);
  ClickRadio(form.RadioButton4);
  options = form.Options();
  QCOMPARE(options.family, TargetFamily::XboxBb);
  QVERIFY(!options.blackTransparent);
}

// Import is offered the replaced image's format first and gets it unless the
// user picks; Add gets the family rule; the layouts follow the checked family.
void DialogsTest::ImportOptionsTextureFormatList() {
  TForm2 form;
  form.show();
  QVERIFY(QRect(QPoint(0, 0), form.maximumSize()).contains(form.GroupBox4->geometry()));
  QVERIFY(form.GroupBox4->x() >= form.GroupBox1->x() + form.GroupBox1->width());
  form.Prepare(ImportOptionsRequest{0, 1, 1, true});
  QCOMPARE(form.ListBox1->item(0)->text(), QStringLiteral("Same format as the replaced image"));
  QCOMPARE(form.Options().formatChoice, FormatChoice::SameAsReplaced);
  // DC/PC: the two first entries, then one row per layout.
  QCOMPARE(form.ListBox1->count(), 2 + static_cast<int>(texture::EncodableLayouts(TargetFamily::DcPc).size()));

  form.Prepare(ImportOptionsRequest{0, 1, 1, false});
  QCOMPARE(form.Options().formatChoice, FormatChoice::FamilyRule);
  ClickRadio(form.RadioButton2);
  const auto& gc = texture::EncodableLayouts(TargetFamily::Gc);
  QCOMPARE(form.ListBox1->count(), 1 + static_cast<int>(gc.size()));
  QCOMPARE(form.Options().formatChoice, FormatChoice::FamilyRule);
  form.ListBox1->setCurrentRow(1 + 2);  // the third GameCube layout
  const ImportOptions picked = form.Options();
  QCOMPARE(picked.family, TargetFamily::Gc);
  QCOMPARE(picked.formatChoice, FormatChoice::Word);
  QCOMPARE(picked.format, gc[2].format);
  QCOMPARE(form.ListBox1->currentItem()->text(), QString::fromStdString(texture::LayoutListName(gc[2])));
  // A format button clicked while the replaced image's format is chosen asks for the family rule.
  form.Prepare(ImportOptionsRequest{0, 1, 1, true});
  QCOMPARE(form.Options().formatChoice, FormatChoice::SameAsReplaced);
  ClickRadio(form.RadioButton1);
  QCOMPARE(form.Options().formatChoice, FormatChoice::FamilyRule);
  QCOMPARE(form.Options().family, TargetFamily::DcPc);
}

void DialogsTest::ImportOptionsOkAndCloseBoxBothClose() {
  TForm2 form;
  bool sawModal = false;
  ExecScripted(form, [&](QDialog& dialog) {
    sawModal = QApplication::activeModalWidget() == &dialog;
    ClickRadio(form.RadioButton2);
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
  });
  QVERIFY(sawModal);
  QVERIFY(!form.isVisible());
  QCOMPARE(form.Options().family, TargetFamily::Gc);

  ExecScripted(form, [&](QDialog& dialog) {
    ClickRadio(form.RadioButton3);
    dialog.close();  // the close box
    QVERIFY(!dialog.isVisible());
  });
  QCOMPARE(form.Options().family, TargetFamily::XboxBb);
}

void DialogsTest::InfoDialogLayoutAndClose() {
  TForm4 form;
  QCOMPARE(form.windowTitle(), QStringLiteral("Info"));
  QVERIFY(form.windowFlags().testFlag(Qt::Tool));
  QCOMPARE(form.minimumSize(), QSize(300, 123));
  QCOMPARE(form.maximumSize(), QSize(300, 123));
  QCOMPARE(form.Memo1->geometry(), QRect(14, 18, 275, 55));
  QCOMPARE(form.Memo1->frameShape(), QFrame::NoFrame);
  QCOMPARE(form.Memo1->palette().color(QPalette::Base), form.palette().color(QPalette::Window));
  const QStringList lines = form.Memo1->toPlainText().split(QLatin1Char('\n'));
  QCOMPARE(lines.size(), 3);
  QVERIFY(!lines[0].isEmpty());
  QVERIFY(lines[1].isEmpty());
  QVERIFY(lines[2].startsWith(QStringLiteral("Thanks")));
  QCOMPARE(form.Button1->text(), QStringLiteral("Close"));
  QCOMPARE(form.Button1->geometry(), QRect(114, 82, 75, 25));

  const int result = ExecScripted(form, [&](QDialog&) { QTest::mouseClick(form.Button1, Qt::LeftButton); });
  QCOMPARE(result, int(QDialog::Accepted));
  QVERIFY(!form.isVisible());
}

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
