// End-to-end tests of conv: real conversions of media made at test time, checked with ffprobe.
#include "converters/conv/conv_test_support.h"

#ifdef CONV_TESTS_WITH_ZELMORA
#include "engine/commandline.h"
#include "engine/progressparser.h"
#endif

#include "support/media.h"
#include "support/probe.h"
#include "support/process.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <optional>
#include <stdexcept>
#include <vector>

using namespace convtest;
using testsupport::makeMedia;
using testsupport::run;

namespace {

struct Choice {
    QString bitrate = "192";
    QString rate = "44100";
    int channel_index = 1; // 0 Mono, 1 Stereo
};

// The command zelmora runs for one file, built by zelmora's own command builder (its program
// folder is the one above conv's data/ folder) and split into arguments as its runner splits it
// (ConverterJob::start). Empty in a build without zelmora.
QStringList zelmora_command(int format, const QString& in, const QString& out_folder,
                            const Choice& c, std::optional<std::pair<int, int>> cut = {})
{
#ifdef CONV_TESTS_WITH_ZELMORA
    zm::CommandInputs inputs;
    inputs.appDir = QFileInfo(QFileInfo(conv_path()).absolutePath()).absolutePath();
    inputs.inputPath = in;
    inputs.outputDir = out_folder;
    inputs.formatIndex = format;
    inputs.bitrate = c.bitrate;
    inputs.sampleRate = c.rate;
    inputs.channelIndex = c.channel_index;
    inputs.cutterOn = cut.has_value();
    if (cut) {
        inputs.cutFrom = cut->first;
        inputs.cutTo = cut->second;
    }
    QStringList command = QProcess::splitCommand(zm::BuildCommandLine(inputs));
    EXPECT_FALSE(command.isEmpty()) << "no command for format " << format;
    if (!command.isEmpty()) {
        EXPECT_EQ(command.front(), conv_path());
    }
    return command;
#else
    (void)format, (void)in, (void)out_folder, (void)c, (void)cut;
    return {};
#endif
}

// Tests of the command texts zelmora sends need zelmora's command builder.
#ifdef CONV_TESTS_WITH_ZELMORA
#define SKIP_WITHOUT_ZELMORA() (void)0
#else
#define SKIP_WITHOUT_ZELMORA() GTEST_SKIP() << "zelmora is not part of this build"
#endif

double decoded_length_of(const QString& file)
{
    const QString ref = file + ".decoded.wav";
    const double length =
        makeMedia(ref, {"-i", file, "-vn", "-c:a", "pcm_s16le"}) ? sound_of(ref).duration : -1.0;
    QFile::remove(ref);
    return length;
}

RunResult run_split(const QStringList& command)
{
    return run(command.front(), command.mid(1));
}

int nearest(std::initializer_list<int> rates, int wanted)
{
    int best = *rates.begin();
    for (int r : rates)
        if (std::abs(r - wanted) < std::abs(best - wanted)
            || (std::abs(r - wanted) == std::abs(best - wanted) && r > best))
            best = r;
    return best;
}

struct InputRow {
    const char* file;
    int rate;
    int channels;
    Choice mp3;
};

const InputRow kInputs[] = {
    {"av.flv", 44100, 2, {"192", "44100", 1}},       {"av.avi", 22050, 1, {"64", "22050", 0}},
    {"av.mp4", 48000, 2, {"320", "48000", 1}},       {"tone.mp3", 32000, 2, {"32", "12050", 0}},
    {"surround.wav", 48000, 6, {"128", "44100", 1}},
};

struct FormatRow {
    int index;
    const char* ext;
    const char* codec;
    // The decoded output may differ from the decoded input by this many codec frames of this
    // many samples: formats without gapless signalling keep priming or padding (AAC in ADTS,
    // AC3, AMR), WMA v1 loses its last partial frame and a cut Vorbis stream may lose up to a
    // short block at its start when decoded (the FFmpeg CLI's outputs do the same).
    int frame_samples;
    double frames;
};

const FormatRow kFormats[] = {
    {0, ".mp3", "mp3", 1, 1},       {1, ".wma", "wmav1", 2048, 1}, {2, ".ogg", "vorbis", 256, 1},
    {3, ".wav", "pcm_s16le", 1, 1}, {4, ".flac", "flac", 1, 1},    {5, ".ac3", "ac3", 1536, 1},
    {6, ".aac", "aac", 1024, 2},    {7, ".amr", "amr_nb", 160, 1},
};

double tolerance(const FormatRow& f, int rate)
{
    return f.frames * f.frame_samples / rate + 0.0005;
}

void expected_format(const FormatRow& f, const InputRow& in, int* rate, int* channels)
{
    switch (f.index) {
    case 0:
        *rate = nearest({44100, 48000, 32000, 22050, 24000, 16000, 11025, 12000, 8000},
                        in.mp3.rate.toInt());
        *channels = in.mp3.channel_index + 1;
        return;
    case 1:
        *rate = in.rate;
        *channels = std::min(in.channels, 2);
        return;
    case 2:
        *rate = in.rate;
        *channels = 2;
        return;
    case 5:
        *rate = nearest({48000, 44100, 32000}, in.rate);
        *channels = in.channels;
        return;
    case 7:
        *rate = 8000;
        *channels = 1;
        return;
    default:
        *rate = in.rate;
        *channels = in.channels;
    }
}

} // namespace

