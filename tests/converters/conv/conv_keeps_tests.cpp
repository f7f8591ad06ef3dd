// End-to-end tests of what conv keeps of its input, compared with the ffmpeg CLI doing the same:
// the length of Vorbis and Opus copied into Ogg, the speakers of surround sound, and the tags,
// cover and language that come along without being asked for.
#include "converters/conv/conv_test_support.h"

#include "support/media.h"
#include "support/probe.h"
#include "support/process.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

using namespace convtest;
using testsupport::makeMedia;
using testsupport::probe;
using testsupport::run;

namespace {

// The sound's packets as stored (equal for a copy of the same packets).
QByteArray packets_md5(const QString& file)
{
    const RunResult r = run("ffmpeg", {"-v", "error", "-nostdin", "-i", file, "-map", "0:a:0",
                                       "-c:a", "copy", "-f", "md5", "-"});
    return r.exitCode == 0 ? r.out.trimmed() : QByteArray("failed: " + r.err);
}

// Seconds of sound the file decodes to.
double decoded_seconds(const QString& file)
{
    const QString wav = file + ".decoded.wav";
    const double seconds =
        makeMedia(wav, {"-i", file, "-vn", "-c:a", "pcm_s16le"}) ? sound_of(wav).duration : -1;
    QFile::remove(wav);
    return seconds;
}

// What the ffmpeg CLI says while decoding the whole file (warnings included); empty when clean.
QByteArray decode_complaints(const QString& file)
{
    const RunResult r = run(
        "ffmpeg", {"-v", "warning", "-nostdin", "-i", file, "-map", "0:a:0", "-f", "null", "-"});
    return r.exitCode == 0 ? r.err : QByteArray("failed: " + r.err);
}

// Makes the file from lavfi inputs; the last argument is the file.
QString made(const QString& folder, QStringList args)
{
    const QString path = folder + "/" + args.takeLast();
    return makeMedia(path, args) ? path : QString();
}

const QString kTone = "sine=frequency=440:sample_rate=%1:duration=%2";

// Fresh folders below one temporary folder of the test (the shared media are not needed here).
class Folders
{
public:
    QString fresh()
    {
        QString path = m_dir.filePath(QString::number(++m_count));
        QDir().mkpath(path);
        return path;
    }

private:
    QTemporaryDir m_dir;
    int m_count = 0;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Vorbis (and Opus) copied out of WebM, Matroska and Ogg into Ogg: the copied packets, stated as
// long as they decode (the Ogg positions counted from the packets themselves, not from the
// milliseconds Matroska stamps), no nearer off than the CLI's copy, and decoding without a
// complaint. A copy from WebM used to report 42.41 s for 44.61 s and decode with "non
// monotonically increasing dts".

TEST(Copies, OggFromWebmKeepsItsLength)
{
    Folders folders;
    const QString d = folders.fresh();
    const QString picture = "testsrc=size=64x48:rate=10:duration=10";
    struct Row {
        QString input;
        const char* ext;
    } rows[] = {
        {made(d, {"-f", "lavfi", "-i", picture, "-f", "lavfi", "-i", kTone.arg(44100).arg(10),
                  "-ac", "2", "-c:v", "libvpx", "-c:a", "libvorbis", "vorbis.webm"}),
         ".ogg"},
        {made(d,
              {"-f", "lavfi", "-i", kTone.arg(48000).arg(10), "-c:a", "libvorbis", "vorbis.mkv"}),
         ".ogg"},
        {made(d, {"-f", "lavfi", "-i", kTone.arg(22050).arg(10), "-ac", "2", "-c:a", "libvorbis",
                  "vorbis.ogg"}),
         ".ogg"},
        {made(d, {"-f", "lavfi", "-i", picture, "-f", "lavfi", "-i", kTone.arg(48000).arg(10),
                  "-ac", "2", "-c:v", "libvpx", "-c:a", "libopus", "opus.webm"}),
         ".opus"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.input.toStdString() + " -> " + row.ext);
        ASSERT_FALSE(row.input.isEmpty());
        const QString folder = folders.fresh();
        const QString out = folder + "/copy" + row.ext;
        const RunResult r = run_conv({"-i", row.input, "-y", "-vn", out});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(r.err, QByteArray());
        EXPECT_EQ(packets_md5(out), packets_md5(row.input)) << "not a copy";

        // Opus files are stated 6.5 ms (their pre-skip) longer than they decode, as the CLI's own
        // encodes are.
        const double length = decoded_seconds(row.input);
        EXPECT_NEAR(probe(out).duration, length, 0.0075);
        EXPECT_NEAR(decoded_seconds(out), length, 0.001);
        EXPECT_EQ(decode_complaints(out), QByteArray());

        const QString cli = folder + "/cli" + row.ext;
        ASSERT_TRUE(makeMedia(cli, {"-i", row.input, "-vn", "-c:a", "copy"}));
        EXPECT_LE(std::abs(probe(out).duration - length),
                  std::abs(probe(cli).duration - length) + 0.001);
    }
}

// ---------------------------------------------------------------------------------------------
// Surround sound keeps its speakers: 5.1 with side speakers stays 5.1(side) (channel mask 60f in
// WAV), 5.1 with back speakers, 7.1 and quad stay as they are in WAV and FLAC, encoded either
// way; AC3 and M4A, which hold fewer layouts, get what the CLI gives them. 5.1(side) used to
// become 5.1(back) in WAV and FLAC.

TEST(Layouts, SurroundKeepsItsSpeakers)
{
    Folders folders;
    const QString d = folders.fresh();
    for (const char* layout : {"5.1(side)", "5.1", "7.1", "quad"}) {
        const QString source = d + "/" + QString(layout).remove('(').remove(')');
        const QStringList tone{"-f",  "lavfi",
                               "-i",  kTone.arg(48000).arg(1),
                               "-af", QString("aformat=channel_layouts=") + layout};
        ASSERT_TRUE(makeMedia(source + ".wav", tone + QStringList{"-c:a", "pcm_s16le"}));
        ASSERT_TRUE(makeMedia(source + ".flac", tone + QStringList{"-c:a", "flac"}));
        // zelmora's lines for WAV and FLAC, and two formats of fewer layouts.
        struct Row {
            const char* input_ext;
            QStringList options;
            const char* ext;
            bool as_source; // else as the CLI's
        } rows[] = {
            {".flac", {"-acodec", "pcm_s16le"}, ".wav", true},
            {".wav", {}, ".flac", true},
            {".wav", {}, ".ac3", false},
            {".wav", {}, ".m4a", false},
        };
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(layout) + " " + row.input_ext + " -> " + row.ext);
            const QString input = source + row.input_ext;
            const QString out = folders.fresh() + "/surround" + row.ext;
            const RunResult r =
                run_conv(QStringList{"-i", input, "-y", "-vn"} + row.options << out);
            ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
            const testsupport::Probe made = probe(out);
            ASSERT_TRUE(made.audio());
            QString expected = layout;
            if (!row.as_source) {
                const QString cli = out + ".cli" + row.ext;
                ASSERT_TRUE(makeMedia(cli, QStringList{"-i", input, "-vn"} + row.options));
                expected = probe(cli).audio()->channelLayout;
            }
            EXPECT_EQ(made.audio()->channelLayout, expected);
        }
    }
}

