// End-to-end tests of vv: media made here with the ffmpeg CLI, converted by a private copy of vv
// (so parallel tests never share progress.txt), outputs checked with ffprobe.
#include "support/media.h"
#include "support/probe.h"
#include "support/process.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <map>

namespace {

using testsupport::makeMedia;
using testsupport::Probe;
using testsupport::probe;
using testsupport::run;
using testsupport::RunResult;
using testsupport::StreamInfo;

// ---------------------------------------------------------------------------------------------
// Environment: one temporary folder per test process with media and a copy of vv.

class Env
{
public:
    static Env &get()
    {
        static Env env;
        return env;
    }

    QString app() const { return m_dir.path() + "/app"; }
    QString vv() const { return app() + "/vv"; }
    QString preset() const { return app() + "/h264.dat"; }
    QString progressPath() const { return app() + "/progress.txt"; }
    QString out(const QString &name) const { return m_dir.path() + "/out/" + name; }
    QString root() const { return m_dir.path(); }

    // Input media by name, made on first use.
    QString media(const std::string &name)
    {
        QString path = m_dir.path() + "/media/" + QString::fromStdString(name);
        if (QFileInfo::exists(path))
            return path;
        static const std::map<std::string, QStringList> recipes = {
            // 4:3, 25 fps, H.264 + stereo AAC 44100
            {"43_25.mp4",
             {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=2", "-f", "lavfi", "-i",
              "sine=frequency=440:sample_rate=44100:duration=2", "-ac", "2", "-c:v", "libx264",
              "-preset", "ultrafast", "-c:a", "aac", "-shortest"}},
            // 16:9, 29.97 fps, H.264 + stereo MP3 48000 in Matroska
            {"169_2997.mkv",
             {"-f", "lavfi", "-i", "testsrc2=size=640x360:rate=30000/1001:duration=2", "-f",
              "lavfi", "-i", "sine=frequency=660:sample_rate=48000:duration=2", "-ac", "2", "-c:v",
              "libx264", "-preset", "ultrafast", "-c:a", "libmp3lame", "-shortest"}},
            // odd size, no audio
            {"odd_silent.avi",
             {"-f", "lavfi", "-i", "testsrc=size=321x243:rate=25:duration=2", "-c:v", "mpeg4"}},
            // small flv with mono AAC 22050
            {"small.flv",
             {"-f", "lavfi", "-i", "testsrc=size=176x144:rate=15:duration=2", "-f", "lavfi", "-i",
              "sine=frequency=300:sample_rate=22050:duration=2", "-c:v", "flv", "-c:a", "aac",
              "-shortest"}},
            // a raw H.264 stream: no container, no timestamps
            {"raw.h264",
             {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=2", "-c:v", "libx264",
              "-preset", "ultrafast"}},
            // the sound starts 0.8 s after the picture
            {"late_sound.mp4", {"-f",         "lavfi",
                                "-i",         "testsrc=size=320x240:rate=25:duration=2",
                                "-itsoffset", "0.8",
                                "-f",         "lavfi",
                                "-i",         "sine=frequency=440:sample_rate=44100:duration=1.2",
                                "-map",       "0:v",
                                "-map",       "1:a",
                                "-c:v",       "libx264",
                                "-preset",    "ultrafast",
                                "-c:a",       "aac"}},
            // one picture stamped a day and more ahead of the others (a damaged file)
            {"jump.mkv",
             {"-f", "lavfi", "-i", "testsrc=size=176x144:rate=25:duration=2", "-f", "lavfi", "-i",
              "sine=frequency=440:sample_rate=44100:duration=2", "-c:v", "mpeg4", "-bsf:v",
              "setts=pts=if(eq(N\\,20)\\,PTS+100000000\\,PTS)", "-c:a", "libmp3lame"}},
            // sound with a cover picture, which is no video
            {"cover.mp3",
             {"-f",
              "lavfi",
              "-i",
              "sine=frequency=440:sample_rate=44100:duration=2",
              "-f",
              "lavfi",
              "-i",
              "color=c=red:s=64x64:d=1",
              "-map",
              "0:a",
              "-map",
              "1:v",
              "-frames:v",
              "1",
              "-c:v",
              "mjpeg",
              "-disposition:v",
              "attached_pic",
              "-c:a",
              "libmp3lame"}},
            // sound only
            {"sound.mp3",
             {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=2", "-c:a",
              "libmp3lame"}},
            // long enough to watch the progress and to be killed half-way
            {"long.mp4",
             {"-f", "lavfi", "-i", "testsrc2=size=640x480:rate=25:duration=12", "-f", "lavfi", "-i",
              "sine=frequency=440:sample_rate=44100:duration=12", "-ac", "2", "-c:v", "libx264",
              "-preset", "ultrafast", "-c:a", "aac", "-shortest"}},
        };
        if (name.rfind("rate", 0) == 0) {
            // "rateN.mp4": exactly two seconds of picture at N frames a second.
            const QString rate = QString::fromStdString(name.substr(4, name.size() - 8));
            EXPECT_TRUE(makeMedia(path, {"-f", "lavfi", "-i",
                                         "testsrc=size=176x144:rate=" + rate + ":duration=2",
                                         "-c:v", "mpeg4"}))
                << name;
            return path;
        }
        if (name == "rotated.mp4") {
            // 43_25.mp4 with a display matrix that shows it turned by a quarter (a phone
            // video held upright); only a stream copy writes the matrix.
            EXPECT_TRUE(makeMedia(
                path, {"-i", media("43_25.mp4"), "-c", "copy", "-metadata:s:v:0", "rotate=90"}))
                << name;
            return path;
        }
        if (name == "corrupt.mp4") {
            QFile f(path);
            f.open(QIODevice::WriteOnly);
            f.write("this is a text file, not a video\n");
            return path;
        }
        const auto it = recipes.find(name);
        if (it == recipes.end()) {
            ADD_FAILURE() << "no recipe for " << name;
            return path;
        }
        EXPECT_TRUE(makeMedia(path, it->second)) << name;
        return path;
    }

private:
    Env()
    {
        QDir(m_dir.path()).mkpath("app");
        QDir(m_dir.path()).mkpath("media");
        QDir(m_dir.path()).mkpath("out");
        QFile::copy(VV_EXECUTABLE, vv());
        QFile::copy(VV_H264_DAT, preset());
        QFile::setPermissions(vv(), QFile::permissions(VV_EXECUTABLE));
    }
    QTemporaryDir m_dir{QDir::tempPath() + "/vv-e2e-XXXXXX"};
};

// The command line as the dialog builds it: the template filled with the eight option texts,
// then split as the front end splits it.
QStringList dialogArguments(const QString &in, const QStringList &optionTexts, const QString &out)
{
    // A double quote inside a quoted path is written as three of them.
    auto quoted = [](QString path) { return path.replace("\"", "\"\"\""); };
    QString line = "vv -i \"" + quoted(in) + "\" -y";
    for (const QString &t : optionTexts)
        line += " " + t;
    line += " \"" + quoted(out) + "\"";
    QStringList args = QProcess::splitCommand(line);
    args.removeFirst();
    return args;
}

QString h264Option()
{
    return "-fpre \"" + Env::get().app() + "/h264.dat\" -vcodec libx264";
}

// ---------------------------------------------------------------------------------------------
// Conversions that must succeed.

struct Conversion {
    const char *name;
    const char *input;
    const char *ext;
    QStringList options; // the eight option texts; "H264" stands for the H.264 text
    // expectations
    const char *brand; // major brand prefix for MP4-family files, else the format name
    const char *vcodec;
    int width, height;
    double fps;
    const char *acodec; // nullptr: no audio stream
    int sampleRate, channels;
    double dar = 0; // 0: not checked
    const char *vtag = nullptr;
    const char *profile = nullptr; // H.264 profile the preset file asks for
    const char *note = nullptr;    // the one note vv gives on stderr, if any
    const char *warning = nullptr; // the warning about the input that follows it, if any
};

void PrintTo(const Conversion &c, std::ostream *os)
{
    *os << c.name;
}

class Converts : public ::testing::TestWithParam<Conversion>
{};

TEST_P(Converts, ProducesTheChosenStreams)
{
    const Conversion &c = GetParam();
    Env &env = Env::get();
    const QString in = env.media(c.input);
    const QString out = env.out(QString(c.name) + "." + c.ext);
    QStringList options = c.options;
    for (QString &o : options)
        if (o == "H264")
            o = h264Option();
    const RunResult r = run(env.vv(), dialogArguments(in, options, out));
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_FALSE(r.crashed);
    EXPECT_EQ(r.err,
              (c.note ? QByteArray("vv: note: ") + c.note + "\n" : QByteArray())
                  + (c.warning ? QByteArray("vv: warning: ") + c.warning + "\n" : QByteArray()));

    const Probe p = probe(out);
    ASSERT_TRUE(p.ok) << "ffprobe refused " << out.toStdString();
    if (p.formatName.contains("mp4")) {
        const QString brand = p.tags.value("major_brand");
        EXPECT_TRUE(brand.startsWith(c.brand)) << brand.toStdString();
    } else {
        EXPECT_EQ(p.formatName, c.brand);
    }
    EXPECT_NEAR(p.duration, 2.0, 0.35);

    const StreamInfo *v = p.video();
    ASSERT_TRUE(v);
    EXPECT_EQ(v->codec, c.vcodec);
    EXPECT_EQ(v->width, c.width);
    EXPECT_EQ(v->height, c.height);
    EXPECT_NEAR(v->frameRate, c.fps, c.fps * 0.03);
    if (c.dar > 0) {
        EXPECT_NEAR(v->displayAspect, c.dar, 0.02);
    }
    if (c.vtag) {
        EXPECT_EQ(v->codecTag, c.vtag);
    }
    if (c.profile) {
        EXPECT_EQ(v->profile, c.profile);
    }

    if (!c.acodec) {
        EXPECT_FALSE(p.audio());
        EXPECT_EQ(p.streams.size(), 1);
        return;
    }
    const StreamInfo *a = p.audio();
    ASSERT_TRUE(a);
    EXPECT_EQ(a->codec, c.acodec);
    EXPECT_EQ(a->sampleRate, c.sampleRate);
    EXPECT_EQ(a->channels, c.channels);
    EXPECT_EQ(p.streams.size(), 2);
    // Sound and picture start together and last as long as each other.
    EXPECT_NEAR(a->startTime, v->startTime, 0.1);
    if (a->duration > 0 && v->duration > 0) {
        EXPECT_NEAR(a->duration, v->duration, 0.25);
    }
}

// The defaults of each format exactly as the dialog builds them at start.
INSTANTIATE_TEST_SUITE_P(
    DialogDefaults, Converts,
    ::testing::Values(
        Conversion{"Default3gp",
                   "43_25.mp4",
                   "3gp",
                   {"-vcodec h263", "-b 256k", "-s 176x144 ", "-r 14.985",
                    "-acodec libopencore_amrnb", "-ar 8000", "-ab 12.2k", "-ac 1"},
                   "3gp",
                   "h263",
                   176,
                   144,
                   14.985,
                   "amr_nb",
                   8000,
                   1},
        Conversion{"Default3g2",
                   "43_25.mp4",
                   "3g2",
                   {"H264", "-b 512k", "-s 320x240 ", "-r 14.985",
                    "-strict experimental -acodec aac", "-ar 44100", "-ab 112k", "-ac 2"},
                   "3g2",
                   "h264",
                   320,
                   240,
                   14.985,
                   "aac",
                   44100,
                   2,
                   0,
                   nullptr,
                   "Constrained Baseline"},
        Conversion{"DefaultMp4",
                   "43_25.mp4",
                   "mp4",
                   {"-vcodec  mpeg4", "-b 512k", "-s 320x240 ", "-r 23.976",
                    "-strict experimental -acodec aac", "-ar 44100", "-ab 112k", "-ac 2"},
                   "isom",
                   "mpeg4",
                   320,
                   240,
                   23.976,
                   "aac",
                   44100,
                   2},
        Conversion{"DefaultAvi",
                   "43_25.mp4",
                   "avi",
                   {"-vcodec  mpeg4", "-b 512k", "-s 320x240 ", "-r 23.976", "-acodec mp2",
                    "-ar 22050", "-ab 128k", "-ac 2"},
                   "avi",
                   "mpeg4",
                   320,
                   240,
                   23.976,
                   "mp2",
                   22050,
                   2},
        Conversion{"DefaultFlv",
                   "43_25.mp4",
                   "flv",
                   {"-vcodec flv", "-b 256k", "-s 320x240 ", "-r 14.985", "-acodec libmp3lame",
                    "-ar 44100", "-ab 128k", "-ac 2"},
                   "flv",
                   "flv1",
                   320,
                   240,
                   14.985,
                   "mp3",
                   44100,
                   2}),
    [](const auto &row) { return std::string(row.param.name); });

// Every other codec choice, sizes, rates, inputs of other shapes.
INSTANTIATE_TEST_SUITE_P(
    Alternatives, Converts,
    ::testing::Values(
        Conversion{"Gp3Mpeg4Aac",
                   "169_2997.mkv",
                   "3gp",
                   {"-vcodec  mpeg4", "-b 80k", "-s 128x96", "-r 5",
                    "-strict experimental -acodec aac", "-ar 22050", "-ab 32k", "-ac 1"},
                   "3gp",
                   "mpeg4",
                   128,
                   96,
                   5,
                   "aac",
                   22050,
                   1},
        Conversion{"Gp3H263Cif",
                   "small.flv",
                   "3gp",
                   {"-vcodec h263", "-b 512k", "-s 352x288 ", "-r 30", "-acodec libopencore_amrnb",
                    "-ar 8000", "-ab 4.75k", "-ac 1"},
                   "3gp",
                   "h263",
                   352,
                   288,
                   30,
                   "amr_nb",
                   8000,
                   1},
        Conversion{"G2Mpeg4Amr",
                   "169_2997.mkv",
                   "3g2",
                   {"-vcodec  mpeg4", "-b 2000k", "-s 400x240", "-r 29.976",
                    "-acodec libopencore_amrnb", "-ar 8000", "-ab 7.4k", "-ac 1"},
                   "3g2",
                   "mpeg4",
                   400,
                   240,
                   29.976,
                   "amr_nb",
                   8000,
                   1},
        Conversion{"Mp4H264",
                   "169_2997.mkv",
                   "mp4",
                   {"H264", "-b 1000k", "-s 480x272", "-r 25", "-strict experimental -acodec aac",
                    "-ar 16000", "-ab 64k", "-ac 1"},
                   "isom",
                   "h264",
                   480,
                   272,
                   25,
                   "aac",
                   16000,
                   1},
        Conversion{"AviH264Mp3Low",
                   "43_25.mp4",
                   "avi",
                   {"H264", "-b 768k", "-s 176x120 ", "-r 12", "-acodec libmp3lame", "-ar 8000",
                    "-ab 320k", "-ac 1"},
                   "avi",
                   "h264",
                   176,
                   120,
                   12,
                   "mp3",
                   8000,
                   1,
                   0,
                   nullptr,
                   nullptr,
                   "libmp3lame cannot encode 320 kbit/s at 8000 Hz; using 64 kbit/s"},
        // The dialog offers MP2 at 22050 Hz with every rate up to 320k: MPEG-2 layer II ends at
        // 160k, which is taken instead.
        Conversion{"AviMp2HighRateLowSampleRate",
                   "43_25.mp4",
                   "avi",
                   {"-vcodec  mpeg4", "-b 512k", "-s 320x240 ", "-r 23.976", "-acodec mp2",
                    "-ar 22050", "-ab 320k", "-ac 2"},
                   "avi",
                   "mpeg4",
                   320,
                   240,
                   23.976,
                   "mp2",
                   22050,
                   2,
                   0,
                   nullptr,
                   nullptr,
                   "mp2 cannot encode 320 kbit/s at 22050 Hz; using 160 kbit/s"},
        Conversion{"AviXvidAspectPcm",
                   "169_2997.mkv",
                   "avi",
                   {"-vcodec libxvid -aspect 4:3", "-b 1500k", "-s 640x480 ", "-r 20",
                    "-acodec pcm_s16le", "-ar 48000", "-ab 128k", "-ac 2"},
                   "avi",
                   "mpeg4",
                   640,
                   480,
                   20,
                   "pcm_s16le",
                   48000,
                   2,
                   4.0 / 3,
                   "xvid"},
        Conversion{"AviMp2Mono32k",
                   "small.flv",
                   "avi",
                   {"-vcodec  mpeg4", "-b 4000k", "-s 720x576 ", "-r 6", "-acodec mp2", "-ar 32000",
                    "-ab 64k", "-ac 1"},
                   "avi",
                   "mpeg4",
                   720,
                   576,
                   6,
                   "mp2",
                   32000,
                   1},
        Conversion{"FlvDvd",
                   "169_2997.mkv",
                   "flv",
                   {"-vcodec flv", "-b 320k", "-s 720x480 ", "-r 29.976", "-acodec libmp3lame",
                    "-ar 22050", "-ab 32k", "-ac 1"},
                   "flv",
                   "flv1",
                   720,
                   480,
                   29.976,
                   "mp3",
                   22050,
                   1},
        // The picture keeps its shape when only the size changes: 16:9 stays 16:9.
        Conversion{"WideKeepsAspect",
                   "169_2997.mkv",
                   "mp4",
                   {"-vcodec  mpeg4", "-b 512k", "-s 320x240 ", "-r 23.976",
                    "-strict experimental -acodec aac", "-ar 44100", "-ab 112k", "-ac 2"},
                   "isom",
                   "mpeg4",
                   320,
                   240,
                   23.976,
                   "aac",
                   44100,
                   2,
                   16.0 / 9},
        // Odd input size, no sound: a video-only file.
        Conversion{"OddSizeSilent",
                   "odd_silent.avi",
                   "mp4",
                   {"-vcodec  mpeg4", "-b 512k", "-s 848x480 ", "-r 8",
                    "-strict experimental -acodec aac", "-ar 44100", "-ab 112k", "-ac 2"},
                   "isom",
                   "mpeg4",
                   848,
                   480,
                   8,
                   nullptr,
                   0,
                   0},
        Conversion{"OddSizeKeptEven",
                   "odd_silent.avi",
                   "avi",
                   {"-vcodec  mpeg4"},
                   "avi",
                   "mpeg4",
                   320,
                   242,
                   25,
                   nullptr,
                   0,
                   0},
        // Sound starting late is preceded by silence, also where the container keeps no
        // timestamps (avi).
        Conversion{"LateSoundKeptInStep",
                   "late_sound.mp4",
                   "avi",
                   {"-vcodec  mpeg4", "-b 512k", "-s 320x240 ", "-r 25", "-acodec mp2", "-ar 22050",
                    "-ab 128k", "-ac 2"},
                   "avi",
                   "mpeg4",
                   320,
                   240,
                   25,
                   "mp2",
                   22050,
                   2},
        // A broken timestamp far ahead is not filled with copies of the last picture: the picture
        // is put back in line, and that is said.
        Conversion{"TimestampJumpNotFilled",
                   "jump.mkv",
                   "flv",
                   {"-vcodec flv", "-b 256k", "-s 176x144 ", "-r 15", "-acodec libmp3lame",
                    "-ar 22050", "-ab 64k", "-ac 1"},
                   "flv",
                   "flv1",
                   176,
                   144,
                   15,
                   "mp3",
                   22050,
                   1,
                   0,
                   nullptr,
                   nullptr,
                   nullptr,
                   "1 timestamp out of line put right"},
        // A picture stored turned is converted upright: its sides swap.
        Conversion{"TurnedUpright",
                   "rotated.mp4",
                   "mp4",
                   {"-vcodec  mpeg4"},
                   "isom",
                   "mpeg4",
                   240,
                   320,
                   25,
                   "aac",
                   44100,
                   2},
        // No timestamps and no known length in the input.
        Conversion{"RawElementaryStream",
                   "raw.h264",
                   "3gp",
                   {"-vcodec h263", "-b 256k", "-s 128x96", "-r 10"},
                   "3gp",
                   "h263",
                   128,
                   96,
                   10,
                   nullptr,
                   0,
                   0},
        // A bit rate libvorbis refuses becomes the nearest it takes, with a note (it used to
        // fail the file with the encoder's raw words).
        Conversion{"VorbisBitRateBeyondItsRangeTakesTheNearest",
                   "43_25.mp4",
                   "avi",
                   {"-vcodec  mpeg4", "-acodec libvorbis", "-ab 1000k"},
                   "avi",
                   "mpeg4",
                   320,
                   240,
                   25,
                   "vorbis",
                   44100,
                   2,
                   0,
                   nullptr,
                   nullptr,
                   "libvorbis cannot encode 1000 kbit/s at 44100 Hz; using 500 kbit/s"}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(AmrModes, EachBitRateEntryPicksItsMode)
{
    // Bytes of one 20 ms AMR-NB frame (with its header) in each of the eight modes.
    const struct {
        const char *ab;
        int frameBytes;
    } modes[] = {{"4.75k", 13}, {"5.15k", 14}, {"5.9k", 16},  {"6.7k", 18},
                 {"7.4k", 20},  {"7.95k", 21}, {"10.2k", 27}, {"12.2k", 32}};
    Env &env = Env::get();
    const QString in = env.media("small.flv");
    for (const auto &m : modes) {
        const QString out = env.out(QString("amr_%1.3gp").arg(m.ab));
        const RunResult r =
            run(env.vv(), dialogArguments(in,
                                          {"-vcodec h263", "-b 80k", "-s 128x96", "-r 5",
                                           "-acodec libopencore_amrnb", "-ar 8000",
                                           QString("-ab ") + m.ab, "-ac 1"},
                                          out));
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        const Probe p = probe(out);
        ASSERT_TRUE(p.ok && p.audio()) << m.ab;
        EXPECT_NEAR(p.audio()->bitRate, m.frameBytes * 8 * 50, m.frameBytes * 8 * 50 * 0.08)
            << m.ab;
    }
}

// ---------------------------------------------------------------------------------------------
// Failures: one clear line, the documented exit code, nothing left behind.

struct Failing {
    const char *name;
    const char *input; // media name
    const char *ext;
    QStringList options;
    int exitCode;
    const char *message;
};

void PrintTo(const Failing &c, std::ostream *os)
{
    *os << c.name;
}

class Fails : public ::testing::TestWithParam<Failing>
{};

TEST_P(Fails, WithOneClearLineAndNoOutput)
{
    const Failing &c = GetParam();
    Env &env = Env::get();
    const QString in = QString(c.input).startsWith("/") ? QString(c.input) : env.media(c.input);
    const QString out = env.out(QString("fail_") + c.name + "." + c.ext);
    QStringList options = c.options;
    for (QString &o : options)
        if (o == "H264")
            o = h264Option();
    const RunResult r = run(env.vv(), dialogArguments(in, options, out));
    EXPECT_FALSE(r.crashed);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
    EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.startsWith("vv: ")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(c.message)) << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(out)) << "partial output left";
}

INSTANTIATE_TEST_SUITE_P(
    Errors, Fails,
    ::testing::Values(
        Failing{"UnknownOption", "43_25.mp4", "mp4", {"-vcodec  mpeg4 -sharpen 3"}, 2, "-sharpen"},
        Failing{"BadSize", "43_25.mp4", "mp4", {"-s 320y240"}, 2, "-s"},
        Failing{"MissingInput", "/nonexistent/in.mp4", "mp4", {"-vcodec  mpeg4"}, 3, "nonexistent"},
        Failing{"NotMedia", "corrupt.mp4", "mp4", {"-vcodec  mpeg4"}, 3, "corrupt.mp4"},
        Failing{"NoVideo", "sound.mp3", "mp4", {"-vcodec  mpeg4"}, 3, "no video"},
        Failing{"CoverPictureIsNoVideo", "cover.mp3", "mp4", {"-vcodec  mpeg4"}, 3, "no video"},
        Failing{"H263RefusesSize",
                "43_25.mp4",
                "3gp",
                {"-vcodec h263", "-b 256k", "-s 320x240 ", "-r 14.985"},
                2,
                "H.263"},
        Failing{"UnknownEncoder", "43_25.mp4", "avi", {"-vcodec divx9"}, 2, "divx9"},
        Failing{"ContainerCannotHold",
                "43_25.mp4",
                "flv",
                {"-vcodec flv", "-acodec libopencore_amrnb"},
                2,
                "flv"},
        Failing{"UnknownExtension", "43_25.mp4", "xyz", {"-vcodec  mpeg4"}, 2, "xyz"},
        Failing{"VideoEncoderRefusesSize",
                "43_25.mp4",
                "avi",
                {"-vcodec  mpeg4", "-s 8192x8192"},
                5,
                "mpeg4"}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(Failures, MissingOutputFolder)
{
    Env &env = Env::get();
    const QString out = env.root() + "/no such folder/a.mp4";
    const RunResult r = run(env.vv(), {"-i", env.media("43_25.mp4"), "-y", out});
    EXPECT_EQ(r.exitCode, 4) << r.err.toStdString();
    EXPECT_EQ(r.err.count('\n'), 1);
    EXPECT_FALSE(QFileInfo::exists(out));
}

TEST(Failures, ExistingOutputNeedsYes)
{
    Env &env = Env::get();
    const QString out = env.out("exists.mp4");
    {
        QFile f(out);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("keep me");
    }
    RunResult r = run(env.vv(), {"-i", env.media("43_25.mp4"), "-vcodec", "mpeg4", out});
    EXPECT_EQ(r.exitCode, 4) << r.err.toStdString();
    {
        QFile f(out);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), QByteArray("keep me")) << "the existing file was touched";
    }
    r = run(env.vv(), {"-i", env.media("43_25.mp4"), "-y", "-vcodec", "mpeg4", out});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(probe(out).ok);
}

TEST(Failures, OutputIsTheInput)
{
    Env &env = Env::get();
    const QString in = env.out("self.mp4");
    QFile::copy(env.media("43_25.mp4"), in);
    const qint64 size = QFileInfo(in).size();
    const RunResult r = run(env.vv(), {"-i", in, "-y", "-vcodec", "mpeg4", in});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_EQ(QFileInfo(in).size(), size) << "the input was damaged";
}

TEST(Failures, PresetFileMissingOrBad)
{
    Env &env = Env::get();
    const QString bad = env.root() + "/bad.dat";
    {
        QFile f(bad);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("# a preset with an option libx264 does not have\nwarp_speed=9\n");
    }
    const struct {
        QString preset;
        int exitCode;
        const char *message;
    } rows[] = {{env.root() + "/missing.dat", 3, "missing.dat"}, {bad, 2, "warp_speed"}};
    for (const auto &row : rows) {
        const QString out = env.out("preset.mp4");
        const RunResult r = run(env.vv(), {"-i", env.media("43_25.mp4"), "-y", "-fpre", row.preset,
                                           "-vcodec", "libx264", out});
        EXPECT_EQ(r.exitCode, row.exitCode) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(row.message)) << r.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(out));
    }
}