// Every input kind into every output format, with the exact command texts zelmora sends.
TEST(ConvFormats, EveryInputToEveryFormat)
{
    SKIP_WITHOUT_ZELMORA();
    Media& m = Media::get();
    for (const InputRow& in : kInputs) {
        const Sound src = sound_of(m.path(in.file));
        ASSERT_TRUE(src.ok) << in.file;
        ASSERT_EQ(src.sample_rate, in.rate) << in.file;
        const double length = m.decoded_length(in.file);
        for (const FormatRow& f : kFormats) {
            SCOPED_TRACE(std::string(in.file) + " -> " + f.ext);
            const QString folder = m.fresh_folder();
            const QStringList cmd = zelmora_command(f.index, m.path(in.file), folder, in.mp3);
            const RunResult r = run_split(cmd);
            ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
            ASSERT_FALSE(r.crashed);
            const QString& out = cmd.back();
            const Sound p = sound_of(out);
            ASSERT_TRUE(p.ok) << "ffprobe cannot read " << out.toStdString();
            int rate = 0, channels = 0;
            expected_format(f, in, &rate, &channels);
            // Only an asked-for rate the encoder cannot take (zelmora's "12050") is said.
            const QString asked = f.index == 0 ? in.mp3.rate : QString();
            const QByteArray note = !asked.isEmpty() && asked.toInt() != rate
                                        ? "conv: note: libmp3lame cannot encode " + asked.toUtf8()
                                              + " Hz; using " + QByteArray::number(rate) + " Hz\n"
                                        : QByteArray();
            EXPECT_EQ(r.err, note);
            EXPECT_EQ(p.codec, f.codec);
            EXPECT_EQ(p.sample_rate, rate);
            EXPECT_EQ(p.channels, channels);
            // What a player gets: the output decoded, against the input decoded.
            const double out_length = decoded_length_of(out);
            EXPECT_NEAR(out_length, length, tolerance(f, rate));
            // Nothing but the output is written into the folder.
            EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 1);
        }
    }
}

// Options beyond the builder's: bit rates are honoured, AMR modes follow -ab.
TEST(ConvFormats, BitRateChoices)
{
    Media& m = Media::get();
    struct Row {
        const char* ext;
        QStringList options;
        int min_kbps, max_kbps; // of the whole file
        int amr_mode;           // mode in every AMR frame header; -1 = not AMR
    } rows[] = {
        {".mp3", {"-ab", "64k", "-ar", "44100", "-ac", "2"}, 60, 70, -1},
        {".mp3", {"-ab", "320k", "-ar", "48000", "-ac", "2"}, 300, 330, -1},
        {".amr", {"-ar", "8000", "-ab", "7.4k", "-ac", "1"}, 7, 9, 4},
        {".amr", {"-ab", "12.2k"}, 12, 14, 7},
        {".amr", {}, 12, 14, 7}, // the default mode is 12.2 kbit/s
        {".amr", {"-ab", "4.75k"}, 4, 6, 0},
    };
    // Size in bytes of an AMR-NB storage frame (header byte included) for each mode.
    const int amr_frame_bytes[] = {13, 14, 16, 18, 20, 21, 27, 32};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.ext) + " " + row.options.join(' ').toStdString());
        const QString out = m.fresh_folder() + "/out" + row.ext;
        const RunResult r = run_conv(QStringList{"-i", m.path("av.mp4"), "-y", "-vn"} + row.options
                                     + QStringList{out});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        const qint64 bytes = QFileInfo(out).size();
        const double kbps = bytes * 8.0 / Media::kLength / 1000.0;
        EXPECT_GE(kbps, row.min_kbps);
        EXPECT_LE(kbps, row.max_kbps);
        if (row.amr_mode < 0)
            continue;
        QFile f(out);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray data = f.readAll();
        ASSERT_TRUE(data.startsWith("#!AMR\n"));
        int frames = 0;
        for (qsizetype at = 6; at < data.size(); at += amr_frame_bytes[row.amr_mode], ++frames)
            ASSERT_EQ((static_cast<unsigned char>(data[at]) >> 3) & 0x0f, row.amr_mode)
                << "frame " << frames;
        EXPECT_EQ(6 + frames * amr_frame_bytes[row.amr_mode], data.size());
        EXPECT_NEAR(frames * 0.02, Media::kLength, 0.041);
    }
}

// Input rates, channel counts and sample formats an encoder cannot take become the nearest
// it can (float sound into FLAC keeps 24 bits rather than 16).
TEST(ConvFormats, ValuesBeyondEncoders)
{
    Media& m = Media::get();
    struct Row {
        const char* input;
        const char* ext;
        int rate, channels;
        const char* sample_format; // nullptr = not checked
    } rows[] = {
        {"hi96.wav", ".wma", 48000, 2, nullptr},     {"hi96.wav", ".mp3", 48000, 2, nullptr},
        {"hi96.wav", ".ac3", 48000, 2, nullptr},     {"hi96.wav", ".aac", 96000, 2, nullptr},
        {"hi96.wav", ".flac", 96000, 2, "s16"},      {"hi96.wav", ".amr", 8000, 1, nullptr},
        {"lo8.wav", ".ac3", 32000, 1, nullptr},      {"lo8.wav", ".wma", 8000, 1, nullptr},
        {"lo8.wav", ".ogg", 8000, 1, nullptr},       {"surround.wav", ".wma", 48000, 2, nullptr},
        {"surround.wav", ".ac3", 48000, 6, nullptr}, {"av.mp4", ".flac", 48000, 2, "s32"},
        {"av.mp4", ".wav", 48000, 2, "s16"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.input) + " -> " + row.ext);
        const QString out = m.fresh_folder() + "/o" + row.ext;
        const RunResult r = run_conv({"-i", m.path(row.input), "-y", out});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        const Sound p = sound_of(out);
        EXPECT_EQ(p.sample_rate, row.rate);
        EXPECT_EQ(p.channels, row.channels);
        if (row.sample_format) {
            EXPECT_EQ(p.sample_format, row.sample_format);
        }
    }
}

