#include "core/runnerstopper.h"

namespace vidrune {

RunnerStopper::RunnerStopper(QObject *parent, std::chrono::milliseconds grace)
    : QObject(parent), m_grace(grace)
{
    m_timer.setInterval(PollMs);
    connect(&m_timer, &QTimer::timeout, this, &RunnerStopper::Poll);
}

RunnerStopper::~RunnerStopper()
{
    m_timer.stop();
    m_pending.clear();
}

void RunnerStopper::Retire(std::unique_ptr<MirelFFmpeg> runner, Done done)
{
    if (!runner)
        return;
    runner->Terminate();
    Entry entry{std::move(runner), std::move(done), {}, false};
    entry.since.start();
    m_pending.push_back(std::move(entry));
    Poll();
}

void RunnerStopper::Poll()
{
    // Collect first: a `done` may hand over another runner.
    std::vector<Entry> gone;
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        MirelFFmpeg &runner = *it->runner;
        if (!it->killed && !runner.IsFinished() && it->since.elapsed() >= m_grace.count()) {
            runner.Kill();
            it->killed = true;
        }
        if (runner.ThreadState() == MirelThread::Stopped) {
            gone.push_back(std::move(*it));
            it = m_pending.erase(it);
        } else {
            ++it;
        }
    }
    if (m_pending.empty())
        m_timer.stop();
    else if (!m_timer.isActive())
        m_timer.start();
    for (Entry &entry : gone) {
        const RunResult result = entry.runner->Result();
        entry.runner.reset(); // its thread has stopped: returns at once
        if (entry.done)
            entry.done(result);
    }
}

} // namespace vidrune
