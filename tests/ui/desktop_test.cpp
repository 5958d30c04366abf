// The window as a desktop program: zoom and channel views of the picture, the
// status line, files opened from the command line, by dropping and from the
// recent files, and the question before unsaved changes are dropped.
#include <QAction>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QUrl>
#include <QWheelEvent>
#include <QtTest>
#include <memory>
#include <vector>

#include "core/image_store.h"
#include "ui/main_form.h"
#include "ui/picture_view.h"
#include "ui/start_options.h"

#include "tests/ui/recording_form.h"

using quarrendel::ImageStore;
using quarrendel::Picture;
using quarrendel::ui::PictureArea;
using quarrendel::ui::TForm1;

namespace {

// Bare PVRT files. "clut": 2 x 2 indices of a 4-bit CLUT (format 0x0500),
// whose palette would be <name>.pvp beside it. "rect": a 2 x 2 RGB565
// rectangle (format 0x0901), red and blue above two black texels.
const char* const kClutTexture = "50565254 0A000000 00050000 0200 0200 2143";
const char* const kRectTexture = "50565254 10000000 01090000 0200 0200 00F8 1F00 0000 0000";

// A 4 x 4 picture: texels (0, 0) and (2, 0) red at alpha 128, (1, 0) opaque
// green, every other texel transparent.
Picture ZoomPicture() {
  Picture picture{4, 4, std::vector<uint32_t>(16, 0x00FFFFFF)};
  picture.decoded.assign(16, 0);
  picture.decoded[0] = 0x800000FF;
  picture.decoded[1] = 0xFF00FF00;
  picture.decoded[2] = 0x800000FF;
  return picture;
}

QStringList RecentCaptions(TForm1& form) {
  OpenMenu(form.Recent1);
  QStringList captions;
  for (const QAction* action : form.Recent1->actions()) {
    if (action->isSeparator()) continue;
    captions.push_back(action->text() + (action->isEnabled() ? QString() : QStringLiteral(" [disabled]")));
  }
  return captions;
}

void SendDrop(TForm1& form, const QList<QUrl>& urls, bool* entered) {
  QMimeData data;
  data.setUrls(urls);
  QDragEnterEvent enter(QPoint(300, 200), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&form, &enter);
  *entered = enter.isAccepted();
  if (!*entered) return;
  QDropEvent drop(QPointF(300, 200), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&form, &drop);
}

}  // namespace

class DesktopTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void initTestCase();
  void init();
  void cleanup();

  void ZoomKeepsTheCheckerboardAtScreenScale();
  void FitKeysAndWheel();
  void ChannelToggles();
  void StatusLineAfterADrop();
  void UnsavedChangesAreNotDroppedWithoutAsking();
  void RecentFilesNewestFirstAndKeptAcrossRuns();
  void StartOptions();
  void ASmallPictureAfterALargeOneShowsNothingOfIt();

 private:
  QString Write(const QString& name, const char* hex);

  QTemporaryDir dir_;
  std::unique_ptr<ImageStore> store_;
  std::unique_ptr<RecordingForm> form_;
};

void DesktopTest::initTestCase() {
  QApplication::setQuitOnLastWindowClosed(false);
  // The recent files live in this test's folder, never in the user's settings.
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir_.path());
}

void DesktopTest::init() {
  quarrendel::ui::RecentFiles().Clear();
  store_ = std::make_unique<ImageStore>();
  form_ = std::make_unique<RecordingForm>(*store_);
  form_->show();
  QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
}

void DesktopTest::cleanup() {
  form_.reset();
  store_.reset();
}

QString DesktopTest::Write(const QString& name, const char* hex) { return WriteFile(dir_, name, FromHex(hex)); }

