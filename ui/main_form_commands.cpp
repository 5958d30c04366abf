// The menu items and the list click as commands: each handler gathers nothing
// of its own and runs the command the CLI runs, through this window's front
// end.
#include <QAction>
#include <QFile>
#include <QFileInfo>

#include "archive/load_command.h"
#include "archive/save_command.h"
#include "imagefile/export.h"
#include "imagefile/import.h"
#include "imagefile/texture_pack.h"
#include "texture/image_selection.h"
#include "ui/main_form.h"

namespace quarrendel::ui {

void TForm1::Open1Click() {
  if (!MayDiscardChanges()) return;
  loadChoice_.reset();
  Outcome outcome{Status::Error, {}};
  RunCommand([&] { outcome = archive::LoadCommand(store_, *this); });
  if (loadChoice_ && outcome.Ok()) recentFiles.Add(QFileInfo(*loadChoice_).absoluteFilePath());
  loadChoice_.reset();
}

void TForm1::OpenPath(const QString& path) {
  if (!MayDiscardChanges()) return;
  // The load dialog offers only files that exist; a name from elsewhere may not.
  const QFileInfo file(path);
  if (!file.exists()) {
    ShowInformation(("File not found: " + path).toStdString());
    recentFiles.Remove(path);
    return;
  }
  const QString absolute = file.absoluteFilePath();
  Outcome outcome{Status::Error, {}};
  RunCommand([&] { outcome = archive::LoadFile(store_, *this, QFile::encodeName(absolute).toStdString()); });
  // A load that was refused or failed did not load the file.
  if (outcome.Ok()) recentFiles.Add(absolute);
}

void TForm1::ListBox1Click() {
  RunCommand([this] { texture::SelectListedImage(store_, *this); });
}

void TForm1::Save1Click() {
  RunCommand([this] { archive::SaveCommand(store_, *this); });
}

void TForm1::Export1Click() {
  RunCommand([this] { imagefile::Export1Click(store_, *this); });
}

void TForm1::Exportall1Click() {
  RunCommand([this] { imagefile::Exportall1Click(store_, *this); });
}

void TForm1::import1Click() {
  RunCommand([this] { imagefile::import1Click(store_, *this); });
}

void TForm1::Add1Click() {
  RunCommand([this] { imagefile::Add1Click(store_, *this); });
}

void TForm1::ExportPngPack1Click() {
  RunCommand([this] { imagefile::ExportAllAsPngPack(store_, *this); });
}

void TForm1::NewFromPngPack1Click() {
  // The new archive is loaded in place of the images shown.
  if (!MayDiscardChanges()) return;
  RunCommand([this] { imagefile::NewArchiveFromPngPack(store_, *this); });
}

}  // namespace quarrendel::ui
