#include "engine/dosoutputs.h"
#include "engine/waitabletimer.h"
#include "zelmora/testutil.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace zm;
using zmtest::FakeApp;
using zmtest::grandchildOf;
using zmtest::processAlive;

namespace {

struct Outcome {
    QStringList chunks;
    int overs = 0;
    QString result;
    bool overBeforeReturn = false;
};

Outcome execute(DOSOutputs &dos, const QString &line)
{
    Outcome r;
    bool returned = false;
    QObject ctx;
    QObject::connect(&dos, &DOSOutputs::ReceiveOutputs, &ctx, [&](const QString &c) { r.chunks << c; });
    QObject::connect(&dos, &DOSOutputs::CommandOver, &ctx, [&] {
        ++r.overs;
        r.overBeforeReturn = !returned;
    });
    dos.setCommandLine(line);
    r.result = dos.ExecuteCommand();
    returned = true;
    return r;
}

QString lineFor(const FakeApp &app, const QString &script)
{
    return app.conv() + QStringLiteral(" -i ") + QStringLiteral("\"") + script + QStringLiteral("\" \"") + app.path
           + QStringLiteral("/out.wav\"");
}

} // namespace

TEST(Runner, SilentExit)
{
    FakeApp app;
    zmtest::RecordingBoxes boxes;
    DOSOutputs dos(&boxes);
    const Outcome r = execute(dos, lineFor(app, app.script(QStringLiteral("silent"), {QStringLiteral("exit 0")})));
    EXPECT_TRUE(r.chunks.isEmpty());
    EXPECT_EQ(r.overs, 1);
    EXPECT_TRUE(r.overBeforeReturn);
    EXPECT_TRUE(r.result.isEmpty());
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_TRUE(dos.lastEnding().succeeded());
}

TEST(Runner, LongOutputInOrderedChunks)
{
    FakeApp app;
    DOSOutputs dos(nullptr);
    const Outcome r = execute(dos, lineFor(app, app.script(QStringLiteral("long"), {QStringLiteral("bytes 5000"),
                                                                                    QStringLiteral("err to stderr")})));
    EXPECT_GE(r.chunks.size(), 5);
    for (const QString &c : r.chunks)
        EXPECT_LE(c.size(), 1024);
    const QString all = r.chunks.join(QString());
    EXPECT_EQ(all, r.result);
    EXPECT_EQ(all, dos.Outputs());
    ASSERT_EQ(all.size(), 5000 + 10);
    EXPECT_TRUE(all.startsWith(QStringLiteral("line000000\nline000001\n")));
    EXPECT_TRUE(all.endsWith(QStringLiteral("to stderr\n")));
    for (int k = 0; k < 454; ++k) // the lines stay in order across chunks
        ASSERT_EQ(all.mid(qsizetype(k) * 11, 11), QStringLiteral("line%1\n").arg(k, 6, 10, QLatin1Char('0')));
}

TEST(Runner, CharacterSplitAcrossReads)
{
    FakeApp app;
    DOSOutputs dos(nullptr);
    const Outcome r = execute(dos, lineFor(app, app.script(QStringLiteral("utf8"), {QStringLiteral("split-utf8")})));
    EXPECT_GE(r.chunks.size(), 2);
    EXPECT_EQ(r.result, QStringLiteral("caf\u00e9!\n"));
    EXPECT_FALSE(r.result.contains(QChar::ReplacementCharacter));
}

TEST(Runner, GrandchildHoldingThePipe)
{
    FakeApp app;
    // A name of its own, so converters of other programs running meanwhile do not keep the
    // command alive.
    const QString own = app.path + QStringLiteral("/data/zmfakeconv");
    ASSERT_TRUE(QFile::copy(app.conv(), own));
    DOSOutputs dos(nullptr);
    dos.setWatchedProcessName(QStringLiteral("ZMfakeconv"));
    const QString script =
        app.script(QStringLiteral("gc"),
                   {QStringLiteral("out hello"), QStringLiteral("grandchild 8000"), QStringLiteral("exit 3")});
    const Outcome r = execute(dos, own + QStringLiteral(" -i \"") + script + QStringLiteral("\""));
    const pid_t grandchild = grandchildOf(script);
    EXPECT_TRUE(processAlive(grandchild)) << "the command ends when conv is gone, not when the pipe closes";
    if (grandchild > 0)
        ::kill(grandchild, SIGKILL);
    EXPECT_EQ(r.overs, 1);
    EXPECT_EQ(r.result, QStringLiteral("hello\n"));
    EXPECT_TRUE(dos.lastEnding().known);
    EXPECT_EQ(dos.lastEnding().exitCode, 3);
}

