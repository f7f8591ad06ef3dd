#pragma once
#include "engine/childprocess.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <sys/types.h>

namespace zm {

class MessageBoxes;
class clsWaitableTimer;

// Runs one console command line as a child process with standard output and standard error in
// one pipe, hands the text to its owner chunk by chunk (ReceiveOutputs, at most 1024 characters
// each) and raises CommandOver once the command is over. ExecuteCommand returns only then, but
// the event loop keeps running between polls (one read per pass, then a 50 ms wait).
class DOSOutputs final : public QObject
{
    Q_OBJECT
public:
    // How the last started child ended. `known` is false when the command was taken as over
    // while the child still ran (it is then reaped in the background).
    using Ending = ProcessEnding;

    explicit DOSOutputs(MessageBoxes *boxes, QObject *parent = nullptr);
    ~DOSOutputs() override;
    Q_DISABLE_COPY_MOVE(DOSOutputs)

    void setCommandLine(const QString &line) { m_commandLine = line; }
    QString CommandLine() const { return m_commandLine; }
    QString Outputs() const { return m_outputs; }

    // Runs the stored command line (replaced first by a non-empty argument) and returns all of
    // its output; empty on failure, after a message box and without any event.
    QString ExecuteCommand(const QString &argument = QString());

    bool isRunning() const { return m_running; }
    Ending lastEnding() const { return m_ending; }

    // Stops following the running command (the window is going away): the poll loop ends at its
    // next pass without CommandOver, the child keeps running and is reaped in the background.
    void abandon() { m_abandon = true; }

    // Asks the running child to stop (SIGTERM) and kills it (SIGKILL) when it has not ended
    // `killAfterMs` later. Returns at once: the command then ends as usual, with CommandOver,
    // when the child has gone. Nothing happens when no child runs.
    void terminate(int killAfterMs = 3000);
    bool terminateRequested() const { return m_terminating; }

    // The process id of the running child, -1 when none runs (or it has been reaped).
    pid_t childPid() const { return m_pid; }

    // The executable name whose presence keeps a command with an empty pipe alive.
    void setWatchedProcessName(const QString &name) { m_watchedName = name; }

    // True when any live process has the executable name `name` (letter case ignored).
    static bool IsProcessRunning(const QString &name);

signals:
    void ReceiveOutputs(const QString &CommandOutputs);
    void CommandOver();

private:
    bool reap(bool block);
    void handOff();
    void killNow();
    bool childStillStarting() const;
    void pause(clsWaitableTimer &timer, int readFd);
    void fail(const QString &text);

    MessageBoxes *m_boxes;
    QString m_commandLine;
    QString m_outputs;
    QString m_watchedName = QStringLiteral("conv");
    Ending m_ending;
    pid_t m_pid = -1;
    bool m_running = false;
    bool m_abandon = false;
    bool m_terminating = false;
    QDeadlineTimer m_killDeadline;
    QTimer m_killTimer;
};

} // namespace zm