// -ss / -t: sample-accurate cut, length past the end stops at the end; with the exact samples
// checked on an input whose sample n holds n mod 32768.
TEST(ConvCut, SampleAccurate)
{
    Media& m = Media::get();
    struct Row {
        const char* input;
        const char* ss;
        const char* t;
        qint64 first_index; // input sample index of the first output sample
        qint64 count;       // samples expected
    } rows[] = {
        {"step.wav", "1", "1", 48000, 48000},
        {"step.wav", "1.5", "0.5", 72000, 24000},
        {"step.wav", "0", "0.25", 0, 12000},
        {"step.wav", "0.25", "60", 12000, 144000 - 12000},    // past the end: stops at the end
        {"step.wav", "00:00:02", "00:00:00.5", 96000, 24000}, // clock form
        {"step.flac", "2.2", "0.3", 105600, 14400},
        {"step.flac", "0.7", "5", 33600, 144000 - 33600},
        {"step.mkv", "1.5", "0.5", 72000, 24000},
        {"step.mkv", "0.3331", "1", 15989, 48000},
        // A broken timestamp inside the range does not end the cut.
        {"step-jump.mkv", "0.2", "2", 9600, 96000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.input) + " -ss " + row.ss + " -t " + row.t);
        const QString out = m.fresh_folder() + "/cut.wav";
        const RunResult r = run_conv({"-i", m.path(row.input), "-ss", row.ss, "-t", row.t, "-y",
                                      "-vn", "-acodec", "pcm_s16le", out});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        const QVector<qint16> s = wav_samples(out);
        ASSERT_EQ(s.size(), row.count);
        EXPECT_EQ(s.front(), row.first_index % 32768);
        EXPECT_EQ(s.back(), (row.first_index + row.count - 1) % 32768);
    }
}

// Cuts of compressed inputs into every format keep the wanted length within codec framing.
TEST(ConvCut, CompressedInputsAllFormats)
{
    SKIP_WITHOUT_ZELMORA();
    Media& m = Media::get();
    for (const char* input : {"av.mp4", "av.flv"}) {
        for (const FormatRow& f : kFormats) {
            SCOPED_TRACE(std::string(input) + " -> " + f.ext);
            const QStringList cmd = zelmora_command(f.index, m.path(input), m.fresh_folder(),
                                                    Choice{}, std::make_pair(1, 1));
            const RunResult r = run_split(cmd);
            ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
            const Sound p = sound_of(cmd.back());
            ASSERT_TRUE(p.ok);
            EXPECT_NEAR(decoded_length_of(cmd.back()), 1.0, tolerance(f, p.sample_rate));
        }
    }
}

// The input's tags (the file's, MP4; the audio stream's, Ogg) come along where the format
// carries tags: asked for with -map_meta_data, and without it too (as with the ffmpeg CLI);
// "-map_metadata -1" leaves them behind.
TEST(ConvMetadata, CopiesTags)
{
    Media& m = Media::get();
    enum Ask { Asked, Default, Refused };
    for (const char* input : {"av.mp4", "song.ogg"})
        for (const char* ext : {".mp3", ".wma", ".ogg", ".flac", ".wav", ".ac3", ".aac", ".amr"}) {
            const bool carries =
                QString(ext) != ".ac3" && QString(ext) != ".aac" && QString(ext) != ".amr";
            for (Ask ask : {Asked, Default, Refused}) {
                SCOPED_TRACE(std::string(input) + " to " + ext + " asking " + std::to_string(ask));
                const QString out = m.fresh_folder() + "/tags" + ext;
                QStringList args{"-i", m.path(input), "-y", "-vn"};
                if (ask == Asked)
                    args << "-map_meta_data" << ("\"" + m.path(input) + "\":\"" + out + "\"");
                if (ask == Refused)
                    args << "-map_metadata"
                         << "-1";
                const RunResult r = run_conv(args << out);
                ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
                const Sound p = sound_of(out);
                ASSERT_TRUE(p.ok);
                if (ask != Refused && carries) {
                    EXPECT_EQ(p.tags.value("title"), QString("Tëst Title"));
                    EXPECT_EQ(p.tags.value("artist"), QString("Zelmora Tests"));
                } else {
                    EXPECT_FALSE(p.tags.contains("title"));
                }
            }
        }
}

// Paths with blanks, double quotes, non-ASCII letters and shell characters, passed through the
// command text the way zelmora's runner splits it.
TEST(ConvPaths, AwkwardNames)
{
    SKIP_WITHOUT_ZELMORA();
    Media& m = Media::get();
    const char* names[] = {
        "with blanks  two.flv", "quote\"inside.flv",
        "ünïcödé 名前 ÄÖ.flv",  "shell $HOME `id` ;&|*?<>'x'.flv",
        "-dash first.flv",      "many.dots.in.name.flv",
    };
    for (const char* name : names) {
        SCOPED_TRACE(name);
        const QString folder = m.fresh_folder() + "/out folder 'ü' $x";
        ASSERT_TRUE(QDir().mkpath(folder));
        const QString in = m.dir() + "/in " + QString::number(qHash(QString(name))) + "/"
                           + QString::fromUtf8(name);
        ASSERT_TRUE(QDir().mkpath(QFileInfo(in).path()));
        QFile::remove(in);
        ASSERT_TRUE(QFile::copy(m.path("av.flv"), in));
        for (int format : {0, 3}) {
            const QStringList cmd = zelmora_command(format, in, folder, Choice{});
            const RunResult r = run_split(cmd);
            ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
            EXPECT_TRUE(sound_of(cmd.back()).ok) << cmd.back().toStdString();
            EXPECT_EQ(QFileInfo(cmd.back()).path(), folder);
        }
    }
}

#ifdef CONV_TESTS_WITH_ZELMORA
namespace {

// What zelmora's own parser reads from conv's output, line by line (each line of conv is one
// write, read by zelmora as its own chunk when the writes are apart in time, as they are: a few
// per second): the media length it sets as its total, and the positions of the "time=" values.
struct Reading {
    int total_seconds = 0;
    std::vector<int> positions;
};

Reading read_like_zelmora(const QByteArray& all)
{
    Reading r;
    for (const QByteArray& line : all.split('\n')) {
        const QString chunk = QString::fromUtf8(line + '\n');
        zm::parseProgressChunk(chunk, r.total_seconds, false, 0);
        if (const auto seconds = zm::progressSecondsIn(chunk))
            r.positions.push_back(static_cast<int>(std::nearbyint(*seconds)));
    }
    return r;
}

} // namespace
#endif

