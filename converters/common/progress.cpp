#include "progress.h"
#include "errors.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace zmconv {

namespace {
// Set by the signal handler, read by every thread of the conversion.
std::atomic<bool> g_stop{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag is set in a signal handler");

extern "C" void on_stop_signal(int)
{
    g_stop.store(true, std::memory_order_relaxed);
}
} // namespace

ProgressThrottle::ProgressThrottle(Report report, std::chrono::milliseconds interval)
    : m_report(std::move(report)), m_interval(interval)
{
}

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

void write_text(int fd, std::string_view text)
{
    while (!text.empty()) {
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

    struct sigaction stop {};
    stop.sa_handler = on_stop_signal;
    sigemptyset(&stop.sa_mask);
    for (int sig : {SIGINT, SIGTERM})
        sigaction(sig, &stop, nullptr);
}

bool stop_requested()
{
    return g_stop.load(std::memory_order_relaxed);
}

void set_stop_requested(bool stop)
{
    g_stop.store(stop, std::memory_order_relaxed);
}

void throw_if_stopped()
{
    if (stop_requested())
        throw ConvError(Failure::Interrupted, "interrupted");
}

} // namespace zmconv
