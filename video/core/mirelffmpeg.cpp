#include "core/mirelffmpeg.h"

#include "process/converterprocess.h"

#include <QProcess>
#include <QString>

#include <algorithm>
#include <cstdio>

namespace vidrune {

MirelFFmpeg::MirelFFmpeg(const std::string &commandLine, const std::string &program,
                         const std::string &logPath, const std::vector<std::string> &environment,
                         const QStringList &arguments)
    : m_process(std::make_unique<batch::ConverterProcess>())
{
    // The buffer is never truncated: a line that does not fit fails the run instead.
    if (commandLine.size() >= CommandLineBufferSize
        || commandLine.find('\0') != std::string::npos) {
        m_result.outcome = RunOutcome::CommandTooLong;
        m_finished = true;
        return;
    }
    batch::ProcessRequest request;
    request.program = QString::fromStdString(program);
    request.arguments = arguments.isEmpty()
                            ? QProcess::splitCommand(QString::fromUtf8(commandLine.c_str()))
                            : arguments;
    for (const std::string &e : environment)
        request.environment << QString::fromStdString(e);
    request.stdoutTo = batch::Stream::Inherit;
    request.stderrTo = logPath.empty() ? batch::Stream::Pipe : batch::Stream::File;
    request.stderrFile = QString::fromStdString(logPath);
    request.keepOutput = false;
    QObject::connect(m_process.get(), &batch::ConverterProcess::finished, m_process.get(),
                     [this](const batch::ProcessOutcome &outcome) { Ended(outcome); });
    if (!m_process->start(request)) {
        // The one trace of a failed start, on standard output (the user is not told; the
        // dialog marks the file as failed).
        const int error = m_process->outcome().startError;
        std::printf("CreateProcess failed (%d).\n", error);
        std::fflush(stdout);
        m_result.outcome = RunOutcome::StartFailed;
        m_result.error = error;
        m_finished = true;
    }
}

MirelFFmpeg::~MirelFFmpeg()
{
    // Asked first, so the converter can remove what it had begun to write; the reaper forces
    // it when it is still there after the grace time. Nothing waits here.
    m_done = nullptr;
    Terminate();
}

void MirelFFmpeg::Ended(const batch::ProcessOutcome &outcome)
{
    RunResult r;
    if (outcome.ending == batch::ProcessOutcome::Ending::Signalled) {
        r.outcome = RunOutcome::Killed;
        r.signal = outcome.signal;
    } else {
        r.exitCode = outcome.exitCode;
        r.outcome = outcome.exitCode == 0 ? RunOutcome::Succeeded : RunOutcome::Failed;
    }
    r.lastLine = outcome.lastLine.toStdString();
    m_result = r;
    m_finished = true;
    if (Done done = std::move(m_done))
        done(r);
}

bool MirelFFmpeg::IsFinished() const
{
    return m_finished;
}

RunResult MirelFFmpeg::Result() const
{
    return m_result;
}

bool MirelFFmpeg::Terminate()
{
    if (m_finished || !m_process->isRunning())
        return false;
    m_process->stop(int(TermGrace.count()));
    return true;
}

bool MirelFFmpeg::Kill()
{
    if (m_finished || !m_process->isRunning())
        return false;
    m_process->kill();
    return true;
}

pid_t MirelFFmpeg::Pid() const
{
    return std::max<pid_t>(m_process->lastPid(), 0);
}

void MirelFFmpeg::WhenFinished(Done done)
{
    if (m_finished) {
        if (done)
            done(m_result);
        return;
    }
    m_done = std::move(done);
}

} // namespace vidrune
