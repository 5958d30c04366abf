// The window as modders use it: what is shown always belongs to the file
// loaded, refused files change nothing, the preview paints opaque texels
// opaque, the progress panel never outlives its command, and the dialogs,
// title, keys and layout follow the desktop's conventions.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QUrl>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QSplitter>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>
#include <vector>

#include "core/image_store.h"
#include "imagefile/export.h"
#include "core/error.h"
#include "ui/command_thread.h"
#include "ui/import_options_form.h"
#include "ui/start_options.h"
#include "ui/thumbnail_view.h"
#include "ui/main_form.h"
#include "ui/picture_view.h"

#include "tests/ui/recording_form.h"

using quarrendel::ImageStore;
using quarrendel::ui::TForm1;

namespace {

using Bytes = std::vector<uint8_t>;

// Two 2 x 2 RGB565 rectangles (0x0901), "first" (GBIX 1, red) and "second"
// (GBIX 2, blue).
const char* const kTwoTexturePvm =
    "50564D48 48000000 0901 0200"
    "0000 6669727374 0000000000000000000000000000000000000000000000 01000000"
    "0100 7365636F6E64 00000000000000000000000000000000000000000000 02000000"
    "50565254 10000000 01090000 0200 0200 00F8 00F8 00F8 00F8"
    "50565254 10000000 01090000 0200 0200 1F00 1F00 1F00 1F00";

// One 2 x 2 ARGB4444 rectangle (0x0902) "opaque": every texel 0xF00F, opaque
// blue, which decodes to alpha 240 and blue 240.
const char* const kArgb4444Pvm =
    "50564D48 26000000 0901 0100"
    "0000 6F7061717565 00000000000000000000000000000000000000000000 07000000"
    "50565254 10000000 02090000 0200 0200 0FF0 0FF0 0FF0 0FF0";

// A window whose boxes also record whether the progress panel was showing,
// and whose modal dialogs run a script from inside their event loop.
class WindowForm : public RecordingForm {
 public:
  explicit WindowForm(ImageStore& store) : RecordingForm(store) {}
  std::vector<bool> panelShownAtBox;
  std::function<void(QDialog&)> modalScript;  // unset: the dialog is not opened
  // What each progress step saw: the command still running with the store
  // menus and the list disabled, and whether an event queued at the step
  // before was handled while the command still ran.
  struct Step {
    bool running;
    bool menusEnabled;
    bool listEnabled;
    bool onWindowThread;
  };
  std::vector<Step> steps;
  int eventsWhileRunning = 0;

  void SetProgress(std::string_view caption, int32_t maximum, int32_t position) override {
    TForm1::SetProgress(caption, maximum, position);
    steps.push_back({CommandRunning(), File1->isEnabled() || Save1->isEnabled() || Add1->isEnabled(),
                     ListBox1->isEnabled(), QThread::currentThread() == thread()});
    QMetaObject::invokeMethod(
        this, [this] { eventsWhileRunning += CommandRunning() ? 1 : 0; }, Qt::QueuedConnection);
  }

 protected:
  void ShowBox(BoxKind kind, const QString& text) override {
    panelShownAtBox.push_back(Panel2->isVisible());
    RecordingForm::ShowBox(kind, text);
  }
  void ExecModal(QDialog& dialog) override {
    if (!modalScript) return;
    QTimer::singleShot(0, &dialog, [&dialog, script = modalScript] {
      script(dialog);
      if (dialog.isVisible()) dialog.done(-1);  // never leave a test waiting
    });
    TForm1::ExecModal(dialog);
  }
};

// A 32-bit bitmap of side x side pixels of one colour.
Bytes SolidBitmap(int side, uint32_t pixel) {
  const quarrendel::texture::RgbaImage picture{side, side, std::vector<uint32_t>(static_cast<size_t>(side) * side, pixel)};
  return quarrendel::imagefile::BitmapFileBytes(picture.Rect());
}

// Drags `file` over `viewport` to `at` and drops it there, as a file
// manager does; returns whether the drop was taken.
bool DropFileAt(QWidget* viewport, QPoint at, const QString& file) {
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(file)});
  QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(viewport, &enter);
  QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(viewport, &move);
  if (!move.isAccepted()) return false;
  QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(viewport, &drop);
  return drop.isAccepted();
}

QByteArray FileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray EntryBytes(const ImageStore& store, int index) {
  const auto bytes = store.images[static_cast<size_t>(index)].Bytes();
  return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

QStringList ListItems(const TForm1& form) {
  QStringList items;
  for (int i = 0; i < form.ListBox1->count(); ++i) items.push_back(form.ListBox1->item(i)->text());
  return items;
}

void ClickListItem(TForm1& form, int row) {
  QListWidget* list = form.ListBox1;
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
}

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void initTestCase();
  void init();
  void cleanup();

  void EveryLoadClearsWhatTheLastFileShowed();
  void RefusedLoadLeavesEverythingAsItWas();
  void LoadThatReadSomeImagesShowsThem();
  void PreviewPaintsOpaqueTexelsOpaque();
  void ProgressPanelEndsWithItsCommand();

  void OpenDialogsListEveryKindAndAllFiles();
  void ExportAllAsksForAFolderAndKeepsTheSelection();
  void CancelOrEscapeEndsImportAndAddWithNothingChanged();
  void TitleTellsTheFileAndUnsavedChanges();
  void KeysShortcutsAndTabOrder();
  void ListGrowsWithTheWindowAndTheSplitter();
  void RecentFilesAndTheSettingsFile();

  void CommandsOffTheThreadReachTheWindowThroughItsThread();
  void LongCommandsLeaveTheWindowRepaintingWithStoreMenusDisabled();

  void ThumbnailsShowEveryTextureWithNameAndSize();
  void ThumbnailSelectionFollowsTheListAndBack();
  void ThumbnailSideIsKept();
  void SeveralImagesSelectedAreExportedToAFolder();
  void PropertyPanelEditsNameAndGlobalIndexForSave();
  void ImagesDragOutAsPngAndPicturesDropInAsImports();

 private:
  QString Write(const QString& name, const Bytes& bytes) { return WriteFile(dir_, name, bytes); }
  void Load(const QString& name, const Bytes& bytes) {
    form_->answers.push_back(Choose(Write(name, bytes)));
    form_->Open1->trigger();
  }

  QTemporaryDir dir_;
  std::unique_ptr<ImageStore> store_;
  std::unique_ptr<WindowForm> form_;
};

