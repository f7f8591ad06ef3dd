#include "mirelffmpeg.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

const char *RunOutcomeName(RunOutcome outcome)
{
    switch (outcome) {
    case RunOutcome::Pending: return "pending";
    case RunOutcome::Succeeded: return "succeeded";
    case RunOutcome::Failed: return "failed";
    case RunOutcome::Killed: return "killed";
    case RunOutcome::StartFailed: return "start failed";
    case RunOutcome::CommandTooLong: return "command line too long";
    case RunOutcome::Cancelled: return "cancelled";
    }
    return "?";
}

MirelFFmpeg::MirelFFmpeg(const std::string &line, std::string programFile)
    : program(std::move(programFile))
{
    // The buffer is never truncated: a line that does not fit fails the run instead.
    if (line.size() >= CommandLineBufferSize || line.find('\0') != std::string::npos)
        tooLong = true;
    else
        commandLine = line;
    if (!StartThread()) {
        // No worker thread: nothing was started, and the owner must still see an end.
        MirelLockHolder hold(processLock);
        result.outcome = RunOutcome::StartFailed;
        result.error = EAGAIN;
        finished = 1;
    }
}

MirelFFmpeg::~MirelFFmpeg()
{
    {
        MirelLockHolder hold(processLock);
        if (finished == 0) {
            cancelled = true;
            // pid is still our unreaped child here (reaping happens under this lock together
            // with finished := 1), so it cannot belong to anybody else.
            if (pid > 0)
                ::kill(pid, SIGKILL);
        }
    }
    StopAndWait();
}

bool MirelFFmpeg::IsFinished()
{
    MirelLockHolder hold(processLock);
    return finished != 0;
}

RunResult MirelFFmpeg::Result()
{
    MirelLockHolder hold(processLock);
    return result;
}

pid_t MirelFFmpeg::Pid()
{
    MirelLockHolder hold(processLock);
    return pid;
}

std::string MirelFFmpeg::ApplicationFolder()
{
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0)
            return ".";
        if (static_cast<std::size_t>(n) < buffer.size()) {
            std::string path(buffer.data(), static_cast<std::size_t>(n));
            const auto slash = path.rfind('/');
            if (slash == std::string::npos)
                return ".";
            return slash == 0 ? std::string("/") : path.substr(0, slash);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string MirelFFmpeg::DefaultProgram()
{
    std::string folder = ApplicationFolder();
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder + "vv";
}

namespace {

// Starts `program` with `args`; stdin from /dev/null, signals back to their defaults.
int SpawnConverter(const std::string &program, const QStringList &args, pid_t *child)
{
    std::vector<std::string> storage;
    storage.reserve(static_cast<std::size_t>(args.size()));
    for (const QString &a : args)
        storage.push_back(a.toStdString());
    std::vector<char *> argv;
    for (std::string &s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int rc = ::posix_spawn(child, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return rc;
}

} // namespace

void MirelFFmpeg::Run()
{
    RunResult outcome;
    pid_t child = 0;
    {
        MirelLockHolder hold(processLock);
        if (tooLong) {
            outcome.outcome = RunOutcome::CommandTooLong;
        } else if (cancelled) {
            outcome.outcome = RunOutcome::Cancelled;
        } else {
            const QStringList args = QProcess::splitCommand(QString::fromUtf8(commandLine));
            int rc = args.isEmpty() ? EINVAL : SpawnConverter(program, args, &child);
            if (rc != 0) {
                // The one trace of a failed start, on standard output (the user is not told;
                // the dialog marks the file as failed).
                std::printf("CreateProcess failed (%d).\n", rc);
                std::fflush(stdout);
                outcome.outcome = RunOutcome::StartFailed;
                outcome.error = rc;
                child = 0;
            } else {
                pid = child;
            }
        }
        if (child == 0) {
            result = outcome;
            finished = 1;
            return;
        }
    }

    // Wait for the end without reaping, so the id stays ours while the destructor may kill it.
    siginfo_t info;
    for (;;) {
        std::memset(&info, 0, sizeof info);
        if (::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT) == 0)
            break;
        if (errno != EINTR)
            break; // ECHILD: somebody else reaped it; the reap below finds out
    }

    MirelLockHolder hold(processLock);
    int status = 0;
    pid_t reaped;
    do {
        reaped = ::waitpid(child, &status, 0);
    } while (reaped < 0 && errno == EINTR);
    if (reaped == child && WIFEXITED(status)) {
        outcome.exitCode = WEXITSTATUS(status);
        outcome.outcome = outcome.exitCode == 0 ? RunOutcome::Succeeded : RunOutcome::Failed;
    } else if (reaped == child && WIFSIGNALED(status)) {
        outcome.signal = WTERMSIG(status);
        outcome.outcome = RunOutcome::Killed;
    } else {
        outcome.outcome = RunOutcome::Failed;
        outcome.exitCode = -1;
    }
    result = outcome;
    finished = 1;
}
