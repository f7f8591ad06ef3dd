// The converter run a batch uses per file when several files convert at once, against the fake
// converter: what it hands over, how it ends, and that runs side by side follow only their own
// child.
#include "engine/converterjob.h"
#include "zelmora/testutil.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>

using namespace zm;
using zmtest::FakeApp;
using zmtest::grandchildOf;
using zmtest::processAlive;

namespace {

QString lineFor(const FakeApp &app, const QString &script)
{
    return app.conv() + QStringLiteral(" -i \"") + script + QStringLiteral("\" \"") + app.path
           + QStringLiteral("/out.wav\"");
}

// A job with what it handed over and when it finished, on a clock started with it.
struct Followed {
    ConverterJob job;
    QStringList chunks;
    int finishes = 0;
    qint64 finishedAtMs = -1;
    QElapsedTimer clock;
    Followed()
    {
        clock.start();
        QObject::connect(&job, &ConverterJob::output, &job, [this](const QString &c) { chunks << c; });
        QObject::connect(&job, &ConverterJob::finished, &job, [this] {
            ++finishes;
            finishedAtMs = clock.elapsed();
        });
    }
};

bool waitFor(const std::function<bool()> &done, int timeoutMs = 20000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs) {
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

bool gone(pid_t pid)
{
    return pid > 0 && ::kill(pid, 0) == -1 && errno == ESRCH;
}

} // namespace

TEST(Job, OutputAndEnding)
{
    struct Row {
        const char *name;
        QStringList script;
        QString text; // all of the output; empty: not checked here
        int exitCode;
        bool signalled;
    };
    const Row rows[] = {
        {"silent exit", {QStringLiteral("exit 0")}, QString(), 0, false},
        {"error and code",
         {QStringLiteral("err conv: bad value"), QStringLiteral("exit 2")},
         QStringLiteral("conv: bad value\n"),
         2,
         false},
        {"crash", {QStringLiteral("out before"), QStringLiteral("crash")}, QStringLiteral("before\n"), -1, true},
        {"character split across reads", {QStringLiteral("split-utf8")}, QStringLiteral("caf\u00e9!\n"), 0, false},
    };
    for (const Row &r : rows) {
        FakeApp app;
        Followed run;
        ConverterJob &job = run.job;
        ASSERT_TRUE(job.start(lineFor(app, app.script(QStringLiteral("s"), r.script)))) << r.name;
        EXPECT_TRUE(job.isRunning()) << r.name;
        EXPECT_GT(job.pid(), 0) << r.name;
        ASSERT_TRUE(waitFor([&] { return run.finishes > 0; })) << r.name;
        QTest::qWait(100);
        EXPECT_EQ(run.finishes, 1) << r.name;
        EXPECT_FALSE(job.isRunning()) << r.name;
        EXPECT_EQ(job.pid(), -1) << r.name;
        const QString all = run.chunks.join(QString());
        EXPECT_EQ(all, job.outputs()) << r.name;
        if (!r.text.isEmpty() || r.script.first() == QLatin1String("exit 0")) {
            EXPECT_EQ(all, r.text) << r.name;
        }
        for (const QString &c : run.chunks)
            EXPECT_LE(c.size(), 1024) << r.name;
        EXPECT_FALSE(all.contains(QChar::ReplacementCharacter)) << r.name;
        const ProcessEnding end = job.ending();
        EXPECT_TRUE(end.started && end.known) << r.name;
        if (r.signalled) {
            EXPECT_NE(end.signal, 0) << r.name;
        } else {
            EXPECT_EQ(end.exitCode, r.exitCode) << r.name;
        }
    }
}

TEST(Job, LongOutputArrivesWholeAndInOrder)
{
    FakeApp app;
    Followed run;
    ConverterJob &job = run.job;
    ASSERT_TRUE(job.start(lineFor(app, app.script(QStringLiteral("long"), {QStringLiteral("bytes 5000")}))));
    ASSERT_TRUE(waitFor([&] { return run.finishes > 0; }));
    const QString all = run.chunks.join(QString());
    ASSERT_EQ(all.size(), 5000);
    EXPECT_GE(run.chunks.size(), 5);
    for (int k = 0; k < 454; ++k)
        ASSERT_EQ(all.mid(qsizetype(k) * 11, 11), QStringLiteral("line%1\n").arg(k, 6, 10, QLatin1Char('0')));
}

TEST(Job, RunsSideBySideFollowOnlyTheirOwnChild)
{
    // A short run ends when its own converter has, while a long one of the same name goes on
    // (the one-at-a-time runner would wait for every process named conv).
    FakeApp app;
    Followed longRun, shortRun;
    ConverterJob &longJob = longRun.job, &shortJob = shortRun.job;
    ASSERT_TRUE(longJob.start(
        lineFor(app, app.script(QStringLiteral("long"), {QStringLiteral("out long"), QStringLiteral("sleep 8000")}))));
    ASSERT_TRUE(shortJob.start(lineFor(app, app.script(QStringLiteral("short"), {QStringLiteral("out short")}))));
    ASSERT_TRUE(waitFor([&] { return shortRun.finishes > 0; }));
    EXPECT_TRUE(longJob.isRunning());
    EXPECT_EQ(shortJob.outputs(), QStringLiteral("short\n"));
    EXPECT_TRUE(shortJob.ending().succeeded());
    const pid_t longPid = longJob.pid();
    longJob.terminate(3000);
    ASSERT_TRUE(waitFor([&] { return longRun.finishes > 0; }));
    EXPECT_EQ(longJob.ending().signal, SIGTERM);
    EXPECT_LT(shortRun.finishedAtMs, longRun.finishedAtMs);
    EXPECT_TRUE(gone(longPid));
}

TEST(Job, AGrandchildHoldingThePipeDoesNotHoldTheRunUp)
{
    FakeApp app;
    Followed run;
    ConverterJob &job = run.job;
    const QString script =
        app.script(QStringLiteral("gc"),
                   {QStringLiteral("out hello"), QStringLiteral("grandchild 8000"), QStringLiteral("exit 3")});
    ASSERT_TRUE(job.start(lineFor(app, script)));
    ASSERT_TRUE(waitFor([&] { return run.finishes > 0; }));
    const pid_t grandchild = grandchildOf(script);
    EXPECT_TRUE(processAlive(grandchild)) << "over when the converter has gone, not when the pipe closes";
    if (grandchild > 0)
        ::kill(grandchild, SIGKILL);
    EXPECT_EQ(job.outputs(), QStringLiteral("hello\n"));
    EXPECT_EQ(job.ending().exitCode, 3);
}

TEST(Job, TerminateAsksThenKills)
{
    for (const zmtest::TerminateCase &r : zmtest::terminateCases()) {
        FakeApp app;
        Followed run;
        ConverterJob &job = run.job;
        QElapsedTimer sinceStop;
        QObject::connect(&job, &ConverterJob::output, &job, [&] {
            if (!sinceStop.isValid()) {
                sinceStop.start();
                job.terminate(r.graceMs);
            }
        });
        ASSERT_TRUE(job.start(lineFor(app, app.script(QStringLiteral("t"), r.script)))) << r.name;
        ASSERT_TRUE(waitFor([&] { return run.finishes > 0; })) << r.name;
        EXPECT_EQ(job.ending().signal, r.signal) << r.name;
        EXPECT_GE(sinceStop.elapsed(), r.atLeastMs) << r.name;
    }
}

TEST(Job, StartFailures)
{
    struct Row {
        const char *name;
        QString line;
    };
    FakeApp app(false);
    const Row rows[] = {
        {"missing program", app.conv() + QStringLiteral(" -i \"x\" \"/o/x.wav\"")},
        {"path with blanks, missing", QStringLiteral("\"/no such/dir/conv\" -i x")},
        {"empty line", QString()},
    };
    for (const Row &r : rows) {
        ConverterJob job;
        int emitted = 0;
        QObject::connect(&job, &ConverterJob::finished, [&] { ++emitted; });
        QObject::connect(&job, &ConverterJob::output, [&] { ++emitted; });
        EXPECT_FALSE(job.start(r.line)) << r.name;
        EXPECT_EQ(job.startError(), QStringLiteral("File or command not found")) << r.name;
        EXPECT_FALSE(job.isRunning()) << r.name;
        QTest::qWait(100);
        EXPECT_EQ(emitted, 0) << r.name;
    }
}

TEST(Job, DestroyedWhileRunning)
{
    // Left running: the converter finishes its file and is reaped in the background. Asked to
    // stop first: the kill still comes when the grace time is over.
    struct Row {
        const char *name;
        QStringList script;
        bool stopFirst;
    };
    const Row rows[] = {
        {"left running", {QStringLiteral("out started"), QStringLiteral("sleep 300"), QStringLiteral("output")}, false},
        {"stopping, ignores SIGTERM",
         {QStringLiteral("ignore-term"), QStringLiteral("out started"), QStringLiteral("sleep 30000")},
         true},
    };
    for (const Row &r : rows) {
        FakeApp app;
        auto job = std::make_unique<ConverterJob>();
        ASSERT_TRUE(job->start(lineFor(app, app.script(QStringLiteral("d"), r.script)))) << r.name;
        ASSERT_TRUE(waitFor([&] { return !job->outputs().isEmpty(); })) << r.name;
        const pid_t pid = job->pid();
        if (r.stopFirst)
            job->terminate(300);
        job.reset();
        QElapsedTimer t;
        t.start();
        while (!gone(pid) && t.elapsed() < 15000)
            QThread::msleep(20);
        EXPECT_TRUE(gone(pid)) << r.name << ": ended and reaped, no zombie left";
        EXPECT_EQ(QFile::exists(app.path + QStringLiteral("/out.wav")), !r.stopFirst) << r.name;
    }
}
