#include "core/statelocations.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace vidrune {

namespace StateLocations {

namespace {

const QString OutputFolderKey = QStringLiteral("outputFolder");

} // namespace

QString InstanceFolder()
{
    return batch::instanceFolder(QLatin1String(DesktopName));
}

QString SettingsFile(bool portable)
{
    return batch::configHome()
           + (portable ? QStringLiteral("/zelmora-suite/video.conf")
                       : QStringLiteral("/vidrune/vidrune.conf"));
}

QStringList MigrateOldPlaces(bool portable)
{
    QStringList moved;
    const QString oldState = batch::stateHome() + QStringLiteral("/video");
    const QString newState = batch::stateHome() + QLatin1Char('/') + QLatin1String(DesktopName);
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
