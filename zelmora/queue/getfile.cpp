#include "queue/getfile.h"

namespace zm {

QString GetFileName(const QString &path)
{
    if (path.isEmpty())
        return QString();
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? path : path.mid(slash + 1);
}

QString GetBaseName(const QString &path)
{
    const QString name = GetFileName(path);
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

} // namespace zm
