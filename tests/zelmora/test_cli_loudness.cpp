// Loudness in zelmora-cli with the real converter: album gain of a generated album against
// Debian's ReplayGain 2.0 scanner (loudgain) with one and with four conversions at once, the tags
// read back where players read them in every format that carries them, album tags after job
// files have run, and a rewrite that fails leaving its file whole.
#include "engine/albums.h"
#include "support/files.h"
#include "support/loudness.h"
#include "support/media.h"
#include "support/probe.h"
#include "support/process.h"
#include "zelmora/portable_cli.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <cmath>

using namespace zm;

namespace {

// An album of three 3-second tracks at different levels (a tone and noise at about -30, -20 and
// -10 dBFS), tagged with `album` when it is not empty.
void makeAlbum(const QString &folder, const QString &album)
{
    QDir().mkpath(folder);
    const struct {
        const char *name;
        int hz;
        double amplitude;
    } tracks[] = {{"01 quiet", 330, 0.0316}, {"02 middle", 440, 0.1}, {"03 loud", 550, 0.316}};
    for (const auto &t : tracks) {
        QStringList args{"-f",
                         "lavfi",
                         "-i",
                         QStringLiteral("sine=f=%1:d=3").arg(t.hz),
                         "-f",
                         "lavfi",
                         "-i",
                         QStringLiteral("anoisesrc=d=3:c=pink:a=%1").arg(t.amplitude),
                         "-filter_complex",
                         QStringLiteral("[0]volume=%1[s];[s][1]amix=inputs=2:normalize=0").arg(t.amplitude),
                         "-ac",
                         "2",
                         "-ar",
                         "44100"};
        if (!album.isEmpty())
            args << "-metadata" << QStringLiteral("album=") + album;
        ASSERT_TRUE(
            testsupport::makeMedia(folder + QLatin1Char('/') + QLatin1String(t.name) + QStringLiteral(".flac"), args));
    }
}

// The tags of a file, format and audio stream together (keys lower case).
QMap<QString, QString> tagsOf(const QString &path)
{
    const testsupport::Probe p = testsupport::probe(path);
    QMap<QString, QString> tags = p.tags;
    if (const testsupport::StreamInfo *a = p.audio())
        tags.insert(a->tags);
    return tags;
}

// "+4.126 dB" -> 4.126.
double decibels(const QString &text)
{
    QString t = text.trimmed();
    t.remove(QStringLiteral(" dB"));
    bool ok = false;
    const double v = t.toDouble(&ok);
    return ok ? v : std::nan("");
}

struct Scan {
    QMap<QString, double> trackGain; // by file name
    double albumGain = std::nan("");
};

// loudgain's album scan of the files.
Scan loudgain(const QStringList &files)
{
    Scan scan;
    const QMap<QString, testsupport::LoudgainLine> lines = testsupport::loudgainScan(files);
    for (auto it = lines.cbegin(); it != lines.cend(); ++it) {
        if (it.key() == QLatin1String("Album"))
            scan.albumGain = it.value().gain;
        else
            scan.trackGain.insert(it.key(), it.value().gain);
    }
    return scan;
}

QStringList filesIn(const QString &folder, const QString &pattern)
{
    QStringList files;
    for (const QString &name : QDir(folder).entryList({pattern}, QDir::Files, QDir::Name))
        files << folder + QLatin1Char('/') + name;
    return files;
}

} // namespace

