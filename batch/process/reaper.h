#pragma once

#include <QDeadlineTimer>
#include <QObject>

#include <list>
#include <memory>
#include <sys/types.h>

class QSocketNotifier;
class QTimer;

namespace batch {

// Takes the children nobody follows any more (their ConverterProcess went away, or stopped
// following them) and reaps each when it ends, on the event loop: no thread, no wait. A child
// that had been asked to stop is killed when its grace time is over; one that had not is left
// to finish its work. No zombie stays behind.
class Reaper final : public QObject
{
    Q_OBJECT
public:
    // The reaper of this program, living in the thread that first hands a child over.
    static Reaper &instance();

    // Takes the child named by `pidfd` (which it closes when done). `killAfterMs` < 0: the
    // child runs to its end; otherwise it is killed that many milliseconds from now unless it
    // has ended by then.
    void adopt(int pidfd, pid_t pid, qint64 killAfterMs);

    // Children taken and not yet reaped.
    int pending() const { return int(m_children.size()); }
    // Their process ids.
    QList<pid_t> pids() const;

    // For the end of a program, once its event loop has returned: waits for the children that
    // were asked to stop, up to their kill time, kills the ones still there and reaps them all;
    // children left to finish their work are reaped when they have ended, otherwise left to the
    // system. Returns at the latest when the last kill time is over (plus a moment for the kill).
    void finish();

private:
    struct Child {
        int pidfd = -1;
        pid_t pid = -1;
        bool stopping = false;
        QDeadlineTimer killAt;
        std::unique_ptr<QSocketNotifier> notifier;
        std::unique_ptr<QTimer> killTimer;
    };
    Reaper();
    ~Reaper() override;
    // Reaps `child` when it has ended; true then (its entry may go).
    static bool tryReap(Child &child);
    void remove(Child *child);

    std::list<std::unique_ptr<Child>> m_children;
};

} // namespace batch