void WindowTest::initTestCase() {
  QApplication::setQuitOnLastWindowClosed(false);
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir_.path());
}

void WindowTest::init() {
  store_ = std::make_unique<ImageStore>();
  form_ = std::make_unique<WindowForm>(*store_);
  form_->recentFiles.Clear();
  form_->show();
  QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
}

void WindowTest::cleanup() {
  form_.reset();
  store_.reset();
}

void WindowTest::EveryLoadClearsWhatTheLastFileShowed() {
  WindowForm& form = *form_;
  const auto showSecond = [&] {
    ClickListItem(form, 1);
    QVERIFY(form.Memo1->toPlainText().contains(QStringLiteral("PSO ID : 00000002")));
    QVERIFY(form.Image1->HasPicture());
    QCOMPARE(form.StatusSize->text(), QStringLiteral("2 x 2"));
  };
  const auto expectNothingShown = [&] {
    QCOMPARE(form.Memo1->toPlainText(), QStringLiteral("Description :"));
    QVERIFY(!form.Image1->HasPicture());
    QVERIFY(form.StatusSize->text().isEmpty());
    QVERIFY(form.StatusFormat->text().isEmpty());
    QCOMPARE(form.ListSelectedIndex(), -1);
    QCOMPARE(ListItems(form), (QStringList{QStringLiteral("first"), QStringLiteral("second")}));
  };
  // Through the menu, then as a dropped file or a file argument.
  Load(QStringLiteral("two.pvm"), FromHex(kTwoTexturePvm));
  showSecond();
  Load(QStringLiteral("again.pvm"), FromHex(kTwoTexturePvm));
  expectNothingShown();
  showSecond();
  form.OpenPath(Write(QStringLiteral("dropped.pvm"), FromHex(kTwoTexturePvm)));
  expectNothingShown();
  QVERIFY(form.boxes.empty());
}

void WindowTest::RefusedLoadLeavesEverythingAsItWas() {
  WindowForm& form = *form_;
  Load(QStringLiteral("two.pvm"), FromHex(kTwoTexturePvm));
  ClickListItem(form, 1);
  const QString memo = form.Memo1->toPlainText();
  const QString loaded = QString::fromStdString(store_->loadedFileName);
  const QStringList items = ListItems(form);

  Bytes noise(300);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 37 + 11);
  const Bytes png = FromHex("89504E47 0D0A1A0A 0000000D 49484452");
  const auto expectUnchanged = [&](const char* what) {
    QVERIFY2(ListItems(form) == items, what);
    QCOMPARE(form.ListSelectedIndex(), 1);
    QCOMPARE(form.Label2->text(), QStringLiteral("2 Images"));
    QCOMPARE(form.Memo1->toPlainText(), memo);
    QVERIFY(form.Image1->HasPicture());
    QCOMPARE(store_->imageCount, 2);
    QCOMPARE(store_->pvrFamily, uint8_t{1});
    QCOMPARE(QString::fromStdString(store_->loadedFileName), loaded);
    QCOMPARE(form.boxes.back().text, QStringLiteral("This file is not suported."));
  };
  Load(QStringLiteral("noise.pvm"), noise);
  expectUnchanged("random bytes");
  form.OpenPath(Write(QStringLiteral("picture.png"), png));
  expectUnchanged("a PNG dropped on the window");
  // Neither refused file joins the recent files.
  QCOMPARE(form.recentFiles.Paths(), QStringList{QFileInfo(loaded).absoluteFilePath()});

  // Save still writes the images the list shows.
  const QString saved = QDir(dir_.path()).filePath(QStringLiteral("saved.pvm"));
  form.answers.push_back(Choose(saved, 1));
  form.Save1->trigger();
  QFile file(saved);
  QVERIFY(file.open(QIODevice::ReadOnly));
  QCOMPARE(file.readAll(), QByteArray::fromHex(QByteArray(kTwoTexturePvm).replace(' ', "")));

  // Unsaved changes stay unsaved after a refused load.
  store_->MarkChanged();
  form.questionAnswers.push_back(true);
  Load(QStringLiteral("noise2.pvm"), noise);
  QVERIFY(store_->unsavedChanges);
}

void WindowTest::LoadThatReadSomeImagesShowsThem() {
  WindowForm& form = *form_;
  Load(QStringLiteral("two.pvm"), FromHex(kTwoTexturePvm));
  ClickListItem(form, 0);
  // The second texture's chunk is cut off: the first is listed and counted.
  Bytes cut = FromHex(kTwoTexturePvm);
  cut.resize(cut.size() - 24);
  Load(QStringLiteral("cut.pvm"), cut);
  QCOMPARE(ListItems(form), QStringList{QStringLiteral("first")});
  QCOMPARE(form.Label2->text(), QStringLiteral("1 Images"));
  QCOMPARE(form.ListSelectedIndex(), -1);
  QVERIFY(!form.Image1->HasPicture());
  QCOMPARE(form.boxes.size(), size_t{1});
  QVERIFY(form.boxes[0].text.startsWith(QStringLiteral("Only 1 of 2 images could be read")));
}

