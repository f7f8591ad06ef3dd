// The converter process model against a fake child: where its streams go, what it inherits
// (environment, descriptors, signal state), how it ends and is stopped, and that no child is
// ever left unreaped.
#include "batch/batchtestutil.h"
#include "process/reaper.h"
#include "support/files.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

using batch::ProcessOutcome;
using batch::ProcessRequest;
using batch::Stream;
using batchtest::child;
using batchtest::Followed;
using Ending = batch::ProcessOutcome::Ending;

namespace {

// A set of the standard signals (1 to 31) as bits, as /proc/<pid>/status shows them.
quint64 maskOf(std::initializer_list<int> numbers)
{
    quint64 bits = 0;
    for (int s : numbers)
        bits |= quint64(1) << (s - 1);
    return bits;
}

// The standard signals of a "SigXxx:\t<hex>" line of a file the child wrote. (The C library
// keeps two real-time signals of its own ignored across posix_spawn; they are its business.)
quint64 standardSignals(const QStringList &lines, const QString &name)
{
    for (const QString &l : lines)
        if (l.startsWith(name + QLatin1Char(':')))
            return l.section(QLatin1Char(':'), 1).trimmed().toULongLong(nullptr, 16) & 0x7fffffffULL;
    return ~quint64(0);
}

} // namespace

