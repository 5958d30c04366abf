#include "ui/recent_files.h"

#include <QSettings>

namespace quarrendel::ui {

namespace {

const QString kKey = QStringLiteral("recentFiles");

QSettings Settings() {
  return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Quarrendel"),
                   QStringLiteral("quarrendel"));
}

}  // namespace

QStringList RecentFiles::Paths() const {
  QStringList paths = Settings().value(kKey).toStringList();
  // A hand-edited file may hold more, or empty lines.
  paths.removeAll(QString());
  paths.removeDuplicates();
  if (paths.size() > kMaximum) paths.resize(kMaximum);
  return paths;
}

void RecentFiles::Add(const QString& path) {
  QStringList paths = Paths();
  paths.removeAll(path);
  paths.prepend(path);
  Store(paths);
}

void RecentFiles::Remove(const QString& path) {
  QStringList paths = Paths();
  paths.removeAll(path);
  Store(paths);
}

void RecentFiles::Clear() { Store({}); }

void RecentFiles::Store(const QStringList& paths) {
  QSettings settings = Settings();
  settings.setValue(kKey, paths.mid(0, kMaximum));
}

}  // namespace quarrendel::ui