void WindowTest::PreviewPaintsOpaqueTexelsOpaque() {
  WindowForm& form = *form_;
  Load(QStringLiteral("opaque.pvm"), FromHex(kArgb4444Pvm));
  ClickListItem(form, 0);
  // 4-bit 15 is shown as 255: nothing of the checkerboard comes through.
  QCOMPARE(PixelAt(form, 0, 0), qRgb(0, 0, 255));
  QCOMPARE(PixelAt(form, 1, 1), qRgb(0, 0, 255));
  form.AlphaOnly1->trigger();
  QCOMPARE(PixelAt(form, 0, 0), qRgb(255, 255, 255));
  form.AlphaOnly1->trigger();
  // The canvas, the description and Export keep the decoded values:
  // alpha 240, blue 240 in the bitmap (blue, green, red, alpha per pixel).
  QCOMPARE(store_->canvas(0, 0), 0xF0F00000u);
  const Bytes bitmap = quarrendel::imagefile::ExportBytes(*store_, 0, quarrendel::imagefile::ExportKind::Bitmap);
  QCOMPARE(bitmap.size(), size_t{54 + 16});
  QCOMPARE((Bytes(bitmap.begin() + 54, bitmap.begin() + 58)), (Bytes{0xF0, 0x00, 0x00, 0xF0}));
}

void WindowTest::ProgressPanelEndsWithItsCommand() {
  WindowForm& form = *form_;
  // A command that leaves the panel up and ends with an error: the panel is
  // gone before the error box, and its caption goes with it.
  form.RunCommand([&] {
    form.SetProgressVisible(true);
    form.SetProgress("Reading PNG : a.png", 3, 1);
    throw std::runtime_error("broken");
  });
  QCOMPARE(form.panelShownAtBox, std::vector<bool>{false});
  QVERIFY(form.Panel2->isHidden());
  form.RunCommand([&] { form.SetProgressVisible(true); });
  QVERIFY(form.Panel2->isHidden());
  form.SetProgressVisible(true);
  QVERIFY(form.Label1->text().isEmpty());
  form.SetProgressVisible(false);

  // "New archive from PNG pack..." whose second picture is missing: the
  // reading caption never shows behind the error.
  const QDir folder(dir_.path());
  QVERIFY(folder.mkdir(QStringLiteral("pack")));
  Load(QStringLiteral("two.pvm"), FromHex(kTwoTexturePvm));
  form.answers.push_back(Choose(folder.filePath(QStringLiteral("all")), 6));
  form.ExportPngPack1->trigger();
  QFile::remove(folder.filePath(QStringLiteral("second.png")));
  form.panelShownAtBox.clear();
  form.answers.push_back(Choose(folder.filePath(QStringLiteral("index.txt"))));
  form.answers.push_back(Choose(folder.filePath(QStringLiteral("new.pvm")), 1));
  form.NewFromPngPack1->trigger();
  QVERIFY(!form.panelShownAtBox.empty());
  for (const bool shown : form.panelShownAtBox) QVERIFY(!shown);
  QVERIFY(form.Panel2->isHidden());
}

void WindowTest::OpenDialogsListEveryKindAndAllFiles() {
  WindowForm& form = *form_;
  Load(QStringLiteral("two.pvm"), FromHex(kTwoTexturePvm));
  ClickListItem(form, 0);
  form.import1->trigger();  // cancelled
  form.Add1->trigger();     // cancelled
  form.NewFromPngPack1->trigger();
  QCOMPARE(form.requests.size(), size_t{4});
  // Load: the single texture files in the first entry; the entries keep their places.
  const QStringList load = form.requests[0].filters;
  QCOMPARE(load.size(), 8);
  QCOMPARE(load[0], QStringLiteral("All Suported format (*.xvm *.pvm *.gvm *.afs *.prs *.bml *.pvr *.gvr *.xvr)"));
  QCOMPARE(load[5], QStringLiteral("BML Package (*.bml)"));
  QCOMPARE(load[6], QStringLiteral("Texture files (*.pvr *.gvr *.xvr *.prs)"));
  // Import and Add: PNG files among all supported ones, still the fifth entry.
  for (const size_t i : {size_t{1}, size_t{2}}) {
    QCOMPARE(form.requests[i].filters[4], QStringLiteral("All Suported Format (*.bmp *.pvr *.xvr *.gvr *.dds *.png)"));
    QCOMPARE(form.requests[i].filterIndex, 5);
  }
  for (const auto& request : form.requests) {
    QVERIFY(!request.save);
    QCOMPARE(request.filters.last(), QStringLiteral("All files (*)"));
  }
  // A save dialog offers no such entry.
  form.Save1->trigger();
  QVERIFY(form.requests.back().save);
  QVERIFY(!form.requests.back().filters.contains(QStringLiteral("All files (*)")));
}

void WindowTest::ExportAllAsksForAFolderAndKeepsTheSelection() {
  WindowForm& form = *form_;
  Load(QStringLiteral("two.pvm"), FromHex(kTwoTexturePvm));
  ClickListItem(form, 0);
  const QDir folder(dir_.path());
  QVERIFY(folder.mkdir(QStringLiteral("out")));
  const QString out = folder.filePath(QStringLiteral("out"));
  form.answers.push_back(Choose(out, 6));
  form.Exportall1->trigger();
  QVERIFY(form.requests.back().folder);
  QCOMPARE(form.requests.back().dialog, quarrendel::DialogId::SaveDialog2);
  QVERIFY(QFileInfo(QDir(out).filePath(QStringLiteral("first.png"))).size() > 0);
  QVERIFY(QFileInfo(QDir(out).filePath(QStringLiteral("second.png"))).size() > 0);
  QCOMPARE(form.ListSelectedIndex(), 0);
  QVERIFY(form.Memo1->toPlainText().contains(QStringLiteral("PSO ID : 00000001")));
  QCOMPARE(form.StatusBar1->currentMessage(), QStringLiteral("2 images written to ") + out);
  QVERIFY(form.boxes.empty());

  // An image that cannot be written is listed as before; the line counts the others.
  QVERIFY(QDir(out).mkdir(QStringLiteral("second.bmp")));
  form.answers.push_back(Choose(out, 4));
  form.Exportall1->trigger();
  QCOMPARE(form.boxes.size(), size_t{1});
  QCOMPARE(form.ListSelectedIndex(), 0);

  // Cancelled: nothing written, nothing said.
  form.StatusBar1->clearMessage();
  form.Exportall1->trigger();
  QVERIFY(form.StatusBar1->currentMessage().isEmpty());
}

