#pragma once

#include "mirelthread.h"

#include <sys/types.h>

#include <cstddef>
#include <string>

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
};

const char *RunOutcomeName(RunOutcome outcome);

// Runs the converter once on its own worker thread. The command line is copied in and the
// thread starts at the end of the constructor; IsFinished() turns true once the converter has
// ended or failed to start. Destroying a runner whose converter still runs ends that converter
// (only our own child: it is reaped under processLock, so its id can never have been recycled)
// and waits for the worker thread.
class MirelFFmpeg final : public MirelThread
{
public:
    // Size of the command-line buffer including the terminating NUL: at most 1999 bytes fit.
    static constexpr std::size_t CommandLineBufferSize = 2000;

    // `commandLine` is split like QProcess::splitCommand (blanks separate, a double-quoted run
    // is one argument, """ is a literal quote); its first word is the name the converter sees
    // for itself, `program` is the file that runs.
    explicit MirelFFmpeg(const std::string &commandLine,
                         std::string program = DefaultProgram());
    ~MirelFFmpeg();

    MirelFFmpeg(const MirelFFmpeg &) = delete;
    MirelFFmpeg &operator=(const MirelFFmpeg &) = delete;

    bool IsFinished();
    RunResult Result();
    // Process id of the converter once started (0 before or when it could not start).
    pid_t Pid();

    // Folder of the running executable and the converter beside it.
    static std::string ApplicationFolder();
    static std::string DefaultProgram();

protected:
    void Run() override;

private:
    MirelLock processLock;
    std::string commandLine;
    std::string program;
    bool tooLong = false;
    int finished = 0;       // guarded by processLock
    bool cancelled = false; // guarded by processLock
    pid_t pid = 0;          // guarded by processLock; our child until finished is 1
    RunResult result;       // guarded by processLock
};
