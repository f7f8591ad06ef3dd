#pragma once
// The two pidfd calls, straight to the kernel: Debian 12's <sys/pidfd.h> declares them without
// C linkage, so C++ cannot link against it.
#include <csignal>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

namespace batch {

// A descriptor naming `pid` (close-on-exec), -1 with errno on failure.
inline int pidfdOpen(pid_t pid)
{
    return int(::syscall(SYS_pidfd_open, pid, 0));
}

// Sends `sig` to the process the descriptor names; never to another process that has been given
// its id since.
inline int pidfdSignal(int pidfd, int sig)
{
    return int(::syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0));
}

} // namespace batch
