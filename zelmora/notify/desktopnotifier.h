#pragma once
#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>

namespace zm {

// Desktop notifications through org.freedesktop.Notifications on the session bus, each with an
// "Open Folder" action. Without a bus (or without a notification service on it) nothing
// happens. Calls never wait for the service.
class DesktopNotifier final : public QObject
{
    Q_OBJECT
public:
    explicit DesktopNotifier(const QDBusConnection &bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);

    // Sends one notification; false when there is no bus to send it on.
    bool notify(const QString &title, const QString &text, const QString &folder);

signals:
    // The user chose "Open Folder" on the notification that named `folder`.
    void openFolderRequested(const QString &folder);

private slots:
    // Receivers of the service's signals (the bus delivers them by name).
    void onActionInvoked(uint id, const QString &actionKey);
    void onClosed(uint id, uint reason);

private:
    QDBusConnection m_bus;
    bool m_listening = false;
    QHash<uint, QString> m_folders;
};

} // namespace zm
