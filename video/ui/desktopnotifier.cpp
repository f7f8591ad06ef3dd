#include "ui/desktopnotifier.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

namespace vidrune {

DesktopNotifier::DesktopNotifier(QString busAddress) : m_busAddress(std::move(busAddress)) {}

bool DesktopNotifier::Notify(const QString &summary, const QString &body) const
{
    const QDBusConnection bus =
        m_busAddress.isEmpty() ? QDBusConnection::sessionBus()
                               : QDBusConnection::connectToBus(
                                   m_busAddress, QStringLiteral("video-notify ") + m_busAddress);
    if (!bus.isConnected())
        return false;
    QDBusMessage call =
        QDBusMessage::createMethodCall(QLatin1String(Service), QLatin1String(Path),
                                       QLatin1String(Service), QStringLiteral("Notify"));
    // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout
    call << QCoreApplication::applicationName() << 0u << QStringLiteral("video-x-generic")
         << summary << body << QStringList() << QVariantMap() << -1;
    // Nobody waits for the answer: a missing notification server changes nothing.
    call.setAutoStartService(true);
    return bus.send(call);
}

} // namespace vidrune
