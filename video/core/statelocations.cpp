#include "core/statelocations.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <unistd.h>

namespace vidrune {

namespace StateLocations {

namespace {

QString XdgFolder(const char *variable, const QString &fallbackBelowHome)
{
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::homePath() + QLatin1Char('/') + fallbackBelowHome;
}

const QString OutputFolderKey = QStringLiteral("outputFolder");

} // namespace

bool IsWritableFolder(const QString &folder)
{
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return false;
    return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

bool IsInstalledCopy(const QString &appFolder)
{
    if (appFolder.isEmpty())
        return false;
    const QString entry =
        QStringLiteral("/../../../share/applications/%1.desktop").arg(QLatin1String(DesktopId));
    return QFileInfo(QDir::cleanPath(appFolder + entry)).isFile();
}

bool IsPortable(const QString &appFolder)
{
    return IsWritableFolder(appFolder) && !IsInstalledCopy(appFolder);
}

QString ConfigHome()
{
    return XdgFolder("XDG_CONFIG_HOME", QStringLiteral(".config"));
}

QString CacheHome()
{
    return XdgFolder("XDG_CACHE_HOME", QStringLiteral(".cache"));
}

QString StateHome()
{
    return XdgFolder("XDG_STATE_HOME", QStringLiteral(".local/state"));
}

QString InstanceFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && QFileInfo(runtime).isDir())
        return QDir::cleanPath(runtime) + QStringLiteral("/vidrune");
    return CacheHome() + QStringLiteral("/vidrune");
}

QString SettingsFile(bool portable)
{
    return ConfigHome()
           + (portable ? QStringLiteral("/zelmora-suite/video.conf")
                       : QStringLiteral("/vidrune/vidrune.conf"));
}

QStringList MigrateOldPlaces(bool portable)
{
    QStringList moved;
    const QString oldState = StateHome() + QStringLiteral("/video");
    const QString newState = StateHome() + QLatin1Char('/') + QLatin1String(DesktopName);
    const QFileInfo oldInfo(oldState);
    if (oldInfo.isDir() && !oldInfo.isSymLink() && !QFileInfo::exists(newState)
        && !QFileInfo(newState).isSymLink() && QDir().rename(oldState, newState))
        moved << newState;
    if (!portable) {
        const QString oldSettings = SettingsFile(true);
        const QString newSettings = SettingsFile(false);
        if (QFileInfo(oldSettings).isFile() && !QFileInfo::exists(newSettings)
            && QDir().mkpath(QFileInfo(newSettings).path())
            && QFile::copy(oldSettings, newSettings))
            moved << newSettings;
    }
    return moved;
}

QString LoadOutputFolder(const QString &settingsFile)
{
    const QSettings settings(settingsFile, QSettings::IniFormat);
    const QString folder = settings.value(OutputFolderKey).toString();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QString();
}

void SaveOutputFolder(const QString &settingsFile, const QString &folder)
{
    QSettings settings(settingsFile, QSettings::IniFormat);
    settings.setValue(OutputFolderKey, folder);
}

} // namespace StateLocations

} // namespace vidrune
