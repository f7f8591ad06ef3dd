#pragma once

#include <QStringList>

namespace vidrune {

// The filter of the open-file dialog, as (label, ';'-separated patterns) pairs in order, and
// the same list in Qt's "label (pattern pattern ...)" form, the first entry preselected.
namespace FileFilters {
struct Entry {
    QString label;
    QString patterns;
};
const QList<Entry> &VideoEntries();
QStringList ToQtFilters(const QList<Entry> &entries);
} // namespace FileFilters

} // namespace vidrune