// Progress grammar: one "Duration: HH:MM:SS.cc," line first, then "time=SECONDS.cc " values,
// rising, the last one at the end; all readable by zelmora's rules.
TEST(ConvProgress, Grammar)
{
    Media& m = Media::get();
    struct Row {
        const char* input;
        QStringList extra;
        double expected_end;
        int expected_total;
    } rows[] = {
        {"av.mp4", {}, 3.0, 3},
        {"av.flv", {"-ss", "1", "-t", "1"}, 1.0, 3}, // time= counts from the cut start
        {"step.wav", {"-ss", "2"}, 1.0, 3},
        {"no-length.mkv", {}, 3.0, 0}, // "Duration: N/A": zelmora keeps its total at 0
    };
    const QRegularExpression duration_re("^Duration: (\\d\\d:\\d\\d:\\d\\d\\.\\d\\d|N/A), ");
    const QRegularExpression time_re("time=(\\d+\\.\\d\\d) ");
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.input) + " " + row.extra.join(' ').toStdString());
        const QString out = m.fresh_folder() + "/p.mp3";
        const RunResult r =
            run_conv(QStringList{"-i", m.path(row.input)} + row.extra + QStringList{"-y", out});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        const QStringList lines = QString::fromUtf8(r.out).split('\n', Qt::SkipEmptyParts);
        ASSERT_GE(lines.size(), 2);
        EXPECT_TRUE(duration_re.match(lines.front()).hasMatch()) << lines.front().toStdString();
        EXPECT_EQ(QString::fromUtf8(r.out).count("Duration: "), 1);
        double last = -1;
        int times = 0;
        for (const QString& line : lines.mid(1)) {
            const auto match = time_re.match(line);
            ASSERT_TRUE(match.hasMatch()) << line.toStdString();
            const double v = match.captured(1).toDouble();
            EXPECT_GE(v, last);
            last = v;
            ++times;
        }
        EXPECT_GE(times, 1);
        EXPECT_NEAR(last, row.expected_end, 0.06);
#ifdef CONV_TESTS_WITH_ZELMORA
        const Reading z = read_like_zelmora(r.out);
        EXPECT_EQ(z.total_seconds, row.expected_total);
        ASSERT_FALSE(z.positions.empty());
        EXPECT_EQ(z.positions.back(), static_cast<int>(std::nearbyint(row.expected_end)));
#endif
    }
}

// Each class of failure: one line on stderr, its exit code, and no output file left behind.
TEST(ConvErrors, OneLineAndNoOutput)
{
    Media& m = Media::get();
    const QString folder = m.fresh_folder();
    const QString out = folder + "/o.mp3";
    const QString in = m.path("av.mp4");
    const QString dir_input = m.fresh_folder();
    struct Row {
        QStringList args;
        int code;
        const char* message_part;
    } rows[] = {
        // usage
        {{"-i", in, "-bogus", out}, 2, "unknown option -bogus"},
        {{"-i", in, "-y", out, "-ar"}, 2, "missing value for -ar"},
        {{"-i", in, "-ss", "-5", "-t", "3", "-y", out}, 2, "must not be negative"},
        {{"-i", in, "-ss", "abc", "-y", out}, 2, "-ss"},
        {{"-i", in, "-t", "1x", "-y", out}, 2, "-t"},
        {{"-i", in, "-t", "0", "-y", out}, 2, "-t"},
        {{"-i", in, "-ab", "fast", "-y", out}, 2, "-ab"},
        {{"-i", in, "-ab", "0k", "-y", out}, 2, "-ab"},
        {{"-i", in, "-ar", "0", "-y", out}, 2, "-ar"},
        {{"-i", in, "-ac", "9", "-y", out}, 2, "-ac"},
        {{"-y", out}, 2, "no input file"},
        {{"-i", in, "-y"}, 2, "no output file"},
        {{"-i", in, "-y", out, folder + "/second.mp3"}, 2, "more than one output"},
        {{"-i", in, "-y", folder + "/o.xyz"}, 2, "unsupported output format"},
        {{"-i", in, "-y", "-acodec", "nosuchcodec", out}, 2, "unknown audio encoder"},
        // input
        {{"-i", m.path("missing.flv"), "-y", out}, 3, "not found"},
        {{"-i", dir_input, "-y", out}, 3, "folder"},
        {{"-i", m.path("text.flv"), "-y", out}, 3, "not a media file"},
        {{"-i", m.path("video-only.mp4"), "-y", out}, 3, "no audio stream"},
        {{"-i", m.path("av.flv"), "-ss", "10", "-t", "5", "-y", out}, 3, "past the end"},
        {{"-i", in, "-ss", "10", "-y", out}, 3, "past the end"}, // seeks (exact stamps)
        // output
        {{"-i", in, "-y", folder + "/missing sub/o.mp3"}, 4, "does not exist"},
        {{"-i", in, "-y", "/proc/zelmora-conv-test.mp3"}, 4, "/proc"},
        {{"-i", m.path("step.wav"), "-y", m.path("step.wav")}, 4, "is the input"},
        // encoder / muxer
        {{"-i", in, "-y", "-acodec", "pcm_s16le", out}, 5, "output"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        const RunResult r = run_conv(row.args);
        EXPECT_FALSE(r.crashed);
        EXPECT_EQ(r.exitCode, row.code) << r.err.toStdString();
        EXPECT_TRUE(r.err.endsWith('\n'));
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.startsWith("conv: "));
        EXPECT_TRUE(r.err.contains(row.message_part)) << r.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(out));
        EXPECT_TRUE(QDir(folder).entryList(QDir::Files | QDir::Hidden).isEmpty());
    }
    EXPECT_TRUE(QFileInfo(m.path("step.wav")).size() > 0); // the input refused as output is intact
}

