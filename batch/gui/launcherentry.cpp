#include "gui/launcherentry.h"

#include <QDBusMessage>
#include <QVariantMap>
#include <algorithm>
#include <cmath>

namespace batch {

LauncherEntry::LauncherEntry(const QDBusConnection &bus, const QString &desktopId, const QString &objectPath)
    : m_bus(bus), m_appUri(QStringLiteral("application://") + desktopId + QStringLiteral(".desktop")),
      m_path(objectPath)
{}

void LauncherEntry::show(double fraction, qint64 filesLeft)
{
    fraction = std::clamp(std::isfinite(fraction) ? fraction : 0.0, 0.0, 1.0);
    const int permille = int(std::lround(fraction * 1000));
    if (m_visible && permille == m_permille && filesLeft == m_filesLeft)
        return;
    m_visible = true;
    m_permille = permille;
    m_filesLeft = filesLeft;
    send(true, permille / 1000.0, std::max<qint64>(filesLeft, 0));
}

void LauncherEntry::clear()
{
    if (!m_visible)
        return;
    m_visible = false;
    m_permille = -1;
    m_filesLeft = -1;
    send(false, 0.0, 0);
}

void LauncherEntry::send(bool visible, double fraction, qint64 filesLeft)
{
    if (!m_bus.isConnected())
        return;
    QDBusMessage update = QDBusMessage::createSignal(m_path, QLatin1String(kInterface), QStringLiteral("Update"));
    QVariantMap properties;
    properties.insert(QStringLiteral("progress"), fraction);
    properties.insert(QStringLiteral("progress-visible"), visible);
    properties.insert(QStringLiteral("count"), filesLeft);
    properties.insert(QStringLiteral("count-visible"), visible && filesLeft > 0);
    update << m_appUri << properties;
    m_bus.send(update);
}

} // namespace batch