// Opus takes 5.1 only with back speakers (the CLI fails on 5.1(side)): the sound is converted
// with the speakers it can name.
TEST(Layouts, OpusTakesSideSpeakersAsBack)
{
    Folders folders;
    const QString d = folders.fresh();
    ASSERT_TRUE(makeMedia(d + "/side.wav", {"-f", "lavfi", "-i", kTone.arg(48000).arg(1), "-af",
                                            "aformat=channel_layouts=5.1(side)"}));
    const RunResult r = run_conv({"-i", d + "/side.wav", "-y", d + "/side.opus"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.err, QByteArray());
    const testsupport::Probe p = probe(d + "/side.opus");
    ASSERT_TRUE(p.audio());
    EXPECT_EQ(p.audio()->channels, 6);
}

// ---------------------------------------------------------------------------------------------
// Tags come along without -map_meta_data, as with the ffmpeg CLI: zelmora's FLAC, WAV, AC3 and
// AAC lines (which have none) give files with the same tags and cover as the CLI's; the sound's
// language is kept too (an M4A used to say "und"). "-map_metadata -1" leaves them behind.

TEST(Tags, ComeAlongWithoutBeingAskedFor)
{
    Folders folders;
    const QString d = folders.fresh();
    ASSERT_TRUE(
        makeMedia(d + "/cover.jpg", {"-f", "lavfi", "-i", "testsrc=size=64x64", "-frames:v", "1"}));
    const QString tagged = d + "/tagged.mp3";
    ASSERT_TRUE(makeMedia(tagged, {"-f",
                                   "lavfi",
                                   "-i",
                                   kTone.arg(44100).arg(2),
                                   "-i",
                                   d + "/cover.jpg",
                                   "-map",
                                   "0:a",
                                   "-map",
                                   "1:v",
                                   "-c:v",
                                   "copy",
                                   "-disposition:v",
                                   "attached_pic",
                                   "-id3v2_version",
                                   "3",
                                   "-metadata",
                                   "title=Ode à la joie",
                                   "-metadata",
                                   "artist=Zelmora Tests",
                                   "-c:a",
                                   "libmp3lame"}));
    const QString spoken = d + "/spoken.mkv";
    ASSERT_TRUE(makeMedia(spoken, {"-f", "lavfi", "-i", kTone.arg(48000).arg(2), "-c:a", "aac",
                                   "-metadata", "title=Parlé", "-metadata:s:a:0", "language=fra"}));
    struct Row {
        QString input;
        QStringList options; // as zelmora sends them, or asking for no tags
        const char* ext;
        bool tags; // the title (and cover, language) expected, as far as the CLI's output has them
        const char* language; // expected outright, "" = only as the CLI's
    } rows[] = {
        {tagged, {"-y", "-vn"}, ".flac", true, ""},
        {tagged, {"-y", "-vn", "-acodec", "pcm_s16le"}, ".wav", true, ""},
        {tagged, {"-y", "-vn"}, ".ac3", true, ""},
        {tagged, {"-y", "-vn"}, ".aac", true, ""},
        {tagged, {"-y", "-vn"}, ".m4a", true, ""},
        {tagged, {"-y", "-vn", "-map_metadata", "-1"}, ".flac", false, ""},
        {spoken, {"-y", "-vn"}, ".m4a", true, "fra"},
        {spoken, {"-y", "-vn"}, ".ogg", true, "fra"},
        {spoken, {"-y", "-vn"}, ".wma", true, ""},
        {spoken, {"-y", "-vn", "-map_metadata", "-1"}, ".m4a", false, "und"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.input.toStdString() + " " + row.options.join(' ').toStdString() + " "
                     + row.ext);
        const QString folder = folders.fresh();
        const QString out = folder + "/tags" + row.ext;
        const RunResult r = run_conv(QStringList{"-i", row.input} + row.options << out);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        const QString cli = folder + "/cli" + row.ext;
        QStringList cli_options{"-i", row.input, "-vn"};
        if (row.options.contains("pcm_s16le"))
            cli_options << "-c:a"
                        << "pcm_s16le";
        ASSERT_TRUE(makeMedia(cli, cli_options));
        const Sound ours = sound_of(out);
        const Sound theirs = sound_of(cli);
        ASSERT_TRUE(ours.ok && theirs.ok);
        for (const char* key : {"title", "artist"}) {
            SCOPED_TRACE(key);
            EXPECT_EQ(ours.tags.value(key), row.tags ? theirs.tags.value(key) : QString());
        }
        if (*row.language) {
            EXPECT_EQ(ours.tags.value("language"), row.language);
        } else {
            EXPECT_EQ(ours.tags.value("language"), theirs.tags.value("language"));
        }
        // The CLI's cover goes into the picture-holding formats; ours too (from -vn input the
        // CLI keeps none, so the picture is asked of the input directly).
        const bool holds = QString(row.ext) == ".flac" || QString(row.ext) == ".m4a";
        const bool has_picture = probe(row.input).count("video") > 0;
        EXPECT_EQ(probe(out).count("video"), row.tags && holds && has_picture ? 1 : 0);
    }
}