// A write failure part-way (the disk is full) is an error. The output name is a link to
// /dev/full, which takes the header and fails once data is flushed; a device is written
// directly, and the link stays as it was.
TEST(ConvErrors, DiskFull)
{
    Media& m = Media::get();
    for (const char* ext : {".mp3", ".wav", ".aac", ".amr"}) {
        SCOPED_TRACE(ext);
        const QString folder = m.fresh_folder();
        const QString out = folder + "/full" + ext;
        ASSERT_TRUE(QFile::link("/dev/full", out));
        const RunResult r = run_conv({"-i", m.path("av.mp4"), "-y", out});
        EXPECT_EQ(r.exitCode, 5) << r.err.toStdString();
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("No space left")) << r.err.toStdString();
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::System | QDir::Hidden),
                  QStringList{"full" + QString(ext)});
        EXPECT_EQ(QFileInfo(out).symLinkTarget(), "/dev/full");
    }
}

// Without -y an existing output is an error and stays untouched; with -y it is replaced, but
// only by a complete output: a conversion that fails after it started leaves the old file.
TEST(ConvErrors, OverwriteRule)
{
    Media& m = Media::get();
    // A name near the file system's limit of 255 bytes is replaced as well.
    for (const QString& name : {QString("exists.wav"), QString(246, 'n') + ".wav"}) {
        const QString folder = m.fresh_folder();
        const QString out = folder + "/" + name;
        struct Row {
            QStringList extra;
            int code;
            bool replaced;
        } rows[] = {
            {{}, 4, false},
            {{"-y"}, 0, true},
            {{"-y", "-ss", "10", "-t", "5"}, 3, false}, // starts past the end of the input
            {{"-y", "-acodec", "pcm_s16le", "-ac", "2"}, 0, true},
        };
        for (const Row& row : rows) {
            SCOPED_TRACE(row.extra.join(' ').toStdString());
            QFile f(out);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write("old contents");
            f.close();
            const RunResult r = run_conv(QStringList{"-i", m.path("av.flv")} + row.extra << out);
            EXPECT_EQ(r.exitCode, row.code) << r.err.toStdString();
            QFile check(out);
            ASSERT_TRUE(check.open(QIODevice::ReadOnly));
            EXPECT_EQ(check.readAll() != "old contents", row.replaced);
            // Nothing else is left in the folder (no temporary file).
            EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System),
                      QStringList{name});
        }
    }
    // An output name that is a link is written through: the link stays, its file is replaced.
    const QString folder = m.fresh_folder();
    QFile target(folder + "/target.wav");
    ASSERT_TRUE(target.open(QIODevice::WriteOnly));
    target.write("old contents");
    target.close();
    ASSERT_TRUE(QFile::link(folder + "/target.wav", folder + "/link.wav"));
    const RunResult r = run_conv({"-i", m.path("av.flv"), "-y", folder + "/link.wav"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(QFileInfo(folder + "/link.wav").isSymLink());
    EXPECT_EQ(sound_of(folder + "/target.wav").codec, "pcm_s16le");
}

// A closed output pipe (the front-end went away) does not stop conv: the file is completed.
// conv's stdout and stderr go into a pipe whose reading end is closed before it writes a byte.
TEST(ConvRobustness, ClosedPipeFinishesFile)
{
    Media& m = Media::get();
    const QString out = m.fresh_folder() + "/pipe.ogg";
    const QByteArray program = conv_path().toLocal8Bit();
    const QByteArray input = m.path("av.mp4").toLocal8Bit();
    const QByteArray output = out.toLocal8Bit();
    const char* argv[] = {program.constData(), "-i",   input.constData(), "-y", "-vn", "-ac", "2",
                          output.constData(),  nullptr};
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]); // nobody will ever read
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // The child must start with SIGPIPE at its default action, as a front-end's child would.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const int spawned =
        posix_spawn(&pid, argv[0], &actions, &attr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(fds[1]);
    ASSERT_EQ(spawned, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const Sound pr = sound_of(out);
    ASSERT_TRUE(pr.ok);
    EXPECT_NEAR(pr.duration, Media::kLength, 0.05);
}

// Asked to stop (SIGTERM, SIGINT), conv removes its partial output and says so; a hang-up
// (the terminal or front-end went away) does not stop it: the file is completed.
TEST(ConvRobustness, SignalsMidway)
{
    Media& m = Media::get();
    const QString folder = m.fresh_folder();
    const QString long_input = folder + "/long.wav";
    ASSERT_TRUE(
        makeMedia(long_input, {"-f", "lavfi", "-i",
                               "sine=frequency=300:sample_rate=48000:duration=120", "-ac", "2"}));
    struct Row {
        int signal;
        int code;
        bool output_kept;
    } rows[] = {{SIGTERM, 6, false}, {SIGINT, 6, false}, {SIGHUP, 0, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.signal);
        const QString out = folder + "/long.ogg";
        QFile::remove(out);
        QProcess p;
        p.setStandardInputFile(QProcess::nullDevice());
        p.start(conv_path(), {"-i", long_input, "-y", "-vn", "-ac", "2", out});
        ASSERT_TRUE(p.waitForStarted());
        QByteArray seen;
        while (!seen.contains("time=") && p.waitForReadyRead(30000))
            seen += p.readAllStandardOutput();
        ASSERT_TRUE(seen.contains("time="));
        ::kill(static_cast<pid_t>(p.processId()), row.signal);
        ASSERT_TRUE(p.waitForFinished(120000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), row.code);
        EXPECT_EQ(QFileInfo::exists(out), row.output_kept);
        if (row.output_kept) {
            EXPECT_NEAR(sound_of(out).duration, 120.0, 0.05);
        } else {
            EXPECT_TRUE(p.readAllStandardError().startsWith("conv: interrupted"));
        }
    }
    QFile::remove(long_input);
}

namespace {

// MD5 of what the ffmpeg CLI decodes from the first audio stream, or of its packets as stored
// (packets = true). With raw set, an MP4's edit list is not applied: its priming samples are
// decoded too, as they are from an ADTS file, which has no way to mark them.
QByteArray audio_md5(const QString& file, bool packets = false, bool raw = false)
{
    QStringList args{"-v", "error", "-nostdin"};
    if (raw)
        args << "-ignore_editlist"
             << "1";
    args << "-i" << file << "-map"
         << "0:a:0";
    if (packets)
        args << "-c:a"
             << "copy";
    const RunResult r = run("ffmpeg", args << "-f"
                                           << "md5"
                                           << "-");
    return r.exitCode == 0 ? r.out.trimmed() : QByteArray("failed: " + r.err);
}

// Inputs of every codec conv copies, made once (3 s each).
const QString& copy_inputs()
{
    static const QString dir = [] {
        Media& m = Media::get();
        QString d = m.fresh_folder();
        // The last argument is the file to make.
        auto make = [](QStringList args) {
            const QString path = args.takeLast();
            if (!makeMedia(path, QStringList{"-f", "lavfi"} + args))
                throw std::runtime_error("cannot make " + path.toStdString());
        };
        const QString tone = "sine=frequency=440:sample_rate=%1:duration=3";
        make({"-i", tone.arg(44100), "-ac", "2", "-c:a", "aac", d + "/tone.aac"});
        make({"-i", tone.arg(48000), "-ac", "2", "-c:a", "ac3", d + "/tone.ac3"});
        // Not the encoder's default level, so an encoded copy would differ from this one.
        make({"-i", tone.arg(44100), "-ac", "2", "-c:a", "flac", "-compression_level", "0",
              d + "/tone.flac"});
        make({"-i", tone.arg(44100), "-ac", "2", "-c:a", "libvorbis", d + "/tone.ogg"});
        make({"-i", tone.arg(48000), "-ac", "2", "-c:a", "libopus", d + "/tone.opus"});
        make({"-i", tone.arg(48000), "-ac", "2", "-c:a", "libopus", d + "/opus.mkv"});
        make({"-i", tone.arg(44100), "-ac", "2", "-c:a", "aac", d + "/aac.mkv"});
        const RunResult amr = run_conv({"-i", m.path("lo8.wav"), "-y", "-ar", "8000", "-ab", "7.4k",
                                        "-ac", "1", d + "/tone.amr"});
        if (amr.exitCode != 0)
            throw std::runtime_error("cannot make tone.amr: " + amr.err.toStdString());
        return d;
    }();
    return dir;
}

struct CopyRow {
    QString input;
    const char* ext;
    QStringList options; // as zelmora sends them for the format
    bool same_packets;   // false where the container frames the packets anew (ADTS <-> MP4)
    bool raw_reference;  // the input decoded with its priming (MP4 into ADTS)
};

std::vector<CopyRow> copy_rows()
{
    Media& m = Media::get();
    const QString& c = copy_inputs();
    const QStringList tags{"-map_meta_data", "x"};
    return {
        {m.path("av.mp4"), ".aac", {}, false, true},
        {m.path("av.mp4"), ".m4a", tags, true, false},
        {c + "/tone.aac", ".aac", {}, true, false},
        {c + "/tone.aac", ".m4a", tags, false, false},
        {c + "/aac.mkv", ".m4a", tags, true, false},
        {m.path("tone.mp3"), ".mp3", QStringList{"-ab", "96k", "-ar", "32000", "-ac", "2"} + tags,
         true, false},
        {m.path("av.flv"), ".mp3", QStringList{"-ab", "128k", "-ar", "44100", "-ac", "2"} + tags,
         true, false},
        {c + "/tone.ac3", ".ac3", {}, true, false},
        {c + "/tone.flac", ".flac", {}, true, false},
        {c + "/tone.ogg", ".ogg", QStringList{"-ac", "2"} + tags, true, false},
        {c + "/tone.opus", ".opus", tags, true, false},
        {c + "/opus.mkv", ".opus", tags, true, false},
        {m.path("step.wav"), ".wav", {"-acodec", "pcm_s16le"}, true, false},
        {c + "/tone.amr", ".amr", {"-ar", "8000", "-ab", "7.4k", "-ac", "1"}, true, false},
    };
}

} // namespace

// Every codec pair is copied: the output decodes to exactly the input's samples, and holds the
// input's very packets wherever the container keeps their framing.
TEST(ConvCopy, SameSamples)
{
    Media& m = Media::get();
    for (const CopyRow& row : copy_rows()) {
        SCOPED_TRACE((row.input + " -> " + row.ext + " " + row.options.join(' ')).toStdString());
        const QString folder = m.fresh_folder();
        const QString out = folder + "/copy" + row.ext;
        const RunResult r =
            run_conv(QStringList{"-i", row.input, "-y", "-vn"} + row.options << out);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(r.err, QByteArray());
        EXPECT_EQ(audio_md5(out), audio_md5(row.input, false, row.raw_reference));
        if (row.same_packets) {
            EXPECT_EQ(audio_md5(out, true), audio_md5(row.input, true));
        }
        if (row.ext == QString(".m4a")) {
            // Stamped to the sample: every AAC packet lasts 1024 samples, though Matroska
            // stamps in whole milliseconds.
            const RunResult r2 =
                run("ffprobe", {"-v", "error", "-select_streams", "a", "-show_entries",
                                "packet=duration", "-of", "csv=p=0", out});
            QList<QByteArray> lines = r2.out.trimmed().split('\n');
            lines.removeAll(QByteArray()); // the side data of a packet prints a line of its own
            ASSERT_GT(lines.size(), 2);
            lines.removeLast();
            for (const QByteArray& line : lines)
                ASSERT_EQ(line.split(',').front(), "1024") << r2.out.toStdString();
        }
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }
}

// A copy reports like an encode: one Duration line, then rising time= values up to the end;
// and with -map_meta_data the tags come along.
TEST(ConvCopy, ProgressAndTags)
{
    Media& m = Media::get();
    const QRegularExpression duration_re("^Duration: \\d\\d:\\d\\d:\\d\\d\\.\\d\\d, ");
    const QRegularExpression time_re("time=(\\d+\\.\\d\\d) ");
    for (const char* ext : {".m4a", ".aac"}) {
        SCOPED_TRACE(ext);
        const QString out = m.fresh_folder() + "/p" + ext;
        const RunResult r =
            run_conv({"-i", m.path("av.mp4"), "-y", "-vn", "-map_meta_data", "x", out});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        const QStringList lines = QString::fromUtf8(r.out).split('\n', Qt::SkipEmptyParts);
        ASSERT_GE(lines.size(), 2);
        EXPECT_TRUE(duration_re.match(lines.front()).hasMatch()) << lines.front().toStdString();
        double last = -1;
        for (const QString& line : lines.mid(1)) {
            const auto match = time_re.match(line);
            ASSERT_TRUE(match.hasMatch()) << line.toStdString();
            EXPECT_GE(match.captured(1).toDouble(), last);
            last = match.captured(1).toDouble();
        }
        EXPECT_NEAR(last, Media::kLength, 0.03);
#ifdef CONV_TESTS_WITH_ZELMORA
        const Reading z = read_like_zelmora(r.out);
        EXPECT_EQ(z.total_seconds, 3);
        ASSERT_FALSE(z.positions.empty());
        EXPECT_EQ(z.positions.back(), 3);
#endif
        if (QString(ext) == ".m4a") {
            EXPECT_EQ(sound_of(out).tags.value("title"), QString("Tëst Title"));
        }
    }
}

// -acodec copy where a copy cannot be done: one line, exit 2, nothing written. Where it can,
// the options zelmora would not send are no obstacle as long as they agree with the input.
TEST(ConvCopy, ForcedCopy)
{
    Media& m = Media::get();
    struct Row {
        QString input;
        QStringList options;
        const char* ext;
        int code;
        const char* message_part;
    } rows[] = {
        {m.path("av.mp4"),
         {"-acodec", "copy"},
         ".mp3",
         2,
         "the input's audio is aac, this output format takes mp3"},
        {m.path("av.flv"), {"-acodec", "copy"}, ".wma", 2, "takes no copied audio"},
        {m.path("av.mp4"), {"-acodec", "copy", "-ss", "1"}, ".aac", 2, "a cut"},
        {m.path("av.mp4"),
         {"-c:a", "copy", "-ar", "44100"},
         ".m4a",
         2,
         "-ar 44100 differs from the input's 48000 Hz"},
        {m.path("tone.mp3"), {"-acodec", "copy", "-ac", "1"}, ".mp3", 2, "-ac 1 differs"},
        {m.path("av.mp4"), {"-acodec", "copy", "-ar", "48000", "-ac", "2"}, ".m4a", 0, ""},
        {m.path("step.flac"), {"-acodec", "copy", "-ab", "96k"}, ".flac", 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.options.join(' ').toStdString() + " " + row.ext);
        const QString folder = m.fresh_folder();
        const QString out = folder + "/forced" + row.ext;
        const RunResult r = run_conv(QStringList{"-i", row.input, "-y"} + row.options << out);
        EXPECT_EQ(r.exitCode, row.code) << r.err.toStdString();
        if (row.code != 0) {
            EXPECT_TRUE(r.err.startsWith("conv: cannot copy the audio into " + out.toUtf8() + ": "))
                << r.err.toStdString();
            EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
            EXPECT_TRUE(r.err.contains(row.message_part)) << r.err.toStdString();
            EXPECT_TRUE(
                QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System).isEmpty());
        } else {
            EXPECT_EQ(audio_md5(out, true), audio_md5(row.input, true));
        }
    }
}

