// Stopping a batch through the window, with the fake converter, and the output names a batch
// numbers.
#include "support/process.h"
#include "shell/frmfailures.h"
#include "skin/hotspot.h"
#include "zelmora/windowutil.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>

using namespace zm;
using testsupport::gone;
using zmtest::Harness;

namespace {

// Presses imgConvert (Stop) `delayMs` after the file at `index` of the batch has started, and
// records the converter's process id. Its connections end with it: a later batch in the same
// test starts files without it.
struct StopAt {
    QObject scope; // context of the connections below
    pid_t child = -1;
    QElapsedTimer sinceStop;
    StopAt(Harness &h, int index, int delayMs)
    {
        QObject::connect(&h.window->batch(), &BatchDriver::fileStarted, &scope, [this, &h, index, delayMs] {
            if (started++ != index)
                return;
            QTimer::singleShot(delayMs, &scope, [this, &h] {
                child = h.window->objDOS().childPid();
                EXPECT_EQ(h.window->convertState(), frmMain::ConvertState::Stop);
                sinceStop.start();
                QTest::mouseClick(h.window->imgConvert(), Qt::LeftButton);
                EXPECT_EQ(h.window->convertState(), frmMain::ConvertState::Stopping);
            });
        });
    }
    int started = 0;
};

} // namespace

TEST(Stop, MidFileKeepsTheQueueAndLeavesNoOutput)
{
    Harness h;
    h.open();
    h.window->show();
    const QString bad = h.app.script(QStringLiteral("bad.flv"),
                                     {QStringLiteral("err conv: no audio stream"), QStringLiteral("exit 1")});
    const QString slow =
        h.app.script(QStringLiteral("slow.flv"),
                     {QStringLiteral("err Duration: 00:01:00.00, start"), QStringLiteral("raw time=20.00 \\r"),
                      QStringLiteral("sleep 8000"), QStringLiteral("output")});
    const QString later = h.app.script(QStringLiteral("later.flv"), {QStringLiteral("output")});
    for (const QString &p : {bad, slow, later})
        h.window->AddQueueEntry(p);
    Harness::FailuresSeen seen;
    h.watchFailures(seen);
    StopAt stop(h, 1, 300);
    ASSERT_TRUE(h.runBatch());

    EXPECT_TRUE(gone(stop.child)) << "the converter has ended and been reaped";
    EXPECT_EQ(h.window->queue().paths(), (QStringList{slow, later})) << "the stopped file stays first";
    EXPECT_FALSE(QFile::exists(h.out(QStringLiteral("slow.wma"))));
    EXPECT_FALSE(QFile::exists(h.out(QStringLiteral("later.wma"))));
    EXPECT_EQ(h.app.logLines().filter(QStringLiteral("start\t")).size(), 2) << "no file started after the stop";
    // Controls back, bar at 0, no folder opened and no sound for a stopped batch.
    EXPECT_EQ(h.window->convertState(), frmMain::ConvertState::Convert);
    EXPECT_TRUE(h.window->imgToolbar(0)->isEnabled());
    EXPECT_TRUE(h.window->lblFeed()->isEnabled());
    EXPECT_EQ(h.window->imgPB()->width(), 0);
    EXPECT_TRUE(h.shell.opened.isEmpty());
    EXPECT_TRUE(h.sound.played.isEmpty());
    // The failure found before the stop is reported as at the end of a batch.
    EXPECT_EQ(seen.rows, QStringList{bad + QStringLiteral("\nconv: no audio stream")});
    EXPECT_TRUE(
        h.window->lblStatus()->text().startsWith(QStringLiteral("Stopped \u00b7 0 converted, 1 failed \u00b7 ")));
}

