// End-to-end tests of conv's loudness work against references: ReplayGain 2.0 track and album
// tags compared with Debian's loudgain scanning the same files, tags read back with ffprobe,
// normalisation checked with the ffmpeg CLI's ebur128 filter, tags filled in place after the
// output check, and tag rewriting that keeps the sound and never leaves a half-written file.
#include "converters/conv/conv_test_support.h"

#include "common/tag_patch.h"

#include "support/media.h"
#include "support/process.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace convtest;
using testsupport::makeMedia;
using testsupport::run;

namespace {

// The generated album: tones and noise at three levels and a clip of real speech.
struct Track {
    const char* name;
    QStringList args; // ffmpeg input arguments
};

QStringList tone(double dbfs)
{
    return {
        "-f",
        "lavfi",
        "-i",
        QString("sine=frequency=997:sample_rate=44100:duration=3,volume=%1dB").arg(dbfs + 18.06),
        "-ac",
        "2"};
}

QStringList noise(double dbfs)
{
    return {"-f",
            "lavfi",
            "-i",
            QString("anoisesrc=color=pink:amplitude=%1:duration=3:sample_rate=44100:seed=7")
                .arg(std::pow(10.0, dbfs / 20.0)),
            "-ac",
            "2"};
}

class Loudness : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir;
        const QString speech = s_dir->filePath("speech.wav");
        const RunResult r = run("espeak-ng", {"-w", speech,
                                              "Even loudness across an album is "
                                              "worked out from every block of it."});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        const Track tracks[] = {{"tone30", tone(-30)},
                                {"noise20", noise(-20)},
                                {"tone10", tone(-10)},
                                {"noise10", noise(-10)}};
        for (const Track& t : tracks)
            ASSERT_TRUE(makeMedia(s_dir->filePath(QString(t.name) + ".wav"), t.args));
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }
    static QString input(const QString& name) { return s_dir->filePath(name + ".wav"); }
    QString folder()
    {
        QString f = m_dir.filePath(QString::number(++m_count));
        QDir().mkpath(f);
        return f;
    }

    static QTemporaryDir* s_dir;
    QTemporaryDir m_dir;
    int m_count = 0;
};
QTemporaryDir* Loudness::s_dir = nullptr;

struct Scan {
    bool ok = false;
    double loudness = 0, peak = 0, gain = 0;
};

// loudgain's own reading of files (-a: the album line last).
QVector<Scan> loudgain(const QStringList& files, bool album = false)
{
    QStringList args{"-O", "-q"};
    if (album)
        args << "-a";
    const RunResult r = run("loudgain", args + files);
    QVector<Scan> out;
    for (const QByteArray& line : r.out.split('\n')) {
        const QList<QByteArray> f = line.split('\t');
        if (f.size() < 9 || f[0] == "File")
            continue;
        Scan s;
        s.ok = true;
        s.loudness = f[1].split(' ')[0].toDouble();
        s.peak = f[3].toDouble();
        s.gain = f[8].split(' ')[0].toDouble();
        out.push_back(s);
    }
    return out;
}

double number(const QString& text)
{
    return QString(text).remove(" dB").trimmed().toDouble();
}

// The sample peak of a file's decoded sound (linear), as the ffmpeg CLI's astats gives it.
double sample_peak(const QString& file)
{
    const RunResult r = run("ffmpeg", {"-hide_banner", "-nostats", "-i", file, "-af",
                                       "astats=measure_perchannel=none:measure_overall=Peak_level",
                                       "-f", "null", "-"});
    const auto m = QRegularExpression("Peak level dB: (-?[0-9.]+|-inf)").match(r.err);
    return m.hasMatch() ? std::pow(10.0, m.captured(1).toDouble() / 20.0) : -1;
}

