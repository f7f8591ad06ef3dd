#pragma once

#include "core/mirelffmpeg.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

namespace vidrune {

// Ends and disposes of runners without waiting on the calling thread. A runner handed over
// whose converter still runs is asked to end (SIGTERM) at once and killed (SIGKILL) when it is
// still there after the grace time; a timer then polls until its worker thread has stopped and
// only then destroys it, so the destructor never has to wait.
class RunnerStopper final : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void(const RunResult &)>;

    explicit RunnerStopper(QObject *parent = nullptr,
                           std::chrono::milliseconds grace = MirelFFmpeg::TermGrace);
    // Runners still held are destroyed, which ends their converters the blocking way.
    ~RunnerStopper() override;

    // Takes `runner`; `done` runs with its result once it is gone (at once when its thread
    // has already stopped).
    void Retire(std::unique_ptr<MirelFFmpeg> runner, Done done = {});
    // Number of runners not yet gone.
    int Pending() const { return static_cast<int>(m_pending.size()); }

    // Poll interval of the timer.
    static constexpr int PollMs = 20;

private:
    struct Entry {
        std::unique_ptr<MirelFFmpeg> runner;
        Done done;
        QElapsedTimer since;
        bool killed = false;
    };
    void Poll();

    std::chrono::milliseconds m_grace;
    std::vector<Entry> m_pending;
    QTimer m_timer;
};

} // namespace vidrune
