#pragma once

#include <QStringList>

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace batch {
class ConverterProcess;
struct ProcessOutcome;
} // namespace batch

namespace vidrune {

// How one converter run ended.
enum class RunOutcome {
    Pending,        // still running (or not started yet)
    Succeeded,      // exit status 0
    Failed,         // non-zero exit status
    Killed,         // ended by a signal (including our own forced end)
    StartFailed,    // the converter could not be started
    CommandTooLong, // the command line does not fit its buffer; nothing was started
    Cancelled,      // destroyed before the converter was started
};

struct RunResult {
    RunOutcome outcome = RunOutcome::Pending;
    int exitCode = 0;     // for Failed
    int signal = 0;       // for Killed
    int error = 0;        // errno for StartFailed
    std::string lastLine; // the converter's last non-empty line on standard error
};

// Runs the converter once. The command line is copied in and the converter starts in the
// constructor; IsFinished() turns true once it has ended (seen on the event loop of the thread
// that made the runner) or could not be started. The converter inherits only its standard
// descriptors: stdin reads /dev/null, stdout is the program's, stderr is appended to the log.
// It is a batch::ConverterProcess underneath: no thread of its own, nothing waits.
//
// Ending a converter from outside always asks first (SIGTERM, so it removes its partial
// output) and forces (SIGKILL) only when it is still there after TermGrace. Only our own child
// is ever signalled. Destroying a runner whose converter still runs does the same without
// waiting: the converter is handed to the reaper, which kills it when the grace time is over.
class MirelFFmpeg final
{
public:
    // Size of the command-line buffer including the terminating NUL: at most 1999 bytes fit.
    static constexpr std::size_t CommandLineBufferSize = 2000;

    // How long a converter asked to end may take before it is killed.
    static constexpr std::chrono::milliseconds TermGrace{3000};

    using Done = std::function<void(const RunResult &)>;

    // `commandLine` is the converter's command line as the logs show it; it must fit the
    // buffer. The converter gets `arguments` (its own name first), or, when that is empty, the
    // command line split like QProcess::splitCommand (blanks separate, a double-quoted run is
    // one argument, """ is a literal quote). `program` is the file that runs. Standard error is
    // appended to `logPath` (none when empty; when it cannot be opened the last line is still
    // kept). It inherits our environment with the "NAME=value" entries of `environment` over it.
    MirelFFmpeg(const std::string &commandLine, const std::string &program,
                const std::string &logPath = {}, const std::vector<std::string> &environment = {},
                const QStringList &arguments = {});
    ~MirelFFmpeg();

    MirelFFmpeg(const MirelFFmpeg &) = delete;
    MirelFFmpeg &operator=(const MirelFFmpeg &) = delete;

    bool IsFinished() const;
    RunResult Result() const;
    // Asks a running converter to end (SIGTERM), and kills it (SIGKILL) when it is still there
    // after TermGrace. False when there is nothing left to end.
    bool Terminate();
    // Ends a running converter at once (SIGKILL). False when there is nothing left to end.
    bool Kill();
    // Process id of the converter once started (0 when it could not start).
    pid_t Pid() const;
    // `done` runs once with the result when the converter has ended (at once when it has); the
    // runner may be destroyed inside it.
    void WhenFinished(Done done);

private:
    void Ended(const batch::ProcessOutcome &outcome);

    std::unique_ptr<batch::ConverterProcess> m_process;
    bool m_finished = false;
    RunResult m_result;
    Done m_done;
};

} // namespace vidrune
