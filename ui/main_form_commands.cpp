// The menu items and the list click as commands: each handler gathers nothing
// of its own and runs the command the CLI runs, through this window's front
// end. The commands that are not written yet say so instead of pretending.
#include <QAction>

#include "archive/load_command.h"
#include "archive/save_command.h"
#include "texture/image_selection.h"
#include "ui/main_form.h"

namespace quarrendel::ui {

void TForm1::Open1Click() {
  RunCommand([this] { archive::LoadCommand(store_, *this); });
}

void TForm1::ListBox1Click() {
  RunCommand([this] { texture::SelectListedImage(store_, *this); });
}

void TForm1::Save1Click() {
  RunCommand([this] { archive::SaveCommand(store_, *this); });
}

void TForm1::Export1Click() { NotAvailableYet(Export1); }

void TForm1::Exportall1Click() { NotAvailableYet(Exportall1); }

void TForm1::import1Click() { NotAvailableYet(import1); }

void TForm1::Add1Click() { NotAvailableYet(Add1); }

}  // namespace quarrendel::ui
