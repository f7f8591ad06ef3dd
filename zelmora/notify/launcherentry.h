#pragma once
#include "gui/launcherentry.h"

namespace zm {

// zelmora's progress on the task bar and in docks (batch::LauncherEntry), for its desktop entry.
class LauncherEntry final : public batch::LauncherEntry
{
public:
    explicit LauncherEntry(const QDBusConnection &bus);

    static constexpr const char *kPath = "/net/zelmora/LauncherEntry";
};

} // namespace zm
