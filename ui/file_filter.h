// File dialog filter lists. The commands describe a dialog's entries as
// "Description|*.a;*.b|Description|*.c" pairs; Qt's dialogs take
// "Description (*.a *.b)" entries and report the chosen one by its text.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <string_view>

namespace quarrendel::ui {

// "PC|*.pvm;*.prs|GC|*.gvm" -> {"PC (*.pvm *.prs)", "GC (*.gvm)"}. A trailing
// description without patterns becomes an entry with an empty pattern list.
QStringList QtNameFilters(std::string_view filter);

// 1-based position of `chosen` among `filters`; nullopt when it is not among
// them (a platform dialog reporting an entry in its own words), so the caller
// treats the answer as no choice instead of guessing an output kind.
std::optional<int> FilterIndexOf(const QStringList& filters, const QString& chosen);

}  // namespace quarrendel::ui