TEST(Runner, FailureMessages)
{
    struct Row {
        const char *name;
        QString line;
        const char *message;
    };
    FakeApp app(false);
    const Row rows[] = {
        {"missing program", app.conv() + QStringLiteral(" -i \"x\""), "File or command not found"},
        {"path with blanks, missing", QStringLiteral("\"/no such/dir/conv\" -i x"), "File or command not found"},
        {"empty line", QString(), "Command Line empty"},
    };
    for (const Row &r : rows) {
        zmtest::RecordingBoxes boxes;
        DOSOutputs dos(&boxes);
        const Outcome run = execute(dos, r.line);
        EXPECT_EQ(run.overs, 0) << r.name;
        EXPECT_TRUE(run.chunks.isEmpty()) << r.name;
        EXPECT_TRUE(run.result.isEmpty()) << r.name;
        ASSERT_EQ(boxes.boxes.size(), 1u) << r.name;
        EXPECT_EQ(boxes.boxes[0].text, QString::fromLatin1(r.message)) << r.name;
        EXPECT_EQ(boxes.boxes[0].icon, MsgIcon::Error) << r.name;
        EXPECT_EQ(boxes.boxes[0].caption, QStringLiteral("Zelmora")) << r.name;
    }
}

TEST(Runner, ExitStatusAndReuse)
{
    FakeApp app;
    DOSOutputs dos(nullptr);
    execute(dos, lineFor(app, app.script(QStringLiteral("fail"),
                                         {QStringLiteral("err conv: bad value"), QStringLiteral("exit 2")})));
    EXPECT_EQ(dos.lastEnding().exitCode, 2);
    EXPECT_FALSE(dos.lastEnding().succeeded());
    execute(dos, lineFor(app, app.script(QStringLiteral("crash"), {QStringLiteral("crash")})));
    EXPECT_NE(dos.lastEnding().signal, 0);
    const Outcome r = execute(dos, lineFor(app, app.script(QStringLiteral("ok"), {QStringLiteral("out second")})));
    EXPECT_EQ(r.result, QStringLiteral("second\n"));
    EXPECT_TRUE(dos.lastEnding().succeeded());
    // The argument replaces the stored line.
    dos.setCommandLine(QStringLiteral("/nonexistent"));
    EXPECT_EQ(dos.ExecuteCommand(lineFor(app, app.script(QStringLiteral("arg"), {QStringLiteral("out arg")}))),
              QStringLiteral("arg\n"));
    EXPECT_TRUE(dos.CommandLine().contains(QStringLiteral("/in/arg")));
}

TEST(Runner, EventLoopRunsWhileWaiting)
{
    FakeApp app;
    DOSOutputs dos(nullptr);
    int beats = 0;
    int beatsAtFirstLine = -1;
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] { ++beats; });
    QObject ctx;
    QObject::connect(&dos, &DOSOutputs::ReceiveOutputs, &ctx, [&] {
        if (beatsAtFirstLine < 0)
            beatsAtFirstLine = beats;
    });
    heartbeat.start(10);
    const Outcome r = execute(
        dos, lineFor(app, app.script(QStringLiteral("slow"),
                                     {QStringLiteral("out a"), QStringLiteral("sleep 600"), QStringLiteral("out b")})));
    heartbeat.stop();
    // The loop kept running while the converter was silent (how smoothly is the benchmark's
    // business).
    EXPECT_EQ(r.result, QStringLiteral("a\nb\n"));
    ASSERT_GE(beatsAtFirstLine, 0);
    EXPECT_GE(beats - beatsAtFirstLine, 10);
}

TEST(Runner, OtherConvKeepsAnEmptyPipeAlive)
{
    FakeApp app;
    // A process with the watched name (any letter case) that is not ours: a copy of the fake
    // converter under a name no other program on the machine uses, started directly.
    const QString other = app.path + QStringLiteral("/data/zmotherconv");
    ASSERT_TRUE(QFile::copy(app.conv(), other));
    QProcess proc;
    proc.setProgram(other);
    proc.setArguments({QStringLiteral("-i"), app.script(QStringLiteral("other"), {QStringLiteral("sleep 900")})});
    proc.start();
    ASSERT_TRUE(proc.waitForStarted());
    EXPECT_TRUE(DOSOutputs::IsProcessRunning(QStringLiteral("ZMOTHERCONV")));
    EXPECT_FALSE(DOSOutputs::IsProcessRunning(QStringLiteral("zmothercon")));

    const pid_t otherPid = pid_t(proc.processId());
    DOSOutputs dos(nullptr);
    dos.setWatchedProcessName(QStringLiteral("zmOtherConv"));
    // The child of the command (sleep), seen from inside the command's loop.
    pid_t sleepPid = -1;
    const auto noteChild = [&] { QTimer::singleShot(0, &dos, [&] { sleepPid = dos.childPid(); }); };
    // sleep holds an empty pipe; only the other process keeps the command going until it ends.
    noteChild();
    Outcome r = execute(dos, QStringLiteral("sleep 10"));
    EXPECT_FALSE(processAlive(otherPid)) << "over once the other converter has ended";
    EXPECT_TRUE(processAlive(sleepPid)) << "not held up by the pipe";
    EXPECT_EQ(r.overs, 1);
    proc.waitForFinished(3000);

    // Without it, the same command is over at the first look at the empty pipe.
    sleepPid = -1;
    noteChild();
    r = execute(dos, QStringLiteral("sleep 10"));
    EXPECT_TRUE(processAlive(sleepPid)) << "not held up by the pipe";
    EXPECT_EQ(r.overs, 1);
}

