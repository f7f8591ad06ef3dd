#include "engine/dosoutputs.h"
#include "engine/waitabletimer.h"
#include "testutil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>
#include <gtest/gtest.h>

using namespace zm;
using zmtest::FakeApp;

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
    return app.conv() + QStringLiteral(" -i ") + QStringLiteral("\"") + script + QStringLiteral("\" \"") + app.path +
           QStringLiteral("/out.wav\"");
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
        ASSERT_EQ(all.mid(k * 11, 11), QStringLiteral("line%1\n").arg(k, 6, 10, QLatin1Char('0')));
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
    QElapsedTimer t;
    t.start();
    const Outcome r = execute(dos, own + QStringLiteral(" -i \"") + app.script(QStringLiteral("gc"), {QStringLiteral("out hello"),
                                                                              QStringLiteral("grandchild 8000"),
                                                                              QStringLiteral("exit 3")}) +
                                        QStringLiteral("\""));
    EXPECT_LT(t.elapsed(), 6000) << "the command ends when conv is gone, not when the pipe closes";
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
    execute(dos, lineFor(app, app.script(QStringLiteral("fail"), {QStringLiteral("err conv: bad value"),
                                                                  QStringLiteral("exit 2")})));
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
    qint64 longestGap = 0;
    QElapsedTimer gap;
    gap.start();
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, gap.restart());
        ++beats;
    });
    heartbeat.start(10);
    execute(dos, lineFor(app, app.script(QStringLiteral("slow"), {QStringLiteral("out a"), QStringLiteral("sleep 600"),
                                                                  QStringLiteral("out b")})));
    heartbeat.stop();
    // The loop kept running all along (how smoothly is the benchmark's business).
    EXPECT_GE(beats, 10);
    EXPECT_LT(longestGap, 600);
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

    DOSOutputs dos(nullptr);
    dos.setWatchedProcessName(QStringLiteral("zmOtherConv"));
    QElapsedTimer t;
    t.start();
    // sleep holds an empty pipe; only the other process keeps the command going until it ends.
    Outcome r = execute(dos, QStringLiteral("sleep 10"));
    EXPECT_GE(t.elapsed(), 300);
    EXPECT_LT(t.elapsed(), 8000);
    EXPECT_EQ(r.overs, 1);
    proc.waitForFinished(3000);

    // Without it, the same command is over at the first look at the empty pipe.
    t.restart();
    r = execute(dos, QStringLiteral("sleep 10"));
    EXPECT_LT(t.elapsed(), 5000);
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
    EXPECT_LT(ms, 1000);
    EXPECT_GE(ticks, 3);
}

TEST(Runner, AbandonEndsTheLoopWithoutCommandOver)
{
    FakeApp app;
    DOSOutputs dos(nullptr);
    QTimer::singleShot(200, &dos, [&] { dos.abandon(); });
    QElapsedTimer t;
    t.start();
    const Outcome r = execute(dos, lineFor(app, app.script(QStringLiteral("long"), {QStringLiteral("sleep 6000")})));
    EXPECT_LT(t.elapsed(), 4000);
    EXPECT_EQ(r.overs, 0);
    EXPECT_FALSE(dos.isRunning());
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