void WindowTest::CancelOrEscapeEndsImportAndAddWithNothingChanged() {
  WindowForm& form = *form_;
  Load(QStringLiteral("two.pvm"), FromHex(kTwoTexturePvm));
  ClickListItem(form, 1);
  const QByteArray before = EntryBytes(*store_, 1);
  const QString red = Write(QStringLiteral("red.bmp"), SolidBitmap(4, 0xFF0000FF));
  const std::function<void(QDialog&)> scripts[] = {
      [&](QDialog&) { form.Form2->Button2->click(); },
      [&](QDialog& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); },
  };
  QCOMPARE(form.Form2->Button2->text(), QStringLiteral("Cancel"));
  for (const auto& script : scripts) {
    form.modalScript = [&](QDialog& dialog) {
      form.Form2->RadioButton3->click();  // a choice made, then cancelled
      script(dialog);
    };
    form.answers.push_back(Choose(red, 3));
    form.import1->trigger();
    QCOMPARE(EntryBytes(*store_, 1), before);
    QCOMPARE(store_->images[1].Format, 0x0901u);
    QVERIFY(!store_->unsavedChanges);
    form.answers.push_back(Choose(red, 3));
    form.Add1->trigger();
    QCOMPARE(store_->imageCount, 2);
    QCOMPARE(form.ListCount(), 2);
    QCOMPARE(form.ListSelectedIndex(), 1);
    QVERIFY(!store_->unsavedChanges);
  }
  QVERIFY(form.boxes.empty());
  // OK, and the close box, go on with the choices shown.
  form.modalScript = [&](QDialog& dialog) { dialog.close(); };
  form.answers.push_back(Choose(red, 3));
  form.import1->trigger();
  QCOMPARE(store_->images[1].Width, uint16_t{4});
  QVERIFY(store_->unsavedChanges);
}

void WindowTest::TitleTellsTheFileAndUnsavedChanges() {
  WindowForm& form = *form_;
  const QString program = QStringLiteral("Quarrendel v 1.8b By Orvask ");
  QCOMPARE(form.windowTitle(), program);
  Load(QStringLiteral("sample.pvm"), FromHex(kTwoTexturePvm));
  QCOMPARE(form.windowTitle(), QStringLiteral("sample.pvm \u2014 ") + program);
  ClickListItem(form, 0);
  form.modalScript = [&](QDialog&) { form.Form2->Button1->click(); };
  form.answers.push_back(Choose(Write(QStringLiteral("red.bmp"), SolidBitmap(4, 0xFF0000FF)), 3));
  form.import1->trigger();
  QCOMPARE(form.windowTitle(), QStringLiteral("sample.pvm* \u2014 ") + program);

  // Save and Export say what they wrote in the status bar.
  const QString saved = QDir(dir_.path()).filePath(QStringLiteral("saved.pvm"));
  form.answers.push_back(Choose(QDir(dir_.path()).filePath(QStringLiteral("saved")), 1));
  form.Save1->trigger();
  QCOMPARE(form.StatusBar1->currentMessage(), QStringLiteral("Saved ") + saved);
  QCOMPARE(form.windowTitle(), QStringLiteral("sample.pvm \u2014 ") + program);
  const QString exported = QDir(dir_.path()).filePath(QStringLiteral("one.bmp"));
  form.answers.push_back(Choose(QDir(dir_.path()).filePath(QStringLiteral("one")), 4));
  form.Export1->trigger();
  QCOMPARE(form.StatusBar1->currentMessage(), QStringLiteral("Exported ") + exported);
  QVERIFY(QFileInfo::exists(exported));
  // A load clears the line.
  Load(QStringLiteral("next.pvm"), FromHex(kTwoTexturePvm));
  QVERIFY(form.StatusBar1->currentMessage().isEmpty());
  QCOMPARE(form.windowTitle(), QStringLiteral("next.pvm \u2014 ") + program);
}

void WindowTest::KeysShortcutsAndTabOrder() {
  WindowForm& form = *form_;
  QCOMPARE(form.Open1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
  QCOMPARE(form.Save1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
  QCOMPARE(form.Export1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_E));
  QCOMPARE(form.Quit1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
  form.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&form));
  form.ListBox1->setFocus();
  QTest::keyClick(&form, Qt::Key_O, Qt::ControlModifier);
  QCOMPARE(form.requests.size(), size_t{1});
  QCOMPARE(form.requests[0].dialog, quarrendel::DialogId::OpenDialog1);

  // Alt+F, Alt+I, Alt+V and F10 open the menus.
  const std::pair<QKeySequence, QMenu*> menus[] = {{QKeySequence(Qt::ALT | Qt::Key_F), form.File1},
                                                   {QKeySequence(Qt::ALT | Qt::Key_I), form.Image2},
                                                   {QKeySequence(Qt::ALT | Qt::Key_V), form.View1},
                                                   {QKeySequence(Qt::Key_F10), form.File1}};
  for (const auto& [key, menu] : menus) {
    form.ListBox1->setFocus();
    QTest::keySequence(&form, key);
    QTRY_VERIFY2(menu->isVisible(), qPrintable(key.toString()));
    menu->hide();
    QTRY_VERIFY(!menu->isVisible());
  }

  // Tab: list, memo, picture, each showing that it has the focus.
  form.activateWindow();
  form.ListBox1->setFocus();
  QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(form.ListBox1));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(form.Memo1));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(form.ScrollBox1));
  QCOMPARE(form.Panel1->frameShadow(), QFrame::Plain);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
  QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(form.Memo1));
  QCOMPARE(form.Panel1->frameShadow(), QFrame::Raised);
}