// Stopped part-way through a copy, conv removes what it wrote: no output, nothing hidden.
TEST(ConvCopy, StoppedMidway)
{
    Media& m = Media::get();
    const QString folder = m.fresh_folder();
    // Two hours of 8000 Hz PCM (115 MB): copying it takes long enough to be stopped.
    const QString long_input = folder + "/long.wav";
    ASSERT_TRUE(makeMedia(long_input, {"-f", "lavfi", "-i", "anullsrc=r=8000:cl=mono", "-t", "7200",
                                       "-c:a", "pcm_s16le"}));
    const QString out_folder = m.fresh_folder();
    const QString out = out_folder + "/long.wav";
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(conv_path(), {"-i", long_input, "-y", "-vn", "-acodec", "pcm_s16le", out});
    ASSERT_TRUE(p.waitForStarted());
    QByteArray seen;
    while (!seen.contains("time=") && p.waitForReadyRead(30000))
        seen += p.readAllStandardOutput();
    ASSERT_TRUE(seen.contains("time="));
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(120000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 6) << "the copy ended before the stop arrived";
    EXPECT_TRUE(p.readAllStandardError().startsWith("conv: interrupted"));
    EXPECT_TRUE(QDir(out_folder).entryList(QDir::Files | QDir::Hidden | QDir::System).isEmpty());
    QFile::remove(long_input);
}