TEST(CliLoudness, AlbumGainMatchesTheReferenceScannerWithOneAndFourJobs)
{
    PortableCli app;
    const QString music = app.path + QStringLiteral("/music");
    makeAlbum(music, QStringLiteral("Levels"));
    double albumGainOfOneJob = std::nan("");
    for (const char *jobs : {"1", "4"}) {
        SCOPED_TRACE(jobs);
        const QString out = app.path + QStringLiteral("/out") + QLatin1String(jobs);
        const testsupport::RunResult run = testsupport::run(
            app.cli, {"--replaygain", "album", "-f", "mp3", "-j", jobs, "-o", out, music}, 120000, app.env);
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        const QStringList outputs = filesIn(out, QStringLiteral("*.mp3"));
        ASSERT_EQ(outputs.size(), 3);
        const Scan reference = loudgain(outputs);
        ASSERT_FALSE(std::isnan(reference.albumGain));
        QStringList albumGains;
        for (const QString &o : outputs) {
            const QMap<QString, QString> tags = tagsOf(o);
            SCOPED_TRACE(o.toStdString());
            EXPECT_NEAR(decibels(tags.value("replaygain_track_gain")),
                        reference.trackGain.value(QFileInfo(o).fileName()), 0.1);
            EXPECT_NEAR(decibels(tags.value("replaygain_album_gain")), reference.albumGain, 0.1);
            EXPECT_GT(tags.value("replaygain_album_peak").toDouble(),
                      tags.value("replaygain_track_peak").toDouble() - 1e-6);
            albumGains << tags.value("replaygain_album_gain");
        }
        albumGains.removeDuplicates();
        EXPECT_EQ(albumGains.size(), 1) << "one album gain for the whole album";
        // The album gain is that of all blocks together, not an average of the tracks'.
        double mean = 0;
        for (double g : reference.trackGain)
            mean += g / reference.trackGain.size();
        EXPECT_GT(std::abs(decibels(albumGains.value(0)) - mean), 0.5);
        if (std::isnan(albumGainOfOneJob))
            albumGainOfOneJob = decibels(albumGains.value(0));
        else
            EXPECT_NEAR(decibels(albumGains.value(0)), albumGainOfOneJob, 0.011) << "the same with 1 and 4 jobs";
        EXPECT_TRUE(app.measurements().isEmpty()) << "the measurements are removed once the album is tagged";
        EXPECT_EQ(filesIn(out, QStringLiteral("*")), outputs) << "nothing but the outputs in the output folder";
        EXPECT_EQ(QDir(out).entryList(QDir::Hidden | QDir::Files).size(), 3) << "no hidden leftovers";
    }
}

TEST(CliLoudness, TagsWhereEachFormatKeepsThem)
{
    PortableCli app;
    const QString music = app.path + QStringLiteral("/music");
    makeAlbum(music, {}); // no album tags: the folder is the album
    struct Row {
        const char *format;
        bool r128;
    };
    const Row rows[] = {{"mp3", false}, {"ogg", false}, {"flac", false}, {"m4a", false}, {"opus", true}};
    for (const Row &r : rows) {
        SCOPED_TRACE(r.format);
        const QString out = app.path + QStringLiteral("/out/") + QLatin1String(r.format);
        const testsupport::RunResult run = testsupport::run(
            app.cli, {"--replaygain", "album", "-f", r.format, "-j", "3", "-o", out, music}, 120000, app.env);
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        const QStringList outputs = filesIn(out, QStringLiteral("*.") + QLatin1String(r.format));
        ASSERT_EQ(outputs.size(), 3);
        const Scan reference = loudgain(outputs);
        QStringList albumValues;
        for (const QString &o : outputs) {
            SCOPED_TRACE(o.toStdString());
            const QMap<QString, QString> tags = tagsOf(o);
            if (r.r128) {
                // Q7.8 dB relative to -23 LUFS (loudgain scans Opus against -23 LUFS too).
                bool ok = false;
                const int album = tags.value("r128_album_gain").toInt(&ok);
                ASSERT_TRUE(ok) << tags.value("r128_album_gain").toStdString();
                const int track = tags.value("r128_track_gain").toInt(&ok);
                ASSERT_TRUE(ok);
                EXPECT_NEAR(album / 256.0, reference.albumGain, 0.1);
                EXPECT_NEAR(track / 256.0, reference.trackGain.value(QFileInfo(o).fileName()), 0.1);
                EXPECT_FALSE(tags.contains("replaygain_album_gain"));
                albumValues << tags.value("r128_album_gain");
            } else {
                EXPECT_NEAR(decibels(tags.value("replaygain_album_gain")), reference.albumGain, 0.1);
                EXPECT_NEAR(decibels(tags.value("replaygain_track_gain")),
                            reference.trackGain.value(QFileInfo(o).fileName()), 0.1);
                EXPECT_FALSE(tags.value("replaygain_album_peak").isEmpty());
                albumValues << tags.value("replaygain_album_gain");
            }
        }
        albumValues.removeDuplicates();
        EXPECT_EQ(albumValues.size(), 1);
    }
}