// A preset file may set only encoder options that name no file. Every refused line is a usage
// error naming its line, and nothing is written: neither the output nor the file the line names.
TEST(Failures, PresetLinesThatNameFilesOrAreBad)
{
    Env &env = Env::get();
    const QString dump = env.root() + "/dump.yuv";
    const QString stats = env.root() + "/stats.log";
    const bool twoPassLogBefore = QFileInfo::exists("x264_2pass.log");
    const struct {
        QString text;
        int line;
        const char *message;
    } rows[] = {
        {"profile=baseline\nx264-params=dump-yuv=" + dump + "\n", 2,
         "'x264-params' is not allowed"},
        {"# two-pass\n\nx264opts=dump-yuv=" + dump + "\n", 3, "'x264opts' is not allowed"},
        {"stats=" + stats + "\n", 1, "'stats' is not allowed"},
        {"preset=veryfast\npasslogfile=" + stats + "\n", 2, "'passlogfile' is not allowed"},
        {"flags=+pass1\n", 1, "two-pass encoding"},
        {"g=250\nwarp_speed=9\n", 2, "has no option 'warp_speed'"},
        {"g=lots\n", 1, "bad value 'lots' for 'g'"},
        {"profile baseline\n", 1, "expected key=value"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text.toStdString());
        const QString preset = env.root() + "/refused.dat";
        QFile f(preset);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(row.text.toUtf8());
        f.close();
        const QString out = env.out("refused-preset.mp4");
        const RunResult r = run(env.vv(), {"-i", env.media("43_25.mp4"), "-y", "-fpre", preset,
                                           "-vcodec", "libx264", out});
        EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.startsWith(
            ("vv: preset file " + preset + " line " + QString::number(row.line) + ": ").toUtf8()))
            << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(row.message)) << r.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(out));
        EXPECT_FALSE(QFileInfo::exists(dump));
        EXPECT_FALSE(QFileInfo::exists(stats));
    }
    EXPECT_EQ(QFileInfo::exists("x264_2pass.log"), twoPassLogBefore);

    // Plain settings, text ones included, are taken.
    const QString plain = env.root() + "/plain.dat";
    QFile f(plain);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("preset=veryfast\ntune=film\nprofile=main\nlevel=3.0\ng=50\nbf=0\n");
    f.close();
    const RunResult r = run(env.vv(), {"-i", env.media("43_25.mp4"), "-y", "-fpre", plain,
                                       "-vcodec", "libx264", env.out("plain-preset.mp4")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
}

// Values that pass as text but that the encoder then refuses (an unknown level, a comment after
// a value, bytes of junk, a 60 KB value) are usage errors naming their line, like every other bad
// line, in one line that shows at most 200 characters of the value; libx264's own complaints do
// not reach the standard error. They used to fail with exit 5 and the encoder's raw words.
TEST(Failures, PresetValuesTheEncoderRefusesNameTheirLine)
{
    Env &env = Env::get();
    const struct {
        QByteArray line;
        const char *message;
    } rows[] = {
        {"level=99.9", "the encoder libx264 refuses 'level=99.9'"},
        {"preset=veryfast # fast", "'#' starts a comment only at the start of a line"},
        {"preset=\x01\xff\xfejunk", "refuses 'preset=\\x01\\xff\\xfejunk'"},
        {"tune=" + QByteArray(61440, 'a'), "... (61440 bytes)"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.line.left(40).toStdString());
        const QString preset = env.root() + "/refused-value.dat";
        QFile f(preset);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("profile=baseline\n" + row.line + "\ng=250\n");
        f.close();
        const QString out = env.out("refused-value.mp4");
        const RunResult r = run(env.vv(), {"-i", env.media("43_25.mp4"), "-y", "-fpre", preset,
                                           "-vcodec", "libx264", out});
        EXPECT_EQ(r.exitCode, 2) << r.err.left(600).toStdString();
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.left(600).toStdString();
        EXPECT_TRUE(r.err.startsWith(("vv: preset file " + preset + " line 2: ").toUtf8()))
            << r.err.left(600).toStdString();
        EXPECT_TRUE(r.err.contains(row.message)) << r.err.left(600).toStdString();
        EXPECT_FALSE(r.err.contains(QByteArray(201, 'a')));
        EXPECT_LT(r.err.size(), 600);
        EXPECT_FALSE(QFileInfo::exists(out));
    }
}

// A progress file (VV_PROGRESS_FILE) that names the input or the output, or a file that is not
// a progress file, is refused with exit 2 before anything is written: the input stays whole (it
// used to be left as the four bytes "1000"), and so does everything else.
TEST(Failures, ProgressFileThatIsTheInputOrAnotherFileIsRefused)
{
    Env &env = Env::get();
    const QString folder = env.out("progress-check");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString in = folder + "/in.mp4";
    ASSERT_TRUE(QFile::copy(env.media("43_25.mp4"), in));
    const QByteArray input_bytes = [&] {
        QFile f(in);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    const QString existing_out = folder + "/old.avi";
    const QString notes = folder + "/notes.txt";
    for (const auto &[path, text] : {std::pair{existing_out, QByteArray("an older output")},
                                     std::pair{notes, QByteArray("my notes, not a number\n")}}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    const struct {
        QString progress;
        QString out;
        const char *message;
    } rows[] = {
        {in, folder + "/new.avi", "the progress file is the input file"},
        {existing_out, existing_out, "the progress file is the output file"},
        {folder + "/new.avi", folder + "/new.avi", "the progress file is the output file"},
        {notes, folder + "/new.avi", "the progress file holds something else"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.progress.toStdString());
        const QStringList before =
            QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("VV_PROGRESS_FILE", row.progress);
        const RunResult r =
            run(env.vv(), {"-i", in, "-y", "-vcodec", "mpeg4", row.out}, 120000, environment);
        EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
        EXPECT_TRUE(r.err.startsWith(QByteArray("vv: ") + row.message)) << r.err.toStdString();
        QFile f(in);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), input_bytes) << "the input was damaged";
        EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  before);
    }
    for (const auto &[path, text] : {std::pair{existing_out, QByteArray("an older output")},
                                     std::pair{notes, QByteArray("my notes, not a number\n")}}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), text);
    }
}

