// The pool of jobs against the fake child: never more than N at once, names given in queue
// order whatever finishes first, and a stop that ends every running job.
#include "batch/batchtestutil.h"
#include "pool/jobpool.h"
#include "shared/outputnames.h"
#include "support/files.h"

#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

using batch::ConverterProcess;
using batch::JobPool;
using batch::ProcessOutcome;
using batchtest::child;

namespace {

// One queued job: the fake child's steps and the output name it wants.
struct Job {
    QStringList steps;
    QString wanted;
};

// Runs `queue` through a pool of `jobs`, refilling free slots in queue order as jobs end, the
// way the front ends do. Records the name each job got, the order of starts and the most jobs
// the pool ran at once.
struct QueueRun {
    JobPool pool;
    QList<Job> queue;
    qsizetype next = 0;
    batch::OutputNames names;
    QStringList given;      // in start order
    QList<int> startedJobs; // queue indexes in start order
    int mostRunning = 0;
    int ended = 0;
    QList<ProcessOutcome> outcomes;

    explicit QueueRun(int jobs) : pool(jobs)
    {
        QObject::connect(&pool, &JobPool::finished, &pool, [this](int, const ProcessOutcome &o) {
            ++ended;
            outcomes << o;
            fill();
        });
    }
    void fill()
    {
        pool.fill([this](ConverterProcess &p, int) {
            if (next >= queue.size())
                return false;
            const Job &job = queue.at(next);
            given << names.take(job.wanted);
            startedJobs << int(next);
            ++next;
            const bool ok = p.start(child(job.steps));
            mostRunning = std::max(mostRunning, pool.running());
            return ok;
        });
    }
    bool runAll(int timeoutMs = 30000)
    {
        fill();
        return testsupport::waitFor([this] { return ended == queue.size(); }, timeoutMs);
    }
};

int mostAtOnceInLog(const QStringList &lines)
{
    QList<std::pair<qint64, int>> events;
    for (const QString &l : lines)
        events << std::pair(l.section(QLatin1Char(' '), 1, 1).toLongLong(),
                            l.startsWith(QLatin1String("start")) ? 1 : -1);
    std::sort(events.begin(), events.end()); // an end sorts before a start of the same moment
    int now = 0, most = 0;
    for (const auto &e : events)
        most = std::max(most, now += e.second);
    return most;
}

} // namespace

TEST(Pool, NeverMoreThanNAtOnce)
{
    for (int jobs : {1, 2, 3}) {
        SCOPED_TRACE(jobs);
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("log"));
        QueueRun run(jobs);
        for (int i = 0; i < 7; ++i)
            run.queue << Job{{QStringLiteral("log:") + log, QStringLiteral("sleep:%1").arg(60 + 40 * (i % 3))},
                             QStringLiteral("/o/f%1.wma").arg(i)};
        ASSERT_TRUE(run.runAll());
        EXPECT_EQ(run.mostRunning, jobs);
        EXPECT_EQ(mostAtOnceInLog(testsupport::readLines(log)), jobs) << "counted from the children themselves";
        EXPECT_EQ(run.pool.running(), 0);
        EXPECT_TRUE(run.pool.pids().isEmpty());
        for (const ProcessOutcome &o : run.outcomes)
            EXPECT_TRUE(o.succeeded());
    }
}

TEST(Pool, NamesFollowTheQueueWhicheverJobEndsFirst)
{
    // Six files want the same name; the later ones are quicker, so they end first.
    for (int jobs : {1, 2, 3}) {
        SCOPED_TRACE(jobs);
        QueueRun run(jobs);
        for (int i = 0; i < 6; ++i)
            run.queue << Job{{QStringLiteral("sleep:%1").arg(300 - 50 * i)}, QStringLiteral("/o/clip.wma")};
        ASSERT_TRUE(run.runAll());
        EXPECT_EQ(run.startedJobs, (QList<int>{0, 1, 2, 3, 4, 5}));
        EXPECT_EQ(run.given, (QStringList{"/o/clip.wma", "/o/clip (2).wma", "/o/clip (3).wma", "/o/clip (4).wma",
                                          "/o/clip (5).wma", "/o/clip (6).wma"}));
    }
}

