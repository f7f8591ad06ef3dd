#include "core/mirelffmpeg.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace vidrune {

namespace {

// Our environment with `changes` ("NAME=value") set over it.
std::vector<std::string> MergedEnvironment(const std::vector<std::string> &changes)
{
    const auto nameOf = [](const std::string &entry) { return entry.substr(0, entry.find('=')); };
    std::vector<std::string> merged;
    for (char **e = environ; e && *e; ++e) {
        const std::string entry(*e);
        bool replaced = false;
        for (const std::string &change : changes)
            replaced = replaced || nameOf(change) == nameOf(entry);
        if (!replaced)
            merged.push_back(entry);
    }
    merged.insert(merged.end(), changes.begin(), changes.end());
    return merged;
}

} // namespace

MirelFFmpeg::MirelFFmpeg(const std::string &line, std::string programFile, std::string log,
                         const std::vector<std::string> &changes)
    : program(std::move(programFile)), logPath(std::move(log)),
      environment(MergedEnvironment(changes))
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
        finished = true;
    }
}

MirelFFmpeg::~MirelFFmpeg()
{
    // Asked first, so the converter can remove what it had begun to write; forced only when
    // it is still there after the grace time.
    if (Terminate()) {
        const auto deadline = std::chrono::steady_clock::now() + TermGrace;
        while (!IsFinished() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        Kill();
    }
    StopAndWait();
}

bool MirelFFmpeg::Signal(int sig)
{
    MirelLockHolder hold(processLock);
    if (finished)
        return false;
    cancelled = true;
    // pid is still our unreaped child here (reaping happens under this lock together with
    // finished := true), so it cannot belong to anybody else.
    if (pid > 0)
        ::kill(pid, sig);
    return true;
}

bool MirelFFmpeg::Terminate()
{
    return Signal(SIGTERM);
}

bool MirelFFmpeg::Kill()
{
    return Signal(SIGKILL);
}

bool MirelFFmpeg::IsFinished()
{
    MirelLockHolder hold(processLock);
    return finished;
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

namespace {

// Starts `program` with `args`: stdin from /dev/null, stderr into `errorPipe` (when >= 0),
// no other descriptor of ours, signals back to their defaults.
int SpawnConverter(const std::string &program, const QStringList &args,
                   std::vector<std::string> &environment, int errorPipe, pid_t *child)
{
    std::vector<std::string> storage;
    storage.reserve(static_cast<std::size_t>(args.size()));
    for (const QString &a : args)
        storage.push_back(a.toStdString());
    std::vector<char *> argv;
    argv.reserve(storage.size() + 1);
    for (std::string &s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    std::vector<char *> envp;
    envp.reserve(environment.size() + 1);
    for (std::string &e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (errorPipe >= 0)
        posix_spawn_file_actions_adddup2(&actions, errorPipe, STDERR_FILENO);
    // Sockets, pipes and shared memory of the dialog (and of its web view) stay ours.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int rc = ::posix_spawn(child, program.c_str(), &actions, &attr, argv.data(), envp.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return rc;
}

// The last line of `text` that holds more than blanks, without its line end.
std::string LastLine(const std::string &text)
{
    std::size_t end = text.size();
    while (end > 0) {
        const std::size_t newline = text.rfind('\n', end - 1);
        const std::size_t from = newline == std::string::npos ? 0 : newline + 1;
        std::string line = text.substr(from, end - from);
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
            line.pop_back();
        if (!line.empty())
            return line;
        end = newline == std::string::npos ? 0 : newline;
    }
    return {};
}

// Reads the converter's standard error until it closes: every byte goes to the log file (when
// there is one), the end is kept for the last line.
std::string DrainErrors(int readEnd, int logFile)
{
    constexpr std::size_t Keep = 4096;
    std::string tail;
    char buffer[1024];
    for (;;) {
        const ssize_t n = ::read(readEnd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (logFile >= 0) {
            for (ssize_t done = 0; done < n;) {
                const ssize_t w =
                    ::write(logFile, buffer + done, static_cast<std::size_t>(n - done));
                if (w < 0 && errno == EINTR)
                    continue;
                if (w <= 0)
                    break; // a full disk loses log text, never the conversion
                done += w;
            }
        }
        tail.append(buffer, static_cast<std::size_t>(n));
        if (tail.size() > 2 * Keep)
            tail.erase(0, tail.size() - Keep);
    }
    return tail;
}

} // namespace

void MirelFFmpeg::Run()
{
    RunResult outcome;
    pid_t child = 0;
    int errorPipe[2] = {-1, -1};
    {
        MirelLockHolder hold(processLock);
        if (tooLong) {
            outcome.outcome = RunOutcome::CommandTooLong;
        } else if (cancelled) {
            outcome.outcome = RunOutcome::Cancelled;
        } else {
            const QStringList args = QProcess::splitCommand(QString::fromUtf8(commandLine));
            // Both ends close on exec: the child gets the write end only as its stderr.
            if (::pipe2(errorPipe, O_CLOEXEC) != 0)
                errorPipe[0] = errorPipe[1] = -1;
            int rc = args.isEmpty()
                         ? EINVAL
                         : SpawnConverter(program, args, environment, errorPipe[1], &child);
            if (errorPipe[1] >= 0)
                ::close(errorPipe[1]);
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
            if (errorPipe[0] >= 0)
                ::close(errorPipe[0]);
            result = outcome;
            finished = true;
            return;
        }
    }

    std::string errors;
    if (errorPipe[0] >= 0) {
        const int logFile =
            logPath.empty()
                ? -1
                : ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        errors = DrainErrors(errorPipe[0], logFile);
        if (logFile >= 0)
            ::close(logFile);
        ::close(errorPipe[0]);
    }
    outcome.lastLine = LastLine(errors);

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
    finished = true;
}

} // namespace vidrune
