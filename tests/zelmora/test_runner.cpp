// The console runner DOSOutputs against the fake converter: what it hands over and when, its
// three failure messages, how a command ends and is stopped, and that it follows its own child
// only.
#include "engine/dosoutputs.h"
#include "support/process.h"
#include "zelmora/testutil.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

using namespace zm;
using testsupport::gone;
using testsupport::processExists;
using testsupport::waitFor;
using zmtest::FakeApp;
using zmtest::grandchildOf;

namespace {

// What one command handed over, and whether its events came after ExecuteCommand returned.
struct Outcome {
    bool started = false;
    QStringList chunks;
    int overs = 0;
    bool eventBeforeReturn = false;
    QString text() const { return chunks.join(QString()); }
};

// Runs `line` on `dos` and waits for CommandOver (or `timeoutMs`).
Outcome execute(DOSOutputs &dos, const QString &line, int timeoutMs = 20000)
{
    Outcome r;
    bool returned = false;
    QObject ctx;
    QObject::connect(&dos, &DOSOutputs::ReceiveOutputs, &ctx, [&](const QString &c) {
        r.chunks << c;
        r.eventBeforeReturn = r.eventBeforeReturn || !returned;
    });
    QObject::connect(&dos, &DOSOutputs::CommandOver, &ctx, [&] {
        ++r.overs;
        r.eventBeforeReturn = r.eventBeforeReturn || !returned;
    });
    dos.setCommandLine(line);
    r.started = dos.ExecuteCommand();
    returned = true;
    if (r.started)
        waitFor([&] { return r.overs > 0; }, timeoutMs);
    QCoreApplication::processEvents(); // a second CommandOver would be waiting now
    return r;
}

QString lineFor(const FakeApp &app, const QString &script)
{
    return app.conv() + QStringLiteral(" -i \"") + script + QStringLiteral("\" \"") + app.path
           + QStringLiteral("/out.wav\"");
}

} // namespace

TEST(Runner, SilentExit)
{
    FakeApp app;
    zmtest::RecordingBoxes boxes;
    DOSOutputs dos(&boxes);
    const Outcome r = execute(dos, lineFor(app, app.script(QStringLiteral("silent"), {QStringLiteral("exit 0")})));
    EXPECT_TRUE(r.started);
    EXPECT_TRUE(r.chunks.isEmpty());
    EXPECT_EQ(r.overs, 1);
    EXPECT_FALSE(r.eventBeforeReturn) << "the events come from the event loop";
    EXPECT_TRUE(dos.Outputs().isEmpty());
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
    const QString all = r.text();
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
    EXPECT_EQ(r.text(), QStringLiteral("caf\u00e9!\n"));
    EXPECT_FALSE(r.text().contains(QChar::ReplacementCharacter));
}

TEST(Runner, GrandchildHoldingThePipe)
{
    FakeApp app;
    DOSOutputs dos(nullptr);
    const QString script =
        app.script(QStringLiteral("gc"),
                   {QStringLiteral("out hello"), QStringLiteral("grandchild 8000"), QStringLiteral("exit 3")});
    const Outcome r = execute(dos, lineFor(app, script), 6000);
    const pid_t grandchild = grandchildOf(script);
    EXPECT_TRUE(processExists(grandchild)) << "the command ends when conv is gone, not when the pipe closes";
    if (grandchild > 0)
        ::kill(grandchild, SIGKILL);
    EXPECT_EQ(r.overs, 1);
    EXPECT_EQ(r.text(), QStringLiteral("hello\n"));
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
        EXPECT_FALSE(run.started) << r.name;
        EXPECT_EQ(run.overs, 0) << r.name;
        EXPECT_TRUE(run.chunks.isEmpty()) << r.name;
        EXPECT_TRUE(dos.Outputs().isEmpty()) << r.name;
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
    EXPECT_EQ(dos.lastEnding().lastLine, QStringLiteral("conv: bad value"));
    execute(dos, lineFor(app, app.script(QStringLiteral("crash"), {QStringLiteral("crash")})));
    EXPECT_NE(dos.lastEnding().signal, 0);
    const Outcome r = execute(dos, lineFor(app, app.script(QStringLiteral("ok"), {QStringLiteral("out second")})));
    EXPECT_EQ(r.text(), QStringLiteral("second\n"));
    EXPECT_EQ(dos.Outputs(), QStringLiteral("second\n")) << "the outputs of the last command only";
    EXPECT_TRUE(dos.lastEnding().succeeded());
    // The argument replaces the stored line.
    dos.setCommandLine(QStringLiteral("/nonexistent"));
    bool over = false;
    QObject ctx;
    QObject::connect(&dos, &DOSOutputs::CommandOver, &ctx, [&] { over = true; });
    EXPECT_TRUE(dos.ExecuteCommand(lineFor(app, app.script(QStringLiteral("arg"), {QStringLiteral("out arg")}))));
    ASSERT_TRUE(waitFor([&] { return over; }));
    EXPECT_EQ(dos.Outputs(), QStringLiteral("arg\n"));
    EXPECT_TRUE(dos.CommandLine().contains(QStringLiteral("/in/arg")));
}