// Integrated loudness and true peak (dBTP) of a file as the ffmpeg CLI's ebur128 filter says.
std::pair<double, double> ebur128(const QString& file)
{
    const RunResult r = run("ffmpeg", {"-hide_banner", "-nostats", "-i", file, "-af",
                                       "ebur128=peak=true", "-f", "null", "-"});
    const QString summary = QString::fromUtf8(r.err.mid(r.err.lastIndexOf("Summary:")));
    const auto i = QRegularExpression("I:\\s+(-?[0-9.]+) LUFS").match(summary);
    const auto p =
        QRegularExpression("True peak:\\s+Peak:\\s+(-?[0-9.]+|-inf) dBFS").match(summary);
    return {i.hasMatch() ? i.captured(1).toDouble() : 99,
            p.hasMatch() ? p.captured(1).toDouble() : 99};
}

// Integrated loudness to a thousandth of a LU (the summary above gives tenths): the ebur128
// filter's last frame metadata.
double precise_loudness(const QString& file)
{
    const RunResult r = run("ffmpeg", {"-hide_banner", "-nostats", "-i", file, "-af",
                                       "ebur128=metadata=1,ametadata=mode=print:key=lavfi.r128.I",
                                       "-f", "null", "-"});
    const QString text = QString::fromUtf8(r.err);
    const QString last = text.mid(text.lastIndexOf("lavfi.r128.I="));
    const auto m = QRegularExpression("lavfi.r128.I=(-?[0-9.]+)").match(last);
    return m.hasMatch() ? m.captured(1).toDouble() : 99;
}

QByteArray packets_md5(const QString& file)
{
    const RunResult r = run("ffmpeg", {"-v", "error", "-nostdin", "-i", file, "-map", "0:a:0",
                                       "-c:a", "copy", "-f", "md5", "-"});
    return r.exitCode == 0 ? r.out.trimmed() : QByteArray("failed: " + r.err);
}

QByteArray file_md5(const QString& file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly)
               ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Md5)
               : QByteArray();
}

} // namespace

// Track gain and peak in every format with tags, against loudgain on the very same files: the
// gain within 0.1 dB, the peak within 0.1 dB (the true peak, as loudgain reads it; FLAC's is
// its sample peak, against the ffmpeg CLI's). Opus carries R128_TRACK_GAIN in Q7.8 relative to
// -23 LUFS instead, and no peak.
TEST_F(Loudness, TrackTagsMatchTheReferenceScanner)
{
    const QString out = folder();
    for (const char* name : {"tone30", "noise20", "tone10", "speech"}) {
        for (const char* ext : {"mp3", "ogg", "flac", "m4a", "opus"}) {
            SCOPED_TRACE(std::string(name) + "." + ext);
            const QString file = out + "/" + name + "." + ext;
            const RunResult r = run_conv({"-i", input(name), "-replaygain", "track", file});
            ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
            EXPECT_TRUE(r.out.contains("Loudness: ")) << r.out.toStdString();
            const QVector<Scan> ref = loudgain({file});
            ASSERT_EQ(ref.size(), 1);
            const Sound s = sound_of(file);
            if (QString(ext) == "opus") {
                ASSERT_TRUE(s.tags.contains("r128_track_gain"));
                EXPECT_FALSE(s.tags.contains("replaygain_track_gain"));
                bool whole = false;
                const int q78 = s.tags["r128_track_gain"].toInt(&whole);
                EXPECT_TRUE(whole) << s.tags["r128_track_gain"].toStdString();
                EXPECT_NEAR(q78 / 256.0, ref[0].gain, 0.1);
                continue;
            }
            ASSERT_TRUE(s.tags.contains("replaygain_track_gain"));
            EXPECT_TRUE(s.tags["replaygain_track_gain"].endsWith(" dB"));
            EXPECT_NEAR(number(s.tags["replaygain_track_gain"]), ref[0].gain, 0.1);
            const double peak = s.tags["replaygain_track_peak"].toDouble();
            const double expected = QString(ext) == "flac" ? sample_peak(file) : ref[0].peak;
            EXPECT_NEAR(20 * std::log10(peak), 20 * std::log10(expected), 0.1);
        }
    }
}

