// Batches that convert several files at once, driven headless with the fake converter: how many
// converters run (counted from /proc), which names the files get, the whole-batch bar, stopping,
// and the end of the batch.
#include "support/files.h"
#include "support/process.h"
#include "engine/batchdriver.h"
#include "engine/dosoutputs.h"
#include "engine/durationsource.h"
#include "queue/getfile.h"
#include "queue/queuemodel.h"
#include "zelmora/testutil.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <unistd.h>

using namespace zm;
using testsupport::gone;
using zmtest::FakeApp;
using zmtest::LogEntry;
using zmtest::parseLog;

namespace {

// Lengths the test knows, standing in for the probe.
class KnownLengths final : public DurationSource
{
public:
    QHash<QString, double> lengths;
    void request(const QStringList &) override {}
    QList<std::optional<double>> knownDurations(const QStringList &paths) const override
    {
        QList<std::optional<double>> out;
        for (const QString &p : paths)
            out << (lengths.contains(p) ? std::optional<double>(lengths.value(p)) : std::nullopt);
        return out;
    }
};

struct ParallelBatch {
    FakeApp app;
    QueueModel queue;
    zmtest::RecordingBoxes boxes;
    zmtest::RecordingShell shell;
    zmtest::RecordingSound sound;
    DOSOutputs dos{&boxes};
    ProgramSettings settings;
    Selections sel;
    std::unique_ptr<BatchDriver> driver;
    QStringList captions;
    QStringList removed; // paths in the order they left the queue

    explicit ParallelBatch(int jobs, bool withConverter = true) : app(withConverter)
    {
        qputenv("FAKECONV_LOG", app.log().toUtf8());
        qputenv("XDG_STATE_HOME", (app.path + QStringLiteral("/state")).toUtf8());
        sel.outputDir = app.path + QStringLiteral("/output");
        driver = std::make_unique<BatchDriver>(queue, dos, settings, app.path,
                                               BatchDriver::Seams{&boxes, &shell, &sound}, [this] { return sel; });
        driver->setJobs(jobs);
        QObject::connect(driver.get(), &BatchDriver::progressChanged,
                         [this](float, const QString &c) { captions << c; });
        QObject::connect(&queue, &QueueModel::rowsAboutToBeRemoved, [this](const QModelIndex &, int first, int last) {
            for (int r = first; r <= last; ++r)
                removed << queue.at(r);
        });
    }
    QString out(const QString &name) const { return sel.outputDir + QLatin1Char('/') + name; }
    // Starts the batch and runs the event loop until it has ended; `during` runs once it started.
    bool run(const std::function<void()> &during = {}, int timeoutMs = 30000)
    {
        QEventLoop loop;
        bool finished = false;
        QObject::connect(driver.get(), &BatchDriver::batchFinished, &loop, [&] {
            finished = true;
            loop.quit();
        });
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        driver->imgStart_Click();
        if (!driver->isRunning())
            return false;
        if (during)
            QTimer::singleShot(0, &loop, during);
        loop.exec();
        return finished;
    }
};

// Counts, on a thread of its own, the live converters this process has started for one app
// folder, from /proc; keeps the highest count seen.
class ChildCounter
{
public:
    explicit ChildCounter(QString appDir) : m_appDir(std::move(appDir))
    {
        m_thread = std::thread([this] { loop(); });
    }
    ~ChildCounter()
    {
        m_stop = true;
        m_thread.join();
    }
    int highest() const { return m_highest; }
    static int count(const QString &appDir)
    {
        int n = 0;
        for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            if (!pid.at(0).isDigit())
                continue;
            const auto stat = testsupport::procStat(pid_t(pid.toInt()));
            if (!stat || stat->state == 'Z' || stat->state == 'X' || stat->parent != ::getpid())
                continue;
            QFile cmd(QStringLiteral("/proc/") + pid + QStringLiteral("/cmdline"));
            if (cmd.open(QIODevice::ReadOnly)
                && cmd.readAll().startsWith((appDir + QStringLiteral("/data/conv")).toUtf8()))
                ++n;
        }
        return n;
    }

private:
    void loop()
    {
        while (!m_stop) {
            m_highest = std::max(m_highest.load(), count(m_appDir));
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    }
    QString m_appDir;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_highest{0};
    std::thread m_thread;
};

// The most converters the log shows running at the same moment.
int mostAtOnce(const std::vector<LogEntry> &log)
{
    int now = 0, most = 0;
    for (const LogEntry &e : log) {
        now += e.start ? 1 : -1;
        most = std::max(most, now);
    }
    return most;
}

double captionValue(const QString &c)
{
    return c.endsWith(QLatin1Char('%')) ? c.chopped(1).toDouble() : -1;
}

} // namespace

