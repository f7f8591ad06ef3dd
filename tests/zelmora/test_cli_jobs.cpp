// Job files: the pieces headless (lines, root maps, shards), and plan, run and status against
// the fake converter: stable plans, one job by index, shards that cover the list once, a library
// mounted elsewhere, a missing input (exit 3), a failed job, and status telling the truth.
#include "cli/jobfile.h"
#include "support/files.h"
#include "support/process.h"
#include "zelmora/testutil.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace zm;
using namespace zm::cli;

TEST(JobFile, LinesRootMapsAndShares)
{
    Job job;
    job.root = QStringLiteral("/mnt/lib");
    job.input = QStringLiteral("Music/A/01 \"x\" é.flac");
    job.outputRoot = QStringLiteral("out");
    job.output = QStringLiteral("A/01 \"x\" é.mp3");
    job.choices.formatIndex = 0;
    job.choices.bitrate = QStringLiteral("320");
    job.choices.channelIndex = 0;
    job.choices.cutterOn = true;
    job.choices.cutFrom = 5;
    job.choices.cutTo = 30;
    job.settingsHash = QStringLiteral("abc");
    job.duration = 12.3456;
    QString error;
    const auto back = parseJob(jobLine(job), &error);
    ASSERT_TRUE(back) << error.toStdString();
    EXPECT_EQ(back->input, job.input);
    EXPECT_EQ(back->output, job.output);
    EXPECT_EQ(back->choices.bitrate, QStringLiteral("320"));
    EXPECT_EQ(back->choices.channelIndex, 0);
    EXPECT_TRUE(back->choices.cutterOn);
    EXPECT_EQ(back->choices.cutTo, 30);
    EXPECT_DOUBLE_EQ(*back->duration, 12.346);
    EXPECT_EQ(jobLine(*back), jobLine(job)) << "a line reads back as itself";
    EXPECT_FALSE(jobLine(job).contains('\n'));
    EXPECT_FALSE(jobLine(job).contains("replaygain")) << "loudness off: the line as it always was";
    EXPECT_FALSE(jobLine(job).contains("normalize"));
    EXPECT_EQ(back->choices.replayGain, ReplayGain::Off);
    EXPECT_FALSE(back->choices.normalize);

    Job loud = job;
    loud.choices.replayGain = ReplayGain::Album;
    loud.choices.normalize = -16;
    const auto loudBack = parseJob(jobLine(loud), &error);
    ASSERT_TRUE(loudBack) << error.toStdString();
    EXPECT_EQ(loudBack->choices.replayGain, ReplayGain::Album);
    EXPECT_EQ(loudBack->choices.normalize, -16.0);
    EXPECT_EQ(jobLine(*loudBack), jobLine(loud));

    for (
        const char *bad :
        {"{not json", R"({"root":"rel","input":"a","output_root":"o","output":"a.mp3"})",
         R"({"root":"/r","input":"a","output_root":"o","output":"a.mp3","settings":{"format":"mp4"}})",
         R"({"root":"/r","input":"a","output":"a.mp3","settings":{"format":"mp3"}})",
         R"({"root":"/r","input":"a","output_root":"o","output":"a.mp3","settings":{"format":"mp3","replaygain":"all"}})",
         R"({"root":"/r","input":"a","output_root":"o","output":"a.mp3","settings":{"format":"mp3","normalize":3}})"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(parseJob(QByteArray(bad), &error));
        EXPECT_FALSE(error.isEmpty());
    }

    const RootMap map{*parseRootMap(QStringLiteral("/mnt/lib=/data/music")), *parseRootMap(QStringLiteral("/=/x"))};
    struct MapRow {
        const char *path, *mapped;
    };
    const MapRow maps[] = {{"/mnt/lib/Music/a.flac", "/data/music/Music/a.flac"},
                           {"/mnt/lib", "/data/music"},
                           {"/mnt/library/a.flac", "/x/mnt/library/a.flac"}};
    for (const MapRow &r : maps)
        EXPECT_EQ(mapRoot(QLatin1String(r.path), map), QLatin1String(r.mapped)) << r.path;
    EXPECT_EQ(mapRoot(QStringLiteral("/a/b"), {}), QStringLiteral("/a/b"));
    for (const char *bad : {"nothing", "=/x", "/x="})
        EXPECT_FALSE(parseRootMap(QLatin1String(bad))) << bad;
    const JobPaths p = resolve(job, map);
    EXPECT_EQ(p.input, QStringLiteral("/data/music/Music/A/01 \"x\" é.flac"));
    EXPECT_EQ(p.output, QStringLiteral("/data/music/out/A/01 \"x\" é.mp3"));
    EXPECT_EQ(relativeIfBelow(QStringLiteral("/a"), QStringLiteral("/a/b/c")), QStringLiteral("b/c"));
    EXPECT_EQ(relativeIfBelow(QStringLiteral("/a"), QStringLiteral("/ab/c")), QStringLiteral("/ab/c"));

    // Shards cover every line exactly once; an index picks one line or none.
    for (int shards = 1; shards <= 4; ++shards) {
        QList<int> all;
        for (int s = 1; s <= shards; ++s)
            all += selectJobs(10, *parseShard(QStringLiteral("%1/%2").arg(s).arg(shards)));
        std::sort(all.begin(), all.end());
        QList<int> expected(10);
        std::iota(expected.begin(), expected.end(), 0);
        EXPECT_EQ(all, expected) << shards;
    }
    EXPECT_EQ(selectJobs(10, *parseShard(QStringLiteral("2/3"))), (QList<int>{1, 4, 7}));
    for (const char *bad : {"0/2", "3/2", "1/0", "a/b", "1"})
        EXPECT_FALSE(parseShard(QLatin1String(bad))) << bad;
    Selection one;
    one.index = 3;
    EXPECT_EQ(selectJobs(10, one), QList<int>{3});
    one.index = 10;
    EXPECT_TRUE(selectJobs(10, one).isEmpty());
}

namespace {

struct Jobs {
    zmtest::FakeApp app;
    QString cli, lib;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    Jobs()
    {
        cli = app.path + QStringLiteral("/zelmora-cli");
        QFile::copy(QStringLiteral(ZELMORA_CLI_PATH), cli);
        lib = app.path + QStringLiteral("/lib");
        env.insert(QStringLiteral("FAKECONV_LOG"), app.log());
        env.insert(QStringLiteral("XDG_STATE_HOME"), app.path + QStringLiteral("/state"));
    }
    QString file(const QString &relative, const QByteArray &bytes = "sound") const
    {
        QString p = lib + QLatin1Char('/') + relative;
        QDir().mkpath(QFileInfo(p).path());
        QFile f(p);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(bytes);
        return p;
    }
    testsupport::RunResult run(const QStringList &args) const { return testsupport::run(cli, args, 60000, env, lib); }
    int conversions() const
    {
        const auto log = zmtest::parseLog(app.logLines());
        return int(std::count_if(log.begin(), log.end(), [](const zmtest::LogEntry &e) { return e.start; }));
    }
    bool plan(const QStringList &args) const
    {
        const testsupport::RunResult r = run(QStringList{"plan"} + args);
        QFile f(lib + QStringLiteral("/jobs.jsonl"));
        return r.exitCode == 0 && f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(r.out) == r.out.size();
    }
    QJsonObject status(const QStringList &extra = {}) const
    {
        return QJsonDocument::fromJson(run(QStringList{"status", "--json", "jobs.jsonl"} + extra).out).object();
    }
};

} // namespace

TEST(CliJobs, PlanRunStatusAcrossMachines)
{
    Jobs j;
    for (const char *p : {"Music/01 one.flac", "Music/A/01 one.flac", "Music/A/B/02 two.flac", "Music/C/03.flac"})
        j.file(QLatin1String(p));
    const QStringList planArgs{"--root", j.lib, "--mirror", "-f", "mp3", "-o", j.lib + "/out", "Music"};
    const testsupport::RunResult planned = j.run(QStringList{"plan"} + planArgs);
    ASSERT_EQ(planned.exitCode, 0) << planned.err.toStdString();
    EXPECT_EQ(j.run(QStringList{"plan"} + planArgs).out, planned.out) << "the same plan twice";
    EXPECT_EQ(j.conversions(), 0) << "a plan converts nothing";
    ASSERT_TRUE(j.plan(planArgs));
    const QList<QByteArray> lines = planned.out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 4);
    const QJsonObject first = QJsonDocument::fromJson(lines[1]).object();
    EXPECT_EQ(first.value("input").toString(), QStringLiteral("Music/A/01 one.flac"));
    EXPECT_EQ(first.value("output").toString(), QStringLiteral("A/01 one.mp3"));
    EXPECT_EQ(first.value("output_root").toString(), QStringLiteral("out"));
    EXPECT_EQ(first.value("root").toString(), j.lib);
    EXPECT_EQ(first.value("size").toInt(), 5);
    for (const char *key : {"settings", "settings_hash", "mtime_ms", "duration"})
        EXPECT_TRUE(first.contains(QLatin1String(key))) << key;
    EXPECT_EQ(j.status().value("to_do").toInt(), 4);

    // One job by index, then again: the second time it is up to date.
    testsupport::RunResult r = j.run({"run", "jobs.jsonl", "--index", "2"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(j.lib + QStringLiteral("/out/A/B/02 two.mp3")));
    EXPECT_EQ(j.run({"run", "jobs.jsonl", "--index", "2"}).exitCode, 0);
    EXPECT_EQ(j.conversions(), 1);
    // Two shards run the rest, each job once.
    for (const char *shard : {"1/2", "2/2"})
        EXPECT_EQ(j.run({"run", "--shard", shard, "jobs.jsonl"}).exitCode, 0) << shard;
    EXPECT_EQ(j.conversions(), 4);
    QJsonObject s = j.status();
    EXPECT_EQ(s.value("done").toInt(), 4);
    EXPECT_EQ(s.value("to_do").toInt(), 0);

    // Exit codes: an index outside the list is bad usage; a missing input is 3, never "done".
    EXPECT_EQ(j.run({"run", "jobs.jsonl", "--index", "4"}).exitCode, 2);
    EXPECT_EQ(j.run({"run", "jobs.jsonl", "--shard", "3/2"}).exitCode, 2);
    EXPECT_EQ(j.run({"run", "no-such.jsonl"}).exitCode, 2);
    QFile::rename(j.lib + QStringLiteral("/Music/C/03.flac"), j.lib + QStringLiteral("/03.away"));
    r = j.run({"run", "jobs.jsonl", "--index", "3"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(r.err.contains("the input is not there")) << r.err.toStdString();
    EXPECT_EQ(j.run({"run", "jobs.jsonl"}).exitCode, 3) << "the others are up to date, one is missing";
    EXPECT_EQ(j.status().value("missing").toInt(), 1);
    QFile::rename(j.lib + QStringLiteral("/03.away"), j.lib + QStringLiteral("/Music/C/03.flac"));

    // The library mounted elsewhere: --root-map finds it; nothing is converted twice.
    const QString moved = j.app.path + QStringLiteral("/mnt/library");
    QDir().mkpath(j.app.path + QStringLiteral("/mnt"));
    ASSERT_TRUE(QDir().rename(j.lib, moved));
    j.lib = moved;
    EXPECT_EQ(j.run({"run", "jobs.jsonl", "--index", "0"}).exitCode, 3) << "without the map";
    const QString map = j.app.path + QStringLiteral("/lib=") + moved;
    r = j.run({"run", "--root-map", map, "jobs.jsonl"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(j.conversions(), 4);
    s = j.status({"--root-map", map});
    EXPECT_EQ(s.value("done").toInt(), 4);
    EXPECT_EQ(s.value("missing").toInt(), 0);
}

TEST(CliJobs, FailedJobsAreCountedAndRunAgain)
{
    Jobs j;
    j.file(QStringLiteral("a.flv"));
    const QString bad =
        j.app.script(QStringLiteral("b.flv"), {QStringLiteral("err conv: broken"), QStringLiteral("exit 5")});
    QFile::copy(bad, j.lib + QStringLiteral("/b.flv"));
    ASSERT_TRUE(j.plan({"-f", "ogg", "-o", j.lib + "/out", "a.flv", "b.flv"}));
    testsupport::RunResult r = j.run({"run", "--json", "jobs.jsonl"});
    EXPECT_EQ(r.exitCode, 1);
    QJsonObject s = j.status();
    EXPECT_EQ(s.value("done").toInt(), 1);
    EXPECT_EQ(s.value("failed").toInt(), 1);
    EXPECT_EQ(s.value("to_do").toInt(), 0);
    EXPECT_EQ(j.run({"status", "jobs.jsonl"}).exitCode, 1);
    // Mended, the same command finishes it and converts nothing else.
    j.file(QStringLiteral("b.flv"));
    EXPECT_EQ(j.run({"run", "jobs.jsonl", "--index", "1"}).exitCode, 0);
    EXPECT_EQ(j.conversions(), 3);
    EXPECT_EQ(j.run({"run", "jobs.jsonl"}).exitCode, 0);
    EXPECT_EQ(j.conversions(), 3);
    EXPECT_EQ(j.run({"status", "jobs.jsonl"}).exitCode, 0);
}