// A stop while the albums of a Normalise Albums batch are being measured: the measuring converters
// end, every file stays queued, nothing was converted, and no measurement is left.
TEST(Stop, WhileAlbumsAreMeasuredKeepsTheQueueAndLeavesNoMeasurement)
{
    Harness h;
    h.open();
    QTemporaryDir measurements;
    h.window->batch().setMeasurementFolder(measurements.path());
    h.window->batch().setJobs(2);
    h.window->setLoudnessChoice(LoudnessChoice{false, -16.0, true}, false);
    const QString a = h.app.script(QStringLiteral("a.flv"), {QStringLiteral("sleep 20000"), QStringLiteral("output")});
    const QString b = h.app.script(QStringLiteral("b.flv"), {QStringLiteral("sleep 20000"), QStringLiteral("output")});
    h.window->AddQueueEntry(a);
    h.window->AddQueueEntry(b);
    QTimer poll;
    QList<pid_t> measuring;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (h.window->batch().runningPids().size() == 2 && measuring.isEmpty()) {
            measuring = h.window->batch().runningPids();
            h.window->batch().stop();
        }
    });
    poll.start(20);
    ASSERT_TRUE(h.runBatch(30000));
    ASSERT_EQ(measuring.size(), 2) << "both files were measured side by side";
    for (pid_t pid : measuring)
        EXPECT_TRUE(gone(pid));
    EXPECT_EQ(h.window->queue().paths(), (QStringList{a, b}));
    EXPECT_TRUE(h.window->batch().failures().isEmpty());
    // A converter stopped before it got going logs nothing: at most the two measurements.
    const QStringList started = h.app.logLines().filter(QStringLiteral("start\t"));
    EXPECT_LE(started.size(), 2);
    for (const QString &line : started)
        EXPECT_TRUE(line.contains(QStringLiteral("-measure-only"))) << "no conversion started: " << line.toStdString();
    EXPECT_TRUE(QDir(measurements.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
}

TEST(Stop, ThenConvertAgainFinishesTheQueue)
{
    Harness h;
    h.open();
    const QString a = h.app.script(QStringLiteral("a.flv"), {QStringLiteral("out working"),
                                                             QStringLiteral("sleep 6000"), QStringLiteral("output")});
    const QString b = h.app.script(QStringLiteral("b.flv"), {QStringLiteral("output")});
    h.window->AddQueueEntry(a);
    h.window->AddQueueEntry(b);
    {
        StopAt stop(h, 0, 200);
        ASSERT_TRUE(h.runBatch());
    }
    EXPECT_EQ(h.window->queue().count(), 2);
    // The second run converts the stopped file too; the quick script stands in for it now.
    h.app.script(QStringLiteral("a.flv"), {QStringLiteral("output")});
    h.onDialog = [](QDialog &) { ADD_FAILURE() << "no failures expected"; };
    ASSERT_TRUE(h.runBatch());
    EXPECT_EQ(h.window->queue().count(), 0);
    EXPECT_TRUE(QFile::exists(h.out(QStringLiteral("a.wma"))));
    EXPECT_TRUE(QFile::exists(h.out(QStringLiteral("b.wma"))));
    EXPECT_EQ(h.shell.opened.size(), 1);
    EXPECT_EQ(h.window->lblStatus()->text().section(QStringLiteral(" \u00b7 "), 0, 0), QStringLiteral("2 converted"));
}

TEST(Stop, BetweenTwoFilesEndsAtTheNextStep)
{
    Harness h;
    h.open();
    const QString a = h.app.script(QStringLiteral("a.flv"), {QStringLiteral("output")});
    const QString b = h.app.script(QStringLiteral("b.flv"), {QStringLiteral("output")});
    h.window->AddQueueEntry(a);
    h.window->AddQueueEntry(b);
    // Stop right after the first conversion is over, while Timer1 waits for the next step.
    QObject::connect(&h.window->objDOS(), &DOSOutputs::CommandOver, h.window.get(),
                     [&] { QTimer::singleShot(0, h.window.get(), [&] { h.window->imgConvert_Click(); }); });
    ASSERT_TRUE(h.runBatch());
    EXPECT_EQ(h.window->queue().paths(), QStringList{b});
    EXPECT_TRUE(QFile::exists(h.out(QStringLiteral("a.wma"))));
    EXPECT_FALSE(QFile::exists(h.out(QStringLiteral("b.wma"))));
}

TEST(Stop, AConverterIgnoringSigtermIsKilledAfterThreeSeconds)
{
    Harness h;
    h.open();
    h.window->AddQueueEntry(
        h.app.script(QStringLiteral("stubborn.flv"), {QStringLiteral("ignore-term"), QStringLiteral("out started"),
                                                      QStringLiteral("sleep 30000"), QStringLiteral("output")}));
    // The window stays responsive while it waits: a 50 ms heartbeat keeps beating.
    int beats = 0;
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout, [&] { ++beats; });
    beat.start(50);
    StopAt stop(h, 0, 200);
    ASSERT_TRUE(h.runBatch(25000));
    const qint64 took = stop.sinceStop.elapsed();
    EXPECT_GE(took, BatchDriver::kStopGraceMs - 50);
    EXPECT_EQ(h.window->objDOS().lastEnding().signal, SIGKILL);
    EXPECT_TRUE(gone(stop.child));
    EXPECT_GE(beats, 10);
    EXPECT_EQ(h.window->queue().count(), 1);
}

TEST(Numbering, OnlyNamesThisBatchProducedAreAvoided)
{
    Harness h;
    QDir(h.app.path).mkpath(QStringLiteral("in/x"));
    QDir(h.app.path).mkpath(QStringLiteral("in/y"));
    QDir(h.app.path).mkpath(QStringLiteral("in/z"));
    h.open();
    struct Row {
        const char *input;
        QStringList script;
        const char *output; // the name the converter is given
    };
    // A failed conversion reserves nothing; a converted one does.
    const Row batch1[] = {
        {"x/clip.flv", {QStringLiteral("err conv: broken"), QStringLiteral("exit 1")}, "clip.wma"},
        {"y/clip.mp4", {QStringLiteral("output")}, "clip.wma"},
        {"z/clip.avi", {QStringLiteral("output")}, "clip (2).wma"},
    };
    for (const Row &r : batch1)
        h.window->AddQueueEntry(h.app.script(QString::fromLatin1(r.input), r.script));
    ASSERT_TRUE(h.runBatch());
    QStringList given;
    for (const QString &l : h.app.logLines())
        if (l.startsWith(QStringLiteral("start\t")))
            given << l.section(QChar(0x1f), -1).section(QLatin1Char('/'), -1);
    ASSERT_EQ(given.size(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(given[i], QString::fromLatin1(batch1[i].output)) << batch1[i].input;

    // The next batch starts afresh: the earlier run's clip.wma is replaced (the user's answer
    // to the question), not numbered.
    QFile::remove(h.app.log());
    h.answerExisting(zm::ExistingChoice::Replace);
    h.window->AddQueueEntry(h.app.script(QStringLiteral("x/clip.flv"), {QStringLiteral("output")}));
    ASSERT_TRUE(h.runBatch());
    ASSERT_EQ(h.app.logLines().size(), 2);
    EXPECT_TRUE(h.app.logLines()[0].endsWith(h.out(QStringLiteral("clip.wma"))));
}