TEST(CliLoudness, AlbumsAfterJobsRunOnSeveralMachines)
{
    PortableCli app;
    const QString music = app.path + QStringLiteral("/music");
    makeAlbum(music, QStringLiteral("Levels"));
    const QString out = app.path + QStringLiteral("/out");
    const testsupport::RunResult plan = testsupport::run(
        app.cli, {"plan", "--replaygain", "album", "-f", "ogg", "-o", out, "--root", app.path, music}, 120000, app.env);
    ASSERT_EQ(plan.exitCode, 0) << plan.err.toStdString();
    const QString jobs = app.path + QStringLiteral("/jobs.jsonl");
    ASSERT_TRUE(testsupport::touch(jobs, plan.out));

    // One "machine" runs its share: the album waits for the rest.
    testsupport::RunResult run = testsupport::run(app.cli, {"run", "--shard", "1/2", jobs}, 120000, app.env);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("albums")) << "says how the album tags are written";
    testsupport::RunResult albums = testsupport::run(app.cli, {"albums", jobs}, 120000, app.env);
    EXPECT_EQ(albums.exitCode, 1);
    EXPECT_TRUE(albums.err.contains("waits for 1 of its jobs")) << albums.err.toStdString();
    for (const QString &o : filesIn(out, QStringLiteral("*.ogg")))
        EXPECT_FALSE(tagsOf(o).contains("replaygain_album_gain")) << "no album tags before every job is done";

    run = testsupport::run(app.cli, {"run", "--shard", "2/2", jobs}, 120000, app.env);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(app.measurements().size(), 3);
    albums = testsupport::run(app.cli, {"albums", jobs}, 120000, app.env);
    ASSERT_EQ(albums.exitCode, 0) << albums.err.toStdString();
    EXPECT_TRUE(albums.out.startsWith("1 albums tagged (3 files)")) << albums.out.toStdString();
    const QStringList outputs = filesIn(out, QStringLiteral("*.ogg"));
    ASSERT_EQ(outputs.size(), 3);
    const Scan reference = loudgain(outputs);
    for (const QString &o : outputs)
        EXPECT_NEAR(decibels(tagsOf(o).value("replaygain_album_gain")), reference.albumGain, 0.1) << o.toStdString();
    EXPECT_TRUE(app.measurements().isEmpty());

    // The tagged outputs are still up to date, and a second `albums` finds nothing to do.
    const testsupport::RunResult status = testsupport::run(app.cli, {"status", jobs}, 60000, app.env);
    EXPECT_EQ(status.exitCode, 0) << status.out.toStdString();
    albums = testsupport::run(app.cli, {"albums", jobs}, 60000, app.env);
    EXPECT_EQ(albums.exitCode, 0);
    EXPECT_TRUE(albums.out.startsWith("0 albums tagged")) << albums.out.toStdString();
}

TEST(CliLoudness, AFailedFileIsLeftOutOfItsAlbum)
{
    PortableCli app;
    const QString music = app.path + QStringLiteral("/music");
    makeAlbum(music, {});
    ASSERT_TRUE(testsupport::touch(music + QStringLiteral("/04 broken.flac"), QByteArray("not sound at all")));
    const QString out = app.path + QStringLiteral("/out");
    const testsupport::RunResult run = testsupport::run(
        app.cli, {"--replaygain", "album", "-f", "flac", "-j", "2", "-o", out, music}, 120000, app.env);
    EXPECT_EQ(run.exitCode, 1) << "the broken file failed";
    const QStringList outputs = filesIn(out, QStringLiteral("*.flac"));
    ASSERT_EQ(outputs.size(), 3);
    const Scan reference = loudgain(outputs);
    for (const QString &o : outputs)
        EXPECT_NEAR(decibels(tagsOf(o).value("replaygain_album_gain")), reference.albumGain, 0.1) << o.toStdString();
}

