#include "common/progress.h"
#include "common/errors.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace zmconv {

namespace {
// Set by the signal handler, read by every thread of the conversion.
std::atomic<bool> g_stop{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag is set in a signal handler");
// The handler also writes a byte into this pipe, so a wait in poll() ends even when the signal
// came just before the wait began (a flag alone would be checked too early).
std::atomic<int> g_wake_read{-1};
std::atomic<int> g_wake_write{-1};

extern "C" void on_stop_signal(int)
{
    const int saved = errno;
    g_stop.store(true, std::memory_order_relaxed);
    const int fd = g_wake_write.load(std::memory_order_relaxed);
    if (fd >= 0)
        (void)!::write(fd, "x", 1);
    errno = saved;
}

void make_wake_pipe()
{
    if (g_wake_read.load() >= 0)
        return;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // waits then end on a signal's EINTR only
    g_wake_read.store(fds[0]);
    g_wake_write.store(fds[1]);
}
} // namespace

ProgressThrottle::ProgressThrottle(Report report, std::chrono::milliseconds interval)
    : m_report(std::move(report)), m_interval(interval)
{}

void ProgressThrottle::update(double seconds)
{
    update_at(seconds, Clock::now());
}

void ProgressThrottle::update_at(double seconds, Clock::time_point now)
{
    if (m_any && now - m_last < m_interval)
        return;
    m_any = true;
    m_last = now;
    m_report(seconds);
}

void ProgressThrottle::finish(double seconds)
{
    m_any = true;
    m_last = Clock::now();
    m_report(seconds);
}

bool wait_writable(int fd, int timeout_ms)
{
    for (;;) {
        if (stop_requested())
            return false;
        pollfd fds[2] = {{fd, POLLOUT, 0},
                         {g_wake_read.load(std::memory_order_relaxed), POLLIN, 0}};
        const int n = ::poll(fds, fds[1].fd >= 0 ? 2 : 1, timeout_ms);
        if (n < 0 && errno == EINTR)
            continue;
        if (stop_requested())
            return false;
        return n != 0 || timeout_ms < 0; // writable, or an error the write itself will report
    }
}

bool wait_for_stop(int timeout_ms)
{
    if (stop_requested())
        return true;
    pollfd wake{g_wake_read.load(std::memory_order_relaxed), POLLIN, 0};
    if (wake.fd >= 0)
        (void)::poll(&wake, 1, timeout_ms);
    else
        ::usleep(static_cast<useconds_t>(timeout_ms) * 1000);
    return stop_requested();
}

void write_text(int fd, std::string_view text)
{
    while (!text.empty()) {
        // A pipe nobody drains would block the write; the wait ends on a stop instead. What
        // can be written at once is written, a stop's own line included.
        pollfd now{fd, POLLOUT, 0};
        if (::poll(&now, 1, 0) == 0 && !wait_writable(fd))
            return;
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR && !stop_requested())
                continue;
            return; // closed pipe or fd: the conversion goes on without progress output
        }
        text.remove_prefix(static_cast<size_t>(n));
    }
}

void install_signal_handlers()
{
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (int sig : {SIGPIPE, SIGHUP, SIGXFSZ})
        sigaction(sig, &ignore, nullptr);

    make_wake_pipe();
    struct sigaction stop {};
    stop.sa_handler = on_stop_signal;
    sigemptyset(&stop.sa_mask);
    sigset_t stops;
    sigemptyset(&stops);
    for (int sig : {SIGINT, SIGTERM}) {
        sigaction(sig, &stop, nullptr);
        sigaddset(&stops, sig);
    }
    // A starter may hand these signals over blocked, so that one sent before the handlers were
    // in place waits instead of killing the process; with the handlers set, it is let through
    // (and one that waits is delivered at once).
    sigprocmask(SIG_UNBLOCK, &stops, nullptr);
}

bool stop_requested()
{
    return g_stop.load(std::memory_order_relaxed);
}

void set_stop_requested(bool stop)
{
    make_wake_pipe();
    g_stop.store(stop, std::memory_order_relaxed);
    if (stop) {
        (void)!::write(g_wake_write.load(), "x", 1);
    } else {
        char drain[64];
        while (::read(g_wake_read.load(), drain, sizeof drain) > 0) {
        }
    }
}

void throw_if_stopped()
{
    if (stop_requested())
        throw ConvError(Failure::Interrupted, "interrupted");
}

} // namespace zmconv
