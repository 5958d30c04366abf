// quarrendel: the window. The program itself takes no command line; the
// options below are a development aid for screenshots and quick checks:
//   quarrendel [--load FILE] [--select N] [--screenshot OUT.png]
// --screenshot grabs the window once it has been shown and then quits.
#include <QApplication>
#include <QFile>
#include <QPixmap>
#include <QStringList>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <optional>

#include "archive/load_command.h"
#include "core/image_store.h"
#include "ui/main_form.h"

namespace {

struct DevelopmentOptions {
  QString load;
  std::optional<int> select;
  QString screenshot;
};

std::optional<DevelopmentOptions> ParseDevelopmentOptions(const QStringList& arguments) {
  DevelopmentOptions options;
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& name = arguments[i];
    if (i + 1 >= arguments.size()) return std::nullopt;
    const QString value = arguments[++i];
    if (name == QLatin1String("--load")) {
      options.load = value;
    } else if (name == QLatin1String("--select")) {
      bool isNumber = false;
      options.select = value.toInt(&isNumber);
      if (!isNumber) return std::nullopt;
    } else if (name == QLatin1String("--screenshot")) {
      options.screenshot = value;
    } else {
      return std::nullopt;
    }
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const std::optional<DevelopmentOptions> options = ParseDevelopmentOptions(QApplication::arguments());
  if (!options) {
    std::fputs("usage: quarrendel [--load FILE] [--select N] [--screenshot OUT.png]\n"
               "(development aid; the window is used through its menus)\n",
               stderr);
    return 2;
  }

  // The store outlives the window, which only borrows it.
  auto store = std::make_unique<quarrendel::ImageStore>();
  quarrendel::ui::TForm1 form(*store);
  form.show();

  if (!options->load.isEmpty()) {
    const std::string path = QFile::encodeName(options->load).toStdString();
    form.RunCommand([&] { quarrendel::archive::LoadFile(*store, form, path); });
  }
  if (options->select) {
    form.ListSetSelectedIndex(*options->select);
    form.ListBox1Click();
  }
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
