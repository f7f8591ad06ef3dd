#include "engine/outputnames.h"

#include "engine/commandline.h"

#include <QDir>

namespace zm {

bool OutputNames::isTaken(const QString &path) const
{
    return m_taken.contains(QDir::cleanPath(path));
}

QString OutputNames::take(const QString &wanted)
{
    QString name = wanted;
    for (int n = 2; isTaken(name); ++n)
        name = numberedPath(wanted, n);
    m_taken.insert(QDir::cleanPath(name));
    return name;
}

void OutputNames::release(const QString &path)
{
    m_taken.remove(QDir::cleanPath(path));
}

} // namespace zm