TEST(AlbumTaggerRun, ARewriteThatFailsLeavesItsFileWhole)
{
    PortableCli app;
    const QString music = app.path + QStringLiteral("/music");
    makeAlbum(music, {});
    const QString out = app.path + QStringLiteral("/out");
    const testsupport::RunResult run =
        testsupport::run(app.cli, {"--replaygain", "track", "-f", "mp3", "-o", out, music}, 120000, app.env);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QStringList outputs = filesIn(out, QStringLiteral("*.mp3"));
    ASSERT_EQ(outputs.size(), 3);
    // A good measurement and one that is not: conv refuses the album, and each file stays as it was.
    const QString good = app.path + QStringLiteral("/good.json");
    const QString bad = app.path + QStringLiteral("/bad.json");
    ASSERT_TRUE(testsupport::run(app.path + QStringLiteral("/data/conv"),
                                 {"-retag", outputs.at(0), "-replaygain", "track", "-loudness-out", good})
                    .ok());
    ASSERT_TRUE(testsupport::touch(bad, QByteArray("{\"format\": \"zelmora-loudness\", \"blocks\": 7}")));
    QList<QByteArray> before;
    for (const QString &o : outputs)
        before << testsupport::readFile(o);
    AlbumTagger tagger(app.path + QStringLiteral("/data/conv"), 2);
    QList<AlbumTagger::Track> tracks;
    tracks << AlbumTagger::Track{outputs.at(0), good} << AlbumTagger::Track{outputs.at(1), bad}
           << AlbumTagger::Track{outputs.at(2), good};
    QStringList ended;
    QObject::connect(&tagger, &AlbumTagger::trackTagged, [&](const QString &o, bool ok) {
        EXPECT_FALSE(ok);
        ended << o;
    });
    QEventLoop loop;
    QObject::connect(&tagger, &AlbumTagger::idle, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    tagger.tagAlbum(tracks);
    if (!tagger.isIdle())
        loop.exec();
    EXPECT_EQ(ended.size(), 3);
    EXPECT_EQ(tagger.tagged(), 0);
    ASSERT_EQ(tagger.failures().size(), 3);
    EXPECT_TRUE(tagger.failures().at(0).contains(QLatin1String("the album tags were not written")));
    for (qsizetype i = 0; i < outputs.size(); ++i)
        EXPECT_EQ(testsupport::readFile(outputs.at(i)), before.at(i)) << outputs.at(i).toStdString();
    EXPECT_TRUE(QFileInfo::exists(good)) << "a failed album keeps its measurements for another try";
    EXPECT_EQ(QDir(out).entryList(QDir::Hidden | QDir::Files).size(), 3) << "no hidden leftovers";
}

// Album normalisation with one and three conversions at once: every track gets the same gain (the
// album keeps its balance; lossless formats, where the gain is all that changes the sound), the album lands on the
// target, or under it where the true-peak ceiling holds it back, and the album tags describe the sound as written. The
// track mode still brings each track to the target on its own.
TEST(CliLoudness, AlbumNormaliseGivesEveryTrackTheAlbumsGain)
{
    PortableCli app;
    const QString music = app.path + QStringLiteral("/music");
    makeAlbum(music, QStringLiteral("Levels"));
    const QStringList inputs = filesIn(music, QStringLiteral("*.flac"));
    ASSERT_EQ(inputs.size(), 3);
    QList<double> before;
    for (const QString &in : inputs)
        before << testsupport::ebur128({in}).integrated;
    struct Row {
        const char *mode, *jobs, *format;
        double target;
        bool limited;
    };
    const Row rows[] = {{"album", "1", "flac", -16, false},
                        {"album", "3", "flac", -16, false},
                        {"album", "3", "wav", -16, false},
                        {"album", "3", "flac", -6, true},
                        {"track", "3", "flac", -16, false}};
    for (const Row &r : rows) {
        SCOPED_TRACE(QStringLiteral("%1 %2 jobs %3 %4").arg(r.mode, r.jobs, r.format).arg(r.target).toStdString());
        const QString out = app.path + QStringLiteral("/out/%1-%2-%3%4").arg(r.mode, r.jobs, r.format).arg(r.target);
        const testsupport::RunResult run =
            testsupport::run(app.cli,
                             {"--replaygain", r.mode, "--normalize", QString::number(r.target), "-f", r.format, "-j",
                              r.jobs, "-o", out, music},
                             120000, app.env);
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        const QStringList outputs = filesIn(out, QStringLiteral("*.") + QLatin1String(r.format));
        ASSERT_EQ(outputs.size(), 3);
        QList<double> gains;
        for (qsizetype i = 0; i < outputs.size(); ++i) {
            const auto [loudness, peak] = testsupport::ebur128({outputs.at(i)});
            gains << loudness - before.at(i);
            EXPECT_LE(peak, -1.0) << outputs.at(i).toStdString();
            if (QLatin1String(r.mode) == QLatin1String("track")) {
                EXPECT_NEAR(loudness, r.target, 0.5) << outputs.at(i).toStdString();
            }
        }
        if (QLatin1String(r.mode) == QLatin1String("track"))
            continue;
        EXPECT_NEAR(gains.at(1), gains.at(0), 0.1);
        EXPECT_NEAR(gains.at(2), gains.at(0), 0.1);
        const double album = testsupport::ebur128(outputs).integrated;
        if (r.limited) {
            EXPECT_LT(album, r.target - 0.5);
        } else {
            EXPECT_NEAR(album, r.target, 0.5);
        }
        if (QLatin1String(r.format) == QLatin1String("flac")) {
            const Scan reference = loudgain(outputs);
            for (const QString &o : outputs)
                EXPECT_NEAR(decibels(tagsOf(o).value("replaygain_album_gain")), reference.albumGain, 0.1)
                    << o.toStdString();
        }
        EXPECT_TRUE(app.measurements().isEmpty()) << "no measurement is left behind";
        EXPECT_EQ(QDir(out).entryList(QDir::Hidden | QDir::Files).size(), 3) << "nothing but the outputs";
    }
}

// A file of an album that cannot be measured fails the whole album before any of it is converted
// (its balance could not be kept); another album converts as usual. Job files refuse the two
// options together: an album's jobs could run before all of it is measured.
TEST(CliLoudness, AnAlbumThatCannotBeMeasuredIsNotConverted)
{
    PortableCli app;
    const QString music = app.path + QStringLiteral("/music");
    makeAlbum(music + QStringLiteral("/bad"), {});
    makeAlbum(music + QStringLiteral("/good"), {});
    ASSERT_TRUE(testsupport::touch(music + QStringLiteral("/bad/04 broken.flac"), QByteArray("not sound at all")));
    const QString out = app.path + QStringLiteral("/out");
    const testsupport::RunResult run = testsupport::run(
        app.cli, {"--replaygain", "album", "--normalize", "-16", "-f", "ogg", "-j", "3", "--mirror", "-o", out, music},
        120000, app.env);
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("could not be measured") || run.err.contains("could not be measured"))
        << run.out.toStdString() << run.err.toStdString();
    EXPECT_TRUE((run.out + run.err).contains("04 broken.flac"));
    EXPECT_TRUE(filesIn(out + QStringLiteral("/bad"), QStringLiteral("*")).isEmpty()) << "no output of the album";
    EXPECT_EQ(filesIn(out + QStringLiteral("/good"), QStringLiteral("*.ogg")).size(), 3);
    EXPECT_TRUE(app.measurements().isEmpty());

    for (const char *command : {"plan"}) {
        const testsupport::RunResult refused = testsupport::run(
            app.cli, {command, "--replaygain", "album", "--normalize", "-16", "-o", out, music}, 60000, app.env);
        EXPECT_EQ(refused.exitCode, 2);
        EXPECT_TRUE(refused.err.contains("does not go into a job file")) << refused.err.toStdString();
        EXPECT_TRUE(refused.out.isEmpty()) << "no job is written";
    }
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

TEST(AlbumTaggerRun, SharedRewritesNameTheOneFileThatFailed)
{
    PortableCli app;
    const QString music = app.path + QStringLiteral("/music");
    makeAlbum(music, {});
    const QString out = app.path + QStringLiteral("/out");
    const testsupport::RunResult run =
        testsupport::run(app.cli, {"--replaygain", "track", "-f", "mp3", "-o", out, music}, 120000, app.env);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    QStringList outputs = filesIn(out, QStringLiteral("*.mp3"));
    ASSERT_EQ(outputs.size(), 3);
    const QString measurement = app.path + QStringLiteral("/m.json");
    ASSERT_TRUE(testsupport::run(app.path + QStringLiteral("/data/conv"),
                                 {"-retag", outputs.at(0), "-replaygain", "track", "-loudness-out", measurement})
                    .ok());
    // The middle file of four is no sound: the converters that share the album out find it.
    const QString broken = out + QStringLiteral("/02b broken.mp3");
    ASSERT_TRUE(testsupport::touch(broken, QByteArray("no sound here")));
    outputs.insert(2, broken);
    for (int jobs : {1, 2}) {
        SCOPED_TRACE(jobs);
        AlbumTagger tagger(app.path + QStringLiteral("/data/conv"), jobs);
        QList<AlbumTagger::Track> tracks;
        for (const QString &o : outputs)
            tracks << AlbumTagger::Track{o, measurement};
        QStringList good, bad;
        QObject::connect(&tagger, &AlbumTagger::trackTagged,
                         [&](const QString &o, bool ok) { (ok ? good : bad) << o; });
        QEventLoop loop;
        QObject::connect(&tagger, &AlbumTagger::idle, &loop, &QEventLoop::quit);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        tagger.tagAlbum(tracks);
        if (!tagger.isIdle())
            loop.exec();
        EXPECT_EQ(bad, QStringList{broken});
        good.sort();
        QStringList expected = outputs;
        expected.removeOne(broken);
        EXPECT_EQ(good, expected);
        EXPECT_EQ(tagger.tagged(), 3);
        ASSERT_EQ(tagger.failures().size(), 1);
        EXPECT_TRUE(tagger.failures().first().startsWith(broken));
        EXPECT_EQ(testsupport::readFile(broken), QByteArray("no sound here"));
        for (const QString &o : expected)
            EXPECT_FALSE(tagsOf(o).value("replaygain_album_gain").isEmpty()) << o.toStdString();
        EXPECT_TRUE(QFileInfo::exists(measurement)) << "a failed album keeps its measurements";
    }
}
