#pragma once
#include <QSet>
#include <QString>

namespace zm {

// The output names one batch has given out. A file's name is taken when its conversion starts:
// the wanted name, or the first of "name (2).ext", "name (3).ext", ... that no earlier file of
// the batch holds. Names from earlier runs are not looked at (the converter replaces them, as
// -y says).
class OutputNames final
{
public:
    // The name for a file wanting `wanted`, now held by it.
    QString take(const QString &wanted);
    // Gives a name back (its conversion failed or was stopped), so a later file may have it.
    void release(const QString &path);
    void clear() { m_taken.clear(); }
    bool isTaken(const QString &path) const;

private:
    QSet<QString> m_taken; // clean absolute paths
};

} // namespace zm
