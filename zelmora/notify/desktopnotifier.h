#pragma once
#include <QByteArray>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QHash>
#include <QMetaType>
#include <QObject>
#include <QString>

namespace zm {

// A picture for a notification, as the "image-data" hint carries it: 8-bit RGBA rows without
// padding (row stride = 4 × width).
struct NotificationImage {
    int width = 0;
    int height = 0;
    QByteArray rgba;
};
QDBusArgument &operator<<(QDBusArgument &argument, const NotificationImage &image);
const QDBusArgument &operator>>(const QDBusArgument &argument, NotificationImage &image);

// Desktop notifications through org.freedesktop.Notifications on the session bus, each with an
// "Open Folder" action, the program's desktop entry and its icon (by name, and as a picture for
// a copy whose icon is not in the icon theme). Without a bus (or without a notification service
// on it) nothing happens. Calls never wait for the service.
class DesktopNotifier final : public QObject
{
    Q_OBJECT
public:
    explicit DesktopNotifier(const QDBusConnection &bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);

    // Sends one notification; false when there is no bus to send it on.
    bool notify(const QString &title, const QString &text, const QString &folder);
    // Who sends: the desktop entry (and the icon of that name) and the icon's picture.
    void setIdentity(const QString &desktopId, const NotificationImage &icon);

signals:
    // The user chose "Open Folder" on the notification that named `folder`.
    void openFolderRequested(const QString &folder);

private slots:
    // Receivers of the service's signals (the bus delivers them by name).
    void onActionInvoked(uint id, const QString &actionKey);
    void onClosed(uint id, uint reason);

private:
    QDBusConnection m_bus;
    QString m_desktopId;
    NotificationImage m_icon;
    bool m_listening = false;
    QHash<uint, QString> m_folders;
};

} // namespace zm

Q_DECLARE_METATYPE(zm::NotificationImage)
