#pragma once
#include "shared/statelocations.h"

#include <QString>

namespace zm {

// The desktop entry `cmake --install` puts in <prefix>/share/applications.
inline constexpr auto kDesktopId = "net.zelmora.Zelmora";

// True when this copy of zelmora keeps its files beside itself (batch::isPortable): its folder
// is writable and it is not installed (its desktop entry is not in <prefix>/share/applications).
inline bool isPortable(const QString &appDir)
{
    return batch::isPortable(appDir, QLatin1String(kDesktopId));
}

using batch::makeFolderFor;

// Where one copy of zelmora keeps what it writes. A portable copy (the build tree, a copy in a
// folder its user may write to) keeps setup.ini, options.ini and zelmora.conf beside itself and
// converts into "output" there, as it always has. An installed copy keeps the three files in
// $XDG_CONFIG_HOME/zelmora/ and converts into the user's music folder, under "Zelmora". The
// converter and the finish sound are read from the program's folder either way; the logs are
// always under $XDG_STATE_HOME.
class StateLocations final
{
public:
    explicit StateLocations(const QString &appDir);
    StateLocations(QString appDir, bool portable);

    bool portable() const { return m_portable; }
    QString appDir() const { return m_appDir; }
    QString setupIni() const { return m_settingsFolder + QStringLiteral("/setup.ini"); }
    QString optionsIni() const { return m_settingsFolder + QStringLiteral("/options.ini"); }
    QString jobsConf() const { return m_settingsFolder + QStringLiteral("/zelmora.conf"); }
    // The output folder of a first start, and after the folder browser was cancelled.
    QString defaultOutputFolder() const;

private:
    QString m_appDir;
    bool m_portable;
    QString m_settingsFolder;
};

} // namespace zm
