#pragma once
#include <QDBusConnection>
#include <QString>

namespace batch {

// A batch's progress on the task bar and in docks: the com.canonical.Unity.LauncherEntry
// "Update" signal, which KDE Plasma's task manager, GNOME's docks and others follow, for the
// program's desktop entry (application://<desktop id>.desktop), sent from the program's own
// object path. Each update names the progress (0 to 1) and the count of files left, both shown;
// clear() hides both when the batch is over. A signal goes out only when what it says changes
// (the progress in thousandths). Without a bus nothing happens.
class LauncherEntry
{
public:
    LauncherEntry(const QDBusConnection &bus, const QString &desktopId, const QString &objectPath);
    virtual ~LauncherEntry() = default;

    static constexpr const char *kInterface = "com.canonical.Unity.LauncherEntry";
    QString appUri() const { return m_appUri; }
    QString objectPath() const { return m_path; }

    // A batch is under way: `fraction` of it done, `filesLeft` files still to convert.
    void show(double fraction, qint64 filesLeft);
    // The batch is over: no progress and no count.
    void clear();

private:
    void send(bool visible, double fraction, qint64 filesLeft);

    QDBusConnection m_bus;
    QString m_appUri;
    QString m_path;
    bool m_visible = false;
    int m_permille = -1;
    qint64 m_filesLeft = -1;
};

} // namespace batch