// Album gain: the blocks of all tracks together, within 0.1 dB of loudgain -a, written without
// encoding again (the packets stay as they were, the track tags too); the same with the tracks
// converted one after the other or four at once.
TEST_F(Loudness, AlbumTagsMatchTheReferenceScanner)
{
    const QStringList names{"tone30", "noise20", "tone10", "speech"};
    for (const int parallel : {1, 4}) {
        SCOPED_TRACE(parallel);
        const QString out = folder();
        QStringList files, jsons;
        QList<QPair<QString, QStringList>> jobs;
        for (const QString& n : names) {
            files << out + "/" + n + ".mp3";
            jsons << out + "/" + n + ".json";
            jobs.append({files.last(),
                         {"-i", input(n), "-replaygain", "track", "-loudness-out", jsons.last(),
                          files.last()}});
        }
        if (parallel == 1) {
            for (const auto& j : jobs)
                ASSERT_EQ(run_conv(j.second).exitCode, 0);
        } else {
            QList<QProcess*> running;
            for (const auto& j : jobs) {
                auto* p = new QProcess;
                p->start(conv_path(), j.second);
                running << p;
            }
            for (QProcess* p : running) {
                ASSERT_TRUE(p->waitForFinished(120000));
                EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardError().toStdString();
                delete p;
            }
        }
        // loudgain's reading of copies of the converted files.
        QStringList copies;
        for (const QString& f : files) {
            copies << f + ".ref.mp3";
            ASSERT_TRUE(QFile::copy(f, copies.last()));
        }
        const QVector<Scan> ref = loudgain(copies, true);
        ASSERT_EQ(ref.size(), names.size() + 1);

        for (const QString& f : files) {
            SCOPED_TRACE(f.toStdString());
            const QByteArray before = packets_md5(f);
            const QString track_gain = sound_of(f).tags["replaygain_track_gain"];
            QStringList args{"-retag", f};
            for (const QString& j : jsons)
                args << "-album-from" << j;
            const RunResult r = run_conv(args);
            ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
            const Sound s = sound_of(f);
            EXPECT_NEAR(number(s.tags["replaygain_album_gain"]), ref.last().gain, 0.1);
            EXPECT_NEAR(20 * std::log10(s.tags["replaygain_album_peak"].toDouble()),
                        20 * std::log10(ref.last().peak), 0.1);
            EXPECT_EQ(s.tags["replaygain_track_gain"], track_gain);
            EXPECT_EQ(packets_md5(f), before) << "the sound was encoded again";
        }
        EXPECT_EQ(QDir(out).entryList(QDir::Hidden | QDir::Files).filter(".partial").size(), 0);
    }
}

// Album tags of Opus, M4A, Ogg and FLAC files: R128_ALBUM_GAIN in Q7.8 for Opus, REPLAYGAIN_ALBUM_*
// for the rest, beside the track tags, readable by ffprobe.
TEST_F(Loudness, AlbumTagsInEveryFormat)
{
    const QString out = folder();
    for (const char* ext : {"opus", "m4a", "ogg", "flac", "wma"}) {
        SCOPED_TRACE(ext);
        QStringList files, jsons;
        for (const char* n : {"tone10", "speech"}) {
            files << out + "/" + n + "." + ext;
            jsons << out + "/" + n + "." + ext + ".json";
            ASSERT_EQ(run_conv({"-i", input(n), "-replaygain", "track", "-loudness-out",
                                jsons.last(), files.last()})
                          .exitCode,
                      0);
        }
        for (const QString& f : files) {
            const RunResult r =
                run_conv({"-retag", f, "-album-from", jsons[0], "-album-from", jsons[1]});
            ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
            const Sound s = sound_of(f);
            if (QString(ext) == "opus") {
                EXPECT_TRUE(s.tags.contains("r128_track_gain"));
                EXPECT_TRUE(s.tags.contains("r128_album_gain"));
                EXPECT_FALSE(s.tags.contains("replaygain_album_gain"));
            } else {
                EXPECT_TRUE(s.tags.contains("replaygain_track_gain"))
                    << s.tags.keys().join(",").toStdString();
                EXPECT_TRUE(s.tags.contains("replaygain_album_gain"));
                EXPECT_TRUE(s.tags.contains("replaygain_album_peak"));
            }
        }
        if (QString(ext) != "wma") {
            const QVector<Scan> ref = loudgain(files, true);
            ASSERT_EQ(ref.size(), 3);
            const Sound s = sound_of(files[0]);
            const double ours = QString(ext) == "opus" ? s.tags["r128_album_gain"].toInt() / 256.0
                                                       : number(s.tags["replaygain_album_gain"]);
            EXPECT_NEAR(ours, ref.last().gain, 0.1);
        }
    }
}

