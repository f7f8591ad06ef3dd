// The worker thread, the converter runner (against the fake converter) and the progress file.
// The runner follows its converter on the event loop, so the waits here keep the loop turning.
#include "core/commandline.h"
#include "core/conversionlogs.h"
#include "core/mirelffmpeg.h"
#include "core/mirelthread.h"
#include "core/converterprogress.h"
#include "video/videotestutil.h"

#include <QElapsedTimer>
#include <QProcess>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <optional>
#include <thread>

using namespace vidrune;

using namespace std::chrono_literals;

namespace {

// A thread whose Run sleeps for a while and then notes that it ran to its end.
class SleepyThread final : public MirelThread
{
public:
    SleepyThread(std::chrono::milliseconds runFor, std::atomic<int> *leftRun)
        : m_runFor(runFor), m_leftRun(leftRun)
    {
        StartThread();
    }
    ~SleepyThread() { StopAndWait(); }

protected:
    void Run() override
    {
        std::this_thread::sleep_for(m_runFor);
        m_leftRun->fetch_add(1);
    }

private:
    std::chrono::milliseconds m_runFor;
    std::atomic<int> *m_leftRun;
};

} // namespace

TEST(MirelThread, StopAndWaitOnAFinishedObjectReturnsFalseAtOnce)
{
    std::atomic<int> left{0};
    SleepyThread thread(0ms, &left);
    while (thread.ThreadState() != MirelThread::Stopped)
        std::this_thread::sleep_for(5ms);
    // False: the thread was not running, so there was nothing to poll for.
    EXPECT_FALSE(thread.StopAndWait());
    EXPECT_EQ(thread.ThreadState(), MirelThread::Stopped) << "no stop request is left behind";
    EXPECT_EQ(left.load(), 1);
}

TEST(MirelThread, StopAndWaitPollsUntilRunHasReturned)
{
    std::atomic<int> left{0};
    SleepyThread thread(250ms, &left);
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(thread.StopAndWait());
    const qint64 elapsed = clock.elapsed();
    EXPECT_EQ(left.load(), 1) << "returned before Run had ended";
    // Three sleeps of 100 ms at least: the third poll is the first to find the thread stopped.
    EXPECT_GE(elapsed, 295);
    EXPECT_EQ(thread.ThreadState(), MirelThread::Stopped);
}

TEST(MirelThread, DestroyingRightAfterConstructionWaitsForTheThread)
{
    for (int round = 0; round < 20; ++round) {
        std::atomic<int> left{0};
        auto *thread = new SleepyThread(round % 2 ? 30ms : 0ms, &left);
        delete thread; // must not return while the worker can still touch the object
        EXPECT_EQ(left.load(), 1) << "round " << round;
    }
}

class RunnerTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(app.IsValid()); }

    std::string Line(const QString &input, const QString &output)
    {
        OptionSlots o{
            "-vcodec h263", "-b 256k",   "-s 176x144 ", "-r 14.985", "-acodec libopencore_amrnb",
            "-ar 8000",     "-ab 12.2k", "-ac 1"};
        return ConverterCommand::Build(input, o, output).toStdString();
    }
    static bool WaitFinished(MirelFFmpeg &runner, int ms = 10000)
    {
        return testsupport::waitFor([&] { return runner.IsFinished(); }, ms);
    }

    FakeAppFolder app;
};

TEST_F(RunnerTest, ConverterThatExitsAtOnce)
{
    const QString in = app.File("in/a.flv"), out = app.File("out/a.3gp");
    ASSERT_TRUE(Touch(in));
    QDir().mkpath(app.File("out"));
    MirelFFmpeg runner(Line(in, out), app.Converter().toStdString());
    ASSERT_TRUE(WaitFinished(runner));
    const pid_t pid = runner.Pid();
    EXPECT_GT(pid, 0);
    EXPECT_FALSE(ProcessExists(pid)) << "the finished converter must have been reaped";
    EXPECT_EQ(runner.Result().outcome, RunOutcome::Succeeded);
    EXPECT_EQ(ReadAll(app.Progress()), "1000");
    EXPECT_TRUE(QFile::exists(out));
    EXPECT_EQ(app.Calls(), QStringList{in});
}

