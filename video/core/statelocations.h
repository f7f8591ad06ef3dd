#pragma once

#include "shared/statelocations.h"

#include <QString>
#include <QStringList>

namespace vidrune {

// Where `video` keeps what it writes. A copy whose folder we may write to (the build tree, a
// portable copy) is portable: it keeps progress.txt beside itself and the remembered output
// folder where it always has. An installed copy in a system folder keeps its settings under
// $XDG_CONFIG_HOME/vidrune/ and its progress files under $XDG_RUNTIME_DIR/vidrune/. Logs go
// under $XDG_STATE_HOME either way.
namespace StateLocations {

// The desktop entry that `cmake --install` puts in <prefix>/share/applications.
inline constexpr const char *DesktopId = "net.zelmora.Vidrune";

// True when the program keeps its files beside itself (batch::isPortable): its folder is
// writable and it is not installed (its desktop entry is not in <prefix>/share/applications).
inline bool IsPortable(const QString &appFolder)
{
    return batch::isPortable(appFolder, QLatin1String(DesktopId));
}

// Folder of this user's per-window files: $XDG_RUNTIME_DIR/vidrune when the runtime folder is
// set (absolute) and exists, otherwise $XDG_CACHE_HOME/vidrune. Not created here.
QString InstanceFolder();

// The file that remembers the output folder: <config>/zelmora-suite/video.conf for a portable
// copy (the place it has always had), <config>/vidrune/vidrune.conf otherwise.
QString SettingsFile(bool portable);

// The name the program goes by on the desktop: its application name (notifications, screen
// readers, the window class) and the name of its folders under the XDG base folders. The
// program's file keeps its name, video.
inline constexpr const char *DesktopName = "vidrune";

// Moves what earlier versions kept under the name "video" to the places of DesktopName, once:
// the logs ($XDG_STATE_HOME/video to $XDG_STATE_HOME/vidrune) when nothing is at the new place
// yet, and, for an installed copy (not `portable`), the remembered output folder from the
// portable copies' <config>/zelmora-suite/video.conf into <config>/vidrune/vidrune.conf when
// that does not exist (copied: a portable copy still reads the old file). What cannot be moved
// stays where it is. Returns the places it moved.
QStringList MigrateOldPlaces(bool portable);

// The remembered output folder: empty when none is kept or it no longer exists.
QString LoadOutputFolder(const QString &settingsFile);
void SaveOutputFolder(const QString &settingsFile, const QString &folder);

} // namespace StateLocations

} // namespace vidrune
