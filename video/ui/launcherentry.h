#pragma once

#include <QDBusConnection>
#include <QString>

namespace vidrune {

// A batch's progress on the task bar and in docks: the com.canonical.Unity.LauncherEntry
// "Update" signal, which KDE Plasma's task manager, GNOME's docks and others follow, for the
// program's desktop entry (application://<desktop id>.desktop): the progress (0 to 1) and the
// count of files left, both shown, until Clear() hides them. A signal goes out only when what
// it says changes. Without a bus nothing happens.
class LauncherEntry final
{
public:
    LauncherEntry(const QDBusConnection &bus, const QString &desktopId);

    static constexpr const char *Interface = "com.canonical.Unity.LauncherEntry";
    static constexpr const char *Path = "/net/zelmora/Vidrune/LauncherEntry";

    void Show(double fraction, qint64 filesLeft);
    void Clear();

private:
    void Send(bool visible, double fraction, qint64 filesLeft);

    QDBusConnection m_bus;
    QString m_appUri;
    bool m_visible = false;
    int m_permille = -1;
    qint64 m_filesLeft = -1;
};

} // namespace vidrune
