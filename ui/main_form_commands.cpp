// The menu items and the list click as commands: each handler gathers nothing
// of its own and runs the command the CLI runs, through this window's front
// end. The commands that are not written yet say so instead of pretending.
#include <QAction>

#include "archive/load_command.h"
#include "imagefile/export.h"
#include "imagefile/import.h"
#include "texture/image_selection.h"
#include "ui/main_form.h"

namespace quarrendel::ui {

void TForm1::Open1Click() {
  RunCommand([this] { archive::LoadCommand(store_, *this); });
}

void TForm1::ListBox1Click() {
  RunCommand([this] { texture::SelectListedImage(store_, *this); });
}

void TForm1::Save1Click() { NotAvailableYet(Save1); }

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

}  // namespace quarrendel::ui
