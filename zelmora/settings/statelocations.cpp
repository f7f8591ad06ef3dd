#include "settings/statelocations.h"

#include <QDir>
#include <QStandardPaths>

namespace zm {

StateLocations::StateLocations(const QString &appDir) : StateLocations(appDir, isPortable(appDir)) {}

StateLocations::StateLocations(QString appDir, bool portable)
    : m_appDir(std::move(appDir)), m_portable(portable),
      m_settingsFolder(m_portable ? m_appDir : batch::configHome() + QStringLiteral("/zelmora"))
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