TEST(Parallel, NoMoreThanNConvertersAndOneEnd)
{
    for (const int jobs : {2, 4}) {
        ParallelBatch b(jobs);
        QStringList inputs;
        for (int i = 0; i < 9; ++i)
            inputs << b.app.script(QStringLiteral("f%1.flv").arg(i),
                                   {QStringLiteral("err Duration: 00:00:10.00, start"), QStringLiteral("sleep 250"),
                                    QStringLiteral("raw time=5.00 \\r"), QStringLiteral("sleep 250"),
                                    QStringLiteral("output")});
        b.queue.appendEntries(inputs);
        QStringList started;
        QObject::connect(b.driver.get(), &BatchDriver::fileStarted, [&](const QString &in) { started << in; });
        std::unique_ptr<ChildCounter> counter = std::make_unique<ChildCounter>(b.app.path);
        ASSERT_TRUE(b.run()) << jobs;
        const int seen = counter->highest();
        counter.reset();

        EXPECT_EQ(seen, jobs) << "converters at once, counted from /proc";
        const auto log = parseLog(b.app.logLines());
        EXPECT_EQ(mostAtOnce(log), jobs) << "converters at once, from the converters' own log";
        EXPECT_EQ(started, inputs) << "files start in queue order";
        EXPECT_EQ(b.queue.count(), 0) << jobs;
        for (const QString &in : inputs)
            EXPECT_TRUE(QFile::exists(b.out(GetBaseName(in) + QStringLiteral(".wma")))) << in.toStdString();
        // The end of the batch comes once: one folder opened, one sound, "Done.".
        EXPECT_EQ(b.shell.opened, QStringList{b.sel.outputDir}) << jobs;
        EXPECT_EQ(b.sound.played, QStringList{b.app.path + QStringLiteral("/sound.wav")}) << jobs;
        EXPECT_EQ(b.captions.last(), QStringLiteral("Done.")) << jobs;
        EXPECT_TRUE(b.boxes.boxes.empty()) << jobs;
        EXPECT_TRUE(b.driver->lastOutcome().summary.startsWith(QStringLiteral("9 converted \u00b7 "))) << jobs;
        EXPECT_TRUE(b.driver->runningPids().isEmpty());
    }
}

TEST(Parallel, NamesFollowTheQueueNotTheFinish)
{
    // Six inputs of one base name that finish in another order than they start: names are given
    // in queue order as the files start, and never change. The quick failure of the second file
    // gives its name back only while no later file has been named: with two jobs the third file
    // is named after it, with four it was named at the same tick (the one-job batch does the
    // same, see Numbering.OnlyNamesThisBatchProducedAreAvoided).
    for (const int jobs : {2, 4}) {
        const bool reused = jobs == 2;
        ParallelBatch b(jobs);
        for (const char *d : {"a", "b", "c", "d", "e", "f"})
            QDir(b.app.path).mkpath(QStringLiteral("in/") + QLatin1String(d));
        const struct {
            const char *input;
            QStringList script;
            const char *name;
        } rows[] = {
            {"a/clip.flv", {QStringLiteral("sleep 900"), QStringLiteral("output")}, "clip.wma"},
            {"b/clip.mp4", {QStringLiteral("err conv: broken"), QStringLiteral("exit 1")}, "clip (2).wma"},
            {"c/clip.avi",
             {QStringLiteral("sleep 50"), QStringLiteral("output")},
             reused ? "clip (2).wma" : "clip (3).wma"},
            {"d/clip.part2.mov",
             {QStringLiteral("sleep 400"), QStringLiteral("output")},
             reused ? "clip (3).wma" : "clip (4).wma"},
            {"e/other.flv", {QStringLiteral("output")}, "other.wma"},
            {"f/clip.wmv", {QStringLiteral("output")}, reused ? "clip (4).wma" : "clip (5).wma"},
        };
        QStringList inputs;
        for (const auto &r : rows)
            inputs << b.app.script(QString::fromLatin1(r.input), r.script);
        b.queue.appendEntries(inputs);
        ASSERT_TRUE(b.run()) << jobs;
        QHash<QString, QString> given;
        for (const LogEntry &e : parseLog(b.app.logLines()))
            if (e.start)
                given.insert(e.args.value(1), e.args.last());
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(given.value(inputs[i]), b.out(QString::fromLatin1(rows[i].name))) << jobs << " " << rows[i].input;
        // Each entry left the list when its own conversion ended: the quick failure before the
        // slow first file.
        EXPECT_EQ(b.removed.size(), 6) << jobs;
        EXPECT_LT(b.removed.indexOf(inputs[1]), b.removed.indexOf(inputs[0])) << jobs;
        EXPECT_EQ(QFile::exists(b.out(QStringLiteral("clip (2).wma"))), reused) << "the failed file's name";
        EXPECT_FALSE(QFile::exists(b.out(QStringLiteral("clip (6).wma")))) << "no gap, no name beyond the files";
        ASSERT_EQ(b.driver->failures().size(), 1);
        EXPECT_EQ(b.driver->failures()[0].inputPath, inputs[1]);
        EXPECT_EQ(b.driver->failures()[0].reason, QStringLiteral("conv: broken"));
        EXPECT_TRUE(b.driver->lastOutcome().summary.startsWith(QStringLiteral("5 converted, 1 failed \u00b7 ")))
            << jobs;
    }
}