TEST(ProcessModel, StreamsGoWhereAsked)
{
    struct Row {
        const char *name;
        Stream out, err;
        bool fileFolderExists;
        QStringList steps;
        QString text;     // what the pipe carried
        QString file;     // the stderr file afterwards; "<none>": no file
        QString lastLine; // of the outcome
    };
    const QString earlier = QStringLiteral("earlier line\n");
    const Row rows[] = {
        {"one merged pipe, in order",
         Stream::Pipe,
         Stream::Pipe,
         true,
         {"out:a", "err:b", "out:c", "err:  "},
         "a\nb\nc\n  \n",
         "<none>",
         "c"},
        {"standard error appended to a file",
         Stream::Null,
         Stream::File,
         true,
         {"out:a", "err:b", "err:conv: last words"},
         "",
         earlier + "b\nconv: last words\n",
         "conv: last words"},
        {"a file that says nothing gives no last line", Stream::Null, Stream::File, true, {"out:a"}, "", earlier, ""},
        {"a file that cannot be opened loses the log, not the line",
         Stream::Null,
         Stream::File,
         false,
         {"out:a", "err:b", "err:c"},
         "b\nc\n",
         "<none>",
         "c"},
        {"only standard error in the pipe", Stream::Null, Stream::Pipe, true, {"out:a", "err:b"}, "b\n", "<none>", "b"},
        {"only standard output in the pipe",
         Stream::Pipe,
         Stream::Null,
         true,
         {"out:a", "err:b"},
         "a\n",
         "<none>",
         "a"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        QTemporaryDir dir;
        const QString log = dir.filePath(r.fileFolderExists ? QStringLiteral("run.log") : QStringLiteral("no/run.log"));
        if (r.fileFolderExists) {
            ASSERT_TRUE(testsupport::touch(log, earlier.toUtf8()));
        }
        Followed run;
        ProcessRequest request = child(r.steps);
        request.stdoutTo = r.out;
        request.stderrTo = r.err;
        request.stderrFile = log;
        ASSERT_TRUE(run.start(request));
        ASSERT_TRUE(run.waitFinished());
        EXPECT_EQ(run.text(), r.text);
        EXPECT_EQ(run.process.outputs(), r.text);
        if (r.err == Stream::File) {
            EXPECT_EQ(QFile::exists(log), r.file != QLatin1String("<none>"));
            if (r.file != QLatin1String("<none>")) {
                EXPECT_EQ(QString::fromUtf8(testsupport::readFile(log)), r.file);
            }
        }
        EXPECT_EQ(run.outcome.lastLine, r.lastLine);
        EXPECT_TRUE(run.outcome.succeeded());
    }
}

TEST(ProcessModel, EnvironmentIsOursWithTheChangesOverIt)
{
    QTemporaryDir dir;
    qputenv("BATCH_TEST_KEPT", "ours");
    qputenv("BATCH_TEST_REPLACED", "ours");
    ProcessRequest request = child({QStringLiteral("env:") + dir.filePath(QStringLiteral("env"))});
    request.environment = {QStringLiteral("BATCH_TEST_REPLACED=theirs"), QStringLiteral("BATCH_TEST_NEW=a b=c")};
    Followed run;
    ASSERT_TRUE(run.start(request));
    ASSERT_TRUE(run.waitFinished());
    const QStringList env = testsupport::readLines(dir.filePath(QStringLiteral("env")));
    EXPECT_EQ(env.filter(QRegularExpression(QStringLiteral("^BATCH_TEST_"))),
              (QStringList{"BATCH_TEST_KEPT=ours", "BATCH_TEST_REPLACED=theirs", "BATCH_TEST_NEW=a b=c"}));
    EXPECT_EQ(env.filter(QRegularExpression(QStringLiteral("^PATH="))).size(), 1);
    qunsetenv("BATCH_TEST_KEPT");
    qunsetenv("BATCH_TEST_REPLACED");
}

TEST(ProcessModel, ChildGetsOnlyTheDescriptorsItIsGiven)
{
    // Descriptors of ours without close-on-exec, as a library might leave them.
    const int plain = ::open("/dev/null", O_RDONLY);
    int leaked[2];
    ASSERT_EQ(::pipe(leaked), 0);
    int given[2];
    ASSERT_EQ(::pipe2(given, O_CLOEXEC), 0);
    struct Row {
        const char *name;
        QList<int> passed;
        QStringList numbers;
    };
    const Row rows[] = {
        {"standard descriptors only", {}, {"0", "1", "2"}},
        {"and the one passed, as 3", {given[1]}, {"0", "1", "2", "3"}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        QTemporaryDir dir;
        const QString list = dir.filePath(QStringLiteral("fds"));
        ProcessRequest request = child({QStringLiteral("fds:") + list, QStringLiteral("fd3:through three")});
        request.passDescriptors = r.passed;
        Followed run;
        ASSERT_TRUE(run.start(request));
        ASSERT_TRUE(run.waitFinished());
        QStringList numbers;
        QString stdinTarget;
        for (const QString &l : testsupport::readLines(list)) {
            numbers << l.section(QLatin1Char(' '), 0, 0);
            if (numbers.last() == QLatin1String("0"))
                stdinTarget = l.section(QLatin1Char(' '), 1);
        }
        std::sort(numbers.begin(), numbers.end());
        EXPECT_EQ(numbers, r.numbers);
        EXPECT_EQ(stdinTarget, QStringLiteral("/dev/null"));
    }
    char buffer[64] = {};
    ::fcntl(given[0], F_SETFL, O_NONBLOCK);
    EXPECT_EQ(QByteArray(buffer, int(::read(given[0], buffer, sizeof buffer))), QByteArray("through three"));
    for (int fd : {plain, leaked[0], leaked[1], given[0], given[1]})
        ::close(fd);
}

TEST(ProcessModel, ChildStartsWithDefaultSignalsAndOnlyTermAndIntBlocked)
{
    // What this process has changed must not reach the converter: a blocked SIGUSR1, ignored
    // SIGUSR2, SIGPIPE and SIGHUP, a handler for SIGQUIT.
    sigset_t usr1, before;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &usr1, &before);
    struct sigaction ignore {
    }, caught{}, old[4];
    ignore.sa_handler = SIG_IGN;
    caught.sa_handler = [](int) {};
    sigaction(SIGUSR2, &ignore, &old[0]);
    sigaction(SIGPIPE, &ignore, &old[1]);
    sigaction(SIGHUP, &ignore, &old[2]);
    sigaction(SIGQUIT, &caught, &old[3]);

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("signals"));
    Followed run;
    ASSERT_TRUE(run.start(child({QStringLiteral("signals:") + file})));
    ASSERT_TRUE(run.waitFinished());

    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    sigaction(SIGUSR2, &old[0], nullptr);
    sigaction(SIGPIPE, &old[1], nullptr);
    sigaction(SIGHUP, &old[2], nullptr);
    sigaction(SIGQUIT, &old[3], nullptr);

    const QStringList lines = testsupport::readLines(file);
    EXPECT_EQ(standardSignals(lines, QStringLiteral("SigBlk")), maskOf({SIGTERM, SIGINT}));
    EXPECT_EQ(standardSignals(lines, QStringLiteral("SigIgn")), maskOf({}));
    // The sanitizers' runtime catches the crash signals in every program it is built into,
    // the fake child included, before main; those handlers are the child's own, not ours.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_UNDEFINED__)
    const quint64 runtimeOwn = maskOf({SIGSEGV, SIGBUS, SIGFPE});
#else
    const quint64 runtimeOwn = 0;
#endif
    EXPECT_EQ(standardSignals(lines, QStringLiteral("SigCgt")) & ~runtimeOwn, maskOf({}));
}

