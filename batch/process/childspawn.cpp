#include "process/childspawn.h"

#include <QByteArray>
#include <QFile>
#include <QHash>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include "process/pidfd.h"
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace batch {

namespace {

// Closes a descriptor of this process once the scope ends.
struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() { reset(); }
    void reset(int f = -1)
    {
        if (fd >= 0)
            ::close(fd);
        fd = f;
    }
    int release()
    {
        const int f = fd;
        fd = -1;
        return f;
    }
};

// Byte strings that outlive the spawn, and the NULL-terminated vector pointing into them.
struct CStrings {
    std::vector<QByteArray> storage;
    std::vector<char *> pointers;
    void add(QByteArray s) { storage.push_back(std::move(s)); }
    char **vector()
    {
        pointers.clear();
        for (QByteArray &s : storage)
            pointers.push_back(s.data());
        pointers.push_back(nullptr);
        return pointers.data();
    }
};

// This process's environment with `changes` ("NAME=value") set over it.
CStrings environmentWith(const QStringList &changes)
{
    QHash<QByteArray, qsizetype> changed;
    for (qsizetype i = 0; i < changes.size(); ++i)
        changed.insert(changes.at(i).section(QLatin1Char('='), 0, 0).toLocal8Bit(), i);
    CStrings env;
    for (char **e = environ; e && *e; ++e) {
        const QByteArray entry(*e);
        const qsizetype eq = entry.indexOf('=');
        if (!changed.contains(eq < 0 ? entry : entry.left(eq)))
            env.add(entry);
    }
    for (const QString &c : changes)
        env.add(c.toLocal8Bit());
    return env;
}

} // namespace

sigset_t childSignalMask()
{
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    return mask;
}

SpawnedChild spawnChild(const ProcessRequest &request)
{
    SpawnedChild child;
    if (request.arguments.isEmpty()) {
        child.error = EINVAL;
        return child;
    }
    const bool outPipe = request.stdoutTo == Stream::Pipe;
    bool errPipe = request.stderrTo == Stream::Pipe;

    Fd errFile;
    if (request.stderrTo == Stream::File) {
        errFile.reset(
            ::open(QFile::encodeName(request.stderrFile).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
        struct stat st {};
        if (errFile.fd >= 0 && ::fstat(errFile.fd, &st) == 0)
            child.stderrFileStart = st.st_size;
        else
            errPipe = true; // the log is lost, the last line is not
    }

    Fd readEnd, writeEnd;
    if (outPipe || errPipe) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            child.error = errno;
            child.pipeFailed = true;
            return child;
        }
        readEnd.reset(ends[0]);
        writeEnd.reset(ends[1]);
    }

    // The passed descriptors are copied above the numbers they get in the child, so that
    // placing one never overwrites another still to be placed.
    const int firstFree = 3 + int(request.passDescriptors.size());
    std::vector<Fd> passed(size_t(request.passDescriptors.size()));
    for (qsizetype i = 0; i < request.passDescriptors.size(); ++i) {
        passed[size_t(i)].reset(::fcntl(request.passDescriptors.at(i), F_DUPFD_CLOEXEC, firstFree));
        if (passed[size_t(i)].fd < 0) {
            child.error = errno;
            return child;
        }
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const auto place = [&](Stream to, int target, bool pipe, int file) {
        if (pipe)
            posix_spawn_file_actions_adddup2(&actions, writeEnd.fd, target);
        else if (to == Stream::Null)
            posix_spawn_file_actions_addopen(&actions, target, "/dev/null", O_WRONLY, 0);
        else if (to == Stream::File && file >= 0)
            posix_spawn_file_actions_adddup2(&actions, file, target);
    };
    place(request.stdoutTo, STDOUT_FILENO, outPipe, -1);
    place(request.stderrTo, STDERR_FILENO, errPipe, errFile.fd);
    for (size_t i = 0; i < passed.size(); ++i)
        posix_spawn_file_actions_adddup2(&actions, passed[i].fd, 3 + int(i));
    posix_spawn_file_actions_addclosefrom_np(&actions, firstFree);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t all;
    sigfillset(&all);
    const sigset_t blocked = childSignalMask();
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &blocked);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    CStrings argv;
    for (const QString &a : request.arguments)
        argv.add(QFile::encodeName(a));
    CStrings env = environmentWith(request.environment);
    pid_t pid = -1;
    int rc;
    if (request.program.isEmpty()) {
        rc = ::posix_spawnp(&pid, argv.storage.front().constData(), &actions, &attr, argv.vector(), env.vector());
    } else {
        const QByteArray program = QFile::encodeName(request.program);
        rc = ::posix_spawn(&pid, program.constData(), &actions, &attr, argv.vector(), env.vector());
    }
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    // Only the child holds the write end now: the pipe ends when the child (and whatever
    // inherited the end from it) has gone.
    writeEnd.reset();
    if (rc != 0) {
        child.error = rc;
        return child;
    }

    // The child cannot be reaped by anybody but us, so its id still names it here.
    const int pidfd = pidfdOpen(pid);
    if (pidfd < 0) {
        child.error = errno;
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        return child;
    }
    if (readEnd.fd >= 0)
        ::fcntl(readEnd.fd, F_SETFL, ::fcntl(readEnd.fd, F_GETFL) | O_NONBLOCK);
    child.pid = pid;
    child.pidfd = pidfd;
    child.readFd = readEnd.release();
    return child;
}

} // namespace batch
