#include "ui/file_filter.h"

namespace quarrendel::ui {

QStringList QtNameFilters(std::string_view filter) {
  const QStringList parts =
      QString::fromUtf8(filter.data(), static_cast<qsizetype>(filter.size())).split(QLatin1Char('|'));
  QStringList result;
  for (qsizetype i = 0; i < parts.size(); i += 2) {
    if (i == parts.size() - 1 && parts[i].isEmpty()) break;  // a filter ending in "|"
    const QString patterns = i + 1 < parts.size() ? parts[i + 1] : QString();
    QStringList globs = patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& glob : globs) glob = glob.trimmed();
    result.push_back(parts[i] + QStringLiteral(" (") + globs.join(QLatin1Char(' ')) + QLatin1Char(')'));
  }
  return result;
}

std::optional<int> FilterIndexOf(const QStringList& filters, const QString& chosen) {
  const qsizetype at = filters.indexOf(chosen);
  if (at < 0) return std::nullopt;
  return static_cast<int>(at) + 1;
}

}  // namespace quarrendel::ui