TEST_F(RunnerTest, AFinishedRunnerHasNothingLeftToEndOrWaitFor)
{
    const QString in = app.File("a.flv");
    ASSERT_TRUE(Touch(in));
    auto *runner = new MirelFFmpeg(Line(in, app.File("a.3gp")), app.Converter().toStdString());
    ASSERT_TRUE(WaitFinished(*runner));
    // Neither the ask nor the force has anything left to do, and nothing is left to wait for.
    EXPECT_FALSE(runner->Terminate());
    EXPECT_FALSE(runner->Kill());
    EXPECT_EQ(runner->Result().outcome, RunOutcome::Succeeded) << "a late ask changes nothing";
    QElapsedTimer clock;
    clock.start();
    delete runner;
    EXPECT_LT(clock.elapsed(), 100);
}

TEST_F(RunnerTest, DestroyingARunningConverterAsksFirstAndLeavesNoProcess)
{
    // "hang" ends when asked; "stubborn" ignores the request and is killed after the grace.
    // The destructor waits for neither: the converter is gone soon after, and never before
    // the grace time is over when it had to be killed.
    for (const char *name : {"hang.flv", "stubborn.flv"}) {
        FakeAppFolder fresh;
        ASSERT_TRUE(fresh.IsValid());
        const QString in = fresh.File(name);
        ASSERT_TRUE(Touch(in));
        auto *runner =
            new MirelFFmpeg(Line(in, fresh.File("out.3gp")), fresh.Converter().toStdString());
        ASSERT_TRUE(testsupport::waitFor([&] { return ReadAll(fresh.Progress()) == "100"; }))
            << "the fake converter did not start";
        const pid_t pid = runner->Pid();
        ASSERT_TRUE(ProcessExists(pid));
        EXPECT_FALSE(runner->IsFinished());
        QElapsedTimer clock;
        clock.start();
        delete runner;
        EXPECT_LT(clock.elapsed(), 500) << "the destructor waited, " << name;
        ASSERT_TRUE(testsupport::waitFor([&] { return !ProcessExists(pid); }, 15000))
            << "converter still present (alive or unreaped), " << name;
        EXPECT_EQ(ReadAll(fresh.File("got_term")), "TERM") << "SIGTERM must come first, " << name;
        if (QString(name).startsWith("stubborn")) {
            EXPECT_GE(clock.elapsed(), MirelFFmpeg::TermGrace.count() - 50)
                << "killed before its grace time was over";
        }
    }
}

TEST_F(RunnerTest, ConverterInheritsOnlyItsStandardDescriptors)
{
    // Descriptors of ours that would leak without care: a file and a pipe opened without
    // close-on-exec.
    const int file = ::open("/dev/null", O_RDONLY);
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    ASSERT_GE(file, 0);
    const QString in = app.File("hang.flv");
    ASSERT_TRUE(Touch(in));
    MirelFFmpeg runner(Line(in, app.File("hang.3gp")), app.Converter().toStdString());
    ASSERT_TRUE(testsupport::waitFor([&] { return ReadAll(app.Progress()) == "100"; }));
    const QString fds = QStringLiteral("/proc/%1/fd").arg(runner.Pid());
    QStringList open = QDir(fds).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot);
    std::sort(open.begin(), open.end());
    EXPECT_EQ(open, (QStringList{"0", "1", "2"}));
    EXPECT_EQ(QFile::symLinkTarget(fds + "/0"), "/dev/null");
    EXPECT_TRUE(QFileInfo(fds + "/2").symLinkTarget().contains("pipe:"))
        << QFileInfo(fds + "/2").symLinkTarget().toStdString();
    ::close(file);
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
}

