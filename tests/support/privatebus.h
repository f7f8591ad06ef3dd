// A private D-Bus session bus for tests: a dbus-daemon of the test's own, stopped with it.
#pragma once

#include <QProcess>
#include <QStandardPaths>
#include <QString>

namespace testsupport {

class PrivateBus
{
public:
    Q_DISABLE_COPY_MOVE(PrivateBus)
    PrivateBus() = default;
    ~PrivateBus()
    {
        m_process.kill();
        m_process.waitForFinished();
    }

    // Starts the daemon; false when dbus-daemon is not installed or did not say its address.
    bool start()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            return false;
        m_process.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                 QStringLiteral("--print-address=1")});
        if (!m_process.waitForReadyRead(10000))
            return false;
        m_address = QString::fromUtf8(m_process.readLine()).trimmed();
        return !m_address.isEmpty();
    }
    QString address() const { return m_address; }

private:
    QProcess m_process;
    QString m_address;
};

} // namespace testsupport