TEST(Runner, WaitKeepsTime)
{
    clsWaitableTimer w;
    int ticks = 0;
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout, [&] { ++ticks; });
    beat.start(5);
    QElapsedTimer t;
    t.start();
    w.Wait(50);
    const qint64 ms = t.elapsed();
    EXPECT_GE(ms, 45);
    EXPECT_GE(ticks, 3);
}

TEST(Runner, AbandonEndsTheLoopWithoutCommandOver)
{
    FakeApp app;
    DOSOutputs dos(nullptr);
    pid_t child = -1;
    QTimer::singleShot(200, &dos, [&] {
        child = dos.childPid();
        dos.abandon();
    });
    const Outcome r = execute(dos, lineFor(app, app.script(QStringLiteral("long"), {QStringLiteral("sleep 6000")})));
    EXPECT_TRUE(processAlive(child)) << "the loop ends at once, not when the converter does";
    EXPECT_EQ(r.overs, 0);
    EXPECT_FALSE(dos.isRunning());
    if (child > 0)
        ::kill(child, SIGKILL);
}

TEST(Runner, TerminateAsksThenKills)
{
    // A converter that ends on SIGTERM ends at once; one that ignores it is killed after the
    // grace time, never before.
    for (const zmtest::TerminateCase &r : zmtest::terminateCases()) {
        FakeApp app;
        DOSOutputs dos(nullptr);
        QElapsedTimer t;
        QObject ctx;
        QObject::connect(&dos, &DOSOutputs::ReceiveOutputs, &ctx, [&] {
            if (!dos.terminateRequested()) {
                t.start();
                dos.terminate(r.graceMs);
            }
        });
        const Outcome run = execute(dos, lineFor(app, app.script(QStringLiteral("t"), r.script)));
        EXPECT_EQ(run.overs, 1) << r.name;
        EXPECT_TRUE(dos.lastEnding().known) << r.name;
        EXPECT_EQ(dos.lastEnding().signal, r.signal) << r.name;
        EXPECT_GE(t.elapsed(), r.atLeastMs) << r.name;
    }
}

TEST(Runner, AbandonedWhileStoppingTheChildIsStillKilled)
{
    // The window goes away between the stop request and the kill: the kill still comes.
    FakeApp app;
    DOSOutputs dos(nullptr);
    pid_t child = -1;
    QObject ctx;
    QObject::connect(&dos, &DOSOutputs::ReceiveOutputs, &ctx, [&] {
        if (child > 0)
            return;
        child = dos.childPid();
        dos.terminate(300);
        dos.abandon();
    });
    const Outcome r = execute(
        dos, lineFor(app, app.script(QStringLiteral("t"), {QStringLiteral("ignore-term"), QStringLiteral("out started"),
                                                           QStringLiteral("sleep 30000")})));
    EXPECT_EQ(r.overs, 0);
    ASSERT_GT(child, 0);
    QElapsedTimer t;
    t.start();
    while (::kill(child, 0) == 0 && t.elapsed() < 15000)
        QThread::msleep(20);
    EXPECT_EQ(::kill(child, 0), -1) << "killed and reaped in the background";
}

TEST(Runner, ChildInheritsOnlyTheStandardDescriptors)
{
    FakeApp app;
    // Descriptors this process holds without close-on-exec: none may reach the converter.
    const int plain = ::open("/dev/null", O_RDONLY);
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    ASSERT_GE(plain, 3);
    DOSOutputs dos(nullptr);
    QStringList childFds;
    QString target0;
    QObject ctx;
    QObject::connect(&dos, &DOSOutputs::ReceiveOutputs, &ctx, [&] {
        if (!childFds.isEmpty() || dos.childPid() <= 0)
            return;
        const QString dir = QStringLiteral("/proc/%1/fd").arg(dos.childPid());
        childFds = QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
        target0 = QFile::symLinkTarget(dir + QStringLiteral("/0"));
    });
    execute(dos, lineFor(app, app.script(QStringLiteral("fds"),
                                         {QStringLiteral("out started"), QStringLiteral("sleep 300")})));
    ::close(plain);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    EXPECT_EQ(childFds, (QStringList{"0", "1", "2"}));
    EXPECT_EQ(target0, QStringLiteral("/dev/null"));
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
