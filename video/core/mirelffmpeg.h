#pragma once

#include "core/mirelthread.h"

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

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

// Runs the converter once on its own worker thread. The command line is copied in and the
// thread starts at the end of the constructor; IsFinished() turns true once the converter has
// ended or failed to start. The converter inherits only its standard descriptors: stdin reads
// /dev/null, stdout is the program's, stderr is a pipe the worker drains into the log file.
//
// Ending a converter from outside always asks first (SIGTERM, so it removes its partial
// output) and forces (SIGKILL) only when it is still there after TermGrace. Only our own child
// is ever signalled: it is reaped under processLock, so its id can never have been recycled.
// Destroying a runner whose converter still runs does all that and waits for the worker
// thread; a caller that must not block uses RunnerStopper instead.
class MirelFFmpeg final : public MirelThread
{
public:
    // Size of the command-line buffer including the terminating NUL: at most 1999 bytes fit.
    static constexpr std::size_t CommandLineBufferSize = 2000;

    // How long a converter asked to end may take before it is killed.
    static constexpr std::chrono::milliseconds TermGrace{3000};

    // `commandLine` is split like QProcess::splitCommand (blanks separate, a double-quoted run
    // is one argument, """ is a literal quote); its first word is the name the converter sees
    // for itself, `program` is the file that runs. The converter's standard error is appended
    // to `logPath` (none when empty or when it cannot be opened). It inherits our environment
    // with the "NAME=value" entries of `environment` set over it.
    MirelFFmpeg(const std::string &commandLine, std::string program, std::string logPath = {},
                const std::vector<std::string> &environment = {});
    ~MirelFFmpeg();

    MirelFFmpeg(const MirelFFmpeg &) = delete;
    MirelFFmpeg &operator=(const MirelFFmpeg &) = delete;

    bool IsFinished();
    RunResult Result();
    // Asks a running converter to end (SIGTERM). A converter not started yet never starts.
    // False when there is nothing left to end.
    bool Terminate();
    // Ends a running converter at once (SIGKILL). False when there is nothing left to end.
    bool Kill();
    // Process id of the converter once started (0 before or when it could not start).
    pid_t Pid();

protected:
    void Run() override;

private:
    // Sends `sig` to our own live child; marks a runner not yet started as cancelled.
    bool Signal(int sig);

    MirelLock processLock;
    std::string commandLine;
    std::string program;
    std::string logPath;
    std::vector<std::string> environment; // the converter's whole environment
    bool tooLong = false;
    bool finished = false;  // guarded by processLock
    bool cancelled = false; // guarded by processLock
    pid_t pid = 0;          // guarded by processLock; our child until finished
    RunResult result;       // guarded by processLock
};

} // namespace vidrune
