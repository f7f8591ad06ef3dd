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
    bool isFolder = false;   // a real folder (not a link to one)
    bool regularFile = true; // for the rest: false for FIFOs, sockets, devices, broken links
};

// Lists one folder; nothing when it cannot be read. Tests replace it to reach unreadable
// folders even when they run with every permission.
using FolderLister = std::function<std::optional<std::vector<FolderEntry>>(const QString &folder)>;

// The system's listing: readdir order, "." and ".." left out, links to folders left out
// (never followed), links to files kept as files, anything else marked as no regular file.
std::optional<std::vector<FolderEntry>> listFolder(const QString &folder);

// Appends to `found` the full path of every regular file below `folder`: the files of a folder
// first, in natural name order, then each of its subfolders completely, depth first, in natural
// name order.
// Every subfolder is searched; the walk keeps its own stack, so depth costs no call stack.
// `keepGoing` is called at most every `yieldMs` milliseconds (and at the end of each folder
// listing when that time has passed); it lets the window process events and returns false to
// stop the search.
void SearchFolder(const QString &folder, QStringList &found, const FolderLister &lister = listFolder,
                  const std::function<bool()> &keepGoing = {}, int yieldMs = 10);

// What dropped paths add to the queue, in the order they were dropped: a regular file itself, a
// folder (or a link to one) all the regular files below it as the folder search finds them,
// anything else nothing. `keepGoing` as for SearchFolder; false stops at once.
QStringList queueableDroppedPaths(const QStringList &dropped, const FolderLister &lister = listFolder,
                                  const std::function<bool()> &keepGoing = {});
// The same, and in `roots` (one per path found) the dropped folder each file was found in, or
// an empty root for a file dropped by itself.
QStringList queueableDroppedPaths(const QStringList &dropped, QStringList &roots, const FolderLister &lister,
                                  const std::function<bool()> &keepGoing);

} // namespace zm
