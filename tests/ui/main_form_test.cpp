// The main window driven as a user drives it: menus, the list, file choices
// answered through the front end, boxes recorded instead of shown.
#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

#include "core/byte_io.h"
#include "core/error.h"
#include "core/image_store.h"
#include "imagefile/export.h"
#include "prs/prs.h"
#include "ui/import_options_form.h"
#include "ui/info_form.h"
#include "ui/main_form.h"
#include "ui/picture_view.h"
#include "ui/spin_edit.h"

#include "tests/ui/recording_form.h"

using quarrendel::DialogId;
using quarrendel::FileChoice;
using quarrendel::ImageStore;
using quarrendel::ImportOptionsRequest;
using quarrendel::Picture;
using quarrendel::TargetFamily;
using quarrendel::ui::TForm1;

namespace {

// The window with its boxes and file dialogs answered by the test, its
// modal dialogs scripted and its progress steps recorded.
class TestForm : public RecordingForm {
 public:
  explicit TestForm(ImageStore& store) : RecordingForm(store) {}

  bool realFileDialogs = false;  // open the window's own file dialog instead
  // Acts on a modal dialog from inside its event loop; unset: the dialog is
  // not opened at all and only counted.
  std::function<void(QDialog&)> modalScript;
  std::vector<QDialog*> modalsShown;
  // What the progress panel showed at each step of a load.
  struct Step {
    QString caption;
    int maximum;
    int position;
    bool panelVisible;
  };
  std::vector<Step> progress;

  int memoWrites = 0;
  void SetMemo(const std::vector<std::string>& lines) override {
    ++memoWrites;
    TForm1::SetMemo(lines);
  }

  void SetProgress(std::string_view caption, int32_t maximum, int32_t position) override {
    TForm1::SetProgress(caption, maximum, position);
    progress.push_back({Label1->text(), ProgressBar1->maximum(), ProgressBar1->value(), Panel2->isVisible()});
  }

 protected:
  std::optional<FileChoice> RunFileDialog(const FileDialogRequest& request) override {
    return realFileDialogs ? TForm1::RunFileDialog(request) : RecordingForm::RunFileDialog(request);
  }

  void ExecModal(QDialog& dialog) override {
    modalsShown.push_back(&dialog);
    if (!modalScript) return;
    QTimer::singleShot(0, &dialog, [&dialog, script = modalScript] {
      script(dialog);
      if (dialog.isVisible()) dialog.done(-1);  // never leave a test waiting
    });
    TForm1::ExecModal(dialog);
  }
};

using Bytes = std::vector<uint8_t>;

// A PVM with one 4 x 4 RGB565 rectangle texture (format 0x0901) named
// "tex_a", global index 0x1234. Row 0 holds red, green, blue and white; the
// other rows are black.
const char* const kOneTexturePvm =
    "50564D48 26000000 0901 0100"                              // PVMH, header length 38, flags, 1 entry
    "0000 7465785F61 0000000000000000000000000000000000000000000000 34120000"  // entry 0: "tex_a", GBIX 0x1234
    "50565254 28000000 01090000 0400 0400"                     // PVRT, 40 bytes, 0x0901, 4 x 4
    "00F8 E007 1F00 FFFF  0000 0000 0000 0000"                 // rows 0 and 1
    "0000 0000 0000 0000  0000 0000 0000 0000";                // rows 2 and 3

// The same layout with two 2 x 2 textures, "first" (GBIX 1) and "second" (GBIX 2).
const char* const kTwoTexturePvm =
    "50564D48 48000000 0901 0200"
    "0000 6669727374 0000000000000000000000000000000000000000000000 01000000"
    "0100 7365636F6E64 00000000000000000000000000000000000000000000 02000000"
    "50565254 10000000 01090000 0200 0200 00F8 00F8 00F8 00F8"
    "50565254 10000000 01090000 0200 0200 1F00 1F00 1F00 1F00";

// An AFS of two members at 0x80000 and 0x80800, each the one-texture PVM
// compressed with PRS.
Bytes PackedAfsOfTwo() {
  const Bytes packed = quarrendel::prs::Compress(FromHex(kOneTexturePvm));
  Bytes afs;
  quarrendel::ByteWriter w(afs);
  w.Magic("AFS");
  w.U8(0);
  w.U32Le(2);
  for (const uint32_t at : {0x80000u, 0x80800u}) w.U32Le(at), w.U32Le(static_cast<uint32_t>(packed.size()));
  for (const uint32_t at : {0x80000u, 0x80800u}) w.Seek(at), w.Bytes(packed);
  return afs;
}

QStringList ListItems(const TForm1& form) {
  QStringList items;
  for (int i = 0; i < form.ListBox1->count(); ++i) items.push_back(form.ListBox1->item(i)->text());
  return items;
}

QStringList MenuTexts(const QMenu* menu) {
  QStringList texts;
  for (const QAction* action : menu->actions()) texts.push_back(action->isSeparator() ? QStringLiteral("-") : action->text());
  return texts;
}

void ClickListItem(TForm1& form, int row) {
  QListWidget* list = form.ListBox1;
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
}

// A 32-bit bitmap of width x height pixels of one colour (red in bits 0-7, alpha in 24-31).
Bytes SolidBitmap(int width, int height, uint32_t pixel) {
  const quarrendel::texture::RgbaImage picture{width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height, pixel)};
  return quarrendel::imagefile::BitmapFileBytes(picture.Rect());
}

}  // namespace

class MainFormTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void initTestCase();
  void init();
  void cleanup();

  void ControlsAndGeometry();
  void MenuCaptions();
  void LoadFillsListAndLabel();
  void FileDialogsKeepNameAndFilterIndex();
  void ClickingAnItemWritesMemoAndPicture();
  void KeyboardSelectionAndClickAgainShowTheImage();
  void ClicksNeverLeaveTheListWithoutSelection();
  void ItemBeyondTheImageCountShowsNoImage();
  void MemoIsReadOnly();
  void NamesThatAreNotUtf8ShowAsLatin1();
  void RebuildAndAddFollowTheBmlFlag();
  void FailedLoadLeavesTheLabel();
  void CommandErrorsAreShownAndTheWindowStaysUsable();
  void SaveWritesTheKindOfTheFilterIndex();
  void PackedLoadAndSaveShowProgressAndBmlIsRebuilt();
  void ExportAndExportAllWriteFiles();
  void ImportUsesTheOptionsDialogAndKeepsItsChoices();
  void AddAppendsAnImageAndRefusesForABml();
  void QuestionMarkOpensTheInfoDialog();
  void ImportOptionsComeFromTheDialog();
  void ProgressPanel();
  void PictureKeepsItsSizeAndColours();
  void RealFileDialogReportsTheChosenEntry();
  void QuitClosesTheWindow();

 private:
  // Writes `bytes` to a file named `name` and loads it as File > Load does.
  void LoadThroughTheMenu(const QString& name, const Bytes& bytes);

  QTemporaryDir dir_;
  std::unique_ptr<ImageStore> store_;
  std::unique_ptr<TestForm> form_;
};

void MainFormTest::initTestCase() {
  // Closing a test window must not post a quit that would end a later modal loop.
  QApplication::setQuitOnLastWindowClosed(false);
  // Loads add to the recent files: keep them in this test's folder, not the user's.
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir_.path());
}

void MainFormTest::init() {
  store_ = std::make_unique<ImageStore>();
  form_ = std::make_unique<TestForm>(*store_);
  form_->show();
  QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
}

void MainFormTest::cleanup() {
  form_.reset();
  store_.reset();
}

void MainFormTest::LoadThroughTheMenu(const QString& name, const Bytes& bytes) {
  form_->answers.push_back(Choose(WriteFile(dir_, name, bytes)));
  form_->Open1->trigger();
}

void MainFormTest::ControlsAndGeometry() {
  TestForm& form = *form_;
  QCOMPARE(form.windowTitle(), QStringLiteral("Quarrendel v 1.8b By Orvask "));
  // 727 x 578 outside, and a status line below.
  QCOMPARE(form.size(), QSize(719, 551 + form.StatusBar1->height()));
  for (const char* name : {"GroupBox1", "ListBox1", "Label2", "Memo1", "Panel1", "Image1", "Panel2", "Label1",
                           "ProgressBar1", "File1", "Image2"}) {
    QVERIFY2(form.findChild<QWidget*>(QLatin1String(name)) != nullptr, name);
  }
  for (const char* name : {"Open1", "Save1", "N1", "Quit1", "Export1", "Exportall1", "import1", "Add1", "N2"}) {
    QVERIFY2(form.findChild<QAction*>(QLatin1String(name)) != nullptr, name);
  }

  // The group box is docked left under the menu bar and runs to the bottom.
  const QRect client = form.centralWidget()->geometry();
  QCOMPARE(form.GroupBox1->title(), QStringLiteral("Image List "));
  QCOMPARE(form.GroupBox1->geometry(), QRect(0, 0, 185, client.height()));
  QCOMPARE(form.ListBox1->parentWidget(), form.GroupBox1);
  QCOMPARE(form.ListBox1->geometry(), QRect(10, 20, 163, 253));
  QCOMPARE(form.ListBox1->selectionMode(), QAbstractItemView::ExtendedSelection);
  QCOMPARE(form.Label2->pos(), QPoint(12, 276));
  QCOMPARE(form.Label2->text(), QStringLiteral("0 Images"));
  QCOMPARE(form.Memo1->geometry(), QRect(10, 302, 163, 217));
  QCOMPARE(form.Memo1->toPlainText(), QStringLiteral("Description :"));
  QCOMPARE(form.Memo1->frameShape(), QFrame::NoFrame);
  QCOMPARE(form.Memo1->palette().color(QPalette::Base), form.palette().color(QPalette::Window));

  // The panel fills the rest; the picture and the hidden progress panel sit in it.
  QCOMPARE(form.Panel1->geometry(), QRect(185, 0, client.width() - 185, client.height()));
  QVERIFY(form.Panel1->isAncestorOf(form.Image1));
  QCOMPARE(form.Image1->mapTo(form.Panel1, QPoint(0, 0)), QPoint(1, 1));
  QCOMPARE(form.Panel2->parentWidget(), form.Panel1);
  QCOMPARE(form.Panel2->geometry(), QRect(22, 158, 285, 73));
  QVERIFY(form.Panel2->isHidden());
  QCOMPARE(form.Label1->pos(), QPoint(14, 14));
  QCOMPARE(form.ProgressBar1->geometry(), QRect(14, 36, 259, 17));

  // Both dialogs exist from the start, hidden.
  QVERIFY(form.Form2 != nullptr && form.Form4 != nullptr);
  QVERIFY(!form.Form2->isVisible());
  QVERIFY(!form.Form4->isVisible());
}