void DesktopTest::ZoomKeepsTheCheckerboardAtScreenScale() {
  RecordingForm& form = *form_;
  form.ShowPicture(ZoomPicture());
  // 1x: red at alpha 128 over white is 255, 126, 126.
  QCOMPARE(form.Image1->size(), QSize(4, 4));
  QCOMPARE(form.StatusZoom->text(), QStringLiteral("1x"));
  QCOMPARE(PixelAt(form, 0, 0), qRgb(255, 126, 126));
  QCOMPARE(PixelAt(form, 2, 0), qRgb(255, 126, 126));
  QCOMPARE(PixelAt(form, 3, 3), qRgb(255, 255, 255));

  form.Zoom8x->trigger();
  QCOMPARE(form.Image1->size(), QSize(32, 32));
  QCOMPARE(form.StatusZoom->text(), QStringLiteral("8x"));
  QVERIFY(form.Zoom8x->isChecked() && !form.Zoom1x->isChecked());
  // Each texel is an 8 x 8 block; the squares stay 16 screen pixels wide, so
  // texel (2, 0) now lies on a grey square: 216, 86, 86.
  QCOMPARE(PixelAt(form, 7, 7), qRgb(255, 126, 126));
  QCOMPARE(PixelAt(form, 8, 0), qRgb(0, 255, 0));
  QCOMPARE(PixelAt(form, 15, 7), qRgb(0, 255, 0));
  QCOMPARE(PixelAt(form, 16, 0), qRgb(216, 86, 86));
  QCOMPARE(PixelAt(form, 23, 7), qRgb(216, 86, 86));
  QCOMPARE(PixelAt(form, 24, 0), qRgb(0xAF, 0xAF, 0xAF));  // transparent texel (3, 0)
  QCOMPARE(PixelAt(form, 0, 16), qRgb(0xAF, 0xAF, 0xAF));
  QCOMPARE(PixelAt(form, 16, 16), qRgb(255, 255, 255));
  QCOMPARE(PixelAt(form, 31, 31), qRgb(255, 255, 255));

  form.Zoom2x->trigger();
  QCOMPARE(form.Image1->size(), QSize(8, 8));
  QCOMPARE(PixelAt(form, 5, 1), qRgb(255, 126, 126));  // texel (2, 0), still on white

  // The next picture keeps the zoom; a large one scrolls.
  form.ShowPicture(Picture{300, 300, std::vector<uint32_t>(300 * 300, 0x00336699)});
  QCOMPARE(form.Image1->size(), QSize(600, 600));
  QTRY_VERIFY(form.ScrollBox1->horizontalScrollBar()->isVisible());
  QCOMPARE(PixelAt(form, 599, 599), qRgb(0x99, 0x66, 0x33));
}

void DesktopTest::FitKeysAndWheel() {
  RecordingForm& form = *form_;
  form.ShowPicture(ZoomPicture());
  form.ZoomFit->trigger();
  const QSize room = form.ScrollBox1->maximumViewportSize();
  const QSize shown = form.Image1->size();
  // The largest whole factor that fits: every texel a square of equal pixels.
  QVERIFY(shown.width() == shown.height() && shown.width() % 4 == 0);
  QVERIFY(shown.width() <= room.width() && shown.height() <= room.height());
  QVERIFY(shown.width() + 4 > std::min(room.width(), room.height()));
  QCOMPARE(form.StatusZoom->text(), QStringLiteral("Fit %1x").arg(shown.width() / 4));
  QTRY_VERIFY(!form.ScrollBox1->horizontalScrollBar()->isVisible());

  // A picture larger than the panel shrinks into it, its sides in proportion.
  form.ShowPicture(Picture{2048, 1024, std::vector<uint32_t>(size_t{2048} * 1024, 0)});
  QCOMPARE(form.Image1->width(), room.width());
  QCOMPARE(form.Image1->height(), room.width() * 1024 / 2048);
  QVERIFY(form.StatusZoom->text().endsWith(QLatin1Char('%')));
  // Zooming in from a shrunk fit goes to 1x; from fit 2x or more, out goes to the factor below.
  form.ZoomIn1->trigger();
  QCOMPARE(form.Image1->size(), QSize(2048, 1024));
  form.ShowPicture(ZoomPicture());
  form.ZoomFit->trigger();

  form.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(form_.get()));
  QTest::keyClick(form_.get(), Qt::Key_Minus, Qt::ControlModifier);
  QCOMPARE(form.Image1->size(), QSize(32, 32));
  QTest::keyClick(form_.get(), Qt::Key_Minus, Qt::ControlModifier);
  QCOMPARE(form.Image1->size(), QSize(16, 16));
  QTest::keyClick(form_.get(), Qt::Key_Plus, Qt::ControlModifier);
  QCOMPARE(form.Image1->size(), QSize(32, 32));
  QTest::keyClick(form_.get(), Qt::Key_Plus, Qt::ControlModifier);  // 8x is the most
  QCOMPARE(form.Image1->size(), QSize(32, 32));
  QVERIFY(form.Zoom8x->isChecked());

  // Ctrl+wheel: one step per notch, fractions of a notch add up; a plain wheel does not zoom.
  QWidget* viewport = form.ScrollBox1->viewport();
  auto wheel = [&](int delta, Qt::KeyboardModifiers modifiers) {
    QWheelEvent event(QPointF(5, 5), viewport->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, delta),
                      Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &event);
  };
  wheel(-120, Qt::ControlModifier);
  QCOMPARE(form.Image1->size(), QSize(16, 16));
  wheel(-60, Qt::ControlModifier);
  QCOMPARE(form.Image1->size(), QSize(16, 16));
  wheel(-60, Qt::ControlModifier);
  QCOMPARE(form.Image1->size(), QSize(8, 8));
  wheel(-120, Qt::NoModifier);
  QCOMPARE(form.Image1->size(), QSize(8, 8));
  QCOMPARE(form.StatusZoom->text(), QStringLiteral("2x"));
}

