#include "shared/statelocations.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace batch {

namespace {

QString xdgFolder(const char *variable, const QString &fallbackBelowHome)
{
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::homePath() + QLatin1Char('/') + fallbackBelowHome;
}

} // namespace

bool isWritableFolder(const QString &folder)
{
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return false;
    return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

bool isInstalledCopy(const QString &appDir, const QString &desktopId)
{
    if (appDir.isEmpty() || desktopId.isEmpty())
        return false;
    const QString entry = QStringLiteral("/../../../share/applications/%1.desktop").arg(desktopId);
    return QFileInfo(QDir::cleanPath(appDir + entry)).isFile();
}

bool isPortable(const QString &appDir, const QString &desktopId)
{
    return isWritableFolder(appDir) && !isInstalledCopy(appDir, desktopId);
}

QString configHome()
{
    return xdgFolder("XDG_CONFIG_HOME", QStringLiteral(".config"));
}

QString cacheHome()
{
    return xdgFolder("XDG_CACHE_HOME", QStringLiteral(".cache"));
}

QString stateHome()
{
    return xdgFolder("XDG_STATE_HOME", QStringLiteral(".local/state"));
}

QString instanceFolder(const QString &name)
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && QFileInfo(runtime).isDir())
        return QDir::cleanPath(runtime) + QLatin1Char('/') + name;
    return cacheHome() + QLatin1Char('/') + name;
}

bool makeFolderFor(const QString &filePath)
{
    const QString folder = QFileInfo(filePath).absolutePath();
    if (QFileInfo(folder).isDir())
        return true;
    // Each missing folder on the way down is made private, as the XDG folders are.
    const QStringList parts = folder.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString path;
    for (const QString &part : parts) {
        path += QLatin1Char('/') + part;
        if (QFileInfo(path).isDir())
            continue;
        if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return QFileInfo(folder).isDir();
}

} // namespace batch
