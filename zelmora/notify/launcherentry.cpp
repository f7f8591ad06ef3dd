#include "notify/launcherentry.h"

#include "settings/statelocations.h"

namespace zm {

LauncherEntry::LauncherEntry(const QDBusConnection &bus)
    : batch::LauncherEntry(bus, QString::fromLatin1(kDesktopId), QString::fromLatin1(kPath))
{}

} // namespace zm