void WindowTest::ListGrowsWithTheWindowAndTheSplitter() {
  WindowForm& form = *form_;
  const QRect list = form.ListBox1->geometry();
  const QRect memo = form.Memo1->geometry();
  form.resize(form.width() + 200, form.height() + 120);
  QTRY_COMPARE(form.ListBox1->height(), list.height() + 120);
  QCOMPARE(form.ListBox1->width(), list.width());  // the splitter keeps the list's width
  QCOMPARE(form.Memo1->geometry(), memo.translated(0, 120));
  QCOMPARE(form.Label2->y(), 276 + 120);
  auto* splitter = form.findChild<QSplitter*>(QStringLiteral("Splitter1"));
  QVERIFY(splitter != nullptr);
  splitter->setSizes({185 + 90, splitter->width() - 185 - 90});
  QTRY_COMPARE(form.ListBox1->width(), list.width() + 90);
  QCOMPARE(form.Memo1->width(), memo.width() + 90);

  // Long names and the palette notice are cut in the middle, whole in the tooltip.
  const std::string longName(200, 'n');
  form.ListAdd(longName);
  QCOMPARE(form.ListBox1->item(0)->toolTip(), QString::fromStdString(longName));
  QCOMPARE(form.ListBox1->textElideMode(), Qt::ElideMiddle);
  quarrendel::ImageStatus status;
  status.width = 2;
  status.height = 2;
  status.palette = "Palette file not found: /a/very/long/folder/name/" + std::string(300, 'p') + ".pvp: fallback palette";
  form.ShowStatus(status);
  QTRY_VERIFY(form.StatusPalette->text().contains(QChar(0x2026)));
  QCOMPARE(form.StatusPalette->toolTip(), QString::fromStdString(status.palette));
}

void WindowTest::RecentFilesAndTheSettingsFile() {
  WindowForm& form = *form_;
  // The file the README names.
  const QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Quarrendel"),
                           QStringLiteral("quarrendel"));
  QVERIFY2(settings.fileName().endsWith(QStringLiteral("/Quarrendel/quarrendel.ini")), qPrintable(settings.fileName()));
  QFile readme(QStringLiteral(QUARRENDEL_SOURCE_DIR "/README.md"));
  QVERIFY(readme.open(QIODevice::ReadOnly));
  QVERIFY(readme.readAll().contains("~/.config/Quarrendel/quarrendel.ini"));

  // The archive made from a PNG pack joins them once saved (and loaded).
  const QDir folder(dir_.path());
  QVERIFY(folder.mkdir(QStringLiteral("pack2")));
  Load(QStringLiteral("two.pvm"), FromHex(kTwoTexturePvm));
  form.answers.push_back(Choose(folder.filePath(QStringLiteral("pack2/index.txt"))));
  form.ExportPngPack1->trigger();
  form.answers.push_back(Choose(folder.filePath(QStringLiteral("pack2/index.txt"))));
  form.answers.push_back(Choose(folder.filePath(QStringLiteral("made")), 1));
  form.NewFromPngPack1->trigger();
  QCOMPARE(form.recentFiles.Paths().value(0), QFileInfo(folder.filePath(QStringLiteral("made.pvm"))).absoluteFilePath());
}

void WindowTest::CommandsOffTheThreadReachTheWindowThroughItsThread() {
  WindowForm& form = *form_;
  QThread* windowThread = QThread::currentThread();
  QThread* commandThread = nullptr;
  int32_t counted = -1;
  std::optional<quarrendel::FileChoice> chosen;
  form.answers.push_back(Choose(QStringLiteral("/x/y.pvm"), 2));
  try {
    quarrendel::ui::RunOffThread(form, form, [&](quarrendel::FrontEnd& frontEnd) {
      commandThread = QThread::currentThread();
      frontEnd.ListAdd("added");
      counted = frontEnd.ListCount();
      chosen = frontEnd.AskOpenFile(quarrendel::DialogId::OpenDialog1, "A|*.a");
      throw quarrendel::Error(quarrendel::ErrorKind::Corrupt, "ended");
    });
    QFAIL("the command's error was not passed on");
  } catch (const quarrendel::Error& e) {
    QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("ended"));
  }
  QVERIFY(commandThread != nullptr && commandThread != windowThread);
  QCOMPARE(counted, 1);
  QCOMPARE(ListItems(form), QStringList{QStringLiteral("added")});
  QVERIFY(chosen.has_value());
  QCOMPARE(chosen->filterIndex, 2);
  QCOMPARE(form.requests.back().filters.last(), QStringLiteral("All files (*)"));
}

void WindowTest::LongCommandsLeaveTheWindowRepaintingWithStoreMenusDisabled() {
  WindowForm& form = *form_;
  Load(QStringLiteral("two.pvm"), FromHex(kTwoTexturePvm));
  ClickListItem(form, 1);
  const QDir folder(dir_.path());
  QVERIFY(folder.mkdir(QStringLiteral("long")));
  const auto expectRanOffTheThread = [&](const char* what) {
    QVERIFY2(!form.steps.empty(), what);
    for (const auto& step : form.steps) {
      QVERIFY2(step.running && !step.menusEnabled && !step.listEnabled && step.onWindowThread, what);
    }
    // The window's thread handled events while the command ran.
    QVERIFY2(form.eventsWhileRunning > 0, what);
    QVERIFY(!form.CommandRunning());
    QVERIFY(form.File1->isEnabled() && form.Save1->isEnabled() && form.ListBox1->isEnabled());
    form.steps.clear();
    form.eventsWhileRunning = 0;
  };
  form.answers.push_back(Choose(folder.filePath(QStringLiteral("long")), 4));
  form.Exportall1->trigger();
  expectRanOffTheThread("Export all");
  QCOMPARE(form.ListSelectedIndex(), 1);
  form.answers.push_back(Choose(folder.filePath(QStringLiteral("long/index.txt"))));
  form.ExportPngPack1->trigger();
  expectRanOffTheThread("Export all as PNG pack");
  // A packed save: an AFS whose members are compressed archives.
  store_->packageMode = 1;
  form.answers.push_back(Choose(folder.filePath(QStringLiteral("long/disc.afs")), 3));
  form.Save1->trigger();
  expectRanOffTheThread("packed save");
  form.answers.push_back(Choose(folder.filePath(QStringLiteral("long/disc.afs"))));
  form.Open1->trigger();
  expectRanOffTheThread("packed load");
  QCOMPARE(form.Label2->text(), QStringLiteral("2 Images"));
  // Only the pack's own report was shown.
  QCOMPARE(form.boxes.size(), size_t{1});
  QVERIFY(form.boxes[0].text.startsWith(QStringLiteral("2 PNG files and index.txt written in ")));
}

