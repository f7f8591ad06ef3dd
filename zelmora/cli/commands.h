#pragma once
#include "cli/clibatch.h"

#include <QString>
#include <QStringList>

#include <cstdio>

namespace zm::cli {

// The exit status of zelmora-cli.
enum ExitCode : int {
    kAllConverted = 0, // every file was converted
    kSomeFailed = 1,   // at least one was not (each reason is printed)
    kBadUsage = 2,     // unknown option, bad value, nothing to convert
    kInputMissing = 3, // run, status: an input of a job is not there (a missing mount)
    kInterrupted = 130 // SIGINT or SIGTERM: every converter stopped, nothing partial left
};

struct Streams {
    FILE *out = stdout;
    FILE *err = stderr;
};

// A command of zelmora-cli. `convert` is the one there is, and the one that runs when the first
// argument names no command; others (plan, run, status, ...) join this table.
struct Command {
    const char *name;
    const char *summary;
    int (*run)(const QString &program, const QStringList &arguments, const Streams &streams);
};
const QList<Command> &commands();

// zelmora-cli [COMMAND] ARGUMENTS...: `arguments` as main got them, the program first.
int runCli(const QStringList &arguments, const Streams &streams = {});

// The convert command: options, the files and folders given, the batch, the report.
int runConvert(const QString &program, const QStringList &arguments, const Streams &streams);

// plan, run and status over job files (jobcommands.cpp).
int runPlan(const QString &program, const QStringList &arguments, const Streams &streams);
int runJobs(const QString &program, const QStringList &arguments, const Streams &streams);
int runStatus(const QString &program, const QStringList &arguments, const Streams &streams);
// albums: the album tags of the jobs of a job file once they have run (on any machines).
int runAlbums(const QString &program, const QStringList &arguments, const Streams &streams);

// The files the inputs name: a regular file itself, a folder every regular file below it, as
// Add Folder finds them. Anything else is refused with its reason.
struct ExpandedInputs {
    QStringList files;
    QStringList folders;                        // per file: the folder given it was found in (or empty)
    QList<std::pair<QString, QString>> refused; // input, reason
};
ExpandedInputs expandInputs(const QStringList &inputs);

struct ConvertOptions;
class Reporter;
// Runs one batch to its end (stopped by SIGINT or SIGTERM) and reports it; the exit status.
// `refused`: inputs that could not be taken at all (they make it 1).
int runBatch(const QString &program, const QString &appDir, const ConvertOptions &options,
             const QList<CliBatch::Source> &sources, const CliBatch::Library &library, Reporter &reporter,
             const Streams &streams, qsizetype refused);

} // namespace zm::cli