TEST(Parallel, TheBarShowsTheWholeBatch)
{
    // Four files of 10, 30, 20 and 40 s, two at a time; each holds on at half way until the test
    // lets it go.
    ParallelBatch b(2);
    KnownLengths lengths;
    b.driver->setDurationSource(&lengths);
    const QString go1 = b.app.path + QStringLiteral("/go1"), go2 = b.app.path + QStringLiteral("/go2");
    auto script = [&](const char *name, int length, const QString &gate) {
        QString p =
            b.app.script(QString::fromLatin1(name),
                         {QStringLiteral("err Duration: 00:00:%1.00, start").arg(length, 2, 10, QLatin1Char('0')),
                          QStringLiteral("raw time=%1.00 \\r").arg(length / 2), QStringLiteral("waitfile ") + gate,
                          QStringLiteral("output")});
        lengths.lengths.insert(p, length);
        return p;
    };
    b.queue.appendEntries(
        {script("a.flv", 10, go1), script("b.flv", 30, go1), script("c.flv", 20, go2), script("d.flv", 40, go2)});
    QString atFirstGate, atSecondGate;
    float widthAtFirstGate = -1;
    QObject::connect(b.driver.get(), &BatchDriver::progressChanged, [&](float width, const QString &c) {
        if (c == QLatin1String("20%") && atFirstGate.isEmpty()) {
            // Both first files at half way: (5 + 15) of 100 media seconds.
            atFirstGate = c;
            widthAtFirstGate = width;
            QFile(go1).open(QIODevice::WriteOnly);
        }
        if (c == QLatin1String("70%") && atSecondGate.isEmpty()) {
            // The first two done (40), the others at half way (10 + 20).
            atSecondGate = c;
            QFile(go2).open(QIODevice::WriteOnly);
        }
    });
    ASSERT_TRUE(b.run());
    EXPECT_EQ(atFirstGate, QStringLiteral("20%")) << b.captions.join(QLatin1Char(' ')).toStdString();
    EXPECT_FLOAT_EQ(widthAtFirstGate, 5415.0f * 0.2f);
    EXPECT_EQ(atSecondGate, QStringLiteral("70%")) << b.captions.join(QLatin1Char(' ')).toStdString();
    // The bar never went back, and it ended at "Done.".
    double last = -1;
    for (const QString &c : b.captions.mid(0, b.captions.size() - 1)) {
        EXPECT_GE(captionValue(c), last) << b.captions.join(QLatin1Char(' ')).toStdString();
        last = captionValue(c);
    }
    EXPECT_EQ(b.captions.last(), QStringLiteral("Done."));
}

TEST(Parallel, StopEndsEveryRunningConverter)
{
    ParallelBatch b(4);
    b.driver->setStopGraceMs(500);
    QStringList inputs;
    for (int i = 0; i < 6; ++i) {
        QStringList script{QStringLiteral("touch ") + b.app.path + QStringLiteral("/ready%1").arg(i),
                           QStringLiteral("err Duration: 00:00:10.00, start"), QStringLiteral("raw time=2.00 \\r"),
                           QStringLiteral("sleep 20000"), QStringLiteral("output")};
        if (i == 1)
            script.prepend(QStringLiteral("ignore-term")); // only SIGKILL ends this one
        inputs << b.app.script(QStringLiteral("s%1.flv").arg(i), script);
    }
    b.queue.appendEntries(inputs);
    QList<pid_t> pids;
    QElapsedTimer sinceStop;
    ASSERT_TRUE(b.run([&] {
        ASSERT_TRUE(testsupport::waitFor([&] {
            for (int i = 0; i < 4; ++i)
                if (!QFile::exists(b.app.path + QStringLiteral("/ready%1").arg(i)))
                    return false;
            return true;
        }));
        pids = b.driver->runningPids();
        sinceStop.start();
        b.driver->stop();
        EXPECT_TRUE(b.driver->isStopping());
    }));
    ASSERT_EQ(pids.size(), 4);
    for (pid_t p : pids)
        EXPECT_TRUE(gone(p)) << "every converter has ended and been reaped";
    EXPECT_GE(sinceStop.elapsed(), 450) << "the one ignoring SIGTERM was killed after the grace time";
    EXPECT_EQ(b.queue.paths(), inputs) << "every file stays queued, in its place";
    EXPECT_EQ(b.app.logLines().filter(QStringLiteral("start\t")).size(), 4) << "no file started after the stop";
    for (int i = 0; i < 6; ++i)
        EXPECT_FALSE(QFile::exists(b.out(QStringLiteral("s%1.wma").arg(i)))) << i;
    EXPECT_TRUE(b.shell.opened.isEmpty());
    EXPECT_TRUE(b.sound.played.isEmpty());
    EXPECT_TRUE(b.driver->failures().isEmpty());
    EXPECT_TRUE(b.driver->lastOutcome().summary.startsWith(QStringLiteral("Stopped \u00b7 0 converted \u00b7 ")));
    EXPECT_EQ(b.captions.last(), QStringLiteral("0%"));

    // Convert again: the batch takes up the queue from its head.
    for (int i = 0; i < 6; ++i)
        b.app.script(QStringLiteral("s%1.flv").arg(i), {QStringLiteral("output")});
    ASSERT_TRUE(b.run());
    EXPECT_EQ(b.queue.count(), 0);
    EXPECT_EQ(b.shell.opened.size(), 1);
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(QFile::exists(b.out(QStringLiteral("s%1.wma").arg(i)))) << i;
}

