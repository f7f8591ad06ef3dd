// The application icons for the desktop's icon theme: the same pictures as the window icons,
// drawn afresh at each size of the hicolor theme rather than scaled from a bitmap.
#pragma once

#include <QString>
#include <QStringList>

namespace skin {

// Icon theme names of the two programs (the names of their desktop entries).
inline constexpr const char *kZelmoraIconName = "net.zelmora.Zelmora";
inline constexpr const char *kVidruneIconName = "net.zelmora.Vidrune";
inline constexpr int kAppIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

// Writes <dir>/hicolor/<n>x<n>/apps/<name>.png for both programs and every size, and the same
// drawing as <dir>/hicolor/scalable/apps/<name>.svg. Returns the paths written, relative to
// `dir`, or an empty list when a file could not be written.
QStringList writeAppIcons(const QString &dir);

} // namespace skin
