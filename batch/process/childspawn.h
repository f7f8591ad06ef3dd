#pragma once

#include "process/processrequest.h"

#include <sys/types.h>

namespace batch {

// A child started by spawnChild: its pid, a pidfd that names it for as long as it is not
// reaped (and never names another process), and the read end of its output pipe.
struct SpawnedChild {
    pid_t pid = -1;
    int pidfd = -1;              // close-on-exec
    int readFd = -1;             // non-blocking, close-on-exec; -1 when nothing goes to a pipe
    qint64 stderrFileStart = -1; // size of ProcessRequest::stderrFile before the child began
    int error = 0;               // errno when the start failed (pid is -1 then)
    bool pipeFailed = false;     // it failed making the output pipe
    bool started() const { return pid > 0; }
};

// Starts the child `request` describes with posix_spawn: an argument list (no shell), standard
// input from /dev/null, the output streams as asked, only the standard descriptors (and the
// passed ones), every signal at its default action, SIGTERM and SIGINT blocked.
SpawnedChild spawnChild(const ProcessRequest &request);

// The signals a child starts with blocked.
sigset_t childSignalMask();

} // namespace batch
