#include "support/process.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <cerrno>
#include <csignal>

namespace testsupport {

RunResult run(const QString &program, const QStringList &args, int timeoutMs,
              const QProcessEnvironment &env, const QString &workingDir)
{
    RunResult result;
    QProcess process;
    process.setProcessEnvironment(env);
    if (!workingDir.isEmpty())
        process.setWorkingDirectory(workingDir);
    process.start(program, args);
    if (!process.waitForStarted(10000)) {
        result.err = process.errorString().toUtf8();
        return result;
    }
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        result.timedOut = true;
        process.kill();
        process.waitForFinished(10000);
    }
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    result.crashed = process.exitStatus() == QProcess::CrashExit && !result.timedOut;
    result.exitCode = result.crashed || result.timedOut ? -1 : process.exitCode();
    return result;
}

std::optional<ProcStat> procStat(pid_t pid)
{
    if (pid <= 0)
        return std::nullopt;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    // pid (comm) state ppid ...: the fields follow the last ')' since comm may hold one.
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0 || close + 2 >= line.size())
        return std::nullopt;
    const QList<QByteArray> rest = line.mid(close + 2).split(' ');
    ProcStat s;
    s.state = rest.value(0).isEmpty() ? '\0' : rest.value(0).at(0);
    s.parent = pid_t(rest.value(1).toInt());
    return s;
}

bool processExists(pid_t pid)
{
    const auto s = procStat(pid);
    return s && s->state != 'Z' && s->state != 'X';
}

bool gone(pid_t pid)
{
    return pid > 0 && ::kill(pid, 0) == -1 && errno == ESRCH;
}

bool isZombie(pid_t pid)
{
    const auto s = procStat(pid);
    return s && s->state == 'Z';
}

bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return done();
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

} // namespace testsupport
