// The menu items and the list click as commands: each handler gathers nothing
// of its own and runs the command the CLI runs, through this window's front
// end.
// The worker pool names a local "slots", which Qt defines as a keyword: before Qt.
#include "core/worker_pool.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>
#include <QItemSelectionModel>
#include <QListWidget>
#include <QStatusBar>
#include <algorithm>
#include <string>
#include <utility>


#include "archive/load_command.h"
#include "archive/save_command.h"
#include "imagefile/entry_properties.h"
#include "imagefile/export.h"
#include "imagefile/import.h"
#include "core/mapped_file.h"
#include "imagefile/texture_pack.h"
#include "texture/image_selection.h"
#include "ui/main_form.h"

namespace quarrendel::ui {

void TForm1::Open1Click() {
  if (!MayDiscardChanges()) return;
  loadChoice_.reset();
  Outcome outcome{Status::Error, {}};
  RunCommand([&] { RunLong([&](FrontEnd& frontEnd) { outcome = archive::LoadCommand(store_, frontEnd); }); });
  if (loadChoice_ && outcome.Ok()) recentFiles.Add(QFileInfo(*loadChoice_).absoluteFilePath());
  loadChoice_.reset();
}

void TForm1::OpenPath(const QString& path) {
  if (busy_ || !MayDiscardChanges()) return;
  // The load dialog offers only files that exist; a name from elsewhere may not.
  const QFileInfo file(path);
  if (!file.exists()) {
    ShowInformation(("File not found: " + path).toStdString());
    recentFiles.Remove(path);
    return;
  }
  const QString absolute = file.absoluteFilePath();
  Outcome outcome{Status::Error, {}};
  const std::string name = QFile::encodeName(absolute).toStdString();
  RunCommand([&] { RunLong([&](FrontEnd& frontEnd) { outcome = archive::LoadFile(store_, frontEnd, name); }); });
  // A load that was refused or failed did not load the file.
  if (outcome.Ok()) recentFiles.Add(absolute);
}

void TForm1::ListBox1Click() {
  if (busy_) return;
  RunCommand([this] { texture::SelectListedImage(store_, *this); });
}

namespace {

QString FromPath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

}  // namespace

void TForm1::PropertiesEdited() {
  if (busy_ || (!NameEdit1->isModified() && !IndexEdit1->isModified())) return;
  NameEdit1->setModified(false);
  IndexEdit1->setModified(false);
  const int32_t index = ListSelectedIndex();
  const std::string name = NameEdit1->text().toStdString();
  const std::string globalIndex = IndexEdit1->text().toStdString();
  Outcome outcome{Status::Error, {}};
  RunCommand([&] { outcome = imagefile::SetEntryProperties(store_, *this, index, name, globalIndex); });
  if (outcome.status == Status::Done && index < ListCount()) {
    ListBox1->item(index)->setText(NameEdit1->text());
    ListBox1->item(index)->setToolTip(NameEdit1->text());
    ScheduleThumbnailRefill();
  } else if (outcome.status != Status::Done) {
    // The panel shows the entry as it is.
    RunCommand([this] { texture::SelectListedImage(store_, *this); });
  }
}

QMimeData* TForm1::DragImages(const std::vector<int>& rows) {
  if (busy_ || rows.empty()) return nullptr;
  if (!dragFolder_ || !dragFolder_->isValid()) dragFolder_ = std::make_unique<QTemporaryDir>();
  if (!dragFolder_->isValid()) return nullptr;
  const int32_t listed = std::min(store_.imageCount, ListCount());
  // The names Export all gives them: NAME.png, no two alike.
  const std::vector<std::string> names = imagefile::ExportFileNames(
      std::span<const TImage_Entry>(store_.images.data(), static_cast<size_t>(std::max(0, listed))),
      imagefile::ExportKind::Png);
  QList<QUrl> urls;
  const std::string folder = QFile::encodeName(dragFolder_->path()).toStdString() + "/";
  RunCommand([&] {
    for (const int row : rows) {
      if (row < 0 || row >= listed) continue;
      const std::string written =
          imagefile::ExportImage(store_, row, folder + names[static_cast<size_t>(row)], imagefile::ExportKind::Png);
      urls.push_back(QUrl::fromLocalFile(FromPath(written)));
    }
  });
  if (urls.isEmpty()) return nullptr;
  auto* data = new QMimeData;
  data->setUrls(urls);
  return data;
}

void TForm1::ImportDropped(int row, const QString& path) {
  if (busy_ || row < 0 || row >= std::min(store_.imageCount, ListCount())) return;
  // The texture dropped on is selected and shown, then imported into as Image > Import does.
  ListBox1->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
  const std::string file = QFile::encodeName(path).toStdString();
  RunCommand([&] {
    const MappedFile bytes(file);
    imagefile::ImportFile(store_, *this, row, bytes.Bytes());
  });
  ScheduleThumbnailRefill();
}

void TForm1::Save1Click() {
  std::string saved;
  archive::SaveOptions options;
  options.savedPath = &saved;
  Outcome outcome{Status::Error, {}};
  RunCommand([&] { RunLong([&](FrontEnd& frontEnd) { outcome = archive::SaveCommand(store_, frontEnd, options); }); });
  if (outcome.status != Status::Done) return;
  // A rebuild writes over the package that was loaded.
  if (saved.empty()) saved = store_.loadedFileName;
  StatusBar1->showMessage(QStringLiteral("Saved ") + FromPath(saved));
}

void TForm1::Export1Click() {
  std::string written;
  Outcome outcome{Status::Error, {}};
  RunCommand([&] { outcome = imagefile::Export1Click(store_, *this, &written); });
  if (outcome.status == Status::Done && !written.empty()) {
    StatusBar1->showMessage(QStringLiteral("Exported ") + FromPath(written));
  }
}

void TForm1::Exportall1Click() {
  // A folder and the kind of file are chosen; the selection stays where it is.
  const int32_t count = std::min(store_.imageCount, ListCount());
  if (count <= 0) return;
  ExportToFolder(std::nullopt);
}

void TForm1::ExportSelected1Click() {
  std::vector<int32_t> rows;
  for (const QModelIndex& row : ListBox1->selectionModel()->selectedRows()) {
    if (row.row() < store_.imageCount) rows.push_back(row.row());
  }
  if (rows.empty()) {
    ShowMessage(imagefile::kSelectImageFirst);
    return;
  }
  std::sort(rows.begin(), rows.end());
  ExportToFolder(rows);
}

void TForm1::ExportToFolder(const std::optional<std::vector<int32_t>>& rows) {
  int32_t written = 0;
  QString folder;
  Outcome outcome{Status::Refused, {}};
  RunCommand([&] {
    SetDialogFileName(DialogId::SaveDialog2, store_.images[static_cast<size_t>(rows ? rows->front() : 0)].Name);
    const std::optional<FileChoice> choice = AskFile(DialogId::SaveDialog2, true, imagefile::kSaveDialog2Filter, true);
    const std::optional<imagefile::ExportKind> kind = choice ? imagefile::ExportKindOf(choice->filterIndex) : std::nullopt;
    if (!kind) return;
    // The answer names the folder; a name typed into it stands for its folder.
    const QFileInfo chosen(FromPath(choice->path));
    folder = chosen.isDir() ? chosen.absoluteFilePath() : chosen.absolutePath();
    const std::string target = QFile::encodeName(folder).toStdString() + "/";
    const bool keep = std::exchange(keepSelection_, true);
    try {
      RunLong([&](FrontEnd& frontEnd) {
        WorkerPool pool;
        outcome = rows ? imagefile::ExportImages(store_, frontEnd, target, *kind, pool, *rows, &written)
                       : imagefile::ExportAll(store_, frontEnd, target, *kind, pool, &written);
      });
    } catch (...) {
      keepSelection_ = keep;
      throw;
    }
    keepSelection_ = keep;
  });
  if ((outcome.status == Status::Done || outcome.status == Status::Error) && !folder.isEmpty() &&
      (written > 0 || outcome.status == Status::Done)) {
    StatusBar1->showMessage(QStringLiteral("%1 images written to %2").arg(written).arg(folder));
  }
}

void TForm1::import1Click() {
  RunCommand([this] { imagefile::import1Click(store_, *this); });
  // The texture's data may have changed under its tile.
  ScheduleThumbnailRefill();
}

void TForm1::Add1Click() {
  RunCommand([this] { imagefile::Add1Click(store_, *this); });
}

void TForm1::ExportPngPack1Click() {
  RunCommand([this] { RunLong([this](FrontEnd& frontEnd) { imagefile::ExportAllAsPngPack(store_, frontEnd); }); });
}

void TForm1::NewFromPngPack1Click() {
  // The new archive is loaded in place of the images shown.
  if (!MayDiscardChanges()) return;
  const std::string before = store_.loadedFileName;
  bool made = false;
  RunCommand([&] { RunLong([&](FrontEnd& frontEnd) { made = imagefile::NewArchiveFromPngPack(store_, frontEnd); }); });
  // The archive was saved and loaded: it is a file that loaded.
  if (made && store_.loadedFileName != before && store_.loadedContainer != LoadedContainer::None) {
    recentFiles.Add(QFileInfo(FromPath(store_.loadedFileName)).absoluteFilePath());
  }
}

void TForm1::UpdateFromPngPack1Click() {
  // The edited pictures replace the loaded images as Import would; Save or Rebuild writes them.
  RunCommand([this] { imagefile::UpdateFromPngPack(store_, *this); });
}

}  // namespace quarrendel::ui