void MainFormTest::MenuCaptions() {
  TestForm& form = *form_;
  QStringList titles;
  for (const QAction* action : form.menuBar()->actions()) titles.push_back(action->text());
  QCOMPARE(titles, (QStringList{QStringLiteral("File"), QStringLiteral("Image"), QStringLiteral("View"),
                                 QStringLiteral("?")}));
  QCOMPARE(MenuTexts(form.File1), (QStringList{QStringLiteral("Load"), QStringLiteral("Save"),
                                               QStringLiteral("Export all as PNG pack..."),
                                               QStringLiteral("New archive from PNG pack..."),
                                               QStringLiteral("Update from PNG pack..."),
                                               QStringLiteral("Recent files"), QStringLiteral("-"),
                                               QStringLiteral("Quit")}));
  QCOMPARE(MenuTexts(form.Image2), (QStringList{QStringLiteral("Export"), QStringLiteral("Export all"),
                                                QStringLiteral("Import"), QStringLiteral("Add"), QStringLiteral("-"),
                                                QStringLiteral("Export selected...")}));
  QVERIFY(form.N2->menu() == nullptr);
  for (QAction* action : form.File1->actions() + form.Image2->actions()) QVERIFY(action->isEnabled());
}

void MainFormTest::LoadFillsListAndLabel() {
  TestForm& form = *form_;
  const QString path = WriteFile(dir_, QStringLiteral("two.pvm"), FromHex(kTwoTexturePvm));
  form.answers.push_back(Choose(path));
  form.Open1->trigger();

  QVERIFY(form.boxes.empty());
  QCOMPARE(ListItems(form), (QStringList{QStringLiteral("first"), QStringLiteral("second")}));
  QCOMPARE(form.Label2->text(), QStringLiteral("2 Images"));
  QCOMPARE(form.ListSelectedIndex(), -1);
  QVERIFY(form.Panel2->isHidden());

  QCOMPARE(form.requests.size(), size_t{1});
  const auto& request = form.requests.front();
  QCOMPARE(request.dialog, DialogId::OpenDialog1);
  QVERIFY(!request.save);
  QCOMPARE(request.filters.size(), 8);
  QCOMPARE(request.filters.first(),
           QStringLiteral("All Suported format (*.xvm *.pvm *.gvm *.afs *.prs *.bml *.pvr *.gvr *.xvr)"));
  QCOMPARE(request.filters.last(), QStringLiteral("All files (*)"));
  QCOMPARE(request.filters[5], QStringLiteral("BML Package (*.bml)"));
  QCOMPARE(request.filters[6], QStringLiteral("Texture files (*.pvr *.gvr *.xvr *.prs)"));
  QCOMPARE(request.filterIndex, 1);
  QVERIFY(request.fileName.isEmpty());
}

void MainFormTest::FileDialogsKeepNameAndFilterIndex() {
  TestForm& form = *form_;
  const QString path = WriteFile(dir_, QStringLiteral("one.pvm"), FromHex(kOneTexturePvm));
  form.answers.push_back(Choose(path, 2));
  form.Open1->trigger();
  form.Open1->trigger();  // cancelled: the dialog opens on the last choice
  QCOMPARE(form.requests.size(), size_t{2});
  QCOMPARE(form.requests[1].fileName, path);
  QCOMPARE(form.requests[1].filterIndex, 2);

  // Every dialog keeps its own; Import and Add's dialog opens on its fifth entry.
  form.answers.push_back(Choose(QStringLiteral("/tmp/out.bmp"), 4));
  QVERIFY(form.AskSaveFile(DialogId::SaveDialog2, "PC PVR Format|*.pvr|BB/Xbox XVR Format|*.xvr").has_value());
  form.AskOpenFile(DialogId::OpenDialog2, "PC PVR Format|*.pvr|BB/Xbox XVR Format|*.xvr");
  form.AskSaveFile(DialogId::SaveDialog2, "PC PVR Format|*.pvr|BB/Xbox XVR Format|*.xvr");
  form.AskSaveFile(DialogId::SaveDialog1, "PC Format|*.pvm");
  QCOMPARE(form.requests.size(), size_t{6});
  QVERIFY(form.requests[2].save);
  QCOMPARE(form.requests[3].dialog, DialogId::OpenDialog2);
  QCOMPARE(form.requests[3].filterIndex, 5);
  QVERIFY(form.requests[3].fileName.isEmpty());
  QCOMPARE(form.requests[4].fileName, QStringLiteral("/tmp/out.bmp"));
  QCOMPARE(form.requests[4].filterIndex, 4);
  QCOMPARE(form.requests[5].filterIndex, 1);
  QVERIFY(form.requests[5].fileName.isEmpty());
}

void MainFormTest::ClickingAnItemWritesMemoAndPicture() {
  TestForm& form = *form_;
  LoadThroughTheMenu(QStringLiteral("one.pvm"), FromHex(kOneTexturePvm));
  QCOMPARE(ListItems(form), QStringList{QStringLiteral("tex_a")});

  ClickListItem(form, 0);
  QCOMPARE(form.ListSelectedIndex(), 0);
  QCOMPARE(form.Memo1->toPlainText().split(QLatin1Char('\n')),
           (QStringList{QStringLiteral("Description :"), QStringLiteral("Size : 4x4"),
                        QStringLiteral("Format : 00000901"), QStringLiteral("Data Length : 32"),
                        QStringLiteral("PSO ID : 00001234"), QStringLiteral("RECTANGLE RGB565 No transparency")}));
  QCOMPARE(form.Image1->size(), QSize(4, 4));
  QCOMPARE(form.Image1->PictureSize(), QSize(4, 4));
  // RGB565 channels are shown stretched to the full range: 31 and 63 -> 255.
  QCOMPARE(PixelAt(form, 0, 0), qRgb(255, 0, 0));
  QCOMPARE(PixelAt(form, 1, 0), qRgb(0, 255, 0));
  QCOMPARE(PixelAt(form, 2, 0), qRgb(0, 0, 255));
  QCOMPARE(PixelAt(form, 3, 0), qRgb(255, 255, 255));
  QCOMPARE(PixelAt(form, 0, 1), qRgb(0, 0, 0));
  QVERIFY(form.boxes.empty());
}