TEST_F(RunnerTest, StandardErrorGoesToTheLogAndItsLastLineIsKept)
{
    struct Case {
        const char *input;
        bool logFolderExists;
        const char *lastLine;
        const char *log; // nullptr: no log file
    } cases[] = {
        {"fail.flv", true, "vv: input is not a media file",
         "vv: warning: damaged packet skipped\nvv: input is not a media file\n\n"},
        {"silentfail.flv", true, "", ""},
        {"ok.flv", true, "", ""},
        // A log that cannot be written loses the log, not the line.
        {"fail.flv", false, "vv: input is not a media file", nullptr},
    };
    for (const Case &c : cases) {
        FakeAppFolder fresh;
        ASSERT_TRUE(fresh.IsValid());
        const QString in = fresh.File(c.input);
        ASSERT_TRUE(Touch(in));
        const QString log = fresh.File(c.logFolderExists ? "run.log" : "missing/run.log");
        MirelFFmpeg runner(Line(in, fresh.File("out.3gp")), fresh.Converter().toStdString(),
                           log.toStdString());
        ASSERT_TRUE(WaitFinished(runner)) << c.input;
        EXPECT_EQ(runner.Result().lastLine, c.lastLine) << c.input;
        EXPECT_EQ(QFile::exists(log), c.log != nullptr) << c.input;
        if (c.log) {
            EXPECT_EQ(ReadAll(log), c.log) << c.input;
        }
    }
}

TEST_F(RunnerTest, ConverterThatCannotBeStarted)
{
    const QString notExecutable = app.File("plain");
    ASSERT_TRUE(Touch(notExecutable));
    const std::string programs[] = {app.File("missing/vv").toStdString(),
                                    notExecutable.toStdString()};
    for (const std::string &program : programs) {
        testing::internal::CaptureStdout();
        MirelFFmpeg runner(Line(app.File("a.flv"), app.File("a.3gp")), program);
        const bool finished = WaitFinished(runner, 3000);
        const std::string printed = testing::internal::GetCapturedStdout();
        ASSERT_TRUE(finished) << program;
        EXPECT_EQ(runner.Result().outcome, RunOutcome::StartFailed) << program;
        EXPECT_NE(runner.Result().error, 0);
        EXPECT_EQ(runner.Pid(), 0);
        // The only trace of the failure: one line on standard output with the error code.
        EXPECT_EQ(printed,
                  "CreateProcess failed (" + std::to_string(runner.Result().error) + ").\n")
            << program;
    }
}

TEST_F(RunnerTest, OutcomesFollowTheConverterExit)
{
    struct Case {
        const char *input;
        RunOutcome outcome;
        int exitCode;
    } cases[] = {
        {"ok.flv", RunOutcome::Succeeded, 0},
        {"fail.flv", RunOutcome::Failed, 3},
        {"nooutput.flv", RunOutcome::Succeeded, 0},
    };
    for (const Case &c : cases) {
        const QString in = app.File(c.input);
        ASSERT_TRUE(Touch(in));
        MirelFFmpeg runner(Line(in, app.File(QString(c.input) + ".out")),
                           app.Converter().toStdString());
        ASSERT_TRUE(WaitFinished(runner)) << c.input;
        EXPECT_EQ(runner.Result().outcome, c.outcome) << c.input;
        EXPECT_EQ(runner.Result().exitCode, c.exitCode) << c.input;
    }
}

TEST_F(RunnerTest, SlowProgressIsVisibleWhileItRuns)
{
    qputenv("FAKE_VV_SLOW_MS", "1200");
    const QString in = app.File("slow.flv");
    ASSERT_TRUE(Touch(in));
    ASSERT_TRUE(ConverterProgress::Reset(app.Progress()));
    MirelFFmpeg runner(Line(in, app.File("slow.3gp")), app.Converter().toStdString());
    QList<long long> seen;
    testsupport::waitFor([&] {
        const long long v = ConverterProgress::Read(app.Progress());
        if (seen.isEmpty() || seen.last() != v)
            seen << v;
        return runner.IsFinished();
    });
    EXPECT_GE(seen.size(), 3) << "expected intermediate values";
    EXPECT_TRUE(seen.contains(500));
    EXPECT_EQ(ConverterProgress::Read(app.Progress()), 1000);
}