// Formats without tags convert as before and say that they carry none.
TEST_F(Loudness, FormatsWithoutTagsSaySo)
{
    const QString out = folder();
    for (const char* ext : {"wav", "aac", "ac3", "amr"}) {
        SCOPED_TRACE(ext);
        const QString file = out + "/speech." + ext;
        const RunResult r = run_conv({"-i", input("speech"), "-replaygain", "track", file});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("conv: note: ") && r.err.contains("carry no ReplayGain tags"))
            << r.err.toStdString();
        EXPECT_FALSE(sound_of(file).tags.contains("replaygain_track_gain"));
    }
}

// Normalisation: quiet, loud and clipping sound brought to the target within 0.5 LU, and the true
// peak at or under the ceiling, by the ffmpeg CLI's measurement. Sound whose peaks would pass the
// ceiling is lowered less and says so.
TEST_F(Loudness, NormaliseHitsTheTargetUnderTheCeiling)
{
    const QString out = folder();
    const QString clipping = out + "/clipping.wav";
    ASSERT_TRUE(makeMedia(clipping, {"-f", "lavfi", "-i",
                                     "sine=frequency=220:sample_rate=44100:duration=3,volume=20dB",
                                     "-ac", "2", "-c:a", "pcm_s16le"}));
    struct Row {
        QString input;
        double target;
        const char* ext;
    } rows[] = {
        {input("tone30"), -16, "flac"},  {input("noise20"), -23, "wav"},
        {input("noise10"), -18, "flac"}, {clipping, -14, "flac"},
        {clipping, -16, "m4a"},          {input("tone30"), -14, "opus"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.input.toStdString() + " to " + std::to_string(row.target) + " " + row.ext);
        const QString file = out + "/n" + QString::number(&row - rows) + "." + row.ext;
        const RunResult r =
            run_conv({"-i", row.input, "-loudnorm", QString::number(row.target), file});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        const auto [integrated, peak] = ebur128(file);
        EXPECT_NEAR(integrated, row.target, 0.5);
        EXPECT_LE(peak, -1.0);
    }
    // Speech peaks high for its loudness: -10 LUFS would need its peaks over the ceiling.
    const QString file = out + "/speech.flac";
    const RunResult r =
        run_conv({"-i", input("speech"), "-loudnorm", "-10", "-loudnorm-ceiling", "-2", file});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("conv: note: normalised to")) << r.err.toStdString();
    const auto [integrated, peak] = ebur128(file);
    EXPECT_LT(integrated, -11.0);
    EXPECT_LE(peak, -2.0);
}

