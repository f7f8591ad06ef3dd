#pragma once

#include <QString>

namespace batch {

// Where a program of the suite keeps what it writes: the XDG base folders, and whether a copy
// is portable (keeps its files beside itself) or installed (keeps them per user). What each
// program keeps where is its own; the rules for finding the folders are the same for all.

// True when `folder` exists and this process may create files in it.
bool isWritableFolder(const QString &folder);

// True when the program in `appDir` (<prefix>/lib/zelmora-suite/<program>) is an installed copy:
// its desktop entry, `desktopId`.desktop, lies in <prefix>/share/applications.
bool isInstalledCopy(const QString &appDir, const QString &desktopId);

// True when the program keeps its files beside itself: its folder is writable and it is not an
// installed copy (which stays per user even where it could write, as for the superuser or in a
// prefix below the home folder).
bool isPortable(const QString &appDir, const QString &desktopId);

// The XDG base folders: the variable when it holds an absolute path (cleaned), otherwise the
// default below the home folder (~/.config, ~/.cache, ~/.local/state). A relative value is
// ignored, as the XDG rules say.
QString configHome();
QString cacheHome();
QString stateHome();

// Folder of this user's per-window files of the program called `name`: $XDG_RUNTIME_DIR/<name>
// when the runtime folder is set (absolute) and exists, otherwise <cache home>/<name>. Not
// created here.
QString instanceFolder(const QString &name);

// Makes the folder of `filePath` when it is missing; the folders made are the user's alone.
// True when the folder exists afterwards.
bool makeFolderFor(const QString &filePath);

} // namespace batch