void DesktopTest::ChannelToggles() {
  RecordingForm& form = *form_;
  form.ShowPicture(ZoomPicture());
  form.AlphaOnly1->trigger();
  QCOMPARE(PixelAt(form, 0, 0), qRgb(128, 128, 128));
  QCOMPARE(PixelAt(form, 1, 0), qRgb(255, 255, 255));
  QCOMPARE(PixelAt(form, 3, 3), qRgb(0, 0, 0));
  // The two toggles exclude each other.
  form.ColoursOnly1->trigger();
  QVERIFY(!form.AlphaOnly1->isChecked());
  QCOMPARE(PixelAt(form, 0, 0), qRgb(255, 0, 0));
  QCOMPARE(PixelAt(form, 1, 0), qRgb(0, 255, 0));
  QCOMPARE(PixelAt(form, 3, 3), qRgb(0, 0, 0));
  form.ColoursOnly1->trigger();
  QVERIFY(!form.ColoursOnly1->isChecked());
  QCOMPARE(PixelAt(form, 0, 0), qRgb(255, 126, 126));
}

void DesktopTest::StatusLineAfterADrop() {
  RecordingForm& form = *form_;
  const QString path = Write(QStringLiteral("clut.pvr"), kClutTexture);
  bool entered = false;
  SendDrop(form, {QUrl(QStringLiteral("https://example.org/a.pvm"))}, &entered);
  QVERIFY(!entered);
  SendDrop(form, {QUrl::fromLocalFile(path), QUrl::fromLocalFile(QStringLiteral("/elsewhere.pvm"))}, &entered);
  QVERIFY(entered);
  QTRY_COMPARE(form.ListCount(), 1);
  QCOMPARE(form.ListBox1->item(0)->text(), QStringLiteral("clut"));
  QCOMPARE(form.Label2->text(), QStringLiteral("1 Images"));
  QVERIFY(form.boxes.empty());

  form.ListSetSelectedIndex(0);
  form.ListBox1Click();
  QCOMPARE(form.StatusSize->text(), QStringLiteral("2 x 2"));
  QCOMPARE(form.StatusFormat->text(), QStringLiteral("4-BIT CLUT TWIDDLED ARGB1555"));
  QCOMPARE(form.StatusPalette->text(), QStringLiteral("Palette file not found: %1: fallback palette")
                                           .arg(QDir(dir_.path()).filePath(QStringLiteral("clut.pvp"))));
}

