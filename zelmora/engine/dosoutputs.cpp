#include "dosoutputs.h"

#include "seams.h"
#include "waitabletimer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSocketNotifier>
#include <QStringDecoder>

#include <algorithm>
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

namespace {

constexpr int kChunk = 1024;

// The executable name (comm) of a process, empty when it is gone.
QString processName(const QString &pid)
{
    QFile stat(QStringLiteral("/proc/") + pid + QStringLiteral("/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray line = stat.read(512);
    const int open = line.indexOf('(');
    const int close = line.lastIndexOf(')');
    if (open < 0 || close < open)
        return QString();
    return QString::fromUtf8(line.mid(open + 1, close - open - 1));
}

// Reaps a child this object no longer follows. When it was asked to stop, it is killed once
// `killAfterMs` have passed without an exit (the thread is its only reaper by then, so the id
// still names that child). A negative `killAfterMs` lets it run to its end.
void reapInBackground(pid_t pid, qint64 killAfterMs = -1)
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

} // namespace

DOSOutputs::DOSOutputs(MessageBoxes *boxes, QObject *parent) : QObject(parent), m_boxes(boxes)
{
    if (QCoreApplication::instance())
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &DOSOutputs::abandon);
    m_killTimer.setSingleShot(true);
    m_killTimer.setTimerType(Qt::PreciseTimer); // never before the grace time is over
    connect(&m_killTimer, &QTimer::timeout, this, &DOSOutputs::killNow);
}

DOSOutputs::~DOSOutputs()
{
    handOff();
}

void DOSOutputs::handOff()
{
    if (m_pid <= 0)
        return;
    m_killTimer.stop();
    reapInBackground(m_pid, m_terminating ? std::max<qint64>(m_killDeadline.remainingTime(), 0) : -1);
    m_pid = -1;
}

void DOSOutputs::terminate(int killAfterMs)
{
    // Only a child that has not been reaped yet is signalled: until then its id cannot have
    // been given to another process.
    if (!m_running || m_pid <= 0 || m_terminating)
        return;
    m_terminating = true;
    ::kill(m_pid, SIGTERM);
    m_killDeadline.setRemainingTime(killAfterMs);
    m_killTimer.start(std::max(killAfterMs, 0));
}

void DOSOutputs::killNow()
{
    if (m_pid > 0)
        ::kill(m_pid, SIGKILL);
}

void DOSOutputs::fail(const QString &text)
{
    if (m_boxes)
        m_boxes->show(MsgIcon::Error, QString::fromLatin1(kAppTitle), text);
}

bool DOSOutputs::reap(bool block)
{
    if (m_pid <= 0)
        return true;
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(m_pid, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0)
        return false;
    if (r == m_pid) {
        m_ending.known = true;
        if (WIFEXITED(status))
            m_ending.exitCode = WEXITSTATUS(status);
        else if (WIFSIGNALED(status))
            m_ending.signal = WTERMSIG(status);
    }
    m_pid = -1;
    return true;
}

namespace {
bool writersGone(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR));
}
} // namespace

void DOSOutputs::pause(clsWaitableTimer &timer, int readFd)
{
    // Once every writer has closed the pipe, what is left in it is read without pausing;
    // otherwise the 50 ms wait runs, ended early only by that hang-up.
    if (writersGone(readFd))
        return;
    QSocketNotifier hangup(readFd, QSocketNotifier::Read);
    connect(&hangup, &QSocketNotifier::activated, this, [&] {
        if (writersGone(readFd))
            timer.Cancel();
        else
            hangup.setEnabled(false); // plain data waits for the next pass
    });
    timer.Wait(50);
}

bool DOSOutputs::childStillStarting() const
{
    // Right after the start the child may not carry the converter's name yet: until its exec
    // has finished it is still named like this program.
    if (m_pid <= 0)
        return false;
    const QString name = processName(QString::number(m_pid));
    return !name.isEmpty() && name == processName(QStringLiteral("self"));
}

