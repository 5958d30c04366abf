// The window's command line:
//   quarrendel [FILE] [--load FILE] [--select N] [--zoom 1|2|4|8|fit] [--thumbnails 64|128]
//              [--screenshot OUT.png]
// FILE (what a file manager's "Open with" passes) loads at start as File >
// Load does with that file chosen, and joins the recent files. The options are
// a development aid for screenshots and quick checks: --load loads without
// touching the recent files, --select shows image N, --zoom sets the zoom,
// --thumbnails shows the Thumbnails view with tiles of that size (the size
// kept in the settings stays as it is), --screenshot grabs the window once it has been shown and then quits.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "core/image_store.h"

namespace quarrendel::ui {

class TForm1;

struct StartOptions {
  QString file;
  QString load;
  std::optional<int> select;
  std::optional<int> zoom;  // a factor, or PictureArea::kFit
  std::optional<int> thumbnails;  // the tile side
  QString screenshot;
};

inline constexpr const char* kStartUsage =
    "usage: quarrendel [FILE] [--load FILE] [--select N] [--zoom 1|2|4|8|fit] [--thumbnails 64|128]\n"
    "                  [--screenshot OUT.png]\n";

// `arguments` as QCoreApplication::arguments() gives them, the program first;
// nullopt for a command line that does not fit the usage. "--" ends the options.
std::optional<StartOptions> ParseStartOptions(const QStringList& arguments);

// Loads, selects and zooms as the options say, on a window already shown
// over `store`.
void ApplyStartOptions(TForm1& form, ImageStore& store, const StartOptions& options);

}  // namespace quarrendel::ui
