#include "notify/desktopnotifier.h"

#include <QDBusMessage>
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

DesktopNotifier::DesktopNotifier(const QDBusConnection &bus, QObject *parent) : QObject(parent), m_bus(bus) {}

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
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("zelmora"));
    call << QStringLiteral("Zelmora") << uint(0) << QStringLiteral("audio-x-generic") << title << text
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