// Every picture is kept: two seconds of input give exactly 2 x R frames at -r R, whatever the
// input's own rate (the last picture lasts its whole duration, as every other does).
TEST(FrameCounts, TwoSecondsGiveTwiceTheRate)
{
    Env &env = Env::get();
    for (const int inRate : {12, 15, 25, 30})
        for (const int outRate : {5, 10, 15, 25, 30}) {
            SCOPED_TRACE(std::to_string(inRate) + " fps into -r " + std::to_string(outRate));
            const QString out = env.out(QString("frames_%1_%2.avi").arg(inRate).arg(outRate));
            const RunResult r =
                run(env.vv(), {"-i", env.media("rate" + std::to_string(inRate) + ".mp4"), "-y",
                               "-vcodec", "mpeg4", "-r", QString::number(outRate), out});
            ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
            const Probe p = probe(out, true);
            ASSERT_TRUE(p.video());
            EXPECT_EQ(p.video()->frames, 2 * outRate);
        }
}

// ---------------------------------------------------------------------------------------------
// Paths the shell would mangle reach vv intact.

TEST(Paths, SpacesQuotesNonAsciiAndShellCharacters)
{
    Env &env = Env::get();
    const QString folder = env.root() + "/dir with 'quotes' & $HOME ü;";
    QDir().mkpath(folder);
    const QString in = folder + "/in \"put\" ä*.mp4";
    ASSERT_TRUE(QFile::copy(env.media("43_25.mp4"), in));
    const QString out = folder + "/out `x` é|.avi";
    const RunResult r =
        run(env.vv(), {"-i", in, "-y", "-vcodec", "mpeg4", "-s", "176x144", "-acodec", "mp2", out});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const Probe p = probe(out);
    ASSERT_TRUE(p.ok && p.video());
    EXPECT_EQ(p.video()->width, 176);

    // The same paths through the dialog's command line and its splitting.
    const QString out2 = folder + "/out \"2\" `x` é|.3gp";
    const RunResult r2 = run(
        env.vv(), dialogArguments(in,
                                  {"-vcodec h263", "-b 256k", "-s 176x144 ", "-r 14.985",
                                   "-acodec libopencore_amrnb", "-ar 8000", "-ab 12.2k", "-ac 1"},
                                  out2));
    ASSERT_EQ(r2.exitCode, 0) << r2.err.toStdString();
    EXPECT_TRUE(probe(out2).ok);
}

