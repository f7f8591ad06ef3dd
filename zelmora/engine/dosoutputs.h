#pragma once
#include "process/converterprocess.h"

#include <QString>
#include <QStringList>

namespace zm {

class MessageBoxes;

// Runs one console command line as a child process with standard output and standard error in
// one pipe, hands the text to its owner chunk by chunk (ReceiveOutputs, at most 1024 characters
// each) and raises CommandOver once the command is over: the child has ended and what it wrote
// has been read. It follows its own child only (a batch::ConverterProcess underneath): another
// program's converter running meanwhile changes nothing. ExecuteCommand starts the command and
// returns; both events come from the event loop afterwards, so nothing nests and nothing waits.
class DOSOutputs final : public batch::ConverterProcess
{
    Q_OBJECT
public:
    explicit DOSOutputs(MessageBoxes *boxes, QObject *parent = nullptr);

    // The command line as text (what the logs show). Setting it clears the argument list: the
    // text is then split like QProcess::splitCommand when the command starts.
    void setCommandLine(const QString &line);
    QString CommandLine() const { return m_commandLine; }
    // The argument list the command starts with (the program first), when the caller has it:
    // the text is not split again then.
    void setArguments(const QStringList &arguments) { m_arguments = arguments; }
    QStringList arguments() const { return m_arguments; }
    // "NAME=value" entries the next commands get over this process's environment.
    void setEnvironment(const QStringList &entries) { m_environment = entries; }
    // All text of the running or last command.
    QString Outputs() const { return outputs(); }

    // Starts the stored command (replaced first by a non-empty argument). True when it runs:
    // ReceiveOutputs and CommandOver follow. On failure a message box says why ("Command Line
    // empty", "File or command not found" or "CreatePipe failed. Error: " and the number) and
    // no event follows.
    bool ExecuteCommand(const QString &argument = QString());

    // How the last command ended.
    const batch::ProcessOutcome &lastEnding() const { return outcome(); }
    // Stops following the running command (the window is going away): no CommandOver comes,
    // the child keeps running and is reaped in the background.
    void abandon() { detach(); }
    // Asks the running child to stop (SIGTERM) and kills it (SIGKILL) when it has not ended
    // `killAfterMs` later. The command then ends as usual, with CommandOver.
    void terminate(int killAfterMs = 3000) { stop(killAfterMs); }
    bool terminateRequested() const { return isStopping(); }
    // The process id of the running child, -1 when none runs.
    pid_t childPid() const { return pid(); }

signals:
    void ReceiveOutputs(const QString &CommandOutputs);
    void CommandOver();

private:
    void fail(const QString &text);

    MessageBoxes *m_boxes;
    QString m_commandLine;
    QStringList m_arguments;
    QStringList m_environment;
};

} // namespace zm