void MainFormTest::KeyboardSelectionAndClickAgainShowTheImage() {
  TestForm& form = *form_;
  LoadThroughTheMenu(QStringLiteral("two.pvm"), FromHex(kTwoTexturePvm));
  form.memoWrites = 0;
  ClickListItem(form, 0);
  QCOMPARE(form.memoWrites, 1);  // shown once, though the click both selects and clicks
  QCOMPARE(PixelAt(form, 1, 1), qRgb(255, 0, 0));
  QTest::keyClick(form.ListBox1, Qt::Key_Down);
  QCOMPARE(form.ListSelectedIndex(), 1);
  QVERIFY(form.Memo1->toPlainText().contains(QStringLiteral("PSO ID : 00000002")));
  QCOMPARE(PixelAt(form, 1, 1), qRgb(0, 0, 255));

  // Clicking the item already selected shows it again, from the store as it is now.
  store_->images[1].GlobalIndex = 0xBEEF;
  ClickListItem(form, 1);
  QVERIFY(form.Memo1->toPlainText().contains(QStringLiteral("PSO ID : 0000BEEF")));
  QCOMPARE(form.memoWrites, 3);
}

void MainFormTest::ClicksNeverLeaveTheListWithoutSelection() {
  TestForm& form = *form_;
  LoadThroughTheMenu(QStringLiteral("two.pvm"), FromHex(kTwoTexturePvm));
  ClickListItem(form, 1);
  QCOMPARE(form.ListSelectedIndex(), 1);

  QListWidget* list = form.ListBox1;
  const QPoint onItem = list->visualItemRect(list->item(1)).center();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, onItem);
  QCOMPARE(form.ListSelectedIndex(), 1);
  const QPoint belowItems(list->viewport()->width() / 2, list->viewport()->height() - 4);
  QVERIFY(list->itemAt(belowItems) == nullptr);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, belowItems);
  QCOMPARE(form.ListSelectedIndex(), 1);
  QVERIFY(form.Memo1->toPlainText().contains(QStringLiteral("PSO ID : 00000002")));
  QCOMPARE(PixelAt(form, 1, 1), qRgb(0, 0, 255));
  QVERIFY(form.boxes.empty());
}

void MainFormTest::ItemBeyondTheImageCountShowsNoImage() {
  TestForm& form = *form_;
  LoadThroughTheMenu(QStringLiteral("two.pvm"), FromHex(kTwoTexturePvm));
  // An AFS of one plain member (the 4 x 4 texture, GBIX 0x5678) and an "end"
  // member: the list gains "Image 1" before the table stops, over entry 1,
  // which still holds "second" of the file before.
  const Bytes afs = FromHex(
      "41465300 02000000 20000000 40000000 60000000 10000000 00000000 00000000"
      "47424958 08000000 78560000 00000000 50565254 28000000 01090000 0400 0400"
      "00F8 E007 1F00 FFFF 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000"
      "656E6400 00000000 00000000 00000000");
  LoadThroughTheMenu(QStringLiteral("end.afs"), afs);
  QVERIFY(form.boxes.empty());
  QCOMPARE(ListItems(form), (QStringList{QStringLiteral("Image 0"), QStringLiteral("Image 1")}));
  QCOMPARE(form.Label2->text(), QStringLiteral("1 Images"));

  ClickListItem(form, 0);
  QVERIFY(form.Memo1->toPlainText().contains(QStringLiteral("PSO ID : 00005678")));
  ClickListItem(form, 1);
  QCOMPARE(form.ListSelectedIndex(), 1);
  QCOMPARE(form.Memo1->toPlainText(), QStringLiteral("Description :"));
  QVERIFY(!form.Image1->HasPicture());
  QCOMPARE(form.Image1->size(), QSize(0, 0));
}

void MainFormTest::MemoIsReadOnly() {
  TestForm& form = *form_;
  form.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&form));
  form.Memo1->setFocus();
  QVERIFY(form.Memo1->hasFocus());
  QTest::keyClicks(form.Memo1, QStringLiteral("x"));
  QTest::keyClick(form.Memo1, Qt::Key_Tab);
  QCOMPARE(form.Memo1->toPlainText(), QStringLiteral("Description :"));
  QVERIFY(!form.Memo1->hasFocus());
}

void MainFormTest::NamesThatAreNotUtf8ShowAsLatin1() {
  TestForm& form = *form_;
  form.ListAdd("caf\xE9");           // Latin-1
  form.ListAdd("caf\xC3\xA9");       // UTF-8
  form.ListAdd("\xC3\xA9t\xC3");     // UTF-8 cut inside its last character
  form.ListAdd("\xE9t\xC3\xA9");     // Latin-1 that happens to end in a UTF-8 pair
  QCOMPARE(ListItems(form), (QStringList{QStringLiteral("caf\u00E9"), QStringLiteral("caf\u00E9"),
                                         QStringLiteral("\u00C3\u00A9t\u00C3"),
                                         QStringLiteral("\u00E9t\u00C3\u00A9")}));
}

