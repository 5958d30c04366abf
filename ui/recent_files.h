// The files loaded last, newest first, at most eight, kept between runs in
// the program's settings file (QSettings, INI format, user scope:
// ~/.config/Quarrendel/quarrendel.ini on Linux).
#pragma once

#include <QString>
#include <QStringList>

namespace quarrendel::ui {

class RecentFiles {
 public:
  static constexpr int kMaximum = 8;

  QStringList Paths() const;
  // Puts `path` first, dropping an earlier mention and the oldest beyond eight.
  void Add(const QString& path);
  void Remove(const QString& path);
  void Clear();

 private:
  void Store(const QStringList& paths);
};

}  // namespace quarrendel::ui
