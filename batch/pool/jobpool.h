#pragma once

#include "process/converterprocess.h"

#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>
#include <vector>

namespace batch {

// The environment variable through which a converter learns how many threads it may use.
inline constexpr char kConverterThreadsVariable[] = "ZM_CONV_THREADS";

// Each converter's share of `cores` when `concurrent` run at once: max(1, cores / concurrent).
int threadShare(int concurrent, int cores);
// "ZM_CONV_THREADS=N": this machine's share for a converter that runs beside concurrent - 1
// others, for ProcessRequest::environment.
QString threadShareEntry(int concurrent);

// Runs at most N converter processes at once, each in a slot of its own (0 ... N - 1). A slot
// keeps its ConverterProcess from one job to the next; slots are made as they are first needed,
// by a factory when the caller wants its own kind of process in them. Jobs are started in the
// caller's order with fill(), which hands out free slots lowest first, so that the caller can
// take each job's output name as it starts it: names then follow the queue, whichever job
// finishes first.
class JobPool final : public QObject
{
    Q_OBJECT
public:
    // Makes the process of a slot; `parent` is the pool (a process made elsewhere may ignore it).
    using Factory = std::function<ConverterProcess *(int slot, QObject *parent)>;

    explicit JobPool(int capacity = 1, Factory factory = {}, QObject *parent = nullptr);
    ~JobPool() override;
    Q_DISABLE_COPY_MOVE(JobPool)

    // How many jobs may run at once from now on (at least 1). Jobs already running beyond a
    // smaller capacity run to their end.
    void setCapacity(int capacity);
    int capacity() const { return m_capacity; }

    int running() const;
    bool hasFreeSlot() const { return freeSlot() >= 0; }
    // The lowest free slot, -1 when `capacity` jobs run.
    int freeSlot() const;
    // The process of a slot (made now when the slot is new); null outside 0 ... capacity - 1.
    ConverterProcess *slot(int index);

    // Calls `startNext(process, slot)` with the lowest free slot as long as there is one and it
    // returns true; it starts (or fails to start) the next job of the caller's queue on that
    // process. Returns how many calls returned true.
    int fill(const std::function<bool(ConverterProcess &, int)> &startNext);
    // Starts one job in the lowest free slot; its slot, or -1 (no free slot, or the start
    // failed: see slot(...)->outcome()).
    int start(const ProcessRequest &request);

    // The slots whose job runs, lowest first, and their process ids.
    QList<int> busySlots() const;
    QList<pid_t> pids() const;

    // Stops every running job (SIGTERM, SIGKILL after the grace time).
    void stopAll(int graceMs);

signals:
    void output(int slot, const QString &chunk);
    void finished(int slot, const batch::ProcessOutcome &outcome);

private:
    int m_capacity;
    Factory m_factory;
    std::vector<QPointer<ConverterProcess>> m_slots; // null until first needed (or gone, when made elsewhere)
};

} // namespace batch