void MainFormTest::RebuildAndAddFollowTheBmlFlag() {
  TestForm& form = *form_;
  store_->bmlFlag = 1;
  OpenMenu(form.File1);
  QCOMPARE(form.Save1->text(), QStringLiteral("Rebuild"));
  OpenMenu(form.Image2);
  QVERIFY(!form.Add1->isEnabled());
  QVERIFY(form.Export1->isEnabled() && form.Exportall1->isEnabled() && form.import1->isEnabled());

  // Loading any other file clears the flag; the menus follow when next opened.
  LoadThroughTheMenu(QStringLiteral("one.pvm"), FromHex(kOneTexturePvm));
  QCOMPARE(store_->bmlFlag, uint8_t{0});
  QCOMPARE(form.Save1->text(), QStringLiteral("Rebuild"));
  QVERIFY(!form.Add1->isEnabled());
  OpenMenu(form.File1);
  QCOMPARE(form.Save1->text(), QStringLiteral("Save"));
  OpenMenu(form.Image2);
  QVERIFY(form.Add1->isEnabled());
}

void MainFormTest::FailedLoadLeavesTheLabel() {
  TestForm& form = *form_;
  LoadThroughTheMenu(QStringLiteral("one.pvm"), FromHex(kOneTexturePvm));
  QCOMPARE(form.Label2->text(), QStringLiteral("1 Images"));

  // Not a known magic: the list stays, the label is refreshed with the unchanged count.
  form.SetLabel("stale");
  LoadThroughTheMenu(QStringLiteral("odd.pvm"), FromHex("58595A57 00000000"));
  QCOMPARE(form.boxes.size(), size_t{1});
  QCOMPARE(form.boxes[0].kind, TestForm::BoxKind::Information);
  QCOMPARE(form.boxes[0].text, QStringLiteral("This file is not suported."));
  QCOMPARE(form.ListCount(), 1);
  QCOMPARE(form.Label2->text(), QStringLiteral("1 Images"));
}

void MainFormTest::CommandErrorsAreShownAndTheWindowStaysUsable() {
  TestForm& form = *form_;
  form.RunCommand([] { throw quarrendel::Error(quarrendel::ErrorKind::Corrupt, "This file isn't a valide BMP format."); });
  form.RunCommand([] { throw std::runtime_error("Memory Buffer is full"); });
  QCOMPARE(form.boxes.size(), size_t{2});
  QCOMPARE(form.boxes[0].kind, TestForm::BoxKind::Error);
  QCOMPARE(form.boxes[0].text, QStringLiteral("This file isn't a valide BMP format."));
  QCOMPARE(form.boxes[1].kind, TestForm::BoxKind::Error);
  QCOMPARE(form.boxes[1].text, QStringLiteral("Memory Buffer is full"));

  LoadThroughTheMenu(QStringLiteral("one.pvm"), FromHex(kOneTexturePvm));
  QCOMPARE(form.Label2->text(), QStringLiteral("1 Images"));
}

void MainFormTest::SaveWritesTheKindOfTheFilterIndex() {
  TestForm& form = *form_;
  LoadThroughTheMenu(QStringLiteral("two.pvm"), FromHex(kTwoTexturePvm));
  const QDir folder(dir_.path());
  const QStringList before = folder.entryList(QDir::Files);

  form.Save1->trigger();  // cancelled: nothing written
  QCOMPARE(form.requests.back().dialog, DialogId::SaveDialog1);
  QVERIFY(form.requests.back().save);
  QCOMPARE(form.requests.back().filters.size(), 6);
  QCOMPARE(form.requests.back().filters[4], QStringLiteral("GC Format (*.gvm)"));
  QCOMPARE(folder.entryList(QDir::Files), before);

  // Index 1 writes a PVM, its extension forced; loaded back it holds the same images.
  // (A GVM, index 5, would convert them, and 2 x 2 textures have no GameCube tiles.)
  form.answers.push_back(Choose(folder.filePath(QStringLiteral("stage")), 1));
  form.Save1->trigger();
  QVERIFY(form.boxes.empty());
  form.answers.push_back(Choose(folder.filePath(QStringLiteral("stage.pvm"))));
  form.Open1->trigger();
  QCOMPARE(ListItems(form), (QStringList{QStringLiteral("first"), QStringLiteral("second")}));
  QCOMPARE(store_->images[1].GlobalIndex, 2u);
}

