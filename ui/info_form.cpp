#include "ui/info_form.h"

#include <QPlainTextEdit>
#include <QPushButton>

namespace quarrendel::ui {

TForm4::TForm4(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint) {
  setObjectName(QStringLiteral("Form4"));
  setWindowTitle(QStringLiteral("Info"));
  setModal(true);
  setFixedSize(300, 123);
  move(296, 219);

  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setGeometry(14, 18, 275, 55);
  Memo1->setFrameShape(QFrame::NoFrame);
  Memo1->setReadOnly(true);
  QPalette face = Memo1->palette();
  face.setColor(QPalette::Base, face.color(QPalette::Window));
  Memo1->setPalette(face);
  Memo1->setPlainText(QStringLiteral("Quarrendel by the Quarrendel team\n\nThanks to our testers"));

  Button1 = new QPushButton(QStringLiteral("Close"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(114, 82, 75, 25);
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, &TForm4::Button1Click);
}

void TForm4::Button1Click() { accept(); }

}  // namespace quarrendel::ui