void WindowTest::ThumbnailsShowEveryTextureWithNameAndSize() {
  WindowForm& form = *form_;
  QVERIFY(form.ThumbnailView1->isHidden());
  QCOMPARE(form.Thumbnails1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_T));
  Load(QStringLiteral("two.pvm"), FromHex(kTwoTexturePvm));
  form.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&form));
  QTest::keyClick(&form, Qt::Key_T, Qt::ControlModifier);
  QVERIFY(form.Thumbnails1->isChecked());
  QTRY_VERIFY(form.ThumbnailView1->isVisible());
  quarrendel::ui::ThumbnailModel* model = form.ThumbnailView1->Model();
  QTRY_COMPARE(model->rowCount(), 2);
  QCOMPARE(model->data(model->index(0), Qt::DisplayRole).toString(), QStringLiteral("first\n2 x 2"));
  QCOMPARE(model->data(model->index(1), Qt::DisplayRole).toString(), QStringLiteral("second\n2 x 2"));
  form.ThumbnailView1->repaint();
  QCOMPARE(model->TileCount(), 2);
  // The 2 x 2 red texture fills its tile, stretched to the full range.
  const QPixmap tile = model->data(model->index(0), Qt::DecorationRole).value<QPixmap>();
  QCOMPARE(tile.size(), QSize(64, 64));
  QCOMPARE(tile.toImage().pixel(10, 50), qRgb(255, 0, 0));
  QCOMPARE(tile.toImage().pixel(50, 10), qRgb(255, 0, 0));
  QCOMPARE(model->data(model->index(1), Qt::DecorationRole).value<QPixmap>().toImage().pixel(32, 32), qRgb(0, 0, 255));

  // An import changes the texture under its tile; a new load the whole view.
  ClickListItem(form, 0);
  form.modalScript = [&](QDialog&) { form.Form2->Button1->click(); };
  form.answers.push_back(Choose(Write(QStringLiteral("green.bmp"), SolidBitmap(4, 0xFF00FF00)), 3));
  form.import1->trigger();
  QTRY_COMPARE(model->data(model->index(0), Qt::DisplayRole).toString(), QStringLiteral("first\n4 x 4"));
  form.ThumbnailView1->repaint();
  QCOMPARE(model->data(model->index(0), Qt::DecorationRole).value<QPixmap>().toImage().pixel(32, 32), qRgb(0, 255, 0));
  form.questionAnswers.push_back(true);  // the import's change may go
  Load(QStringLiteral("opaque.pvm"), FromHex(kArgb4444Pvm));
  QTRY_COMPARE(model->rowCount(), 1);
  QCOMPARE(model->data(model->index(0), Qt::DisplayRole).toString(), QStringLiteral("opaque\n2 x 2"));

  form.Thumbnails1->trigger();
  QVERIFY(form.ThumbnailView1->isHidden());
}

void WindowTest::ThumbnailSelectionFollowsTheListAndBack() {
  WindowForm& form = *form_;
  Load(QStringLiteral("two.pvm"), FromHex(kTwoTexturePvm));
  form.Thumbnails1->trigger();
  quarrendel::ui::ThumbnailView& view = *form.ThumbnailView1;
  QTRY_COMPARE(view.Model()->rowCount(), 2);
  // A click on a tile selects the list item and shows its image.
  view.repaint();
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.visualRect(view.Model()->index(1)).center());
  QCOMPARE(form.ListSelectedIndex(), 1);
  QVERIFY(form.Memo1->toPlainText().contains(QStringLiteral("PSO ID : 00000002")));
  // Choosing in the list selects the tile.
  ClickListItem(form, 0);
  QCOMPARE(view.selectionModel()->selectedIndexes().size(), 1);
  QCOMPARE(view.selectionModel()->selectedIndexes().first().row(), 0);
  QVERIFY(form.Memo1->toPlainText().contains(QStringLiteral("PSO ID : 00000001")));
}

void WindowTest::ThumbnailSideIsKept() {
  WindowForm& form = *form_;
  // The screenshots' start option shows the view at a size without keeping it.
  using quarrendel::ui::ParseStartOptions;
  const QString program = QStringLiteral("quarrendel");
  QCOMPARE(ParseStartOptions({program, QStringLiteral("--thumbnails"), QStringLiteral("128")})->thumbnails,
           std::optional<int>(128));
  QVERIFY(!ParseStartOptions({program, QStringLiteral("--thumbnails"), QStringLiteral("96")}).has_value());
  {
    WindowForm shown(*store_);
    quarrendel::ui::StartOptions options;
    options.thumbnails = 128;
    quarrendel::ui::ApplyStartOptions(shown, *store_, options);
    QVERIFY(shown.Thumbnails1->isChecked());
    QCOMPARE(shown.ThumbnailView1->TileSide(), 128);
  }
  QCOMPARE(form.ThumbnailView1->TileSide(), 64);
  QVERIFY(form.SmallThumbnails1->isChecked());
  form.LargeThumbnails1->trigger();
  QCOMPARE(form.ThumbnailView1->TileSide(), 128);
  WindowForm next(*store_);
  QCOMPARE(next.ThumbnailView1->TileSide(), 128);
  QVERIFY(next.LargeThumbnails1->isChecked());
  form.SmallThumbnails1->trigger();
  QCOMPARE(WindowForm(*store_).ThumbnailView1->TileSide(), 64);
}

