#include "pool/jobpool.h"

#include <QPointer>
#include <QThread>

#include <algorithm>

namespace batch {

int threadShare(int concurrent, int cores)
{
    return std::max(1, cores / std::max(1, concurrent));
}

QString threadShareEntry(int concurrent)
{
    return QString::fromLatin1(kConverterThreadsVariable) + QLatin1Char('=')
           + QString::number(threadShare(concurrent, QThread::idealThreadCount()));
}

JobPool::JobPool(int capacity, Factory factory, QObject *parent)
    : QObject(parent), m_capacity(std::max(capacity, 1)), m_factory(std::move(factory))
{}

JobPool::~JobPool()
{
    // Processes made elsewhere stay with their owner; they only stop reporting to the pool.
    for (const QPointer<ConverterProcess> &p : m_slots)
        if (p && p->parent() != this)
            disconnect(p, nullptr, this, nullptr);
}

void JobPool::setCapacity(int capacity)
{
    m_capacity = std::max(capacity, 1);
}

ConverterProcess *JobPool::slot(int index)
{
    if (index < 0 || index >= m_capacity)
        return nullptr;
    if (size_t(index) >= m_slots.size())
        m_slots.resize(size_t(index) + 1, nullptr);
    QPointer<ConverterProcess> &p = m_slots[size_t(index)];
    if (!p) {
        p = m_factory ? m_factory(index, this) : new ConverterProcess(this);
        connect(p, &ConverterProcess::output, this, [this, index](const QString &chunk) { emit output(index, chunk); });
        connect(p, &ConverterProcess::finished, this,
                [this, index](const ProcessOutcome &outcome) { emit finished(index, outcome); });
    }
    return p;
}

int JobPool::freeSlot() const
{
    for (int i = 0; i < m_capacity; ++i) {
        const ConverterProcess *p = size_t(i) < m_slots.size() ? m_slots[size_t(i)].data() : nullptr;
        if (!p || !p->isRunning())
            return i;
    }
    return -1;
}

int JobPool::running() const
{
    return int(
        std::count_if(m_slots.begin(), m_slots.end(), [](const ConverterProcess *p) { return p && p->isRunning(); }));
}

int JobPool::fill(const std::function<bool(ConverterProcess &, int)> &startNext)
{
    QPointer<JobPool> self(this);
    int started = 0;
    for (int free = freeSlot(); free >= 0; free = freeSlot()) {
        ConverterProcess *p = slot(free);
        if (!startNext(*p, free))
            break;
        ++started;
        if (!self)
            break;
        if (!p->isRunning())
            break; // a failed start: the caller decides what comes next
    }
    return started;
}

int JobPool::start(const ProcessRequest &request)
{
    const int free = freeSlot();
    if (free < 0)
        return -1;
    return slot(free)->start(request) ? free : -1;
}

QList<int> JobPool::busySlots() const
{
    QList<int> busy;
    for (size_t i = 0; i < m_slots.size(); ++i)
        if (m_slots[i] && m_slots[i]->isRunning())
            busy << int(i);
    return busy;
}

QList<pid_t> JobPool::pids() const
{
    QList<pid_t> pids;
    for (const QPointer<ConverterProcess> &p : m_slots)
        if (p && p->isRunning())
            pids << p->pid();
    return pids;
}

void JobPool::stopAll(int graceMs)
{
    for (const QPointer<ConverterProcess> &p : m_slots)
        if (p)
            p->stop(graceMs);
}

} // namespace batch