TEST(Pool, StopAllEndsEveryRunningJob)
{
    struct Row {
        QStringList steps;
        int codeOrSignal;
        bool killed;
    };
    const Row rows[] = {
        {{"handle-term", "unblock", "out:started", "sleep:30000"}, 6, false},
        {{"ignore-term", "unblock", "out:started", "sleep:30000"}, SIGKILL, true},
        {{"out:started", "sleep:30000"}, SIGKILL, true}, // never lets SIGTERM in
    };
    JobPool pool(3);
    QMap<int, ProcessOutcome> outcomes;
    int outputs = 0;
    QObject::connect(&pool, &JobPool::finished, &pool, [&](int slot, const ProcessOutcome &o) { outcomes[slot] = o; });
    QObject::connect(&pool, &JobPool::output, &pool, [&] { ++outputs; });
    for (const Row &r : rows)
        ASSERT_GE(pool.start(child(r.steps)), 0);
    EXPECT_EQ(pool.start(child({})), -1) << "no fourth slot";
    EXPECT_EQ(pool.busySlots(), (QList<int>{0, 1, 2}));
    ASSERT_TRUE(testsupport::waitFor([&] { return outputs == 3; }));
    const QList<pid_t> pids = pool.pids();
    ASSERT_EQ(pids.size(), 3);
    pool.stopAll(300);
    ASSERT_TRUE(testsupport::waitFor([&] { return outcomes.size() == 3; }));
    for (int slot = 0; slot < 3; ++slot) {
        SCOPED_TRACE(slot);
        const ProcessOutcome &o = outcomes[slot];
        EXPECT_TRUE(o.stopRequested);
        EXPECT_EQ(o.killedAfterGrace, rows[slot].killed);
        EXPECT_EQ(o.ending == ProcessOutcome::Ending::Exited ? o.exitCode : o.signal, rows[slot].codeOrSignal);
        EXPECT_TRUE(testsupport::gone(pids[slot]));
    }
    EXPECT_EQ(pool.running(), 0);
}

TEST(Pool, SlotsAreKeptFilledLowestFirstAndMadeByTheFactory)
{
    QList<int> made;
    JobPool pool(2, [&](int slot, QObject *parent) {
        made << slot;
        return new ConverterProcess(parent);
    });
    EXPECT_EQ(pool.freeSlot(), 0);
    ASSERT_EQ(pool.start(child({QStringLiteral("sleep:400")})), 0);
    ASSERT_EQ(pool.start(child({QStringLiteral("sleep:50")})), 1);
    EXPECT_FALSE(pool.hasFreeSlot());
    ASSERT_TRUE(testsupport::waitFor([&] { return pool.freeSlot() == 1; }));
    ASSERT_EQ(pool.start(child({})), 1) << "the slot that was freed, and its process again";
    EXPECT_EQ(made, (QList<int>{0, 1}));
    // A smaller capacity lets the running jobs end and hands out no slot above it.
    pool.setCapacity(1);
    EXPECT_EQ(pool.slot(1), nullptr);
    ASSERT_TRUE(testsupport::waitFor([&] { return pool.running() == 0; }));
    EXPECT_EQ(pool.freeSlot(), 0);
    // A start that fails leaves the slot free and stops the fill.
    int calls = 0;
    EXPECT_EQ(pool.fill([&](ConverterProcess &p, int) {
        ++calls;
        batch::ProcessRequest missing;
        missing.program = QStringLiteral("/nonexistent/conv");
        missing.arguments = {QStringLiteral("conv")};
        return p.start(missing) || true;
    }),
              1);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(pool.running(), 0);
}

TEST(Pool, EachConverterGetsItsShareOfTheCores)
{
    const struct {
        int cores, concurrent, share;
    } rows[] = {
        {8, 1, 8}, {8, 2, 4}, {8, 3, 2}, {2, 4, 1}, {1, 1, 1}, {6, 0, 6}, {0, 2, 1},
    };
    for (const auto &r : rows)
        EXPECT_EQ(batch::threadShare(r.concurrent, r.cores), r.share) << r.cores << " cores, " << r.concurrent;
    EXPECT_EQ(batch::threadShareEntry(1),
              QStringLiteral("ZM_CONV_THREADS=") + QString::number(std::max(1, QThread::idealThreadCount())));
}
