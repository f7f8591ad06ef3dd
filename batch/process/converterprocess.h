#pragma once

#include "process/processrequest.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QStringDecoder>
#include <QTimer>

#include <memory>
#include <sys/types.h>

class QSocketNotifier;

namespace batch {

// Runs a converter (or any program) as a child and follows it on the event loop: its output
// pipe and a pidfd of the child wake the loop, so nothing waits, sleeps or polls, and only this
// child is ever looked at or signalled (a pidfd never names another process, even once the id
// has been given to someone else).
//
// The text of the pipe is handed on as it arrives, decoded as UTF-8 (a character cut between
// two reads stays whole), in chunks of at most 1024 characters. `finished` follows once per
// run, after the last chunk: when the child has ended, has been reaped, and what it left in
// the pipe has been read (something of its own that keeps the pipe open does not hold the run
// up). Every signal is emitted from the event loop, never from inside start() or stop().
//
// A run can be stopped: SIGTERM at once, SIGKILL when the child is still there after the grace
// time. An object can run one child after another; destroying it (or detach()) while a child
// runs hands the child to the Reaper, which still kills it after the grace time when a stop
// was asked, and otherwise lets it finish.
class ConverterProcess : public QObject
{
    Q_OBJECT
public:
    static constexpr int kChunk = 1024;

    explicit ConverterProcess(QObject *parent = nullptr);
    ~ConverterProcess() override;
    Q_DISABLE_COPY_MOVE(ConverterProcess)

    // Starts a child. False when none could be started (outcome() says why; no signal follows)
    // or one still runs.
    bool start(const ProcessRequest &request);

    // SIGTERM now, SIGKILL `graceMs` later if the child is still there. Nothing when none runs
    // or a stop is under way.
    void stop(int graceMs);
    // SIGKILL now.
    void kill();
    // Stops following the running child without ending it: it goes to the Reaper (with what is
    // left of the grace time when a stop was asked) and no `finished` follows.
    void detach();

    bool isRunning() const { return m_pidfd >= 0; }
    bool isStopping() const { return isRunning() && m_outcome.stopRequested; }
    // The running child's id; -1 when none runs.
    pid_t pid() const { return isRunning() ? m_pid : -1; }
    // The id of the last child started (kept after it has been reaped, for logs and tests).
    pid_t lastPid() const { return m_pid; }
    // The text read from the pipe in this run (or the last one); with keepOutput off, its end.
    QString outputs() const { return m_outputs; }
    // How the last run ended (Ending::NotStarted while the first runs).
    const ProcessOutcome &outcome() const { return m_outcome; }

signals:
    void output(const QString &chunk);
    void finished(const batch::ProcessOutcome &outcome);

private:
    void readOnce();
    void childEnded();
    // Reads the pipe until it is empty or ended; false when this object went away meanwhile.
    bool drain();
    void closePipe();
    void deliver(const QByteArray &bytes, bool last);
    void finish();
    void killNow();

    ProcessRequest m_spec;
    pid_t m_pid = -1;
    int m_pidfd = -1;
    int m_readFd = -1;
    qint64 m_stderrFileStart = -1;
    bool m_reaped = false;
    bool m_killSent = false;
    ProcessOutcome m_outcome;
    QString m_outputs;
    QStringDecoder m_decoder;
    std::unique_ptr<QSocketNotifier> m_pidNotifier;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    QTimer m_killTimer;
    QDeadlineTimer m_killAt;
};

} // namespace batch