// Album normalisation: each track measured alone first (-measure-only writes nothing but the
// measurement), then converted with the album's one gain. Every output (lossless: a lossy encoder
// takes more off quiet noise than off a tone) is raised or lowered by the same amount, the album as
// a whole lands on the target (or under it, where the ceiling holds it back), and the album tags
// describe the sound as written.
TEST_F(Loudness, AlbumNormaliseGivesEveryTrackTheSameGain)
{
    const QStringList names{"tone30", "noise20", "tone10"};
    struct Row {
        double target, ceiling;
        const char* ext;
        bool limited;
    } rows[] = {{-16, -1, "flac", false}, {-16, -1, "wav", false}, {-6, -9, "flac", true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.target) + " " + row.ext);
        const QString out = folder();
        QStringList jsons, files;
        for (const QString& n : names) {
            jsons << out + "/" + n + ".json";
            files << out + "/" + n + "." + row.ext;
            const RunResult r = run_conv(
                {"-i", input(n), "-measure-only", "-loudness-out", jsons.last(), files.last()});
            ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
            EXPECT_TRUE(r.out.contains("Loudness: ")) << r.out.toStdString();
            EXPECT_TRUE(QFileInfo::exists(jsons.last()));
            EXPECT_FALSE(QFileInfo::exists(files.last())) << "a measuring run wrote its output";
        }
        QStringList album{"-loudnorm", QString::number(row.target), "-loudnorm-ceiling",
                          QString::number(row.ceiling)};
        for (const QString& j : jsons)
            album << "-album-from" << j;
        for (int i = 0; i < names.size(); ++i) {
            const RunResult r = run_conv(QStringList{"-i", input(names[i])} + album
                                         + QStringList{"-replaygain", "track", files[i]});
            ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
            EXPECT_EQ(r.err.contains("conv: note: normalised to"), row.limited)
                << r.err.toStdString();
        }
        std::vector<double> gains;
        for (int i = 0; i < names.size(); ++i) {
            gains.push_back(precise_loudness(files[i]) - precise_loudness(input(names[i])));
            EXPECT_LE(ebur128(files[i]).second, row.ceiling) << files[i].toStdString();
        }
        EXPECT_NEAR(gains[1], gains[0], 0.1);
        EXPECT_NEAR(gains[2], gains[0], 0.1);
        // The album's loudness as written: the tracks one after the other.
        const QString joined = out + "/album.wav";
        const RunResult cat =
            run("ffmpeg", {"-v", "error", "-i", files[0], "-i", files[1], "-i", files[2],
                           "-filter_complex", "[0:a][1:a][2:a]concat=n=3:v=0:a=1", joined});
        ASSERT_EQ(cat.exitCode, 0) << cat.err.toStdString();
        const double loudness = precise_loudness(joined);
        if (row.limited) {
            EXPECT_LT(loudness, row.target - 1.0);
        } else {
            EXPECT_NEAR(loudness, row.target, 0.5);
        }
        if (QString(row.ext) == "flac") {
            // Joined, blocks straddle the tracks' ends: near, not equal, for tracks this short.
            const Sound s = sound_of(files[0]);
            EXPECT_NEAR(number(s.tags["replaygain_album_gain"]), -18.0 - loudness, 0.5);
        }
    }
}

// A measuring run refuses what would write an output, and an input it cannot read leaves no
// measurement behind.
TEST_F(Loudness, MeasuringRunRefusalsAndFailures)
{
    const QString out = folder();
    const QString json = out + "/m.json";
    const QString notMedia = out + "/notes.mp3";
    {
        QFile f(notMedia);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not sound at all\n");
    }
    struct Row {
        QStringList args;
        int exit;
        const char* says;
    } rows[] = {
        {{"-i", input("tone10"), "-measure-only", out + "/a.flac"}, 2, "needs -loudness-out"},
        {{"-i", input("tone10"), "-measure-only", "-loudness-out", json, "-loudnorm", "-16",
          out + "/a.flac"},
         2,
         "writes no output"},
        {{"-measure-only", "-loudness-out", json, "-retag", out + "/a.flac"}, 2, "-retag"},
        {{"-i", notMedia, "-measure-only", "-loudness-out", json, out + "/a.flac"}, 3, "conv: "},
        {{"-i", input("tone10"), "-ss", "60", "-measure-only", "-loudness-out", json,
          out + "/a.flac"},
         3,
         "nothing to convert"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        const RunResult r = run_conv(row.args);
        EXPECT_EQ(r.exitCode, row.exit) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(row.says)) << r.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(json));
    }
    EXPECT_EQ(QDir(out).entryList(QDir::Hidden | QDir::Files | QDir::NoDotAndDotDot),
              QStringList{"notes.mp3"});
}

