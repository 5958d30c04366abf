// quarrendel: the window. `quarrendel FILE` opens FILE at start; the
// development options are described in ui/start_options.h.
#include <QApplication>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "core/image_store.h"
#include "ui/main_form.h"
#include "ui/start_options.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Quarrendel"));
  QApplication::setApplicationName(QStringLiteral("quarrendel"));
  // Lets the desktop match the window with its installed entry and icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("quarrendel"));
  const auto options = quarrendel::ui::ParseStartOptions(QApplication::arguments());
  if (!options) {
    std::fputs(quarrendel::ui::kStartUsage, stderr);
    return 2;
  }

  // The store outlives the window, which only borrows it.
  auto store = std::make_unique<quarrendel::ImageStore>();
  quarrendel::ui::TForm1 form(*store);
  form.show();
  quarrendel::ui::ApplyStartOptions(form, *store, *options);

  bool shotSaved = true;
  if (!options->screenshot.isEmpty()) {
    QTimer::singleShot(800, &form, [&] {
      shotSaved = form.grab().save(options->screenshot, "PNG");
      if (!shotSaved) std::fprintf(stderr, "quarrendel: cannot write %s\n", qPrintable(options->screenshot));
      QApplication::quit();
    });
  }
  const int status = QApplication::exec();
  return shotSaved ? status : 1;
}