TEST_F(RunnerTest, ArgumentsReachTheConverterWhole)
{
    // Blanks, quotes, non-ASCII letters and shell characters must arrive as they are.
    const QString folder = app.File("dir with 'odd' $chars; & \"quotes\" 目录");
    const QString in = folder + "/in \"x\" $(echo no).flv";
    const QString out = folder + "/出力 a.3gp";
    ASSERT_TRUE(Touch(in));
    MirelFFmpeg runner(Line(in, out), app.Converter().toStdString());
    ASSERT_TRUE(WaitFinished(runner));
    EXPECT_EQ(runner.Result().outcome, RunOutcome::Succeeded);
    const QStringList args = app.LastArgs();
    const QStringList expected{
        "vv",   "-i",   in,        "-y",    "-vcodec", "h263",    "-b",
        "256k", "-s",   "176x144", "-r",    "14.985",  "-acodec", "libopencore_amrnb",
        "-ar",  "8000", "-ab",     "12.2k", "-ac",     "1",       out};
    EXPECT_EQ(args, expected);
    EXPECT_TRUE(QFile::exists(out));
}

TEST_F(RunnerTest, OverlongCommandLineFailsWithoutStarting)
{
    const std::string line = "vv -i \"" + std::string(2100, 'a') + "\" \"out\"";
    MirelFFmpeg runner(line, app.Converter().toStdString());
    ASSERT_TRUE(WaitFinished(runner, 3000));
    EXPECT_EQ(runner.Result().outcome, RunOutcome::CommandTooLong);
    EXPECT_TRUE(app.Calls().isEmpty()) << "nothing may be started";
}

TEST(ConverterProgress, ValuesAndTheirView)
{
    struct Case {
        const char *content; // nullptr: no file
        long long value;
        const char *status;
        bool valid;
    } cases[] = {
        {"0", 0, "0%", true},
        {"5", 5, "0%", true},
        {"999", 999, "99%", true},
        {"1000", 1000, "100%", true},
        {"1001", 1001, "--%", false},
        {"-5", -5, "--%", false},
        {"", 0, "0%", true},
        {nullptr, 0, "0%", true},
        {"abc", 0, "0%", true},
        {"  42\n", 42, "4%", true},
        {"+7", 7, "0%", true},
        {"250 trailing text", 250, "25%", true},
        {"99999999999999999999999", 1LL << 40, "--%", false},
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const Case &c : cases) {
        const QString path = dir.filePath("progress.txt");
        QFile::remove(path);
        if (c.content) {
            ASSERT_TRUE(Touch(path, c.content));
        }
        const long long v = ConverterProgress::Read(path);
        EXPECT_EQ(v, c.value) << (c.content ? c.content : "(missing)");
        const ConverterProgress::View view = ConverterProgress::Interpret(v);
        EXPECT_EQ(view.status, QString::fromUtf8(c.status)) << (c.content ? c.content : "-");
        EXPECT_EQ(view.valid, c.valid);
        if (c.valid) {
            EXPECT_EQ(view.barValue, v);
        }
    }
}

TEST(ConverterProgress, ResetWritesASingleZero)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("progress.txt");
    ASSERT_TRUE(Touch(path, "1000 and more"));
    ASSERT_TRUE(ConverterProgress::Reset(path));
    EXPECT_EQ(ReadAll(path), "0");
    EXPECT_FALSE(ConverterProgress::Reset(dir.filePath("no/such/folder/progress.txt")));
}

