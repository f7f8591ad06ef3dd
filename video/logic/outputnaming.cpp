#include "logic/outputnaming.h"

#include "shared/outputnames.h"

namespace vidrune {

namespace OutputNaming {

QString BaseName(const QString &inputPath)
{
    const QString name = inputPath.mid(inputPath.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

QString Join(const QString &folder, const QString &base, const QString &ext, const QString &prefix)
{
    QString path = folder;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path + prefix + base + QLatin1Char('.') + ext;
}

QString BuildOutputPath(const QString &folder, const QString &inputPath, const QString &ext)
{
    return Join(folder, BaseName(inputPath), ext);
}

QString RenamedPath(const QString &folder, const QString &base, const QString &ext,
                    const std::function<bool(const QString &)> &exists)
{
    const QString first = Join(folder, base, ext, RenamePrefix);
    QString path = first;
    for (int n = 2; exists(path); ++n)
        path = batch::numberedPath(first, n);
    return path;
}

} // namespace OutputNaming

} // namespace vidrune
