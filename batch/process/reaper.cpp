#include "process/reaper.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <poll.h>
#include "process/pidfd.h"
#include <sys/wait.h>
#include <unistd.h>

namespace batch {

Reaper::Reaper() = default;
Reaper::~Reaper() = default;

Reaper &Reaper::instance()
{
    // Never destroyed: children may still be handed over while the program ends.
    static Reaper *reaper = new Reaper;
    return *reaper;
}

bool Reaper::tryReap(Child &child)
{
    siginfo_t info{};
    for (;;) {
        if (::waitid(P_PIDFD, id_t(child.pidfd), &info, WEXITED | WNOHANG) == 0)
            return info.si_pid != 0;
        if (errno != EINTR)
            return true; // nothing left to reap (ECHILD)
    }
}

void Reaper::adopt(int pidfd, pid_t pid, qint64 killAfterMs)
{
    auto child = std::make_unique<Child>();
    child->pidfd = pidfd;
    child->pid = pid;
    if (tryReap(*child)) {
        ::close(pidfd);
        return;
    }
    Child *c = child.get();
    c->notifier = std::make_unique<QSocketNotifier>(pidfd, QSocketNotifier::Read);
    connect(c->notifier.get(), &QSocketNotifier::activated, this, [this, c] {
        if (tryReap(*c))
            remove(c);
    });
    if (killAfterMs >= 0) {
        c->stopping = true;
        c->killAt.setRemainingTime(killAfterMs, Qt::PreciseTimer);
        c->killTimer = std::make_unique<QTimer>();
        c->killTimer->setSingleShot(true);
        c->killTimer->setTimerType(Qt::PreciseTimer); // never before the grace time is over
        connect(c->killTimer.get(), &QTimer::timeout, this, [c] { pidfdSignal(c->pidfd, SIGKILL); });
        c->killTimer->start(int(std::max<qint64>(killAfterMs, 0)));
    }
    m_children.push_back(std::move(child));
}

void Reaper::remove(Child *child)
{
    const auto it = std::find_if(m_children.begin(), m_children.end(),
                                 [child](const std::unique_ptr<Child> &c) { return c.get() == child; });
    if (it == m_children.end())
        return;
    // The notifier may be the one whose signal runs now: it goes once the event is over.
    (*it)->notifier->setEnabled(false);
    (*it)->notifier.release()->deleteLater();
    ::close((*it)->pidfd);
    m_children.erase(it);
}

QList<pid_t> Reaper::pids() const
{
    QList<pid_t> out;
    for (const auto &c : m_children)
        out << c->pid;
    return out;
}

void Reaper::finish()
{
    for (auto it = m_children.begin(); it != m_children.end();) {
        Child &c = **it;
        if (c.stopping && !tryReap(c)) {
            pollfd p{c.pidfd, POLLIN, 0};
            const qint64 left = std::max<qint64>(c.killAt.remainingTime(), 0);
            while (::poll(&p, 1, int(left)) < 0 && errno == EINTR) {
            }
            if (!tryReap(c)) {
                pidfdSignal(c.pidfd, SIGKILL);
                siginfo_t info{};
                while (::waitid(P_PIDFD, id_t(c.pidfd), &info, WEXITED) < 0 && errno == EINTR) {
                }
            }
        }
        if (c.stopping || tryReap(c)) {
            ::close(c.pidfd);
            it = m_children.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace batch
