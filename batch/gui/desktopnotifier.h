#pragma once
#include <QByteArray>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QHash>
#include <QMetaType>
#include <QObject>
#include <QString>

class QIcon;

namespace batch {

// A picture for a notification, as the "image-data" hint carries it: 8-bit RGBA rows without
// padding (row stride = 4 × width).
struct NotificationImage {
    int width = 0;
    int height = 0;
    QByteArray rgba;

    // The icon at 48 × 48 pixels (or what it has nearest to that); empty for a null icon.
    static NotificationImage of(const QIcon &icon);
    bool isValid() const { return width > 0 && height > 0 && rgba.size() == qsizetype(width) * height * 4; }
};
QDBusArgument &operator<<(QDBusArgument &argument, const NotificationImage &image);
const QDBusArgument &operator>>(const QDBusArgument &argument, NotificationImage &image);

// Desktop notifications through org.freedesktop.Notifications on a bus (the session bus by
// default), from one program: its name, its desktop entry and icon (by name, and as a picture
// for a copy whose icon is not in the icon theme), and, where the program offers one, an action
// that opens the folder a notification names. Without a bus (or without a notification service
// on it) nothing happens. Calls never wait for the service.
class DesktopNotifier : public QObject
{
    Q_OBJECT
public:
    static constexpr const char *kService = "org.freedesktop.Notifications";
    static constexpr const char *kPath = "/org/freedesktop/Notifications";

    // Who sends.
    struct Identity {
        QString appName;   // the notification's application name
        QString desktopId; // the desktop entry, and the icon theme's name of the icon
        NotificationImage icon;
        QString folderAction; // the caption of the action that opens the folder; empty: none
    };

    explicit DesktopNotifier(const QDBusConnection &bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);

    void setIdentity(const Identity &identity) { m_identity = identity; }
    const Identity &identity() const { return m_identity; }

    // Sends one notification; false when there is no bus to send it on. `folder` is what the
    // folder action opens.
    bool notify(const QString &title, const QString &text, const QString &folder = QString());

signals:
    // The user chose the folder action on the notification that named `folder`.
    void openFolderRequested(const QString &folder);

private slots:
    // Receivers of the service's signals (the bus delivers them by name).
    void onActionInvoked(uint id, const QString &actionKey);
    void onClosed(uint id, uint reason);

private:
    QDBusConnection m_bus;
    Identity m_identity;
    bool m_listening = false;
    QHash<uint, QString> m_folders;
};

} // namespace batch

Q_DECLARE_METATYPE(batch::NotificationImage)