TEST(ProcessModel, StopAsksFirstAndKillsAfterTheGraceTime)
{
    struct Row {
        const char *name;
        QStringList steps;
        bool stopAtOnce; // at the start rather than at the first output
        Ending ending;
        int codeOrSignal;
        bool killed;
        QString lastLine;
        int grace = 400;
    };
    const Row rows[] = {
        {"ends on SIGTERM",
         {"handle-term", "unblock", "out:started", "sleep:20000"},
         false,
         Ending::Exited,
         6,
         false,
         "child: interrupted"},
        {"stopped before its handler is in place: the stop waits for it",
         {"sleep:150", "handle-term", "unblock", "sleep:20000"},
         true,
         Ending::Exited,
         6,
         false,
         "child: interrupted",
         // A grace far beyond the child's start-up and 150 ms, even under the sanitizers: a
         // stop must wait for the handler, not kill because the start-up was slow.
         5000},
        {"ignores SIGTERM",
         {"ignore-term", "unblock", "out:started", "sleep:20000"},
         false,
         Ending::Signalled,
         SIGKILL,
         true,
         "started"},
        {"never lets SIGTERM in", {"out:started", "sleep:20000"}, false, Ending::Signalled, SIGKILL, true, "started"},
        {"lets it in without a handler",
         {"unblock", "out:started", "sleep:20000"},
         false,
         Ending::Signalled,
         SIGTERM,
         false,
         "started"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        Followed run;
        QElapsedTimer sinceStop;
        QObject::connect(&run.process, &batch::ConverterProcess::output, &run.process, [&] {
            if (!sinceStop.isValid()) {
                sinceStop.start();
                run.process.stop(r.grace);
            }
        });
        ASSERT_TRUE(run.start(child(r.steps)));
        const pid_t pid = run.process.pid();
        if (r.stopAtOnce) {
            sinceStop.start();
            run.process.stop(r.grace);
        }
        EXPECT_TRUE(run.process.isStopping() || !r.stopAtOnce);
        ASSERT_TRUE(run.waitFinished());
        const qint64 took = sinceStop.elapsed();
        EXPECT_EQ(run.outcome.ending, r.ending);
        EXPECT_EQ(r.ending == Ending::Exited ? run.outcome.exitCode : run.outcome.signal, r.codeOrSignal);
        EXPECT_TRUE(run.outcome.stopRequested);
        EXPECT_EQ(run.outcome.killedAfterGrace, r.killed);
        EXPECT_EQ(run.outcome.lastLine, r.lastLine);
        if (r.killed) {
            EXPECT_GE(took, r.grace - 5) << "killed before the grace time was over";
        } else {
            EXPECT_LT(took, 10000);
        }
        EXPECT_TRUE(testsupport::gone(pid));
    }
}

TEST(ProcessModel, EveryEndingAndItsText)
{
    struct Row {
        const char *name;
        QStringList steps;
        Ending ending;
        int codeOrSignal;
        QString text;
        QString lastLine;
    };
    const Row rows[] = {
        {"silent success", {}, Ending::Exited, 0, "", ""},
        {"error line and code",
         {"out:working", "err:conv: bad value", "exit:2"},
         Ending::Exited,
         2,
         "working\nconv: bad value\n",
         "conv: bad value"},
        {"crash", {"out:before", "crash"}, Ending::Signalled, SIGABRT, "before\n", "before"},
        {"a letter cut between two writes", {"split-utf8"}, Ending::Exited, 0, "caf\u00e9!\n", "caf\u00e9!"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        Followed run;
        ASSERT_TRUE(run.start(child(r.steps)));
        EXPECT_TRUE(run.process.isRunning());
        EXPECT_GT(run.process.pid(), 0);
        ASSERT_TRUE(run.waitFinished());
        EXPECT_EQ(run.outcome.ending, r.ending);
        EXPECT_EQ(r.ending == Ending::Exited ? run.outcome.exitCode : run.outcome.signal, r.codeOrSignal);
        EXPECT_EQ(run.outcome.succeeded(), r.ending == Ending::Exited && r.codeOrSignal == 0);
        EXPECT_FALSE(run.outcome.stopRequested);
        EXPECT_EQ(run.text(), r.text);
        EXPECT_FALSE(run.text().contains(QChar::ReplacementCharacter));
        EXPECT_EQ(run.outcome.lastLine, r.lastLine);
        EXPECT_FALSE(run.process.isRunning());
        EXPECT_EQ(run.process.pid(), -1);
        // Once only, and after the last chunk.
        QCoreApplication::processEvents();
        EXPECT_EQ(run.finishes, 1);
        EXPECT_EQ(run.chunksAtFinish, run.chunks.size());
    }
}

TEST(ProcessModel, OutputLeftInThePipeByAChildThatHasEndedArrivesWhole)
{
    // The child writes and ends before anything has been read: the event loop is held until
    // it is a zombie, and still every byte arrives, in order, in chunks of at most 1024
    // characters, before `finished`.
    struct Row {
        const char *name;
        QStringList steps;
        int bytes;
    };
    const Row rows[] = {
        {"less than a pipe holds", {"bytes:50000"}, 50000},
        {"one chunk", {"bytes:1024"}, 1024},
        {"a little", {"bytes:3"}, 3},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        Followed run;
        ASSERT_TRUE(run.start(child(r.steps)));
        const pid_t pid = run.process.pid();
        QElapsedTimer t;
        t.start();
        while (!testsupport::isZombie(pid) && t.elapsed() < 10000)
            QThread::msleep(5); // no events: nothing is read meanwhile
        ASSERT_TRUE(testsupport::isZombie(pid));
        ASSERT_TRUE(run.waitFinished());
        const QString all = run.text();
        ASSERT_EQ(all.size(), r.bytes);
        for (const QString &c : run.chunks)
            EXPECT_LE(c.size(), batch::ConverterProcess::kChunk);
        for (int k = 0; (k + 1) * 11 <= r.bytes; ++k)
            ASSERT_EQ(all.mid(qsizetype(k) * 11, 11), QStringLiteral("line%1\n").arg(k, 6, 10, QLatin1Char('0')));
        EXPECT_EQ(run.chunksAtFinish, run.chunks.size());
        EXPECT_TRUE(testsupport::gone(pid));
    }
}

TEST(ProcessModel, AGrandchildHoldingThePipeDoesNotHoldTheRunUp)
{
    QTemporaryDir dir;
    const QString idFile = dir.filePath(QStringLiteral("grandchild"));
    Followed run;
    ASSERT_TRUE(run.start(
        child({QStringLiteral("out:hello"), QStringLiteral("grandchild:8000:") + idFile, QStringLiteral("exit:3")})));
    ASSERT_TRUE(run.waitFinished(6000));
    const pid_t grandchild = pid_t(testsupport::readFile(idFile).trimmed().toInt());
    EXPECT_TRUE(testsupport::processExists(grandchild)) << "over when the child has gone, not when the pipe closes";
    if (grandchild > 0)
        ::kill(grandchild, SIGKILL);
    EXPECT_EQ(run.text(), QStringLiteral("hello\n"));
    EXPECT_EQ(run.outcome.exitCode, 3);
}

TEST(ProcessModel, ProgramsThatCannotStart)
{
    QTemporaryDir dir;
    const QString plain = dir.filePath(QStringLiteral("plain"));
    ASSERT_TRUE(testsupport::touch(plain, "not a program"));
    struct Row {
        const char *name;
        QString program;
        QStringList arguments;
        int error;
    };
    const Row rows[] = {
        {"missing file", dir.filePath(QStringLiteral("missing/conv")), {"conv"}, ENOENT},
        {"not executable", plain, {"plain"}, EACCES},
        {"no such name in PATH", QString(), {"batch-no-such-program-here"}, ENOENT},
        {"no arguments at all", QString(), {}, EINVAL},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        Followed run;
        ProcessRequest request;
        request.program = r.program;
        request.arguments = r.arguments;
        EXPECT_FALSE(run.start(request));
        EXPECT_FALSE(run.process.isRunning());
        EXPECT_EQ(run.process.outcome().ending, Ending::FailedToStart);
        EXPECT_EQ(run.process.outcome().startError, r.error);
        EXPECT_FALSE(run.process.outcome().describe().isEmpty());
        QCoreApplication::processEvents(); // no signal is waiting to be delivered either
        EXPECT_EQ(run.finishes, 0);
        EXPECT_TRUE(run.chunks.isEmpty());
    }
}

TEST(ProcessModel, NoChildIsEverLeftUnreaped)
{
    // However the process object goes, its child is reaped once it ends: left to finish, it
    // finishes; asked to stop, it is killed when the grace time is over.
    struct Row {
        const char *name;
        QStringList steps;
        bool stopFirst;
        bool destroy; // destroyed rather than detached
        bool ranToItsEnd;
    };
    const Row rows[] = {
        {"destroyed while it works", {"out:started", "sleep:300"}, false, true, true},
        {"detached while it works", {"out:started", "sleep:300"}, false, false, true},
        {"destroyed while stopping, ignoring SIGTERM",
         {"ignore-term", "unblock", "out:started", "sleep:30000"},
         true,
         true,
         false},
        {"destroyed while stopping, never letting SIGTERM in", {"out:started", "sleep:30000"}, true, true, false},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("log"));
        auto run = std::make_unique<Followed>();
        ASSERT_TRUE(run->start(child(QStringList{QStringLiteral("log:") + log} + r.steps)));
        ASSERT_TRUE(testsupport::waitFor([&] { return !run->chunks.isEmpty(); }));
        const pid_t pid = run->process.pid();
        if (r.stopFirst)
            run->process.stop(300);
        int finishes = 0;
        QObject::connect(&run->process, &batch::ConverterProcess::finished, [&] { ++finishes; });
        if (r.destroy) {
            run.reset();
        } else {
            run->process.detach();
            EXPECT_FALSE(run->process.isRunning());
        }
        EXPECT_TRUE(batch::Reaper::instance().pids().contains(pid));
        ASSERT_TRUE(testsupport::waitFor([&] { return testsupport::gone(pid); }, 15000))
            << "left a zombie or a process";
        EXPECT_FALSE(batch::Reaper::instance().pids().contains(pid));
        EXPECT_EQ(testsupport::readFile(log).contains("end "), r.ranToItsEnd);
        EXPECT_EQ(finishes, 0);
    }
}

TEST(ProcessModel, OneObjectRunsOneChildAfterAnother)
{
    Followed run;
    ASSERT_TRUE(run.start(child({QStringLiteral("out:first"), QStringLiteral("sleep:200"), QStringLiteral("exit:4")})));
    EXPECT_FALSE(run.process.start(child({QStringLiteral("out:second")}))) << "one child at a time";
    ASSERT_TRUE(run.waitFinished());
    EXPECT_EQ(run.outcome.exitCode, 4);
    const pid_t first = run.process.lastPid();
    run.finishes = 0;
    ASSERT_TRUE(run.start(child({QStringLiteral("out:second")})));
    ASSERT_TRUE(run.waitFinished());
    EXPECT_EQ(run.process.outputs(), QStringLiteral("second\n"));
    EXPECT_TRUE(run.outcome.succeeded());
    EXPECT_NE(run.process.lastPid(), first);
}