TEST(Runner, AnArgumentListIsNotSplitAgain)
{
    // A path the text form could not carry unquoted reaches the converter whole from the list.
    FakeApp app;
    QDir(app.path).mkpath(QStringLiteral("in/a \"b\" c"));
    const QString script =
        app.script(QStringLiteral("a \"b\" c/x y.flv"), {QStringLiteral("out fine"), QStringLiteral("output")});
    qputenv("FAKECONV_LOG", app.log().toUtf8());
    DOSOutputs dos(nullptr);
    dos.setCommandLine(QStringLiteral("shown only in the logs"));
    dos.setArguments({app.conv(), QStringLiteral("-i"), script, app.path + QStringLiteral("/out put.wav")});
    bool over = false;
    QObject ctx;
    QObject::connect(&dos, &DOSOutputs::CommandOver, &ctx, [&] { over = true; });
    ASSERT_TRUE(dos.ExecuteCommand());
    ASSERT_TRUE(waitFor([&] { return over; }));
    const auto log = zmtest::parseLog(app.logLines());
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0].args, (QStringList{QStringLiteral("-i"), script, app.path + QStringLiteral("/out put.wav")}));
    EXPECT_EQ(dos.CommandLine(), QStringLiteral("shown only in the logs"));
    qunsetenv("FAKECONV_LOG");
}

TEST(Runner, EventLoopRunsWhileTheCommandRuns)
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
    QElapsedTimer t;
    t.start();
    dos.setCommandLine(
        lineFor(app, app.script(QStringLiteral("slow"),
                                {QStringLiteral("out a"), QStringLiteral("sleep 600"), QStringLiteral("out b")})));
    ASSERT_TRUE(dos.ExecuteCommand());
    EXPECT_LT(t.elapsed(), 500) << "ExecuteCommand returns at once";
    EXPECT_TRUE(dos.isRunning());
    ASSERT_TRUE(waitFor([&] { return !dos.isRunning(); }));
    heartbeat.stop();
    EXPECT_EQ(dos.Outputs(), QStringLiteral("a\nb\n"));
    ASSERT_GE(beatsAtFirstLine, 0);
    EXPECT_GE(beats - beatsAtFirstLine, 10);
}

TEST(Runner, AnotherConvRunningDoesNotHoldTheCommand)
{
    // Somebody else's converter of the same name runs on: the command is over when its own
    // child is, not when every "conv" on the machine has gone.
    FakeApp app;
    QProcess other;
    other.setProgram(app.conv());
    other.setArguments({QStringLiteral("-i"), app.script(QStringLiteral("other"), {QStringLiteral("sleep 8000")})});
    other.start();
    ASSERT_TRUE(other.waitForStarted());
    DOSOutputs dos(nullptr);
    const Outcome r = execute(dos, lineFor(app, app.script(QStringLiteral("own"), {QStringLiteral("out own")})));
    EXPECT_EQ(r.overs, 1);
    EXPECT_EQ(r.text(), QStringLiteral("own\n"));
    EXPECT_EQ(other.state(), QProcess::Running) << "over while the other converter still runs";
    other.kill();
    other.waitForFinished(3000);
}