// ---------------------------------------------------------------------------------------------
// progress.txt over a conversion, and a kill from outside.

QString readProgress()
{
    QFile f(Env::get().progressPath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(f.readAll());
}

// The dialog writes "0" into progress.txt before it starts each file.
bool resetProgress()
{
    QFile f(Env::get().progressPath());
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write("0") == 1;
}

// A 720p H.264 encode: slow enough to be stopped or killed half-way.
QStringList heavyMp4Options()
{
    return {h264Option(), "-b 2000k", "-s 1280x720 ", "-r 30", "-strict experimental -acodec aac",
            "-ar 44100",  "-ab 112k", "-ac 2"};
}

TEST(Progress, RisesMonotonicallyAndEndsAt1000)
{
    Env &env = Env::get();
    const QString in = env.media("long.mp4");
    const QString out = env.out("progress.3g2");
    ASSERT_TRUE(resetProgress());
    QProcess p;
    p.start(env.vv(),
            dialogArguments(in,
                            {h264Option(), "-b 512k", "-s 640x480 ", "-r 25",
                             "-strict experimental -acodec aac", "-ar 44100", "-ab 112k", "-ac 2"},
                            out));
    ASSERT_TRUE(p.waitForStarted());
    std::vector<int> seen;
    while (!p.waitForFinished(20)) {
        const QString text = readProgress();
        if (text.isEmpty())
            continue; // met between truncation and write: allowed
        bool ok = false;
        const int v = text.toInt(&ok);
        ASSERT_TRUE(ok) << "not a number: " << text.toStdString();
        seen.push_back(v);
    }
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_EQ(readProgress(), "1000");
    for (size_t i = 1; i < seen.size(); ++i)
        EXPECT_LE(seen[i - 1], seen[i]) << "progress went back";
    for (const int v : seen)
        EXPECT_TRUE(v >= 0 && v <= 1000) << v;
    // Before the end, 1000 is never shown.
    int before = 0;
    for (const int v : seen)
        if (v > 0 && v < 1000)
            ++before;
    EXPECT_GT(before, 0) << "no progress was shown while converting";
}

// The dialog ends vv with a kill when it is closed mid-file: the output is written unnamed, so
// nothing of it is left, and progress.txt keeps the last value.
TEST(Progress, KilledMidwayLeavesNoOutputAndItsProgress)
{
    Env &env = Env::get();
    const QString in = env.media("long.mp4");
    const QString folder = env.out("killed");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString out = folder + "/killed.mp4";
    ASSERT_TRUE(resetProgress());
    QProcess p;
    p.start(env.vv(), dialogArguments(in, heavyMp4Options(), out));
    ASSERT_TRUE(p.waitForStarted());
    testsupport::waitFor(
        [&] { return readProgress().toInt() >= 50 || p.state() != QProcess::Running; }, 60000);
    ASSERT_EQ(p.state(), QProcess::Running) << "finished before it could be killed";
    const qint64 pid = p.processId();
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                     | QDir::NoDotAndDotDot),
              QStringList())
        << "the killed conversion left something";
    const int last = readProgress().toInt();
    EXPECT_GT(last, 0);
    EXPECT_LT(last, 1000);
    // No process is left: vv starts none, and it is gone itself.
    EXPECT_FALSE(testsupport::processExists(static_cast<pid_t>(pid)));
}

} // namespace

namespace {

TEST(Progress, StoppedPolitelyRemovesThePartialOutput)
{
    Env &env = Env::get();
    const QString out = env.out("terminated.mp4");
    ASSERT_TRUE(resetProgress());
    QProcess p;
    p.start(env.vv(), dialogArguments(env.media("long.mp4"), heavyMp4Options(), out));
    ASSERT_TRUE(p.waitForStarted());
    // Under way: the output has no name before it is complete, so the progress tells.
    testsupport::waitFor(
        [&] { return readProgress().toInt() > 0 || p.state() != QProcess::Running; }, 60000);
    ASSERT_EQ(p.state(), QProcess::Running) << "finished before it could be stopped";
    p.terminate(); // SIGTERM
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 6);
    EXPECT_EQ(p.readAllStandardError(), "vv: interrupted; the partial output was removed\n");
    EXPECT_FALSE(QFileInfo::exists(out)) << "a stopped conversion left its partial output";
    EXPECT_NE(readProgress(), "1000");
}

} // namespace
