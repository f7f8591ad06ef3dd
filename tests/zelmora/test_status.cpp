// The status text of a batch and its time left, driven by a clock of the test's own.
#include "engine/batchlogs.h"
#include "engine/batchreport.h"
#include "engine/batchstatus.h"
#include "shared/outputnames.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace zm;

namespace {
const QString dot = QStringLiteral(" \u00b7 ");
}

TEST(Status, Clock)
{
    const std::pair<qint64, const char *> rows[] = {{0, "0:00"},    {42, "0:42"},      {83, "1:23"},
                                                    {725, "12:05"}, {3723, "1:02:03"}, {-5, "0:00"}};
    for (const auto &[s, text] : rows)
        EXPECT_EQ(formatClock(s), QString::fromLatin1(text)) << s;
}

TEST(Status, TextSequenceOfABatch)
{
    // Three files of 60, 10 and 120 s of media; the clock is the test's.
    BatchStatus st;
    qint64 now = 1000;
    st.begin(now);
    st.setWaiting({60.0, 10.0, 120.0});
    EXPECT_EQ(st.text(now), QStringLiteral("Converting 1 of 3"));

    st.fileStarted(60.0);
    st.setWaiting({10.0, 120.0});
    now += 1000;
    st.setCurrentPosition(5);
    EXPECT_EQ(st.text(now), QStringLiteral("Converting 1 of 3")) << "too early for an estimate";
    now += 2000; // 3 s in, 30 media seconds done: 10 s of media per second
    st.setCurrentPosition(30);
    // Left: 30 of this file + 10 + 120 = 160 media seconds at 10/s.
    EXPECT_EQ(st.text(now), QStringLiteral("Converting 1 of 3") + dot + QStringLiteral("about 0:16 left"));

    now += 3000;
    st.fileEnded(true);
    st.fileStarted(10.0);
    st.setWaiting({120.0});
    EXPECT_TRUE(st.text(now).startsWith(QStringLiteral("Converting 2 of 3")));
    st.fileEnded(false);
    st.fileStarted(120.0);
    st.setWaiting({});
    now += 14000;
    st.setCurrentPosition(120);
    st.fileEnded(true);
    EXPECT_EQ(st.summary(now, false), QStringLiteral("2 converted, 1 failed") + dot + QStringLiteral("0:20"));
    EXPECT_EQ(st.summary(now + 63000, true),
              QStringLiteral("Stopped") + dot + QStringLiteral("2 converted, 1 failed") + dot + QStringLiteral("1:23"));
}

TEST(Status, TimeLeftIsWeightedByMediaLength)
{
    // The same speed and the same number of waiting files: long files take longer.
    struct Row {
        const char *name;
        QList<std::optional<double>> waiting;
        bool cut;
        qint64 expected; // seconds left
    };
    const Row rows[] = {
        {"two short files", {10.0, 10.0}, false, 5},                         // (30 + 20) / 10
        {"two long files", {300.0, 300.0}, false, 63},                       // (30 + 600) / 10
        {"unknown length: mean of known", {std::nullopt, 120.0}, false, 24}, // mean (60 + 120) / 2 = 90 -> 240 / 10
        {"cut to 20 s after 10 s", {300.0, 15.0}, true, 4},                  // done 20 of 20; 0 + 20 + 5 = 25 at 6.67/s
    };
    for (const Row &r : rows) {
        BatchStatus st;
        st.setCut(r.cut, 10, 20);
        st.begin(0);
        st.fileStarted(60.0);
        st.setWaiting(r.waiting);
        st.setCurrentPosition(r.cut ? 20 : 30);
        EXPECT_EQ(st.secondsLeft(3000), std::optional<qint64>(r.expected)) << r.name;
    }
    // Nothing at all known: no estimate rather than a wrong one.
    BatchStatus st;
    st.begin(0);
    st.fileStarted(std::nullopt);
    st.setWaiting({std::nullopt});
    st.setCurrentPosition(30);
    EXPECT_FALSE(st.secondsLeft(5000).has_value());
    // The converter's Duration line replaces the probe's guess.
    st.setCurrentDuration(40);
    EXPECT_EQ(st.secondsLeft(5000), std::optional<qint64>(9)); // (10 + 40) at 6 per s, rounded up
}