TEST(Runner, RunnersSideBySideFollowOnlyTheirOwnChild)
{
    FakeApp app;
    DOSOutputs longRun(nullptr), shortRun(nullptr);
    int longOvers = 0, shortOvers = 0;
    QObject::connect(&longRun, &DOSOutputs::CommandOver, [&] { ++longOvers; });
    QObject::connect(&shortRun, &DOSOutputs::CommandOver, [&] { ++shortOvers; });
    ASSERT_TRUE(longRun.ExecuteCommand(
        lineFor(app, app.script(QStringLiteral("long"), {QStringLiteral("out long"), QStringLiteral("sleep 8000")}))));
    ASSERT_TRUE(
        shortRun.ExecuteCommand(lineFor(app, app.script(QStringLiteral("short"), {QStringLiteral("out short")}))));
    ASSERT_TRUE(waitFor([&] { return shortOvers > 0; }));
    EXPECT_TRUE(longRun.isRunning());
    EXPECT_EQ(longOvers, 0);
    EXPECT_EQ(shortRun.Outputs(), QStringLiteral("short\n"));
    const pid_t longPid = longRun.childPid();
    longRun.terminate(3000);
    ASSERT_TRUE(waitFor([&] { return longOvers > 0; }));
    EXPECT_EQ(longRun.lastEnding().signal, SIGTERM);
    EXPECT_TRUE(gone(longPid));
}

TEST(Runner, AbandonStopsFollowingWithoutCommandOver)
{
    FakeApp app;
    DOSOutputs dos(nullptr);
    int overs = 0;
    QObject::connect(&dos, &DOSOutputs::CommandOver, [&] { ++overs; });
    ASSERT_TRUE(dos.ExecuteCommand(lineFor(
        app, app.script(QStringLiteral("long"), {QStringLiteral("out started"), QStringLiteral("sleep 400")}))));
    ASSERT_TRUE(waitFor([&] { return !dos.Outputs().isEmpty(); }));
    const pid_t child = dos.childPid();
    dos.abandon();
    EXPECT_FALSE(dos.isRunning());
    EXPECT_TRUE(processExists(child)) << "left to finish its work";
    ASSERT_TRUE(waitFor([&] { return gone(child); })) << "and reaped once it has";
    EXPECT_EQ(overs, 0);
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
        EXPECT_TRUE(dos.lastEnding().stopRequested) << r.name;
        EXPECT_EQ(dos.lastEnding().signal, r.signal) << r.name;
        EXPECT_GE(t.elapsed(), r.atLeastMs) << r.name;
    }
}

TEST(Runner, GoneOrAbandonedWhileStoppingTheChildIsStillKilled)
{
    // The window goes away between the stop request and the kill: the kill still comes, and
    // the child is reaped.
    for (const bool destroy : {false, true}) {
        FakeApp app;
        auto dos = std::make_unique<DOSOutputs>(nullptr);
        int overs = 0;
        QObject::connect(dos.get(), &DOSOutputs::CommandOver, [&] { ++overs; });
        ASSERT_TRUE(dos->ExecuteCommand(
            lineFor(app, app.script(QStringLiteral("t"), {QStringLiteral("ignore-term"), QStringLiteral("out started"),
                                                          QStringLiteral("sleep 30000")}))));
        ASSERT_TRUE(waitFor([&] { return !dos->Outputs().isEmpty(); }));
        const pid_t child = dos->childPid();
        dos->terminate(300);
        if (destroy)
            dos.reset();
        else
            dos->abandon();
        ASSERT_TRUE(waitFor([&] { return gone(child); }, 15000)) << "killed and reaped in the background";
        EXPECT_EQ(overs, 0);
    }
}

TEST(Runner, DestroyedWhileRunningTheConverterFinishesItsFile)
{
    FakeApp app;
    auto dos = std::make_unique<DOSOutputs>(nullptr);
    ASSERT_TRUE(dos->ExecuteCommand(
        lineFor(app, app.script(QStringLiteral("d"), {QStringLiteral("out started"), QStringLiteral("sleep 300"),
                                                      QStringLiteral("output")}))));
    ASSERT_TRUE(waitFor([&] { return !dos->Outputs().isEmpty(); }));
    const pid_t child = dos->childPid();
    dos.reset();
    ASSERT_TRUE(waitFor([&] { return gone(child); }, 15000)) << "ended and reaped, no zombie left";
    EXPECT_TRUE(QFile::exists(app.path + QStringLiteral("/out.wav")));
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