void WindowTest::SeveralImagesSelectedAreExportedToAFolder() {
  WindowForm& form = *form_;
  // Three images: the two of the archive and one added.
  Load(QStringLiteral("two.pvm"), FromHex(kTwoTexturePvm));
  ClickListItem(form, 0);
  form.modalScript = [&](QDialog&) { form.Form2->Button1->click(); };
  form.answers.push_back(Choose(Write(QStringLiteral("third.bmp"), SolidBitmap(4, 0xFF00FF00)), 3));
  form.Add1->trigger();
  QCOMPARE(form.ListCount(), 3);
  form.ExportSelected1->trigger();  // nothing chosen beyond the one shown: it alone
  form.requests.clear();

  // Click the first, Ctrl+click the third: both selected, the third shown.
  QListWidget* list = form.ListBox1;
  ClickListItem(form, 0);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, list->visualItemRect(list->item(2)).center());
  QCOMPARE(list->selectionModel()->selectedRows().size(), 2);
  QCOMPARE(form.ListSelectedIndex(), 2);
  QVERIFY(form.Memo1->toPlainText().contains(QStringLiteral("Size : 4x4")));
  // The thumbnails show the same selection; choosing two tiles there selects them in the list.
  form.Thumbnails1->trigger();
  quarrendel::ui::ThumbnailView& view = *form.ThumbnailView1;
  QTRY_COMPARE(view.Model()->rowCount(), 3);
  QCOMPARE(view.selectionModel()->selectedIndexes().size(), 2);
  view.repaint();
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.visualRect(view.Model()->index(1)).center());
  QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::ShiftModifier, view.visualRect(view.Model()->index(2)).center());
  QCOMPARE(list->selectionModel()->selectedRows().size(), 2);
  QVERIFY(!list->selectionModel()->isSelected(list->model()->index(0, 0)));
  QCOMPARE(form.ListSelectedIndex(), 2);

  const QDir folder(dir_.path());
  QVERIFY(folder.mkdir(QStringLiteral("some")));
  const QString out = folder.filePath(QStringLiteral("some"));
  form.answers.push_back(Choose(out, 4));
  form.ExportSelected1->trigger();
  QVERIFY(form.requests.back().folder);
  QCOMPARE(QDir(out).entryList(QDir::Files), (QStringList{QStringLiteral("second.bmp"), QStringLiteral("third.bmp")}));
  QCOMPARE(form.StatusBar1->currentMessage(), QStringLiteral("2 images written to ") + out);
  QCOMPARE(list->selectionModel()->selectedRows().size(), 2);

  // Ctrl+click never leaves the list without a selection.
  ClickListItem(form, 1);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, list->visualItemRect(list->item(1)).center());
  QCOMPARE(form.ListSelectedIndex(), 1);
}

void WindowTest::PropertyPanelEditsNameAndGlobalIndexForSave() {
  WindowForm& form = *form_;
  QVERIFY(!form.PropertyPanel1->isEnabled());
  Load(QStringLiteral("two.pvm"), FromHex(kTwoTexturePvm));
  ClickListItem(form, 1);
  QVERIFY(form.PropertyPanel1->isEnabled());
  QCOMPARE(form.NameEdit1->text(), QStringLiteral("second"));
  QCOMPARE(form.IndexEdit1->text(), QStringLiteral("2"));
  QCOMPARE(form.FormatValue1->text(), QStringLiteral("00000901"));
  QCOMPARE(form.SizeValue1->text(), QStringLiteral("2 x 2"));
  QCOMPARE(form.LevelsValue1->text(), QStringLiteral("1"));
  QCOMPARE(form.PaletteValue1->text(), QStringLiteral("none"));
  QCOMPARE(form.NameEdit1->maxLength(), 28);

  // Typed as a user types (Return ends it); text beyond ASCII is put in as a paste puts it.
  const auto type = [](QLineEdit* edit, const QString& text) {
    edit->setFocus();
    edit->selectAll();
    if (text.toLatin1() == text.toUtf8()) {
      QTest::keyClicks(edit, text);
    } else {
      edit->insert(text);
    }
    QTest::keyClick(edit, Qt::Key_Return);
  };
  type(form.NameEdit1, QStringLiteral("renamed"));
  QCOMPARE(QString::fromStdString(store_->images[1].Name), QStringLiteral("renamed"));
  QCOMPARE(form.ListBox1->item(1)->text(), QStringLiteral("renamed"));
  QVERIFY(store_->unsavedChanges);
  QVERIFY(form.windowTitle().startsWith(QStringLiteral("two.pvm*")));
  type(form.IndexEdit1, QStringLiteral("77"));
  QCOMPARE(store_->images[1].GlobalIndex, 77u);
  QVERIFY(form.Memo1->toPlainText().contains(QStringLiteral("PSO ID : 0000004D")));
  // Refused: one past the largest index, a name of 28 characters but 56 bytes.
  type(form.IndexEdit1, QStringLiteral("4294967296"));
  QCOMPARE(form.boxes.back().text, QStringLiteral("The global index is a decimal number from 0 to 4294967295."));
  QCOMPARE(store_->images[1].GlobalIndex, 77u);
  QCOMPARE(form.IndexEdit1->text(), QStringLiteral("77"));
  type(form.NameEdit1, QString(28, QChar(0xE9)));
  QCOMPARE(form.boxes.back().text, QStringLiteral("The name holds at most 28 characters."));
  QCOMPARE(QString::fromStdString(store_->images[1].Name), QStringLiteral("renamed"));
  // 4294967295 and 28 bytes are taken.
  type(form.IndexEdit1, QStringLiteral("4294967295"));
  QCOMPARE(store_->images[1].GlobalIndex, 4294967295u);
  type(form.NameEdit1, QString(28, QLatin1Char('x')));
  QCOMPARE(store_->images[1].Name, std::string(28, 'x'));
  QCOMPARE(form.boxes.size(), size_t{2});

  // Save writes them; loaded back they are there.
  const QString saved = QDir(dir_.path()).filePath(QStringLiteral("renamed.pvm"));
  form.answers.push_back(Choose(saved, 1));
  form.Save1->trigger();
  QVERIFY(!store_->unsavedChanges);
  form.answers.push_back(Choose(saved));
  form.Open1->trigger();
  QCOMPARE(ListItems(form), (QStringList{QStringLiteral("first"), QString(28, QLatin1Char('x'))}));
  QCOMPARE(store_->images[1].GlobalIndex, 4294967295u);
  QCOMPARE(store_->images[0].GlobalIndex, 1u);
  QVERIFY(!form.PropertyPanel1->isEnabled());

  // A palettised texture names its palette file.
  form.OpenPath(Write(QStringLiteral("clut.pvr"), FromHex("50565254 0A000000 00050000 0200 0200 2143")));
  ClickListItem(form, 0);
  QVERIFY2(form.PaletteValue1->text().startsWith(QStringLiteral("Palette file not found: ")),
           qPrintable(form.PaletteValue1->text()));
  QVERIFY(form.PaletteValue1->text().endsWith(QStringLiteral("clut.pvp: fallback palette")));
}

