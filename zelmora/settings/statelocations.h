#pragma once
#include <QString>

namespace zm {

// The desktop entry `cmake --install` puts in <prefix>/share/applications.
inline constexpr auto kDesktopId = "net.zelmora.Zelmora";

// True when `folder` exists and this process may create files in it.
bool isWritableFolder(const QString &folder);

// True when the program in `appDir` (<prefix>/lib/zelmora-suite/zelmora) is an installed copy:
// its desktop entry lies in <prefix>/share/applications.
bool isInstalledCopy(const QString &appDir);

// True when the program keeps its files beside itself: its folder is writable and it is not an
// installed copy (which stays per user even where it could write, as for the superuser or in a
// prefix below the home folder).
bool isPortable(const QString &appDir);

// $XDG_CONFIG_HOME when it holds an absolute path, ~/.config otherwise.
QString configHome();

// Makes the folder of `filePath` when it is missing; the folders made are the user's alone.
// True when the folder exists afterwards.
bool makeFolderFor(const QString &filePath);

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
