#include "engine/childprocess.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace zm {

QString processName(const QString &pid)
{
    QFile stat(QStringLiteral("/proc/") + pid + QStringLiteral("/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray line = stat.read(512);
    const qsizetype open = line.indexOf('(');
    const qsizetype close = line.lastIndexOf(')');
    if (open < 0 || close < open)
        return QString();
    return QString::fromUtf8(line.mid(open + 1, close - open - 1));
}

bool spawnWithPipe(const QStringList &args, SpawnedChild &child, QString &error)
{
    if (args.isEmpty()) {
        error = QStringLiteral("File or command not found");
        return false;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        error = QStringLiteral("CreatePipe failed. Error: ") + QString::number(errno);
        return false;
    }

    std::vector<QByteArray> storage;
    storage.reserve(size_t(args.size()));
    std::vector<char *> argv;
    for (const QString &a : args) {
        storage.push_back(a.toLocal8Bit());
        argv.push_back(storage.back().data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    // The child gets its three standard descriptors and nothing else of this process.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    // Only the child holds the write end now, so the pipe reports its end when the child (and
    // anything that inherited the end from it) is gone.
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        error = QStringLiteral("File or command not found");
        return false;
    }
    child.pid = pid;
    child.readFd = fds[0];
    return true;
}

bool reapChild(pid_t pid, bool block, ProcessEnding &ending)
{
    if (pid <= 0)
        return true;
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0)
        return false;
    if (r == pid) {
        ending.known = true;
        if (WIFEXITED(status))
            ending.exitCode = WEXITSTATUS(status);
        else if (WIFSIGNALED(status))
            ending.signal = WTERMSIG(status);
    }
    return true;
}

void reapInBackground(pid_t pid, qint64 killAfterMs)
{
    std::thread([pid, killAfterMs] {
        int status = 0;
        if (killAfterMs >= 0) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(killAfterMs);
            for (;;) {
                const pid_t r = ::waitpid(pid, &status, WNOHANG);
                if (r == pid || (r < 0 && errno != EINTR))
                    return;
                if (std::chrono::steady_clock::now() >= deadline) {
                    ::kill(pid, SIGKILL);
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

bool pipeWritersGone(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR));
}

bool pipeReadable(int fd)
{
    pollfd p{fd, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, 0);
    } while (ready < 0 && errno == EINTR);
    return ready != 0;
}

} // namespace zm