TEST(ConverterCommand, QuotedPathsSplitBackToTheSamePaths)
{
    const QStringList paths{
        "/plain/a.flv",       "/with blank/a b.flv",   "/quote\"inside/a.flv",
        "/ends with quote\"", "\"starts/with.flv",     "/tab\tand\"\"two.flv",
        "/中文/视频.flv",     "/shell/$(x);&|<>*.flv",
    };
    const OptionSlots o{"-vcodec  mpeg4", "-b 512k",   "-s 320x240 ", "-r 23.976",
                        "-acodec mp2",    "-ar 22050", "-ab 128k",    "-ac 2"};
    // Slots of two words, with a quoted folder of the program in them, and an empty one.
    const QString app = "/opt/odd \"folder\" 应用";
    const OptionSlots twoWords{"-fpre \"" + ConverterCommand::QuotedText(app)
                                   + "/h264.dat\" -vcodec libx264",
                               "-b 512k",
                               "",
                               "-r 25",
                               "-strict experimental -acodec aac",
                               "-ar 44100",
                               "-ab 128k",
                               "-ac 2"};
    for (const QString &p : paths) {
        const QString line = ConverterCommand::Build(p, o, p + ".avi");
        const QStringList args = QProcess::splitCommand(line);
        ASSERT_GE(args.size(), 4) << line.toStdString();
        EXPECT_EQ(args.at(2), p) << line.toStdString();
        EXPECT_EQ(args.last(), p + ".avi") << line.toStdString();
        EXPECT_EQ(args.size(), 21) << line.toStdString();
        // The list the converter is started with is the one the text splits into.
        EXPECT_EQ(ConverterCommand::Arguments(p, o, p + ".avi"), args) << line.toStdString();
        const QString h264 = ConverterCommand::Build(p, twoWords, p + ".mp4");
        const QStringList h264Args = ConverterCommand::Arguments(p, twoWords, p + ".mp4");
        EXPECT_EQ(h264Args, QProcess::splitCommand(h264)) << h264.toStdString();
        EXPECT_EQ(h264Args.at(5), app + "/h264.dat");
    }
}

TEST(ConverterCommand, FitsBothBuffers)
{
    const OptionSlots o;
    struct Case {
        QString line;
        bool fits;
    } cases[] = {
        {QString(1023, 'a'), true},
        {QString(1024, 'a'), false},
        {QString(666, QChar(0x4e2d)), true},  // 1998 bytes in UTF-8
        {QString(667, QChar(0x4e2d)), false}, // 2001 bytes
    };
    for (const Case &c : cases)
        EXPECT_EQ(ConverterCommand::Fits(c.line), c.fits) << c.line.size();
}

TEST_F(RunnerTest, TerminateEndsTheRunWithoutWaitingOnTheCaller)
{
    struct Case {
        const char *input;
        RunOutcome outcome;
        int code; // exit code or signal
        const char *lastLine;
        bool term; // SIGTERM arrived
    } cases[] = {
        {"hang.flv", RunOutcome::Failed, 6, "vv: interrupted, the partial output was removed",
         true},
        {"stubborn.flv", RunOutcome::Killed, SIGKILL, "", true},
    };
    for (const Case &c : cases) {
        FakeAppFolder fresh;
        ASSERT_TRUE(fresh.IsValid());
        const QString in = fresh.File(c.input);
        ASSERT_TRUE(Touch(in));
        auto runner = std::make_unique<MirelFFmpeg>(Line(in, fresh.File("o.3gp")),
                                                    fresh.Converter().toStdString());
        ASSERT_TRUE(testsupport::waitFor([&] { return ReadAll(fresh.Progress()) == "100"; }))
            << c.input;
        const pid_t pid = runner->Pid();
        std::optional<RunResult> result;
        runner->WhenFinished([&](const RunResult &r) {
            result = r;
            runner.reset(); // the runner may go inside its own report
        });
        QElapsedTimer clock;
        clock.start();
        EXPECT_TRUE(runner->Terminate()) << c.input;
        // Asked, not waited for.
        EXPECT_LT(clock.elapsed(), 100) << c.input;
        EXPECT_FALSE(result.has_value()) << c.input;
        ASSERT_TRUE(testsupport::waitFor([&] { return result.has_value(); }, 15000)) << c.input;
        EXPECT_FALSE(runner) << c.input;
        EXPECT_FALSE(ProcessExists(pid)) << c.input;
        EXPECT_EQ(result->outcome, c.outcome) << c.input;
        EXPECT_EQ(c.outcome == RunOutcome::Killed ? result->signal : result->exitCode, c.code)
            << c.input;
        EXPECT_EQ(result->lastLine, c.lastLine) << c.input;
        EXPECT_EQ(QFile::exists(fresh.File("got_term")), c.term) << c.input;
    }
}

