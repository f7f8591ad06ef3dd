#include "notify/desktopnotifier.h"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace zm {

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kOpenFolder = QStringLiteral("open-folder");
} // namespace

QDBusArgument &operator<<(QDBusArgument &argument, const NotificationImage &image)
{
    // (iiibiiay): width, height, row stride, alpha, bits per sample, channels, the bytes.
    argument.beginStructure();
    argument << image.width << image.height << image.width * 4 << true << 8 << 4 << image.rgba;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, NotificationImage &image)
{
    int stride = 0, bits = 0, channels = 0;
    bool alpha = false;
    argument.beginStructure();
    argument >> image.width >> image.height >> stride >> alpha >> bits >> channels >> image.rgba;
    argument.endStructure();
    return argument;
}

DesktopNotifier::DesktopNotifier(const QDBusConnection &bus, QObject *parent) : QObject(parent), m_bus(bus)
{
    qDBusRegisterMetaType<NotificationImage>();
}

void DesktopNotifier::setIdentity(const QString &desktopId, const NotificationImage &icon)
{
    m_desktopId = desktopId;
    m_icon = icon;
}

bool DesktopNotifier::notify(const QString &title, const QString &text, const QString &folder)
{
    if (!m_bus.isConnected())
        return false;
    if (!m_listening) {
        // Signal connections of QtDBus are made by slot name.
        m_bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                      SLOT(onActionInvoked(uint, QString)));
        m_bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                      SLOT(onClosed(uint, uint)));
        m_listening = true;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    QVariantMap hints;
    if (!m_desktopId.isEmpty())
        hints.insert(QStringLiteral("desktop-entry"), m_desktopId);
    if (m_icon.width > 0 && m_icon.height > 0 && m_icon.rgba.size() == qsizetype(m_icon.width) * m_icon.height * 4)
        hints.insert(QStringLiteral("image-data"), QVariant::fromValue(m_icon));
    const QString appIcon = m_desktopId.isEmpty() ? QStringLiteral("audio-x-generic") : m_desktopId;
    call << QStringLiteral("Zelmora") << uint(0) << appIcon << title << text
         << QStringList{kOpenFolder, QStringLiteral("Open Folder")} << hints << int(-1);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, folder] {
        const QDBusPendingReply<uint> reply = *watcher;
        if (reply.isValid())
            m_folders.insert(reply.value(), folder);
        watcher->deleteLater();
    });
    return true;
}

void DesktopNotifier::onActionInvoked(uint id, const QString &actionKey)
{
    if (actionKey == kOpenFolder && m_folders.contains(id))
        emit openFolderRequested(m_folders.value(id));
}

void DesktopNotifier::onClosed(uint id, uint)
{
    m_folders.remove(id);
}

} // namespace zm