// A tag rewrite that fails leaves the file as it was and no debris; bad values are refused
// before anything is written.
TEST_F(Loudness, RefusalsChangeNothing)
{
    const QString out = folder();
    const QString file = out + "/speech.mp3";
    const QString json = out + "/speech.json";
    ASSERT_EQ(run_conv({"-i", input("speech"), "-loudness-out", json, file}).exitCode, 0);
    const QString bad = out + "/bad.json";
    {
        QFile f(bad);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("{\"format\": \"something else\"}");
    }
    const QByteArray before = file_md5(file);
    struct Row {
        QStringList args;
        int exit;
        const char* says;
    } rows[] = {
        {{"-retag", file, "-album-from", bad}, 2, "not a loudness file"},
        {{"-retag", file, "-album-from", out + "/missing.json"}, 3, "cannot read"},
        {{"-retag", file}, 2, "needs tags to write"},
        {{"-retag", file, "-retag", file, "-album-from", json, "-loudness-out", out + "/x.json"},
         2,
         "-loudness-out goes with one -retag file"},
        {{"-retag", file, "-retag", out + "/speech.txt", "-album-from", json},
         2,
         "unsupported file format"},
        {{"-retag", file, "-ab", "128k", "-replaygain", "track"}, 2, "only writes tags"},
        {{"-i", input("speech"), "-replaygain", "album", "-y", file}, 2, "-replaygain"},
        {{"-i", input("speech"), "-loudnorm", "5", "-y", file}, 2, "-loudnorm"},
        {{"-i", input("speech"), "-loudnorm", "-16", "-acodec", "copy", "-y", file}, 2, "copied"},
        {{"-i", input("speech"), "-loudness-out", file, "-y", file}, 2, "-loudness-out"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        const RunResult r = run_conv(row.args);
        EXPECT_EQ(r.exitCode, row.exit) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(row.says)) << r.err.toStdString();
        EXPECT_EQ(file_md5(file), before);
    }
    EXPECT_EQ(QDir(out).entryList(QDir::Hidden | QDir::Files | QDir::NoDotAndDotDot).size(), 3);
}

// A tag rewrite reads its packets back without decoding them (they are the file's own, checked
// when it was made), and still finds a rewrite cut short: exit 5, the file as it was, no debris.
TEST_F(Loudness, ARetagCutShortIsCaughtAndChangesNothing)
{
    const QString out = folder();
    for (const char* ext : {"mp3", "ogg", "flac", "opus"}) {
        SCOPED_TRACE(ext);
        const QString file = out + "/speech." + ext;
        const QString json = out + "/speech." + ext + ".json";
        ASSERT_EQ(
            run_conv({"-i", input("speech"), "-replaygain", "track", "-loudness-out", json, file})
                .exitCode,
            0);
        const QByteArray before = file_md5(file);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ZMCONV_FAULT_TRUNCATE_OUTPUT", "0.5");
        const RunResult cut =
            testsupport::run(conv_path(), {"-retag", file, "-album-from", json}, 60000, env);
        EXPECT_EQ(cut.exitCode, 5) << cut.err.toStdString();
        EXPECT_TRUE(cut.err.contains("output check failed")) << cut.err.toStdString();
        EXPECT_EQ(file_md5(file), before);
        const RunResult whole = run_conv({"-retag", file, "-album-from", json});
        EXPECT_EQ(whole.exitCode, 0) << whole.err.toStdString();
        EXPECT_TRUE(sound_of(file).tags.contains(QString(ext) == "opus" ? "r128_album_gain"
                                                                        : "replaygain_album_gain"));
    }
    EXPECT_EQ(QDir(out).entryList(QDir::Hidden | QDir::Files).filter(".partial").size(), 0);
}

