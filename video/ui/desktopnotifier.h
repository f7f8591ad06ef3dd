#pragma once

#include <QString>

namespace vidrune {

// A desktop notification from the dialog (batch::DesktopNotifier): from the program's name on
// the desktop, with its desktop entry and icon (by name, and as a picture for a copy whose icon
// is not in the icon theme). `busAddress` empty: the session bus. Sent without waiting for an
// answer; false when there is no bus.
bool NotifyDesktop(const QString &summary, const QString &busAddress = QString());

// The object path of the dialog's progress on the task bar (batch::LauncherEntry).
inline constexpr const char *LauncherPath = "/net/zelmora/Vidrune/LauncherEntry";

} // namespace vidrune