// M4A and Opus encoded: codec, container, the rate and channels the encoders take, the length
// kept, tags carried; on noise the bit rates come near 192 and 128 kbit/s (well above what the
// encoders give by default).
TEST(ConvNewFormats, M4aAndOpus)
{
    Media& m = Media::get();
    const QString noise = m.fresh_folder() + "/noise.wav";
    ASSERT_TRUE(makeMedia(noise, {"-f", "lavfi", "-i", "anoisesrc=r=44100:d=3:a=0.3", "-ac", "2"}));
    struct Row {
        QString input;
        const char* ext;
        const char* codec;
        const char* container; // part of ffprobe's format_name
        int rate, channels;
        int min_kbps, max_kbps; // of the whole file; 0 = not checked
    } rows[] = {
        {noise, ".m4a", "aac", "mp4", 44100, 2, 175, 210},
        {noise, ".opus", "opus", "ogg", 48000, 2, 80, 145}, // the encoder default gives 65
        {m.path("av.flv"), ".m4a", "aac", "mp4", 44100, 2, 0, 0},
        {m.path("av.avi"), ".m4a", "aac", "mp4", 22050, 1, 0, 0},
        {m.path("tone.mp3"), ".m4a", "aac", "mp4", 32000, 2, 0, 0},
        {m.path("av.flv"), ".opus", "opus", "ogg", 48000, 2, 0, 0},
        {m.path("av.avi"), ".opus", "opus", "ogg", 48000, 1, 0, 0},
        {m.path("surround.wav"), ".opus", "opus", "ogg", 48000, 6, 0, 0},
        {m.path("av.mp4"), ".opus", "opus", "ogg", 48000, 2, 0, 0},
        {m.path("song.ogg"), ".opus", "opus", "ogg", 48000, 1, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.input.toStdString() + " -> " + row.ext);
        const QString out = m.fresh_folder() + "/new" + row.ext;
        const RunResult r = run_conv({"-i", row.input, "-y", "-vn", "-map_meta_data", "x", out});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(r.err, QByteArray()); // values conv chose itself need no note
        const Sound p = sound_of(out);
        ASSERT_TRUE(p.ok);
        EXPECT_EQ(p.codec, row.codec);
        EXPECT_EQ(p.sample_rate, row.rate);
        EXPECT_EQ(p.channels, row.channels);
        const QString container = testsupport::probe(out).formatName;
        EXPECT_TRUE(container.contains(row.container)) << container.toStdString();
        if (row.max_kbps > 0) {
            const double kbps = QFileInfo(out).size() * 8.0 / Media::kLength / 1000.0;
            EXPECT_GE(kbps, row.min_kbps);
            EXPECT_LE(kbps, row.max_kbps);
        }
        EXPECT_NEAR(decoded_length_of(out), decoded_length_of(row.input), 0.03);
        if (row.input.endsWith("av.mp4") || row.input.endsWith("song.ogg")) {
            EXPECT_EQ(p.tags.value("title"), QString("Tëst Title"));
            EXPECT_EQ(p.tags.value("artist"), QString("Zelmora Tests"));
        }
    }
}

