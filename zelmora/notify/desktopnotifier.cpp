#include "notify/desktopnotifier.h"

#include "engine/seams.h"
#include "settings/statelocations.h"
#include "skin/skin.h"

#include <QIcon>

namespace zm {

DesktopNotifier::DesktopNotifier(const QDBusConnection &bus, QObject *parent) : batch::DesktopNotifier(bus, parent)
{
    setIdentity({QString::fromLatin1(kAppTitle), QString::fromLatin1(kDesktopId), NotificationImage::of(programIcon()),
                 QStringLiteral("Open Folder")});
}

} // namespace zm
