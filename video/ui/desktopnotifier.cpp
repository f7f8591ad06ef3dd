#include "ui/desktopnotifier.h"

#include "core/statelocations.h"
#include "ui/videoskin.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QImage>
#include <QVariantMap>

namespace vidrune {

namespace {

// The "image-data" hint: 8-bit RGBA rows without padding.
struct NotificationImage {
    int width = 0;
    int height = 0;
    QByteArray rgba;
};

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

NotificationImage IconPicture()
{
    const QImage image = VideoSkin::ProgramIcon()
                             .pixmap(QSize(48, 48))
                             .toImage()
                             .convertToFormat(QImage::Format_RGBA8888);
    NotificationImage out;
    out.width = image.width();
    out.height = image.height();
    for (int y = 0; y < image.height(); ++y)
        out.rgba.append(reinterpret_cast<const char *>(image.constScanLine(y)),
                        static_cast<qsizetype>(out.width) * 4);
    return out;
}

} // namespace

} // namespace vidrune

Q_DECLARE_METATYPE(vidrune::NotificationImage)

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
    qDBusRegisterMetaType<NotificationImage>();
    const QString desktopId = QString::fromLatin1(StateLocations::DesktopId);
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), desktopId);
    const NotificationImage picture = IconPicture();
    if (picture.width > 0)
        hints.insert(QStringLiteral("image-data"), QVariant::fromValue(picture));
    // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout
    call << QCoreApplication::applicationName() << 0u << desktopId << summary << body
         << QStringList() << hints << -1;
    // Nobody waits for the answer: a missing notification server changes nothing.
    call.setAutoStartService(true);
    return bus.send(call);
}

} // namespace vidrune
