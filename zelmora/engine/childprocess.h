#pragma once
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <sys/types.h>

namespace zm {

// How a converter child ended. `known` is false when its end was not seen (it was left to a
// background reaper while it still ran).
struct ProcessEnding {
    bool started = false;
    bool known = false;
    int exitCode = -1;
    int signal = 0;
    bool succeeded() const { return started && known && signal == 0 && exitCode == 0; }
};

// A child started with one pipe for its standard output and standard error.
struct SpawnedChild {
    pid_t pid = -1;
    int readFd = -1; // the read end, close-on-exec; the caller closes it
};

// Starts args[0] (looked up in PATH when it has no "/") with args[1...], standard input from
// /dev/null, standard output and standard error into one new pipe, and no other descriptor of
// this process. On failure returns nothing and sets `error` to the message the user sees:
// "File or command not found" or "CreatePipe failed. Error: " and the error number.
bool spawnWithPipe(const QStringList &args, SpawnedChild &child, QString &error);

// Collects the exit status of `pid` into `ending` (blocking, or not when `block` is false).
// Returns false while the child still runs; true once it has been reaped (or is no child of
// ours any more).
bool reapChild(pid_t pid, bool block, ProcessEnding &ending);

// Reaps a child nobody follows any more, on a thread of its own. When it was asked to stop, it
// is killed once `killAfterMs` have passed without an exit (the thread is its only reaper by
// then, so the id still names that child). A negative `killAfterMs` lets it run to its end.
void reapInBackground(pid_t pid, qint64 killAfterMs = -1);

// True once every writer of the pipe behind `fd` has closed it.
bool pipeWritersGone(int fd);
// True when data waits in the pipe behind `fd` (or it has ended).
bool pipeReadable(int fd);

// The executable name (comm) of a process ("self" for this one), empty when it is gone.
QString processName(const QString &pid);

} // namespace zm
