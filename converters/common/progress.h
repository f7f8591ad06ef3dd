// Progress reporting shared by the converters: a throttle that passes on at most a few updates
// per second (plus the final one), and writing of text to a file descriptor that ignores a
// closed pipe. Signal set-up: SIGPIPE and SIGHUP ignored (a front-end or terminal that went
// away must not stop the conversion), SIGXFSZ ignored (an output past the file-size limit is a
// write error like a full disk, not a kill that leaves the file behind), SIGINT/SIGTERM turned
// into a flag the loops poll, so the partial output can be removed. The handlers do not restart
// an interrupted call, so a stop also ends a wait in a blocking read or write.
#pragma once

#include <chrono>
#include <functional>
#include <string_view>

namespace zmconv {

class ProgressThrottle
{
public:
    using Clock = std::chrono::steady_clock;
    using Report = std::function<void(double seconds)>;

    ProgressThrottle(Report report, std::chrono::milliseconds interval);
    // Reports when at least interval has passed since the last report.
    void update(double seconds);
    // Always reports (the final value).
    void finish(double seconds);
    // For tests: the clock is given.
    void update_at(double seconds, Clock::time_point now);

private:
    Report m_report;
    std::chrono::milliseconds m_interval;
    Clock::time_point m_last{};
    bool m_any = false;
};

// Writes all of text to fd, retrying on EINTR until a stop is requested; errors (EPIPE, closed
// fd) are ignored. A reader that stopped draining a pipe therefore never holds up a stop.
void write_text(int fd, std::string_view text);

// Waits until fd takes data (poll POLLOUT) or a stop is requested; false on a stop. A timeout
// (ms, -1 = none) that passes returns false too. Race-free: a signal that arrives just before
// the wait still ends it.
bool wait_writable(int fd, int timeout_ms = -1);
// Waits up to timeout_ms for a stop; true when one was requested.
bool wait_for_stop(int timeout_ms);

// Ignores SIGPIPE, SIGHUP and SIGXFSZ; makes SIGINT and SIGTERM set the stop flag, then unblocks
// those two (a stop that waited while they were blocked is delivered now).
void install_signal_handlers();
bool stop_requested();
// Sets or clears the stop flag as a signal would (for tests of the stop paths).
void set_stop_requested(bool stop);
// Throws ConvError(Failure::Interrupted) when a stop signal arrived.
void throw_if_stopped();

} // namespace zmconv
