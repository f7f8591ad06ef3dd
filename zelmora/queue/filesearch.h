#pragma once
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

namespace zm {

// One entry of a folder listing, in the order the file system gives it.
struct FolderEntry {
    QString name;
    bool isFolder = false;      // a real folder (not a link to one)
};

// Lists one folder; nothing when it cannot be read. Tests replace it to reach unreadable
// folders even when they run with every permission.
using FolderLister = std::function<std::optional<std::vector<FolderEntry>>(const QString &folder)>;

// The system's listing: readdir order, "." and ".." left out, links to folders left out
// (never followed), links to files kept as files.
std::optional<std::vector<FolderEntry>> listFolder(const QString &folder);

// Appends to `found` the full path of every file below `folder`: the files of a folder first,
// in listing order, then each of its subfolders completely, depth first, in listing order.
// Every subfolder is searched; the walk keeps its own stack, so depth costs no call stack.
// `keepGoing` is called at most every `yieldMs` milliseconds (and at the end of each folder
// listing when that time has passed); it lets the window process events and returns false to
// stop the search.
void SearchFolder(const QString &folder, QStringList &found, const FolderLister &lister = listFolder,
                  const std::function<bool()> &keepGoing = {}, int yieldMs = 10);

} // namespace zm
