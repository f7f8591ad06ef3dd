#include "queue/filesearch.h"

#include "queue/naturalorder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>

namespace zm {

std::optional<std::vector<FolderEntry>> listFolder(const QString &folder)
{
    const QByteArray path = QFile::encodeName(folder);
    DIR *dir = ::opendir(path.constData());
    if (!dir)
        return std::nullopt;
    std::vector<FolderEntry> entries;
    while (const dirent *e = ::readdir(dir)) {
        const char *n = e->d_name;
        if ((n[0] == '.' && n[1] == 0) || (n[0] == '.' && n[1] == '.' && n[2] == 0))
            continue;
        bool isDir = e->d_type == DT_DIR;
        bool regular = e->d_type == DT_REG;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            struct stat st;
            const QByteArray full = path + '/' + n;
            if (::lstat(full.constData(), &st) != 0)
                continue;
            regular = S_ISREG(st.st_mode);
            if (S_ISLNK(st.st_mode)) {
                // A link to a folder is not followed (no cycles, no second visit); a link to
                // a file is a file.
                struct stat target;
                if (::stat(full.constData(), &target) == 0 && S_ISDIR(target.st_mode))
                    continue;
                regular = ::stat(full.constData(), &target) == 0 && S_ISREG(target.st_mode);
            }
            isDir = S_ISDIR(st.st_mode);
        }
        entries.push_back({QFile::decodeName(n), isDir, regular});
    }
    ::closedir(dir);
    return entries;
}

void SearchFolder(const QString &folder, QStringList &found, const FolderLister &lister,
                  const std::function<bool()> &keepGoing, int yieldMs)
{
    QElapsedTimer sinceYield;
    sinceYield.start();
    // Folders still to search, the next one on top.
    std::vector<QString> pending{folder};
    while (!pending.empty()) {
        const QString current = pending.back();
        pending.pop_back();
        auto entries = lister(current);
        if (!entries)
            continue; // unreadable: contributes nothing, the siblings are still searched
        std::stable_sort(entries->begin(), entries->end(),
                         [](const FolderEntry &a, const FolderEntry &b) { return naturalLess(a.name, b.name); });
        const QString prefix = current.endsWith(QLatin1Char('/')) ? current : current + QLatin1Char('/');
        std::vector<QString> subfolders;
        for (const FolderEntry &e : *entries) {
            if (e.isFolder)
                subfolders.push_back(prefix + e.name);
            else if (e.regularFile)
                found.append(prefix + e.name);
        }
        for (auto it = subfolders.rbegin(); it != subfolders.rend(); ++it)
            pending.push_back(*it);
        if (keepGoing && sinceYield.elapsed() >= yieldMs) {
            if (!keepGoing())
                return;
            sinceYield.restart();
        }
    }
}

QStringList queueableDroppedPaths(const QStringList &dropped, const FolderLister &lister,
                                  const std::function<bool()> &keepGoing)
{
    QStringList roots;
    return queueableDroppedPaths(dropped, roots, lister, keepGoing);
}

QStringList queueableDroppedPaths(const QStringList &dropped, QStringList &roots, const FolderLister &lister,
                                  const std::function<bool()> &keepGoing)
{
    QStringList out;
    roots.clear();
    for (const QString &path : dropped) {
        const QFileInfo info(path);
        if (info.isDir()) {
            bool stopped = false;
            SearchFolder(path, out, lister,
                         keepGoing ? std::function<bool()>([&] { return keepGoing() || (stopped = true, false); })
                                   : std::function<bool()>());
            while (roots.size() < out.size())
                roots << path;
            if (stopped)
                break;
        } else if (isRegularFile(path)) {
            out << path;
            roots << QString();
        }
    }
    return out;
}

} // namespace zm
