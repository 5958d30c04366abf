#include "ui/start_options.h"

#include <QFile>

#include "archive/load_command.h"
#include "ui/main_form.h"
#include "ui/picture_view.h"
#include "ui/thumbnail_view.h"

namespace quarrendel::ui {

std::optional<StartOptions> ParseStartOptions(const QStringList& arguments) {
  StartOptions options;
  bool optionsEnded = false;
  bool fileGiven = false;
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (optionsEnded || !argument.startsWith(QLatin1String("--"))) {
      if (fileGiven) return std::nullopt;  // one file at a time
      options.file = argument;
      fileGiven = true;
      continue;
    }
    if (argument == QLatin1String("--")) {
      optionsEnded = true;
      continue;
    }
    if (i + 1 >= arguments.size()) return std::nullopt;
    const QString value = arguments[++i];
    bool isNumber = false;
    if (argument == QLatin1String("--load")) {
      options.load = value;
    } else if (argument == QLatin1String("--select")) {
      options.select = value.toInt(&isNumber);
      if (!isNumber) return std::nullopt;
    } else if (argument == QLatin1String("--zoom")) {
      const int factor = value.toInt(&isNumber);
      if (value == QLatin1String("fit")) {
        options.zoom = PictureArea::kFit;
      } else if (isNumber && (factor == 1 || factor == 2 || factor == 4 || factor == 8)) {
        options.zoom = factor;
      } else {
        return std::nullopt;
      }
    } else if (argument == QLatin1String("--thumbnails")) {
      const int side = value.toInt(&isNumber);
      if (!isNumber || (side != ThumbnailView::kSmall && side != ThumbnailView::kLarge)) return std::nullopt;
      options.thumbnails = side;
    } else if (argument == QLatin1String("--screenshot")) {
      options.screenshot = value;
    } else {
      return std::nullopt;
    }
  }
  return options;
}

void ApplyStartOptions(TForm1& form, ImageStore& store, const StartOptions& options) {
  if (!options.file.isEmpty()) form.OpenPath(options.file);
  if (!options.load.isEmpty()) {
    const std::string path = QFile::encodeName(options.load).toStdString();
    form.RunCommand([&] { archive::LoadFile(store, form, path); });
  }
  if (options.zoom) form.ScrollBox1->SetZoom(*options.zoom);
  if (options.thumbnails) {
    form.ThumbnailView1->SetTileSide(*options.thumbnails);
    (*options.thumbnails == ThumbnailView::kLarge ? form.LargeThumbnails1 : form.SmallThumbnails1)->setChecked(true);
    form.Thumbnails1->setChecked(true);
  }
  if (options.select) {
    form.ListSetSelectedIndex(*options.select);
    form.ListBox1Click();
  }
}

}  // namespace quarrendel::ui
