#include "ui/desktopnotifier.h"

#include "core/statelocations.h"
#include "gui/desktopnotifier.h"
#include "ui/videoskin.h"

#include <QCoreApplication>

namespace vidrune {

bool NotifyDesktop(const QString &summary, const QString &busAddress)
{
    batch::DesktopNotifier notifier(
        busAddress.isEmpty() ? QDBusConnection::sessionBus()
                             : QDBusConnection::connectToBus(
                                 busAddress, QStringLiteral("video-notify ") + busAddress));
    notifier.setIdentity({QCoreApplication::applicationName(),
                          QString::fromLatin1(StateLocations::DesktopId),
                          batch::NotificationImage::of(VideoSkin::ProgramIcon()), QString()});
    return notifier.notify(summary, QString());
}

} // namespace vidrune
