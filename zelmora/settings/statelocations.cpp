#include "settings/statelocations.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace zm {

bool isWritableFolder(const QString &folder)
{
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return false;
    return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

bool isInstalledCopy(const QString &appDir)
{
    if (appDir.isEmpty())
        return false;
    const QString entry = QStringLiteral("/../../../share/applications/%1.desktop").arg(QLatin1String(kDesktopId));
    return QFileInfo(QDir::cleanPath(appDir + entry)).isFile();
}

bool isPortable(const QString &appDir)
{
    return isWritableFolder(appDir) && !isInstalledCopy(appDir);
}

QString configHome()
{
    const QString value = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::homePath() + QStringLiteral("/.config");
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

StateLocations::StateLocations(const QString &appDir) : StateLocations(appDir, isPortable(appDir)) {}

StateLocations::StateLocations(QString appDir, bool portable)
    : m_appDir(std::move(appDir)), m_portable(portable),
      m_settingsFolder(m_portable ? m_appDir : configHome() + QStringLiteral("/zelmora"))
{}

QString StateLocations::defaultOutputFolder() const
{
    if (m_portable)
        return m_appDir + QStringLiteral("/output");
    // The music folder the desktop names (user-dirs.dirs), ~/Music without one.
    QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (music.isEmpty())
        music = QDir::homePath() + QStringLiteral("/Music");
    return QDir::cleanPath(music) + QStringLiteral("/Zelmora");
}

} // namespace zm
