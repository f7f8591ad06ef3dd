#pragma once

#include <QString>

namespace vidrune {

// Desktop notifications through org.freedesktop.Notifications on the session bus (or the bus
// at a given address), from the program's desktop entry and with its icon (by name, and as a
// picture for a copy whose icon is not in the icon theme). Without a bus nothing happens.
class DesktopNotifier
{
public:
    // `busAddress` empty: the session bus.
    explicit DesktopNotifier(QString busAddress = QString());

    // Sends the notification without waiting for an answer; false when there is no bus.
    bool Notify(const QString &summary, const QString &body = QString()) const;

    static constexpr const char *Service = "org.freedesktop.Notifications";
    static constexpr const char *Path = "/org/freedesktop/Notifications";

private:
    QString m_busAddress;
};

} // namespace vidrune