namespace {

struct Cover {
    bool found = false;
    QString codec;
    QByteArray md5; // of the picture as stored
};

Cover cover_of(const QString& file)
{
    Cover c;
    const testsupport::Probe p = testsupport::probe(file);
    const auto first_picture =
        std::find_if(p.streams.begin(), p.streams.end(),
                     [](const testsupport::StreamInfo& s) { return s.type == "video"; });
    if (first_picture == p.streams.end() || !first_picture->attachedPic)
        return c;
    c.found = true;
    c.codec = first_picture->codec;
    c.md5 = run("ffmpeg", {"-v", "error", "-nostdin", "-i", file, "-map", "0:v:0", "-c", "copy",
                           "-f", "md5", "-"})
                .out.trimmed();
    return c;
}

} // namespace

// Music files with tags and a cover (JPEG or PNG, made here) into MP3, M4A and FLAC: the cover
// arrives as an attached picture, unchanged, with title, artist, album and track; copied and
// encoded alike. Formats that cannot hold a picture get the tags alone; with -map_metadata -1
// nothing comes along.
TEST(ConvCover, PictureAndTags)
{
    Media& m = Media::get();
    const QString d = m.fresh_folder();
    ASSERT_TRUE(
        makeMedia(d + "/cover.jpg", {"-f", "lavfi", "-i", "testsrc=size=96x96", "-frames:v", "1"}));
    ASSERT_TRUE(makeMedia(d + "/cover.png",
                          {"-f", "lavfi", "-i", "testsrc2=size=80x80", "-frames:v", "1"}));
    const QStringList tags{"-metadata", "title=Ode à la joie", "-metadata", "artist=Zelmora Tests",
                           "-metadata", "album=Covers",        "-metadata", "track=3/9"};
    const QString tone = "sine=frequency=440:sample_rate=44100:duration=3";
    struct Source {
        const char* name;
        const char* picture;
        QStringList codec;
    } sources[] = {
        {"song.mp3", "cover.jpg", {"-c:a", "libmp3lame", "-b:a", "192k", "-id3v2_version", "3"}},
        {"song.flac", "cover.png", {"-c:a", "flac"}},
        {"song.m4a", "cover.jpg", {"-c:a", "aac"}},
    };
    for (const Source& s : sources)
        ASSERT_TRUE(makeMedia(d + "/" + s.name,
                              QStringList{"-f", "lavfi", "-i", tone, "-i", d + "/" + s.picture,
                                          "-map", "0:a", "-map", "1:v", "-ac", "2", "-c:v", "copy",
                                          "-disposition:v", "attached_pic"}
                                  + s.codec + tags));
    for (const Source& s : sources) {
        const Cover in = cover_of(d + "/" + s.name);
        ASSERT_TRUE(in.found) << s.name;
        for (const char* ext : {".mp3", ".m4a", ".flac", ".opus", ".wav"}) {
            const bool holds_pictures = QString(ext) != ".opus" && QString(ext) != ".wav";
            for (bool copy_tags : {true, false}) {
                SCOPED_TRACE(std::string(s.name) + " -> " + ext + (copy_tags ? " with" : " without")
                             + " tags");
                const QString out = m.fresh_folder() + "/music" + ext;
                QStringList args{"-i", d + "/" + s.name, "-y", "-vn"};
                args << (copy_tags ? QStringList{"-map_meta_data", "x"}
                                   : QStringList{"-map_metadata", "-1"});
                const RunResult r = run_conv(args << out);
                ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
                const Sound p = sound_of(out);
                ASSERT_TRUE(p.ok);
                EXPECT_NEAR(p.duration, Media::kLength, 0.1);
                const Cover c = cover_of(out);
                EXPECT_EQ(c.found, copy_tags && holds_pictures);
                if (c.found) {
                    EXPECT_EQ(c.codec, in.codec);
                    EXPECT_EQ(c.md5, in.md5);
                }
                EXPECT_EQ(p.tags.value("title"), copy_tags ? QString("Ode à la joie") : QString());
                if (copy_tags) {
                    EXPECT_EQ(p.tags.value("artist"), QString("Zelmora Tests"));
                    EXPECT_EQ(p.tags.value("album"), QString("Covers"));
                    EXPECT_TRUE(p.tags.value("track").startsWith("3"))
                        << p.tags.value("track").toStdString();
                }
            }
        }
    }
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