void MainFormTest::PackedLoadAndSaveShowProgressAndBmlIsRebuilt() {
  TestForm& form = *form_;
  // Each step shows the panel with its caption, the bar at step i of 2; the
  // panel is hidden once the command is done.
  const auto expectSteps = [&form](const QStringList& captions) {
    QCOMPARE(form.progress.size(), static_cast<size_t>(captions.size()));
    for (int i = 0; i < captions.size(); ++i) {
      QCOMPARE(form.progress[i].caption, captions[i]);
      QCOMPARE(form.progress[i].maximum, 2);
      QCOMPARE(form.progress[i].position, i);
      QVERIFY(form.progress[i].panelVisible);
    }
    QVERIFY(form.Panel2->isHidden());
    QVERIFY(form.boxes.empty());
  };
  LoadThroughTheMenu(QStringLiteral("packed.afs"), PackedAfsOfTwo());
  expectSteps({QStringLiteral("Decompressing PVM #0 / 2"), QStringLiteral("Decompressing PVM #1 / 2")});
  QCOMPARE(form.Label2->text(), QStringLiteral("2 Images"));

  form.progress.clear();
  const QString disc = QDir(dir_.path()).filePath(QStringLiteral("disc"));
  form.answers.push_back(Choose(disc, 3));
  form.Save1->trigger();
  QVERIFY(QFileInfo::exists(disc));  // packed mode keeps the name as chosen
  // Two one-image archives, the label counting the archives finished.
  expectSteps({QStringLiteral("Packing and compressing image in pvm : 0"),
               QStringLiteral("Packing and compressing image in pvm : 0"),
               QStringLiteral("Packing and compressing image in pvm : 1")});

  // A BML package: no dialog, the package rewritten in place.
  QFile::copy(QStringLiteral(QUARRENDEL_SOURCE_DIR "/samples/sample.bml"), QDir(dir_.path()).filePath("p.bml"));
  form.answers.push_back(Choose(QDir(dir_.path()).filePath("p.bml")));
  form.Open1->trigger();
  OpenMenu(form.File1);
  QCOMPARE(form.Save1->text(), QStringLiteral("Rebuild"));
  const size_t requests = form.requests.size();
  form.Save1->trigger();
  QCOMPARE(form.requests.size(), requests);
  QCOMPARE(form.boxes.size(), size_t{1});
  QCOMPARE(form.boxes[0].text, QStringLiteral("BML have been rebuild succefully"));
}

void MainFormTest::ExportAndExportAllWriteFiles() {
  TestForm& form = *form_;
  LoadThroughTheMenu(QStringLiteral("two.pvm"), FromHex(kTwoTexturePvm));
  form.Export1->trigger();
  QCOMPARE(form.boxes.size(), size_t{1});
  QCOMPARE(form.boxes[0].kind, TestForm::BoxKind::Plain);
  QCOMPARE(form.boxes[0].text, QStringLiteral("Please select an image first."));
  QCOMPARE(form.requests.size(), size_t{1});  // the load's only

  ClickListItem(form, 1);
  const QDir folder(dir_.path());
  form.answers.push_back(Choose(folder.filePath(QStringLiteral("exported.png")), 4));
  form.Export1->trigger();
  const auto& request = form.requests.back();
  QCOMPARE(request.dialog, DialogId::SaveDialog2);
  QVERIFY(request.save);
  QCOMPARE(request.filters, (QStringList{QStringLiteral("PC PVR Format (*.pvr)"), QStringLiteral("BB/Xbox XVR Format (*.xvr)"),
                                         QStringLiteral("GC GVR format (*.gvr)"),
                                         QStringLiteral("Windows Bitmap Format (*.bmp)"),
                                         QStringLiteral("Direct Draw Surface (DDS) (*.dds)"),
                                         QStringLiteral("PNG image (*.png)")}));
  QCOMPARE(request.fileName, QStringLiteral("second"));
  QCOMPARE(QFileInfo(folder.filePath(QStringLiteral("exported.bmp"))).size(), qint64{54 + 2 * 2 * 4});

  // Export all offers the first name in the folder chosen last, writes every
  // image and leaves the last one selected and shown.
  QVERIFY(folder.mkdir(QStringLiteral("all")));
  form.answers.push_back(Choose(folder.filePath(QStringLiteral("all/anything.gvr")), 1));
  form.Exportall1->trigger();
  QCOMPARE(form.requests.back().fileName, folder.filePath(QStringLiteral("first")));
  QVERIFY(QFile::exists(folder.filePath(QStringLiteral("all/first.pvr"))));
  QVERIFY(QFile::exists(folder.filePath(QStringLiteral("all/second.pvr"))));
  QCOMPARE(form.ListSelectedIndex(), 1);
  QVERIFY(form.Memo1->toPlainText().contains(QStringLiteral("PSO ID : 00000002")));
  QCOMPARE(form.boxes.size(), size_t{1});

  // A file that cannot be created is told.
  form.answers.push_back(Choose(folder.filePath(QStringLiteral("missing/x")), 1));
  form.Export1->trigger();
  QCOMPARE(form.boxes.size(), size_t{2});
  QCOMPARE(form.boxes[1].kind, TestForm::BoxKind::Error);
  QVERIFY(form.boxes[1].text.startsWith(QStringLiteral("cannot write ")));
}