TEST(Status, SeveralFilesAtOnce)
{
    // Four files of 10, 30, 20 and 40 s, two at a time: the text names the files under way, the
    // bar's share counts media seconds over the whole batch.
    BatchStatus st;
    st.begin(0);
    st.fileStarted(1, 10.0);
    st.fileStarted(2, 30.0);
    st.setWaiting({20.0, 40.0});
    EXPECT_EQ(st.text(0), QStringLiteral("Converting 1\u20132 of 4"));
    EXPECT_DOUBLE_EQ(st.batchFraction(), 0.0);
    st.setCurrentPosition(1, 5);
    st.setCurrentPosition(2, 15);
    EXPECT_DOUBLE_EQ(st.batchFraction(), 0.2);
    // Ids are the caller's: a position for a file that is not running changes nothing.
    st.setCurrentPosition(7, 99);
    EXPECT_DOUBLE_EQ(st.batchFraction(), 0.2);
    // Two files, 2 s of wall time, 20 media seconds done: 10 per s for the 80 left.
    EXPECT_EQ(st.secondsLeft(2000), std::optional<qint64>(8));

    st.fileEnded(2, true);
    EXPECT_DOUBLE_EQ(st.batchFraction(), 0.35);
    st.fileStarted(3, 20.0);
    st.setWaiting({40.0});
    EXPECT_TRUE(st.text(0).startsWith(QStringLiteral("Converting 2\u20133 of 4")));
    // A failed file counts in full for the bar: it is done with.
    st.fileEnded(1, false);
    EXPECT_DOUBLE_EQ(st.batchFraction(), 0.4);
    EXPECT_TRUE(st.text(0).startsWith(QStringLiteral("Converting 3 of 4")));
    st.fileEnded(1, true); // not running any more: nothing is counted twice
    EXPECT_EQ(st.converted() + st.failed(), 2);
    st.fileEnded(3, true);
    st.fileStarted(4, std::nullopt);
    st.setCurrentDuration(4, 40);
    st.setWaiting({});
    st.setCurrentPosition(4, 40);
    EXPECT_DOUBLE_EQ(st.batchFraction(), 1.0);
    st.fileEnded(4, true);
    EXPECT_EQ(st.summary(83000, false), QStringLiteral("3 converted, 1 failed") + dot + QStringLiteral("1:23"));
}

TEST(Status, BatchFraction)
{
    struct Row {
        const char *name;
        bool cut;
        std::optional<double> runningLength;
        double position;
        QList<std::optional<double>> waiting;
        double expected;
    };
    const Row rows[] = {
        {"all known", false, 40.0, 10, {60.0}, 0.1},
        {"unknown waiting file: mean of the known", false, 40.0, 10, {std::nullopt, 60.0}, 10.0 / 150},
        {"unknown running file: mean of the known", false, std::nullopt, 10, {30.0, 50.0}, 10.0 / 120},
        {"nothing known: by count, the running file not yet", false, std::nullopt, 10, {std::nullopt}, 0.0},
        {"position beyond the length", false, 40.0, 90, {40.0}, 0.5},
        {"cut to 20 s after 10 s", true, 300.0, 10, {15.0, std::nullopt}, 10.0 / 45},
    };
    for (const Row &r : rows) {
        BatchStatus st;
        st.setCut(r.cut, 10, 20);
        st.begin(0);
        st.fileStarted(5, r.runningLength);
        st.setCurrentPosition(5, r.position);
        st.setWaiting(r.waiting);
        EXPECT_DOUBLE_EQ(st.batchFraction(), r.expected) << r.name;
    }
    // Nothing known, one of four files done: a quarter.
    BatchStatus st;
    st.begin(0);
    st.fileStarted(1, std::nullopt);
    st.fileEnded(1, true);
    st.fileStarted(2, std::nullopt);
    st.setWaiting({std::nullopt, std::nullopt});
    EXPECT_DOUBLE_EQ(st.batchFraction(), 0.25);
    EXPECT_DOUBLE_EQ(BatchStatus().batchFraction(), 0.0);
}

TEST(OutputNamesBook, TakenInOrderReleasedOnRequest)
{
    batch::OutputNames names;
    struct Step {
        const char *take; // the wanted name, or nothing to release `release`
        const char *release;
        const char *expected;
    };
    const Step steps[] = {
        {"/o/clip.wma", nullptr, "/o/clip.wma"},       {"/o/clip.wma", nullptr, "/o/clip (2).wma"},
        {"/o//clip.wma", nullptr, "/o//clip (3).wma"}, // the same file, however it is written
        {"/o/clip.mp3", nullptr, "/o/clip.mp3"},       {nullptr, "/o/clip (2).wma", nullptr},
        {"/o/clip.wma", nullptr, "/o/clip (2).wma"},   {"/o/clip.wma", nullptr, "/o/clip (4).wma"},
        {"/p/clip.wma", nullptr, "/p/clip.wma"},       {"/o/clip (2).wma", nullptr, "/o/clip (2) (2).wma"},
    };
    for (const Step &s : steps) {
        if (!s.take) {
            names.release(QString::fromLatin1(s.release));
            EXPECT_FALSE(names.isTaken(QString::fromLatin1(s.release)));
            continue;
        }
        EXPECT_EQ(names.take(QString::fromLatin1(s.take)), QString::fromLatin1(s.expected)) << s.take;
    }
    names.clear();
    EXPECT_EQ(names.take(QStringLiteral("/o/clip.wma")), QStringLiteral("/o/clip.wma"));
}

