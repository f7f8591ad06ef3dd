#include "cli/stopsignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

namespace zm::cli {

namespace {
sigset_t stopSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}
} // namespace

void StopSignals::blockEarly()
{
    const sigset_t set = stopSet();
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
    // A reader that went away (`zelmora-cli ... | head`) must not end the batch half-way.
    std::signal(SIGPIPE, SIG_IGN);
}

StopSignals::StopSignals(QObject *parent) : QObject(parent)
{
    const sigset_t set = stopSet();
    m_fd = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (m_fd < 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &StopSignals::read);
}

StopSignals::~StopSignals()
{
    m_notifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
}

void StopSignals::read()
{
    signalfd_siginfo info{};
    while (::read(m_fd, &info, sizeof info) == ssize_t(sizeof info))
        emit received(int(info.ssi_signo), ++m_count);
}

} // namespace zm::cli