TEST(Parallel, MissingConverterEndsTheBatchWithTheQueueKept)
{
    ParallelBatch b(2, false);
    const QStringList inputs{b.app.path + QStringLiteral("/in/a.flv"), b.app.path + QStringLiteral("/in/b.flv")};
    b.queue.appendEntries(inputs);
    ASSERT_TRUE(b.run());
    ASSERT_EQ(b.boxes.boxes.size(), 1u);
    EXPECT_EQ(b.boxes.boxes[0].text, QStringLiteral("File or command not found"));
    EXPECT_EQ(b.boxes.boxes[0].icon, MsgIcon::Error);
    EXPECT_EQ(b.queue.paths(), inputs);
    EXPECT_FALSE(b.driver->isRunning());
    EXPECT_TRUE(b.shell.opened.isEmpty());
}

TEST(Parallel, AFileAddedWhileAJobIsFreeStartsAtOnce)
{
    ParallelBatch b(2);
    const QString gate = b.app.path + QStringLiteral("/go");
    const QString first =
        b.app.script(QStringLiteral("first.flv"), {QStringLiteral("waitfile ") + gate, QStringLiteral("output")});
    const QString late =
        b.app.script(QStringLiteral("late.flv"), {QStringLiteral("touch ") + gate, QStringLiteral("output")});
    b.queue.AddQueueEntry(first);
    // The first file holds on until the late one has run: the batch must start it beside.
    ASSERT_TRUE(b.run([&] { QTimer::singleShot(200, [&] { b.queue.AddQueueEntry(late); }); }));
    const auto log = parseLog(b.app.logLines());
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(mostAtOnce(log), 2);
    EXPECT_TRUE(QFile::exists(b.out(QStringLiteral("first.wma"))));
    EXPECT_TRUE(QFile::exists(b.out(QStringLiteral("late.wma"))));
    EXPECT_EQ(b.shell.opened.size(), 1);
}

// Every converter the batch starts learns its share of the cores: the cores divided by the
// converters running at once, which is the number of jobs unless the batch has fewer files. The
// files that start together are checked; a later one may find fewer files beside it.
TEST(Parallel, EachConverterIsToldItsShareOfTheCores)
{
    const int cores = QThread::idealThreadCount();
    const struct {
        int jobs, files, atOnce;
    } rows[] = {{1, 2, 1}, {2, 4, 2}, {4, 2, 2}, {3, 1, 1}};
    for (const auto &r : rows) {
        SCOPED_TRACE(::testing::Message() << r.jobs << " jobs, " << r.files << " files");
        ParallelBatch b(r.jobs);
        const QString seen = b.app.path + QStringLiteral("/threads%1");
        for (int i = 0; i < r.files; ++i)
            b.queue.AddQueueEntry(
                b.app.script(QStringLiteral("f%1.flv").arg(i),
                             {QStringLiteral("envto %1 ZM_CONV_THREADS").arg(seen.arg(i)), QStringLiteral("output")}));
        ASSERT_TRUE(b.run());
        const QString prefix = QStringLiteral("ZM_CONV_THREADS=");
        for (int i = 0; i < r.files; ++i) {
            const QStringList lines = testsupport::readLines(seen.arg(i));
            ASSERT_EQ(lines.size(), 1) << i;
            if (i < r.atOnce) {
                EXPECT_EQ(lines[0], prefix + QString::number(std::max(1, cores / r.atOnce))) << i;
            } else {
                EXPECT_TRUE(lines[0].startsWith(prefix) && lines[0].mid(prefix.size()).toInt() >= 1) << i;
            }
        }
    }
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
