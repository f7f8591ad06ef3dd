#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

namespace batch {

// Where one standard stream of a child goes.
enum class Stream {
    Inherit, // this process's own
    Null,    // /dev/null
    Pipe,    // read by the ConverterProcess (stdout and stderr both Pipe: one merged pipe)
    File,    // appended to ProcessRequest::stderrFile (standard error only)
};

// Everything a child is started with. Standard input is always /dev/null; every descriptor of
// this process but the three standard ones (and `passDescriptors`) stays out of the child; the
// child starts with every signal at its default action and with SIGTERM and SIGINT blocked, so
// that a stop in its first moments waits until it has installed its handlers (the converters
// unblock them then; one that never does is still ended by SIGKILL after the grace time).
struct ProcessRequest {
    QString program;         // the file that runs; empty: arguments[0], looked up in PATH
                             // when it holds no '/'
    QStringList arguments;   // the child's argument vector, its own name first
    QStringList environment; // "NAME=value" entries set over this process's environment
    Stream stdoutTo = Stream::Pipe;
    Stream stderrTo = Stream::Pipe;
    // For Stream::File: the file standard error is appended to (made when missing). When it
    // cannot be opened, standard error goes into a pipe instead, so its last line is kept.
    QString stderrFile;
    // Descriptors of this process that the child gets as 3, 4, ... in this order.
    QList<int> passDescriptors;
    // Whether ConverterProcess::outputs() keeps all the text read (otherwise only its end).
    bool keepOutput = true;
};

// How one run of a child ended.
struct ProcessOutcome {
    enum class Ending {
        NotStarted,    // no run yet
        FailedToStart, // the program could not be started (startError)
        Exited,        // exitCode
        Signalled,     // ended by `signal`
    };
    Ending ending = Ending::NotStarted;
    int exitCode = -1;
    int signal = 0;
    int startError = 0;            // errno of a failed start
    bool pipeFailed = false;       // the failed start could not even make the output pipe
    bool stopRequested = false;    // stop() was called before the child had ended
    bool killedAfterGrace = false; // it outlasted the grace time and was killed
    QString lastLine;              // the last line with more than blanks on its standard error (on
                                   // the merged pipe, the last line of its output)

    bool started() const { return ending == Ending::Exited || ending == Ending::Signalled; }
    bool succeeded() const { return ending == Ending::Exited && exitCode == 0; }
    // "exit code 3", "signal 9 (after the grace time)", "could not be started: No such file ..."
    QString describe() const;
};

// The last line of `text` that holds more than blanks, trimmed; lines end at "\n" or "\r".
QString lastLineOf(const QString &text);

} // namespace batch

Q_DECLARE_METATYPE(batch::ProcessOutcome)