void DesktopTest::UnsavedChangesAreNotDroppedWithoutAsking() {
  RecordingForm& form = *form_;
  const QString clut = Write(QStringLiteral("clut.pvr"), kClutTexture);
  const QString rect = Write(QStringLiteral("rect.pvr"), kRectTexture);
  // Without changes nothing is asked.
  form.answers.push_back(Choose(clut));
  form.Open1->trigger();
  QCOMPARE(form.ListBox1->item(0)->text(), QStringLiteral("clut"));
  QVERIFY(form.questions.isEmpty());

  enum class Way { Load, Drop, Recent, Quit, Close };
  for (const Way way : {Way::Load, Way::Drop, Way::Recent, Way::Quit, Way::Close}) {
    for (const bool discard : {false, true}) {
      const QString what = QStringLiteral("way %1, discard %2").arg(static_cast<int>(way)).arg(discard);
      store_->ClearChanges();
      form.OpenPath(clut);
      store_->MarkChanged();  // as a successful Import or Add leaves it
      form.questions.clear();
      form.requests.clear();
      form.questionAnswers = {discard};
      form.show();
      switch (way) {
        case Way::Load:
          form.answers = {Choose(rect)};
          form.Open1->trigger();
          QCOMPARE(form.requests.size(), size_t{discard ? 1u : 0u});
          break;
        case Way::Drop: {
          bool entered = false;
          SendDrop(form, {QUrl::fromLocalFile(rect)}, &entered);
          QCoreApplication::processEvents();
          break;
        }
        case Way::Recent:
          form.OpenPath(rect);
          break;
        case Way::Quit:
          form.Quit1->trigger();
          break;
        case Way::Close:
          form.close();
          break;
      }
      QVERIFY2(form.questions.size() == 1, qPrintable(what));
      QVERIFY2(form.questions[0].contains(QLatin1String("Discard")), qPrintable(what));
      if (way == Way::Quit || way == Way::Close) {
        QVERIFY2(form.isVisible() != discard, qPrintable(what));
      } else {
        const QString shown = discard ? QStringLiteral("rect") : QStringLiteral("clut");
        QVERIFY2(form.ListBox1->item(0)->text() == shown, qPrintable(what));
        // Loading starts afresh; refusing keeps the changes.
        QVERIFY2(store_->unsavedChanges == !discard, qPrintable(what));
      }
    }
  }
  QVERIFY(form.boxes.empty());
}

void DesktopTest::RecentFilesNewestFirstAndKeptAcrossRuns() {
  RecordingForm& form = *form_;
  QCOMPARE(RecentCaptions(form), (QStringList{QStringLiteral("No recent files [disabled]"),
                                              QStringLiteral("Clear recent files [disabled]")}));
  QStringList paths;
  for (int i = 0; i < 10; ++i) {
    paths.push_back(Write(QStringLiteral("t%1&.pvr").arg(i), kRectTexture));
    form.OpenPath(paths.back());
  }
  // A file that fails to load does not join; one loaded again moves to the front.
  form.OpenPath(Write(QStringLiteral("bad.pvm"), "58595A57 00000000"));
  QCOMPARE(form.BoxTexts(), QStringList{QStringLiteral("This file is not suported.")});
  form.OpenPath(paths[5]);
  const QStringList expected{paths[5], paths[9], paths[8], paths[7], paths[6], paths[4], paths[3], paths[2]};
  QCOMPARE(form.recentFiles.Paths(), expected);

  // Kept across runs: a new window over a new store lists the same files.
  QFile::remove(paths[9]);
  form_.reset();
  store_ = std::make_unique<ImageStore>();
  form_ = std::make_unique<RecordingForm>(*store_);
  QStringList captions = RecentCaptions(*form_);
  QCOMPARE(captions.size(), 9);
  QCOMPARE(captions[0], QStringLiteral("&1 ") + QString(paths[5]).replace(QLatin1Char('&'), QStringLiteral("&&")));
  QVERIFY(captions[1].endsWith(QLatin1String(" (not found) [disabled]")));
  QCOMPARE(captions[8], QStringLiteral("Clear recent files"));

  // Choosing one loads it; a file gone since the menu opened is said so and dropped from the list.
  QList<QAction*> items = form_->Recent1->actions();
  items[2]->trigger();
  QCOMPARE(form_->ListBox1->item(0)->text(), QStringLiteral("t8&"));
  QCOMPARE(form_->recentFiles.Paths().first(), paths[8]);
  QFile::remove(paths[7]);
  RecentCaptions(*form_);
  form_->OpenPath(paths[7]);
  QCOMPARE(form_->BoxTexts(), QStringList{QStringLiteral("File not found: ") + paths[7]});
  QVERIFY(!form_->recentFiles.Paths().contains(paths[7]));

  RecentCaptions(*form_);
  form_->Recent1->actions().last()->trigger();
  QVERIFY(form_->recentFiles.Paths().isEmpty());
}