TEST_F(RunnerTest, AFinishedRunnerReportsAtOnce)
{
    const QString in = app.File("ok.flv");
    ASSERT_TRUE(Touch(in));
    auto runner =
        std::make_unique<MirelFFmpeg>(Line(in, app.File("ok.3gp")), app.Converter().toStdString());
    ASSERT_TRUE(WaitFinished(*runner));
    std::optional<RunResult> result;
    runner->WhenFinished([&](const RunResult &r) { result = r; });
    ASSERT_TRUE(result.has_value()) << "a finished runner answers at once";
    EXPECT_EQ(result->outcome, RunOutcome::Succeeded);
    EXPECT_FALSE(runner->Terminate());
    EXPECT_FALSE(QFile::exists(app.File("got_term")));
}

TEST(ConversionLogs, RootFollowsXdgStateHome)
{
    const QByteArray saved = qgetenv("XDG_STATE_HOME");
    struct Case {
        const char *value; // nullptr: unset
        QString root;
    } cases[] = {
        {"/var/tmp/state", "/var/tmp/state/vidrune/logs"},
        {"relative/state", QDir::homePath() + "/.local/state/vidrune/logs"},
        {nullptr, QDir::homePath() + "/.local/state/vidrune/logs"},
    };
    for (const Case &c : cases) {
        if (c.value)
            qputenv("XDG_STATE_HOME", c.value);
        else
            qunsetenv("XDG_STATE_HOME");
        EXPECT_EQ(ConversionLogs::DefaultRoot(), c.root) << (c.value ? c.value : "(unset)");
        EXPECT_EQ(ConversionLogs().Root(), c.root);
    }
    qputenv("XDG_STATE_HOME", saved);
    EXPECT_EQ(ConversionLogs::FileLog("/l/b", 0, "/v/家庭 clip.mp4"), "/l/b/01 家庭 clip.mp4.log");
    EXPECT_EQ(ConversionLogs::FileLog("/l/b", 11, "/v/noext"), "/l/b/12 noext.log");
    EXPECT_EQ(ConversionLogs::FileLog("", 0, "/v/a.avi"), "") << "no batch folder, no log";
    // A name at the file system's limit still gives a log name that fits it.
    const QString longest = ConversionLogs::FileLog("/l/b", 0, "/v/" + QString(85, QChar(0x89c6)));
    EXPECT_LE(QFileInfo(longest).fileName().toUtf8().size(), 255);
    EXPECT_TRUE(longest.startsWith("/l/b/01 " + QString(66, QChar(0x89c6))));
}

TEST(ConversionLogs, OnlyTheNewestBatchesAreKept)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString root = dir.filePath("logs");
    // 25 older batches (two of them within one millisecond) and folders that are not ours.
    QStringList old;
    for (int i = 0; i < 24; ++i)
        old << QStringLiteral("20200101-0000%1-000").arg(i, 2, 10, QLatin1Char('0'));
    old << "20200101-000023-000-2";
    for (const QString &name : old)
        ASSERT_TRUE(Touch(root + "/" + name + "/01 a.avi.log"));
    for (const char *foreign : {"notes", "2020"})
        ASSERT_TRUE(QDir().mkpath(root + "/" + foreign));
    ConversionLogs logs(root);
    const QString made = logs.BeginBatch();
    ASSERT_FALSE(made.isEmpty());
    EXPECT_TRUE(QFileInfo(made).isDir());
    QStringList left = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    EXPECT_TRUE(left.contains("notes") && left.contains("2020")) << "foreign folders stay";
    left.removeAll("notes");
    left.removeAll("2020");
    ASSERT_EQ(left.size(), ConversionLogs::KeptBatches);
    // The 19 newest of the old ones and the new one; the one with "-2" is the newest old one.
    QStringList expected = old.mid(old.size() - 19);
    expected << QFileInfo(made).fileName();
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(left, expected);

    // A root that cannot be made: no folder, no error.
    ASSERT_TRUE(Touch(dir.filePath("file")));
    EXPECT_EQ(ConversionLogs(dir.filePath("file/logs")).BeginBatch(), "");
}
