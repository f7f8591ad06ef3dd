#pragma once
#include "engine/childprocess.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QStringDecoder>
#include <QTimer>
#include <memory>

class QSocketNotifier;

namespace zm {

// One converter run that does not hold up its caller: the program of a command line runs with
// its standard output and standard error in one pipe, the text is handed over chunk by chunk as
// it arrives (at most 1024 characters each), and `finished` follows once, when the pipe has
// ended and the child has been reaped, or when the child has gone and nothing waits in the pipe
// (a grandchild that kept the pipe open does not hold the run up). Several runs can go on side by
// side, each following only its own child; the batch uses one per file when it converts several
// files at once.
class ConverterJob final : public QObject
{
    Q_OBJECT
public:
    explicit ConverterJob(QObject *parent = nullptr);
    // A child still running is left to a background reaper (killed after what is left of the
    // grace time when it was asked to stop, otherwise left to finish).
    ~ConverterJob() override;
    Q_DISABLE_COPY_MOVE(ConverterJob)

    // Starts the command line (split like the classic runner does). False when it could not be
    // started: startError() holds the message for the user, and no signal follows.
    bool start(const QString &commandLine);
    QString startError() const { return m_startError; }

    // Asks the child to stop (SIGTERM) and kills it (SIGKILL) when it has not ended
    // `killAfterMs` later. The run then ends as usual, with `finished`.
    void terminate(int killAfterMs);

    bool isRunning() const { return m_running; }
    // The process id of the child, -1 once it has been reaped (or before it started).
    pid_t pid() const { return m_pid; }
    QString commandLine() const { return m_commandLine; }
    QString outputs() const { return m_outputs; }
    ProcessEnding ending() const { return m_ending; }

signals:
    void output(const QString &chunk);
    void finished();

private:
    void readChunk();
    void watchChild();
    void closePipe();
    void maybeFinish();
    void killNow();

    QString m_commandLine;
    QString m_startError;
    QString m_outputs;
    ProcessEnding m_ending;
    pid_t m_pid = -1;
    int m_readFd = -1;
    bool m_running = false;
    bool m_reaped = false;
    bool m_terminating = false;
    int m_reapTries = 0;
    QStringDecoder m_decoder{QStringDecoder::Utf8};
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_watch;     // looks after the child while the pipe is open, and after the pipe's end
    QTimer m_killTimer; // the end of the grace time after a terminate
    QDeadlineTimer m_killDeadline;
};

} // namespace zm
