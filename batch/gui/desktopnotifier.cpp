#include "gui/desktopnotifier.h"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QIcon>
#include <QImage>
#include <QVariantMap>

namespace batch {

namespace {
const QString kInterface = QString::fromLatin1(DesktopNotifier::kService);
const QString kOpenFolder = QStringLiteral("open-folder");
} // namespace

NotificationImage NotificationImage::of(const QIcon &icon)
{
    const QImage image = icon.pixmap(QSize(48, 48)).toImage().convertToFormat(QImage::Format_RGBA8888);
    NotificationImage out;
    if (image.isNull())
        return out;
    out.width = image.width();
    out.height = image.height();
    out.rgba.reserve(qsizetype(out.width) * out.height * 4);
    for (int y = 0; y < image.height(); ++y)
        out.rgba.append(reinterpret_cast<const char *>(image.constScanLine(y)), qsizetype(out.width) * 4);
    return out;
}

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

bool DesktopNotifier::notify(const QString &title, const QString &text, const QString &folder)
{
    if (!m_bus.isConnected())
        return false;
    const QString service = QString::fromLatin1(kService);
    const QString path = QString::fromLatin1(kPath);
    QStringList actions;
    if (!m_identity.folderAction.isEmpty()) {
        actions << kOpenFolder << m_identity.folderAction;
        if (!m_listening) {
            // Signal connections of QtDBus are made by slot name.
            m_bus.connect(service, path, kInterface, QStringLiteral("ActionInvoked"), this,
                          SLOT(onActionInvoked(uint, QString)));
            m_bus.connect(service, path, kInterface, QStringLiteral("NotificationClosed"), this,
                          SLOT(onClosed(uint, uint)));
            m_listening = true;
        }
    }
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, kInterface, QStringLiteral("Notify"));
    QVariantMap hints;
    if (!m_identity.desktopId.isEmpty())
        hints.insert(QStringLiteral("desktop-entry"), m_identity.desktopId);
    if (m_identity.icon.isValid())
        hints.insert(QStringLiteral("image-data"), QVariant::fromValue(m_identity.icon));
    // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout
    call << m_identity.appName << uint(0) << m_identity.desktopId << title << text << actions << hints << int(-1);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, folder] {
        const QDBusPendingReply<uint> reply = *watcher;
        if (reply.isValid() && m_listening)
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

} // namespace batch