void MainFormTest::ImportUsesTheOptionsDialogAndKeepsItsChoices() {
  TestForm& form = *form_;
  LoadThroughTheMenu(QStringLiteral("one.pvm"), FromHex(kOneTexturePvm));
  form.import1->trigger();
  QCOMPARE(form.boxes.size(), size_t{1});
  QCOMPARE(form.boxes[0].text, QStringLiteral("Please select an image first."));
  form.boxes.clear();
  ClickListItem(form, 0);
  const QString red = WriteFile(dir_, QStringLiteral("red.bmp"), SolidBitmap(4, 4, 0xFF0000FF));
  form.modalScript = [&](QDialog&) {
    form.Form2->RadioButton3->click();
    form.Form2->Button1->click();
  };
  form.answers.push_back(Choose(red, 3));
  form.import1->trigger();
  QVERIFY(form.boxes.empty());
  const auto& request = form.requests.back();
  QCOMPARE(request.dialog, DialogId::OpenDialog2);
  QVERIFY(!request.save);
  QCOMPARE(request.filterIndex, 5);
  QCOMPARE(request.filters, (QStringList{QStringLiteral("PC PVR Format (*.pvr)"), QStringLiteral("BB/Xbox XVR Format (*.xvr)"),
                                         QStringLiteral("Windows Bitmap Format (*.bmp)"),
                                         QStringLiteral("Gamecube GVR format (*.gvr)"),
                                         QStringLiteral("All Suported Format (*.bmp *.pvr *.xvr *.gvr *.dds *.png)"),
                                         QStringLiteral("PNG image (*.png)"), QStringLiteral("All files (*)")}));
  QCOMPARE(form.modalsShown.size(), size_t{1});
  QCOMPARE(form.modalsShown[0], static_cast<QDialog*>(form.Form2));
  QCOMPARE(store_->images[0].Format, 0x0600u);
  QVERIFY(form.Memo1->toPlainText().contains(QStringLiteral("Format : 00000600")));
  QCOMPARE(form.Image1->size(), QSize(4, 4));
  QCOMPARE(PixelAt(form, 3, 3), qRgb(255, 0, 0));

  // The next Import finds XBox/BB still chosen; a texture file shows no dialog.
  form.modalScript = [](QDialog& dialog) { dialog.close(); };
  form.answers.push_back(Choose(red, 3));
  form.import1->trigger();
  QCOMPARE(form.requests.back().filterIndex, 3);
  QVERIFY(form.Form2->RadioButton3->isChecked());
  QCOMPARE(store_->images[0].Format, 0x0600u);
  const QString pvr = WriteFile(dir_, QStringLiteral("blue.pvr"),
                                FromHex("50565254 10000000 01090000 0200 0200 1F00 1F00 1F00 1F00"));
  form.answers.push_back(Choose(pvr, 1));
  form.import1->trigger();
  QCOMPARE(form.modalsShown.size(), size_t{2});
  QCOMPARE(store_->images[0].Format, 0x0901u);
  QCOMPARE(form.Image1->size(), QSize(2, 2));
  QCOMPARE(PixelAt(form, 1, 1), qRgb(0, 0, 255));
  QCOMPARE(ListItems(form), QStringList{QStringLiteral("tex_a")});
  QVERIFY(form.boxes.empty());
}

void MainFormTest::AddAppendsAnImageAndRefusesForABml() {
  TestForm& form = *form_;
  LoadThroughTheMenu(QStringLiteral("one.pvm"), FromHex(kOneTexturePvm));
  form.modalScript = [&](QDialog&) {
    form.Form2->RadioButton1->click();
    form.Form2->Button1->click();
  };
  form.answers.push_back(Choose(WriteFile(dir_, QStringLiteral("added.bmp"), SolidBitmap(4, 4, 0xFFFF0000)), 5));
  form.Add1->trigger();
  QVERIFY(form.boxes.empty());
  QCOMPARE(ListItems(form), (QStringList{QStringLiteral("tex_a"), QStringLiteral("---")}));
  QCOMPARE(form.ListSelectedIndex(), 1);
  QCOMPARE(form.Label2->text(), QStringLiteral("2 Images"));
  QCOMPARE(store_->images[1].Name, std::string("added"));
  QCOMPARE(store_->images[1].Format, 0x0100u);
  QCOMPARE(PixelAt(form, 0, 0), qRgb(0, 0, 255));

  // With a BML package loaded the command refuses, before asking for a file.
  store_->bmlFlag = 1;
  const size_t asked = form.requests.size();
  form.Add1->trigger();
  QCOMPARE(form.requests.size(), asked);
  QCOMPARE(form.boxes.size(), size_t{1});
  QCOMPARE(form.boxes[0].text, QStringLiteral("Images cannot be added to a BML package."));
}

void MainFormTest::QuestionMarkOpensTheInfoDialog() {
  TestForm& form = *form_;
  bool modal = false;
  bool visible = false;
  form.modalScript = [&](QDialog& dialog) {
    modal = QApplication::activeModalWidget() == &dialog;
    visible = dialog.isVisible();
    QTest::mouseClick(form.Form4->Button1, Qt::LeftButton);
  };
  const QRect title = form.menuBar()->actionGeometry(form.N2);
  QVERIFY(title.isValid());
  QTest::mouseClick(form.menuBar(), Qt::LeftButton, {}, title.center());
  QCOMPARE(form.modalsShown.size(), size_t{1});
  QCOMPARE(form.modalsShown[0], static_cast<QDialog*>(form.Form4));
  QVERIFY(modal);
  QVERIFY(visible);
  QVERIFY(!form.Form4->isVisible());
}

void MainFormTest::ImportOptionsComeFromTheDialog() {
  TestForm& form = *form_;
  quarrendel::ui::TForm2& dialog = *form.Form2;
  form.modalScript = [&](QDialog&) {
    dialog.RadioButton2->click();
    dialog.RadioButton5->click();
    dialog.SpinEdit1->SetValue(3);
    dialog.Button1->click();
  };
  auto options = form.RunImportOptions(ImportOptionsRequest{0, 9, 9});
  QCOMPARE(options.family, TargetFamily::Gc);
  QVERIFY(options.blackTransparent);
  QCOMPARE(options.levels, 3);

  // The next Import: the spin field is reset, the radio choices are kept.
  form.modalScript = [&](QDialog& shown) { shown.close(); };
  options = form.RunImportOptions(ImportOptionsRequest{0, 1, 1});
  QCOMPARE(options.family, TargetFamily::Gc);
  QVERIFY(options.blackTransparent);
  QCOMPARE(options.levels, 1);
  QCOMPARE(form.modalsShown.size(), size_t{2});
  QCOMPARE(form.modalsShown[1], static_cast<QDialog*>(form.Form2));
}

