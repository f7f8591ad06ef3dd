#pragma once
#include "gui/desktopnotifier.h"

namespace zm {

using batch::NotificationImage;

// zelmora's notifications (batch::DesktopNotifier): from "Zelmora", with its desktop entry and
// icon, each with an "Open Folder" action.
class DesktopNotifier final : public batch::DesktopNotifier
{
public:
    explicit DesktopNotifier(const QDBusConnection &bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);
};

} // namespace zm