// The track's tags are filled in after the output check, in place: only the bytes of each
// placeholder change (and the checksum of the Ogg page that holds it), the length and every
// packet stay as checked, and readers find the values. Files made by the ffmpeg CLI with the
// placeholders conv reserves, in each way of keeping tags (ID3v2, Vorbis comments in Ogg and
// FLAC, Opus comments, ASF's UTF-16).
TEST_F(Loudness, FillingTheTagsChangesOnlyTheirPlaces)
{
    struct Row {
        const char* ext;
        QStringList codec;
        zmconv::TagPatches patches;
        const char* key; // as ffprobe names the first one
    };
    const zmconv::TagPatches gain = {{"{zmRG-tg}", "-12.34 dB"}, {"{zmRGtp}", "0.912345"}};
    const Row rows[] = {
        {"mp3", {"-c:a", "libmp3lame"}, gain, "replaygain_track_gain"},
        {"ogg", {"-c:a", "libvorbis"}, gain, "replaygain_track_gain"},
        {"flac", {"-c:a", "flac"}, gain, "replaygain_track_gain"},
        {"wma", {"-c:a", "wmav2"}, gain, "replaygain_track_gain"},
        {"opus", {"-c:a", "libopus"}, {{"{zmRt}", "-00256"}}, "r128_track_gain"},
    };
    const QString out = folder();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.ext);
        const QString file = out + "/holders." + row.ext;
        QStringList args = tone(-20) + row.codec;
        for (const auto& [holder, value] : row.patches) {
            const QString key = holder == "{zmRGtp}" ? "REPLAYGAIN_TRACK_PEAK"
                                : holder == "{zmRt}" ? "R128_TRACK_GAIN"
                                                     : "REPLAYGAIN_TRACK_GAIN";
            args << "-metadata" << key + "=" + QString::fromStdString(holder) << "-metadata:s:a:0"
                 << key + "=" + QString::fromStdString(holder);
        }
        ASSERT_TRUE(makeMedia(file, args));
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray before = f.readAll();
        f.close();
        const QByteArray packets = packets_md5(file);

        std::string bytes(before.constData(), static_cast<size_t>(before.size()));
        ASSERT_TRUE(zmconv::patch_tags_in(bytes, row.patches));
        ASSERT_EQ(bytes.size(), static_cast<size_t>(before.size()));
        // Where bytes may change: the first place of each placeholder (one byte per character,
        // or two in UTF-16), and the checksum of the Ogg page around it.
        std::vector<bool> may(bytes.size(), false);
        for (const auto& [holder, value] : row.patches) {
            std::string wide;
            for (char c : holder)
                wide += std::string{c, '\0'};
            qsizetype at = before.indexOf(QByteArray::fromStdString(holder));
            size_t width = holder.size();
            if (at < 0) {
                at = before.indexOf(QByteArray::fromStdString(wide));
                width = wide.size();
            }
            ASSERT_GE(at, 0) << holder;
            for (size_t i = 0; i < width; ++i)
                may[static_cast<size_t>(at) + i] = true;
            if (const qsizetype page = before.lastIndexOf("OggS", at); page >= 0)
                for (qsizetype i = 22; i < 26; ++i)
                    may[static_cast<size_t>(page + i)] = true;
        }
        int changed = 0;
        for (size_t i = 0; i < bytes.size(); ++i)
            if (bytes[i] != before[static_cast<qsizetype>(i)]) {
                ++changed;
                EXPECT_TRUE(may[i]) << "byte " << i << " changed";
            }
        EXPECT_GT(changed, 0);

        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes.data(), static_cast<qint64>(bytes.size()));
        f.close();
        EXPECT_EQ(packets_md5(file), packets);
        const Sound s = sound_of(file);
        EXPECT_EQ(s.tags.value(row.key), QString::fromStdString(row.patches.front().second));
    }
}

// A conversion that measures and is cut short is caught by the check (which measures the sound
// too): exit 5, the earlier file under the name untouched, nothing else left in the folder.
TEST_F(Loudness, AMeasuredConversionCutShortChangesNothing)
{
    const QString out = folder();
    for (const char* ext : {"mp3", "ogg", "flac", "wma", "opus", "m4a"}) {
        SCOPED_TRACE(ext);
        const QString file = out + "/speech." + ext;
        {
            QFile earlier(file);
            ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
            earlier.write("an earlier file");
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ZMCONV_FAULT_TRUNCATE_OUTPUT", "0.5");
        const RunResult cut = testsupport::run(
            conv_path(), {"-i", input("noise10"), "-y", "-replaygain", "track", file}, 60000, env);
        EXPECT_EQ(cut.exitCode, 5) << cut.err.toStdString();
        EXPECT_TRUE(cut.err.contains("output check failed")) << cut.err.toStdString();
        QFile earlier(file);
        ASSERT_TRUE(earlier.open(QIODevice::ReadOnly));
        EXPECT_EQ(earlier.readAll(), QByteArray("an earlier file"));
    }
    EXPECT_EQ(QDir(out).entryList(QDir::Hidden | QDir::Files | QDir::NoDotAndDotDot).size(), 6);
}