void MainFormTest::ProgressPanel() {
  TestForm& form = *form_;
  form.SetProgressVisible(true);
  form.SetProgress("Decompressing GVM #3 / 12", 12, 3);
  QVERIFY(form.Panel2->isVisible());
  QCOMPARE(form.Label1->text(), QStringLiteral("Decompressing GVM #3 / 12"));
  QCOMPARE(form.ProgressBar1->maximum(), 12);
  QCOMPARE(form.ProgressBar1->value(), 3);
  // The panel lies over a picture shown after it was made visible.
  form.ShowPicture(Picture{400, 400, std::vector<uint32_t>(400 * 400, 0x00FF00FF)});
  const QPoint panelCorner = form.Panel2->pos() + QPoint(4, 4);
  QCOMPARE(form.Panel1->childAt(panelCorner), static_cast<QWidget*>(form.Panel2));
  form.SetProgressVisible(false);
  QVERIFY(form.Panel2->isHidden());
}

void MainFormTest::PictureKeepsItsSizeAndColours() {
  TestForm& form = *form_;
  // Pixels are 0x00BBGGRR words.
  Picture small{2, 2, {0x00332211, 0x00FFFFFF, 0x00000000, 0x00AFAFAF}};
  form.ShowPicture(small);
  QCOMPARE(form.Image1->size(), QSize(2, 2));
  QCOMPARE(PixelAt(form, 0, 0), qRgb(0x11, 0x22, 0x33));
  QCOMPARE(PixelAt(form, 1, 0), qRgb(0xFF, 0xFF, 0xFF));
  QCOMPARE(PixelAt(form, 0, 1), qRgb(0, 0, 0));
  QCOMPARE(PixelAt(form, 1, 1), qRgb(0xAF, 0xAF, 0xAF));

  // A non-square picture keeps its width and height, rows top to bottom.
  form.ShowPicture(Picture{3, 1, {0x000000FF, 0x0000FF00, 0x00FF0000}});
  QCOMPARE(form.Image1->size(), QSize(3, 1));
  QCOMPARE(PixelAt(form, 2, 0), qRgb(0, 0, 0xFF));
  form.ShowPicture(Picture{1, 3, {0x000000FF, 0x0000FF00, 0x00FF0000}});
  QCOMPARE(form.Image1->size(), QSize(1, 3));
  QCOMPARE(PixelAt(form, 0, 2), qRgb(0, 0, 0xFF));

  // A large picture is not scaled at 1x: it keeps its size and the panel scrolls it.
  form.ShowPicture(Picture{2048, 2048, std::vector<uint32_t>(size_t{2048} * 2048, 0x00102030)});
  QCOMPARE(form.Image1->size(), QSize(2048, 2048));
  QCOMPARE(form.Image1->mapTo(form.Panel1, QPoint(0, 0)), QPoint(1, 1));
  QVERIFY(form.Panel1->width() < 2048);
  QTRY_VERIFY(form.ScrollBox1->horizontalScrollBar()->isVisible());
  QTRY_VERIFY(form.ScrollBox1->verticalScrollBar()->isVisible());
  QCOMPARE(PixelAt(form, 2047, 2047), qRgb(0x30, 0x20, 0x10));
}

void MainFormTest::RealFileDialogReportsTheChosenEntry() {
  TestForm& form = *form_;
  form.realFileDialogs = true;
  const QString path = WriteFile(dir_, QStringLiteral("picture.bmp"), Bytes{'B', 'M'});
  QStringList shownFilters;
  QString firstSelected;
  QTimer::singleShot(0, &form, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) {  // not the dialog expected: close whatever file dialog is open
      for (QWidget* window : QApplication::topLevelWidgets()) {
        if (auto* other = qobject_cast<QFileDialog*>(window); other != nullptr && other->isVisible()) other->reject();
      }
      return;
    }
    shownFilters = dialog->nameFilters();
    firstSelected = dialog->selectedNameFilter();
    dialog->selectNameFilter(dialog->nameFilters().at(2));
    dialog->selectFile(path);
    static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept checks the name and finishes
  });
  const auto choice = form.AskOpenFile(DialogId::OpenDialog2,
                                       "PC PVR Format|*.pvr|BB/Xbox XVR Format|*.xvr|Windows Bitmap Format|*.bmp|"
                                       "Gamecube GVR format|*.gvr|All Suported Format|*.bmp;*.pvr;*.xvr;*.gvr;*.dds");
  QCOMPARE(shownFilters.size(), 6);  // and "All files (*)"
  QCOMPARE(firstSelected, QStringLiteral("All Suported Format (*.bmp *.pvr *.xvr *.gvr *.dds)"));
  QVERIFY(choice.has_value());
  QCOMPARE(QFileInfo(QFile::decodeName(QByteArray::fromStdString(choice->path))), QFileInfo(path));
  QCOMPARE(choice->filterIndex, 3);
}

void MainFormTest::QuitClosesTheWindow() {
  TestForm& form = *form_;
  form.Quit1->trigger();
  QVERIFY(!form.isVisible());
  QVERIFY(!form.Form2->isVisible());
  QVERIFY(!form.Form4->isVisible());
}

QTEST_MAIN(MainFormTest)
#include "main_form_test.moc"
