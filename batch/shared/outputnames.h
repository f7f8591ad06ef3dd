#pragma once

#include <QHash>
#include <QString>

#include <functional>

namespace batch {

// "folder/base.ext" -> "folder/base (n).ext" (n >= 2); the number goes before the file name's
// last dot, or at its end when it has none. Dots in folder names do not count.
QString numberedPath(const QString &path, int n);

// The output names one batch has given out, so that a later file never replaces what an
// earlier file of the same batch wrote. A file's name is taken when its conversion starts, in
// queue order: the wanted name, or the first of "name (2).ext", "name (3).ext", ... that no
// earlier file holds. Names from earlier runs are not looked at here.
class OutputNames final
{
public:
    // The name for a file wanting `wanted`, now held by it. `alsoAvoid` names paths that are
    // not free either (the file's own input, for one).
    QString take(const QString &wanted, const std::function<bool(const QString &)> &alsoAvoid = {});
    // Holds a name as it is (one chosen elsewhere).
    void hold(const QString &path);
    // Gives a name back (its conversion was stopped), so a later file may have it.
    void release(const QString &path);
    // Gives a name back only when no name was taken after it: a failed file's name is free
    // again for the files still to be named, but never changes a name already given, so names
    // do not depend on which of several running files ends first. True when released.
    bool releaseIfLast(const QString &path);
    void clear();
    bool isTaken(const QString &path) const;

private:
    QHash<QString, quint64> m_taken; // clean absolute paths, with the order they were taken in
    quint64 m_count = 0;
};

} // namespace batch
