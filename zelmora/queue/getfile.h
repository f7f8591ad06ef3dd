#pragma once
#include <QString>

namespace zm {

// The part of a path after its last "/" (the whole path when it has none).
QString GetFileName(const QString &path);
// GetFileName up to, not including, its first "." (dots in folder names do not count).
QString GetBaseName(const QString &path);

} // namespace zm