void WindowTest::ImagesDragOutAsPngAndPicturesDropInAsImports() {
  WindowForm& form = *form_;
  Load(QStringLiteral("two.pvm"), FromHex(kTwoTexturePvm));
  ClickListItem(form, 0);
  // Dragged out of the list: each selected image as NAME.png, the PNG export.
  QAbstractItemModel* items = form.ListBox1->model();
  std::unique_ptr<QMimeData> dragged(items->mimeData({items->index(0, 0), items->index(1, 0)}));
  QVERIFY(dragged != nullptr);
  QCOMPARE(dragged->urls().size(), 2);
  QCOMPARE(QFileInfo(dragged->urls()[1].toLocalFile()).fileName(), QStringLiteral("second.png"));
  const Bytes png = quarrendel::imagefile::ExportBytes(*store_, 1, quarrendel::imagefile::ExportKind::Png);
  QCOMPARE(FileBytes(dragged->urls()[1].toLocalFile()),
           QByteArray(reinterpret_cast<const char*>(png.data()), static_cast<qsizetype>(png.size())));
  // And out of the thumbnails.
  form.Thumbnails1->trigger();
  quarrendel::ui::ThumbnailView& view = *form.ThumbnailView1;
  QTRY_COMPARE(view.Model()->rowCount(), 2);
  std::unique_ptr<QMimeData> fromTiles(view.Model()->mimeData({view.Model()->index(0)}));
  QVERIFY(fromTiles != nullptr);
  QCOMPARE(QFileInfo(fromTiles->urls().value(0).toLocalFile()).fileName(), QStringLiteral("first.png"));

  // A bitmap dropped on the second item imports into it after the options dialog.
  const QString green = Write(QStringLiteral("green.bmp"), SolidBitmap(4, 0xFF00FF00));
  int dialogs = 0;
  form.modalScript = [&](QDialog&) {
    ++dialogs;
    form.Form2->Button1->click();
  };
  QListWidget* list = form.ListBox1;
  QVERIFY(DropFileAt(list->viewport(), list->visualItemRect(list->item(1)).center(), green));
  QTRY_COMPARE(store_->images[1].Width, uint16_t{4});
  QCOMPARE(dialogs, 1);
  QCOMPARE(form.ListSelectedIndex(), 1);
  QVERIFY(form.Memo1->toPlainText().contains(QStringLiteral("Size : 4x4")));
  QCOMPARE(store_->images[1].Name, std::string("second"));
  QCOMPARE(store_->images[1].GlobalIndex, 2u);
  // A PNG dropped on the first tile, cancelled in the dialog: nothing changes.
  const QString png2 = Write(QStringLiteral("blue.png"), png);
  const QByteArray first = EntryBytes(*store_, 0);
  form.modalScript = [&](QDialog&) {
    ++dialogs;
    form.Form2->Button2->click();
  };
  view.repaint();
  QVERIFY(DropFileAt(view.viewport(), view.visualRect(view.Model()->index(0)).center(), png2));
  QTRY_COMPARE(dialogs, 2);
  QCOMPARE(EntryBytes(*store_, 0), first);
  // Other files are not imported: they load as files dropped on the window
  // do (here the unsaved import is kept when asked).
  const int questions = static_cast<int>(form.questions.size());
  QVERIFY(DropFileAt(list->viewport(), list->visualItemRect(list->item(0)).center(), Write(QStringLiteral("x.txt"), {1})));
  QTRY_COMPARE(static_cast<int>(form.questions.size()), questions + 1);
  QCOMPARE(EntryBytes(*store_, 0), first);
  QCOMPARE(form.ListCount(), 2);
  // An archive dropped beside the items loads.
  form.questionAnswers.push_back(true);
  const QPoint belowItems(list->viewport()->width() / 2, list->viewport()->height() - 4);
  QVERIFY(DropFileAt(list->viewport(), belowItems, Write(QStringLiteral("other.pvm"), FromHex(kArgb4444Pvm))));
  QTRY_COMPARE(ListItems(form), QStringList{QStringLiteral("opaque")});
  QVERIFY(form.boxes.empty());
}

QTEST_MAIN(WindowTest)
#include "window_test.moc"
