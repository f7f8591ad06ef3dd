// Running programs from tests: argument lists only (never a shell), with a time limit, and
// waiting on conditions while Qt's events keep flowing.
#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <sys/types.h>

namespace testsupport {

struct RunResult {
    int exitCode = -1;
    bool crashed = false;  // ended by a signal
    bool timedOut = false; // killed after the time limit
    QByteArray out;
    QByteArray err;
    // Finished on its own with exit code 0.
    bool ok() const { return !crashed && !timedOut && exitCode == 0; }
};

// Runs `program` with `args` and waits for it. A program that cannot start gives exitCode -1.
RunResult run(const QString &program, const QStringList &args, int timeoutMs = 120000,
              const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
              const QString &workingDir = {});

// The fields of /proc/<pid>/stat the tests look at; nothing when there is no such process.
struct ProcStat {
    char state = 0; // R, S, D, Z (zombie), X (dead), ...
    pid_t parent = 0;
};
std::optional<ProcStat> procStat(pid_t pid);

// True while `pid` runs (a zombie counts as gone).
bool processExists(pid_t pid);

// True once no process has the id `pid` at all, not even a zombie waiting to be reaped: what a
// program that reaps its children must leave behind.
bool gone(pid_t pid);

// True while `pid` is a zombie: ended, and nobody has reaped it yet.
bool isZombie(pid_t pid);

// Processes Qt events until `done` holds or `timeoutMs` passed; returns `done()`.
bool waitFor(const std::function<bool()> &done, int timeoutMs = 10000);

} // namespace testsupport