bool DOSOutputs::IsProcessRunning(const QString &name)
{
    const QString wanted = name.toLower();
    bool found = false;
    const QDir proc(QStringLiteral("/proc"));
    const QStringList entries = proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        if (entry.isEmpty() || !entry.at(0).isDigit())
            continue;
        QFile stat(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (comm) S ...": comm may itself hold blanks and parentheses.
        const QByteArray line = stat.read(512);
        const int open = line.indexOf('(');
        const int close = line.lastIndexOf(')');
        if (open < 0 || close < open || close + 2 >= line.size())
            continue;
        const char state = line.at(close + 2);
        if (state == 'Z' || state == 'X')
            continue; // a finished process that nobody has reaped yet does not run
        if (QString::fromUtf8(line.mid(open + 1, close - open - 1)).toLower() == wanted)
            found = true;
    }
    return found;
}

QString DOSOutputs::ExecuteCommand(const QString &argument)
{
    if (!argument.isEmpty())
        m_commandLine = argument;
    if (m_commandLine.isEmpty()) {
        fail(QStringLiteral("Command Line empty"));
        return QString();
    }
    handOff(); // a child of an earlier, abandoned command

    const QStringList args = QProcess::splitCommand(m_commandLine);
    int fds[2];
    if (args.isEmpty() || ::pipe2(fds, O_CLOEXEC) != 0) {
        const int err = args.isEmpty() ? EINVAL : errno;
        if (args.isEmpty()) {
            fail(QStringLiteral("File or command not found"));
            return QString();
        }
        fail(QStringLiteral("CreatePipe failed. Error: ") + QString::number(err));
        return QString();
    }

    std::vector<QByteArray> storage;
    storage.reserve(args.size());
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
    if (rc != 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        fail(QStringLiteral("File or command not found"));
        return QString();
    }

    // Only the child holds the write end now, so the pipe reports its end when the child (and
    // anything that inherited the end from it) is gone.
    ::close(fds[1]);
    const int readFd = fds[0];
    m_pid = pid;
    m_ending = Ending{};
    m_ending.started = true;
    m_outputs.clear();
    m_running = true;
    m_abandon = false;
    m_terminating = false;
    m_killTimer.stop();

    QStringDecoder decoder(QStringDecoder::Utf8);
    char buffer[kChunk];
    clsWaitableTimer timer;
    bool polling = true;
    while (polling && !m_abandon) {
        reap(false);
        pollfd p{readFd, POLLIN, 0};
        int ready;
        do {
            ready = ::poll(&p, 1, 0);
        } while (ready < 0 && errno == EINTR);
        if (ready != 0) {
            ssize_t n;
            do {
                n = ::read(readFd, buffer, kChunk);
            } while (n < 0 && errno == EINTR);
            if (n <= 0) {
                polling = false;
                const QString tail = decoder.decode(QByteArrayView()); // flush a cut character
                if (!tail.isEmpty()) {
                    m_outputs += tail;
                    emit ReceiveOutputs(tail);
                }
            } else {
                const QString text = decoder.decode(QByteArrayView(buffer, n));
                if (!text.isEmpty()) {
                    m_outputs += text;
                    emit ReceiveOutputs(text);
                }
            }
        } else if (!IsProcessRunning(m_watchedName) && !childStillStarting()) {
            // The converter may have written its last words and ended between the two looks;
            // what it left in the pipe is still read before the command counts as over.
            pollfd again{readFd, POLLIN, 0};
            if (::poll(&again, 1, 0) == 0)
                polling = false;
        }
        QCoreApplication::processEvents();
        if (polling && !m_abandon)
            pause(timer, readFd);
    }
    ::close(readFd);

    if (m_abandon) {
        m_running = false;
        handOff();
        return m_outputs;
    }

    // The pipe has ended; the child normally exits at the same moment. Give it a short while,
    // then leave it to a background reaper so the window never hangs on it.
    for (int i = 0; i < 50 && !reap(false); ++i)
        timer.Wait(10);
    handOff();
    m_killTimer.stop();
    m_running = false;
    emit CommandOver();
    return m_outputs;
}

} // namespace zm
