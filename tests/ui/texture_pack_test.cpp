// File > "Export all as PNG pack..." and "New archive from PNG pack...": the
// window runs the texture pack commands with the file choices answered here.
// Before Qt's headers, whose `slots` macro would rewrite the worker pool's code.
#include "archive/archive_writer.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QTemporaryDir>
#include <QtTest>

#include "imagefile/png_file.h"
#include <memory>

#include "core/image_store.h"
#include "imagefile/png_file.h"
#include "ui/main_form.h"

#include "tests/ui/recording_form.h"

using quarrendel::DialogId;
using quarrendel::ImageStore;

namespace {

// A PVM of two 2 x 2 RGB565 rectangles (format 0x0901): "first" (global
// index 1) all red, "second" (2) all blue.
std::vector<uint8_t> TwoTexturePvm() {
  static const std::vector<uint8_t> red{0x00, 0xF8, 0x00, 0xF8, 0x00, 0xF8, 0x00, 0xF8};
  static const std::vector<uint8_t> blue{0x1F, 0x00, 0x1F, 0x00, 0x1F, 0x00, 0x1F, 0x00};
  std::vector<quarrendel::TImage_Entry> images(2);
  for (size_t i = 0; i < 2; ++i) {
    quarrendel::TImage_Entry& e = images[i];
    e.Name = i == 0 ? "first" : "second";
    e.Width = e.Height = 2;
    e.Format = 0x0901;
    e.GlobalIndex = static_cast<uint32_t>(i + 1);
    e.DataLength = 8;
    e.Data = const_cast<uint8_t*>((i == 0 ? red : blue).data());
  }
  return quarrendel::archive::BuildArchiveFile(quarrendel::PackageArchiveKind::Pvm, images);
}

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class TexturePackTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void ExportAPackThenBuildAnArchiveFromIt();

 private:
  QTemporaryDir dir_;
};

// Export all as PNG pack writes the pack beside the chosen index.txt; New
// archive from PNG pack builds the chosen kind from it and loads it.
void TexturePackTest::ExportAPackThenBuildAnArchiveFromIt() {
  const auto owned = std::make_unique<ImageStore>();
  ImageStore& store = *owned;
  RecordingForm form(store);
  const QDir folder(dir_.path());
  // Nothing loaded: the item is disabled when the menu opens, and does nothing.
  OpenMenu(form.File1);
  QVERIFY(!form.ExportPngPack1->isEnabled());
  form.ExportPngPack1Click();
  QVERIFY(form.requests.empty());

  form.answers.push_back(Choose(WriteFile(dir_, QStringLiteral("two.pvm"), TwoTexturePvm())));
  form.Open1->trigger();
  form.ListSetSelectedIndex(0);
  form.ListBox1Click();
  OpenMenu(form.File1);
  QVERIFY(form.ExportPngPack1->isEnabled());

  const QString index = folder.filePath(QStringLiteral("pack/index.txt"));
  form.answers.push_back(Choose(index));
  form.ExportPngPack1->trigger();
  QCOMPARE(form.requests.back().dialog, DialogId::PackDialog);
  QCOMPARE(form.BoxTexts(), QStringList{QStringLiteral("2 PNG files and index.txt written in ") +
                                   folder.filePath(QStringLiteral("pack"))});
  QCOMPARE(ReadAll(index), QByteArray("1,first.png,2x2,00000901\n2,second.png,2x2,00000901\n"));
  // The selected image is shown again: the canvas holds its red, not the last image unpacked.
  QCOMPARE(store.currentImage, 0);
  QCOMPARE(store.canvas(0, 0), 0xFF0000F8u);

  // Update from PNG pack: the unedited pack changes nothing; an edited picture
  // replaces its image in the image's own format, shown at once, not yet saved.
  form.boxes.clear();
  form.answers.push_back(Choose(index));
  form.UpdateFromPngPack1->trigger();
  QCOMPARE(form.BoxTexts(), QStringList{QStringLiteral("0 images were updated from index.txt")});
  QVERIFY(!store.unsavedChanges);
  quarrendel::imagefile::RgbaImage blue{2, 2, {}};
  for (int i = 0; i < 4; ++i) blue.pixels.insert(blue.pixels.end(), {0, 0, 255, 255});
  const std::vector<uint8_t> png = quarrendel::imagefile::WritePng(blue);
  QFile first(folder.filePath(QStringLiteral("pack/first.png")));
  QVERIFY(first.open(QIODevice::WriteOnly));
  first.write(reinterpret_cast<const char*>(png.data()), static_cast<qint64>(png.size()));
  first.close();
  form.boxes.clear();
  form.answers.push_back(Choose(index));
  form.UpdateFromPngPack1->trigger();
  QCOMPARE(form.BoxTexts(), QStringList{QStringLiteral("1 images were updated from index.txt")});
  QVERIFY(store.unsavedChanges);
  QCOMPARE(store.images[0].Format, 0x0901u);
  QCOMPARE(store.canvas(0, 0), 0xFFF80000u);
  store.ClearChanges();

  // Index, then the archive's name and kind (1: PVM, its extension forced).
  form.boxes.clear();
  form.requests.clear();
  form.answers.push_back(Choose(index));
  form.answers.push_back(Choose(folder.filePath(QStringLiteral("rebuilt.bin")), 1));
  form.NewFromPngPack1->trigger();
  QCOMPARE(form.DialogsAsked(), (std::vector<DialogId>{DialogId::PackDialog, DialogId::SaveDialog1}));
  QVERIFY2(form.boxes.empty(), qPrintable(form.BoxTexts().join(QLatin1Char('\n'))));
  QCOMPARE(QString::fromStdString(store.loadedFileName), folder.filePath(QStringLiteral("rebuilt.pvm")));
  QCOMPARE(form.ListBox1->item(1)->text(), QStringLiteral("second"));
  QCOMPARE(store.images[1].GlobalIndex, 2u);

  // A line naming a missing picture: the error names it, nothing is written or loaded.
  QFile list(index);
  QVERIFY(list.open(QIODevice::WriteOnly));
  list.write("1,first.png,2x2\n3,gone.png,2x2\n");
  list.close();
  form.answers.push_back(Choose(index));
  form.answers.push_back(Choose(folder.filePath(QStringLiteral("broken")), 1));
  form.NewFromPngPack1->trigger();
  QCOMPARE(form.boxes.size(), size_t{1});
  QVERIFY2(form.boxes[0].text.startsWith(QStringLiteral("index.txt line 2 (gone.png): cannot read ")),
           qPrintable(form.boxes[0].text));
  QVERIFY(!folder.exists(QStringLiteral("broken.pvm")));
  QCOMPARE(QString::fromStdString(store.loadedFileName), folder.filePath(QStringLiteral("rebuilt.pvm")));
}

QTEST_MAIN(TexturePackTest)
#include "texture_pack_test.moc"