TEST(Report, ReasonShownOnceWithoutThePath)
{
    const QString in = QStringLiteral("/m/My \"Clip\" 1.flv");
    struct Row {
        QString outputs, expected;
    };
    const Row rows[] = {
        {QStringLiteral("conv: input is not a media file FFmpeg can read: ") + in + QStringLiteral("\n"),
         QStringLiteral("conv: input is not a media file FFmpeg can read")},
        {QStringLiteral("conv: cannot open input '") + in + QStringLiteral("'\n"),
         QStringLiteral("conv: cannot open input")},
        {QStringLiteral("conv: cannot open input ") + in + QStringLiteral(": Invalid data\r\n"),
         QStringLiteral("conv: cannot open input: Invalid data")},
        {QStringLiteral("size=1 time=1.0\rconv: no audio stream\n\n"), QStringLiteral("conv: no audio stream")},
        {QString(), QStringLiteral("the converter ended with code 1")},
        {in + QStringLiteral("\n"), QStringLiteral("the converter ended with code 1")},
    };
    for (const Row &r : rows)
        EXPECT_EQ(failureReason(r.outputs, in, QStringLiteral("the converter ended with code 1")), r.expected)
            << r.outputs.toStdString();
    EXPECT_EQ(failuresText(
                  {{QStringLiteral("/a.flv"), QStringLiteral("x")}, {QStringLiteral("/b c.avi"), QStringLiteral("y")}}),
              QStringLiteral("/a.flv\n    x\n/b c.avi\n    y\n"));
    EXPECT_EQ(failuresHeading(1), QStringLiteral("1 file could not be converted:"));
    EXPECT_EQ(failuresHeading(30), QStringLiteral("30 files could not be converted:"));
}

TEST(Logs, OneFilePerInputAndTheLastTwentyBatches)
{
    QTemporaryDir dir;
    const QString root = dir.path() + QStringLiteral("/zelmora/logs");
    QDir().mkpath(root + QStringLiteral("/notes")); // not a batch folder: never removed
    QDateTime t(QDate(2026, 1, 2), QTime(3, 4, 5, 6));
    QStringList folders;
    for (int i = 0; i < 23; ++i) {
        BatchLogs logs(root);
        ASSERT_TRUE(logs.begin(t)) << i;
        folders << logs.folder();
        if (i == 0) {
            const QString a = logs.write(QStringLiteral("/v/clip.flv"), QStringLiteral("first\n"));
            const QString b = logs.write(QStringLiteral("/w/clip.flv"), QStringLiteral("second\n"));
            EXPECT_EQ(QFileInfo(a).fileName(), QStringLiteral("clip.flv.log"));
            EXPECT_EQ(QFileInfo(b).fileName(), QStringLiteral("clip.flv (2).log"));
            QFile f(a);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            EXPECT_EQ(f.readAll(), QByteArray("first\n"));
            EXPECT_EQ(QFileInfo(logs.write(QStringLiteral("/v/"), QStringLiteral("x"))).fileName(),
                      QStringLiteral("input.log"));
        }
        t = t.addSecs(60);
    }
    QStringList left = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    EXPECT_TRUE(left.removeOne(QStringLiteral("notes")));
    EXPECT_EQ(left.size(), BatchLogs::kKeptBatches);
    // The oldest by name went (the three earliest stamps), the newest stayed.
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(QFileInfo::exists(folders[i])) << i;
    EXPECT_TRUE(QFileInfo::exists(folders[21]));
    EXPECT_TRUE(QFileInfo::exists(folders[22]));

    // A root that cannot be made: no folder, no log, no crash.
    QFile blocker(dir.path() + QStringLiteral("/file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    BatchLogs none(dir.path() + QStringLiteral("/file/logs"));
    EXPECT_FALSE(none.begin(t));
    EXPECT_TRUE(none.write(QStringLiteral("/v/a.flv"), QStringLiteral("x")).isEmpty());
}

TEST(Logs, RootFollowsXdgStateHome)
{
    const QByteArray saved = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", "/tmp/st");
    EXPECT_EQ(logsRoot(), QStringLiteral("/tmp/st/zelmora/logs"));
    qputenv("XDG_STATE_HOME", "relative/st");
    EXPECT_EQ(logsRoot(), QDir::homePath() + QStringLiteral("/.local/state/zelmora/logs"));
    qunsetenv("XDG_STATE_HOME");
    EXPECT_EQ(logsRoot(), QDir::homePath() + QStringLiteral("/.local/state/zelmora/logs"));
    if (!saved.isNull())
        qputenv("XDG_STATE_HOME", saved);
}