void DesktopTest::StartOptions() {
  using quarrendel::ui::ParseStartOptions;
  const QString program = QStringLiteral("quarrendel");
  const auto parsed = ParseStartOptions({program, QStringLiteral("a.pvm"), QStringLiteral("--zoom"),
                                         QStringLiteral("fit"), QStringLiteral("--select"), QStringLiteral("2")});
  QVERIFY(parsed.has_value());
  QCOMPARE(parsed->file, QStringLiteral("a.pvm"));
  QCOMPARE(parsed->zoom, std::optional<int>(PictureArea::kFit));
  QCOMPARE(parsed->select, std::optional<int>(2));
  QCOMPARE(ParseStartOptions({program, QStringLiteral("--"), QStringLiteral("--odd.pvm")})->file,
           QStringLiteral("--odd.pvm"));
  for (const QStringList& bad : {QStringList{program, QStringLiteral("a.pvm"), QStringLiteral("b.pvm")},
                                 QStringList{program, QStringLiteral("--zoom"), QStringLiteral("3")},
                                 QStringList{program, QStringLiteral("--select"), QStringLiteral("x")},
                                 QStringList{program, QStringLiteral("--select")},
                                 QStringList{program, QStringLiteral("--colour"), QStringLiteral("red")}}) {
    QVERIFY2(!ParseStartOptions(bad).has_value(), qPrintable(bad.join(QLatin1Char(' '))));
  }

  // FILE loads as File > Load does and joins the recent files; --load leaves them alone.
  const QString rect = Write(QStringLiteral("start.pvr"), kRectTexture);
  quarrendel::ui::StartOptions options;
  options.load = rect;
  options.select = 0;
  options.zoom = 4;
  quarrendel::ui::ApplyStartOptions(*form_, *store_, options);
  QCOMPARE(form_->ListCount(), 1);
  QCOMPARE(form_->Image1->size(), QSize(8, 8));
  QCOMPARE(PixelAt(*form_, 4, 0), qRgb(0, 0, 255));
  QVERIFY(form_->recentFiles.Paths().isEmpty());
  // A name relative to the folder the program starts in is kept as an absolute one.
  options = {};
  options.file = QStringLiteral("start.pvr");
  const QString startFolder = QDir::currentPath();
  QDir::setCurrent(dir_.path());
  quarrendel::ui::ApplyStartOptions(*form_, *store_, options);
  QDir::setCurrent(startFolder);
  QCOMPARE(form_->recentFiles.Paths(), QStringList{rect});
  QVERIFY(form_->boxes.empty());
}

void DesktopTest::ASmallPictureAfterALargeOneShowsNothingOfIt() {
  // The view hands the large picture's memory back for the next selection to
  // decode into: the small one must show only its own texels, at 1x and 8x.
  RecordingForm& form = *form_;
  std::string large = "50565254 08020000 01090000 1000 1000";  // 16 x 16 RGB565 rectangle, all red
  for (int i = 0; i < 16 * 16; ++i) large += " 00F8";
  form.OpenPath(Write(QStringLiteral("large.pvr"), large.c_str()));
  form.ListSetSelectedIndex(0);
  form.ListBox1Click();
  QCOMPARE(form.Image1->size(), QSize(16, 16));
  QCOMPARE(PixelAt(form, 15, 15), qRgb(255, 0, 0));

  form.OpenPath(Write(QStringLiteral("rect.pvr"), kRectTexture));
  form.ListSetSelectedIndex(0);
  form.ListBox1Click();
  QCOMPARE(form.Image1->size(), QSize(2, 2));
  QCOMPARE(PixelAt(form, 0, 0), qRgb(255, 0, 0));
  QCOMPARE(PixelAt(form, 1, 0), qRgb(0, 0, 255));
  QCOMPARE(PixelAt(form, 0, 1), qRgb(0, 0, 0));
  QCOMPARE(PixelAt(form, 1, 1), qRgb(0, 0, 0));
  form.Zoom8x->trigger();
  QCOMPARE(form.Image1->size(), QSize(16, 16));
  QCOMPARE(PixelAt(form, 15, 7), qRgb(0, 0, 255));
  QCOMPARE(PixelAt(form, 15, 15), qRgb(0, 0, 0));
  QCOMPARE(store_->canvas(15, 15), 0u);
}

QTEST_MAIN(DesktopTest)
#include "desktop_test.moc"
