// End-to-end tests of long encodes in segments: the joined stream has the length of one encode
// from the start, no click or gap where runs meet, lossless formats keep every sample, the bytes
// do not depend on the number of threads, two halves of a track play back to back without a gap,
// and a stop or kill leaves nothing behind. ZMCONV_SEGMENT_SECONDS shortens the segments so that
// short inputs have several seams ("0": one run, as without segments).
#include "converters/conv/conv_test_support.h"

#include "support/media.h"
#include "support/probe.h"
#include "support/process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <sched.h>
#include <vector>

using namespace convtest;
using testsupport::makeMedia;
using testsupport::RunResult;

namespace {

// One output format as the segment tests use it.
struct Format {
    const char* ext;
    bool gapless;    // the container says where the sound starts and ends
    int forced_rate; // the format's own rate whatever the input (Opus), else 0
    bool identical;  // runs give the packets of one encode (seams without any difference)
    int delay;       // without gapless information: samples decoded ahead of the sound
    bool stated;     // the file states its length (raw ADTS has it guessed from its size)
};

const Format kFormats[] = {
    {"mp3", true, 0, false, 0, true}, {"aac", false, 0, false, 1024, false},
    {"m4a", true, 0, false, 0, true}, {"opus", true, 48000, false, 0, true},
    {"ogg", true, 0, false, 0, true}, {"ac3", false, 0, true, 256, true},
    {"wma", false, 0, true, 0, true}, {"flac", true, 0, true, 0, true},
};

std::string format_name(const testing::TestParamInfo<Format>& info)
{
    return info.param.ext;
}

// conv with the segment length (seconds; empty: the default) and anything else in its environment.
RunResult conv_with(const QStringList& args, const QString& segment_seconds,
                    const QList<QPair<QString, QString>>& more = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("ZM_CONV_THREADS");
    env.remove("ZMCONV_SEGMENT_SECONDS");
    if (!segment_seconds.isEmpty())
        env.insert("ZMCONV_SEGMENT_SECONDS", segment_seconds);
    for (const auto& [key, value] : more)
        env.insert(key, value);
    return testsupport::run(conv_path(), args, 300000, env);
}

QByteArray file_bytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The decoded samples of the first audio stream as 32-bit floats, interleaved.
std::vector<float> decoded(const QString& path, int channels)
{
    const RunResult r =
        testsupport::run("ffmpeg", {"-v", "error", "-nostdin", "-i", path, "-map", "0:a:0", "-ac",
                                    QString::number(channels), "-f", "f32le", "-"});
    EXPECT_TRUE(r.ok()) << r.err.toStdString();
    std::vector<float> samples(static_cast<size_t>(r.out.size()) / sizeof(float));
    std::memcpy(samples.data(), r.out.constData(), samples.size() * sizeof(float));
    return samples;
}

// Samples per channel a player gives: what the decoder gives, and for MP4 no more than its edit
// list says (FFmpeg 5.1 trims MP4's priming but not its end padding).
int64_t played_samples(const QString& path)
{
    const RunResult r = testsupport::run("ffmpeg", {"-v", "error", "-nostdin", "-i", path, "-map",
                                                    "0:a:0", "-ac", "1", "-f", "s16le", "-"});
    EXPECT_TRUE(r.ok()) << r.err.toStdString();
    int64_t samples = r.out.size() / 2;
    if (path.endsWith(".m4a")) {
        const Sound s = sound_of(path);
        samples = std::min<int64_t>(samples, std::llround(s.duration * s.sample_rate));
    }
    return samples;
}

// Where conv joined its runs, in seconds of the input, from its log (ZMCONV_SEGMENT_LOG).
std::vector<double> joins_in(const QByteArray& err)
{
    std::vector<double> joins;
    static const QRegularExpression line("segments: join at ([0-9.]+) s");
    for (auto it = line.globalMatch(QString::fromUtf8(err)); it.hasNext();)
        joins.push_back(it.next().captured(1).toDouble());
    return joins;
}

// Root mean square of a - b over windows of `window` samples per channel.
std::vector<double> window_errors(const std::vector<float>& a, const std::vector<float>& b,
                                  int channels, int window)
{
    std::vector<double> e;
    const size_t n = std::min(a.size(), b.size()) / static_cast<size_t>(channels);
    for (size_t start = 0; start + static_cast<size_t>(window) <= n;
         start += static_cast<size_t>(window)) {
        double sum = 0;
        for (size_t i = start * channels; i < (start + window) * channels; ++i)
            sum += double(a[i] - b[i]) * double(a[i] - b[i]);
        e.push_back(std::sqrt(sum / (double(window) * channels)));
    }
    return e;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

// A test input: pink noise under tones (and, with `onsets`, notes that start twice a second).
QString make_input(const QString& folder, const QString& name, double seconds, int rate,
                   int channels, bool onsets = false, const QString& codec = "pcm_s16le")
{
    QString path = folder + "/" + name;
    const QString len = QString::number(seconds);
    const QString tones =
        QString(
            "aevalsrc=exprs='0.25*sin(2*PI*(440+20*sin(2*PI*0.3*t))*t)*%1+0.15*sin(2*PI*660*t)':"
            "s=%2:d=%3")
            .arg(onsets ? "(0.6+0.4*exp(-8*mod(t\\,0.5)))" : "1")
            .arg(rate)
            .arg(len);
    const QString noise =
        QString("anoisesrc=color=pink:amplitude=0.05:seed=7:r=%1:d=%2").arg(rate).arg(len);
    EXPECT_TRUE(makeMedia(path, {"-f", "lavfi", "-i", tones, "-f", "lavfi", "-i", noise,
                                 "-filter_complex", "amix=inputs=2:normalize=0", "-ac",
                                 QString::number(channels), "-c:a", codec}))
        << path.toStdString();
    return path;
}

// The processors this process may run on (what conv counts for "automatic").
int processors()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    return sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
}

class ConvSegments : public testing::TestWithParam<Format>
{};

// For every format, inputs of 59, 60, 61 and 119 s in 20-second segments and of 600 s in the
// usual one-minute segments decode to as many samples as one encode from the start; with the
// usual segments an input under two minutes is not split at all (the very bytes of one run).
TEST_P(ConvSegments, LengthOfOneEncode)
{
    const Format& f = GetParam();
    QTemporaryDir temp;
    const QString dir = temp.path();
    struct Row {
        double seconds;
        int rate;
        int channels;
        const char* segment; // "" = the usual length
    } rows[] = {
        {59, 8000, 1, "20"},   {60, 22050, 1, "20"}, {61, 48000, 1, "20"},
        {119, 11025, 2, "20"}, {119, 11025, 2, ""},  {600, 8000, 1, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.seconds) + " s at " + std::to_string(r.rate)
                     + " Hz, segments " + (*r.segment ? r.segment : "usual"));
        const QString name = QString("in-%1-%2.wav").arg(r.seconds).arg(r.rate);
        const QString in = QFileInfo::exists(dir + "/" + name)
                               ? dir + "/" + name
                               : make_input(dir, name, r.seconds, r.rate, r.channels);
        const QString split = dir + "/split." + f.ext;
        const QString single = dir + "/single." + f.ext;
        const RunResult a =
            conv_with({"-i", in, "-y", split}, r.segment, {{"ZMCONV_SEGMENT_LOG", "1"}});
        ASSERT_TRUE(a.ok()) << a.err.toStdString();
        const RunResult b = conv_with({"-i", in, "-y", single}, "0");
        ASSERT_TRUE(b.ok()) << b.err.toStdString();
        const size_t joins = joins_in(a.err).size();
        const bool usual = *r.segment == '\0';
        if (usual && r.seconds < 120) {
            EXPECT_EQ(joins, 0u);
            EXPECT_TRUE(file_bytes(split) == file_bytes(single));
        } else {
            // Whole segments after the first and a last one of what is left.
            EXPECT_GE(joins, static_cast<size_t>(r.seconds / (usual ? 60 : 20)) - 1);
        }
        EXPECT_EQ(played_samples(split), played_samples(single));
        const Sound s = sound_of(split);
        EXPECT_EQ(s.sample_rate, sound_of(single).sample_rate);
        if (f.stated) {
            EXPECT_NEAR(s.duration, sound_of(single).duration, 1e-6);
        }
    }
}

// Decoded side by side, the split encode and one encode from the start differ at each join by
// no more than they differ elsewhere: the 95th percentile of 50 ms windows where they differ at
// all (more than -60 dBFS; encoders that settle into the very packets of one encode make most
// windows identical, which says nothing about how far two encodes of the same sound lie apart).
// A difference under -50 dBFS counts as none: one full-scale sample alone makes -34 dBFS in a
// window, a dropout far more. No click, no gap. And the split encode is as close to the input
// as one encode is.
// The check of SeamsAreInaudible for one conversion; returns how the runs were joined.
std::vector<QString> check_seams(const QString& in, const Format& f, const QStringList& options,
                                 int rate, int channels, const char* segment,
                                 const QList<QPair<QString, QString>>& env = {})
{
    constexpr double kNone = 1e-3;        // -60 dBFS: the encodes agree
    constexpr double kInaudible = 3.2e-3; // -50 dBFS
    const QString dir = QFileInfo(in).absolutePath();
    const QString split = dir + "/split." + f.ext;
    const QString single = dir + "/single." + f.ext;
    const RunResult a =
        conv_with(QStringList{"-i", in, "-y"} << options << split, segment,
                  QList<QPair<QString, QString>>{{"ZMCONV_SEGMENT_LOG", "1"}} << env);
    EXPECT_TRUE(a.ok()) << a.err.toStdString();
    EXPECT_TRUE(conv_with(QStringList{"-i", in, "-y"} << options << single, "0").ok());
    const std::vector<double> joins = joins_in(a.err);
    EXPECT_GE(joins.size(), 3u) << a.err.toStdString();
    std::vector<QString> how;
    static const QRegularExpression kind("join at [0-9.]+ s \\(([a-z :]+)\\)");
    for (auto it = kind.globalMatch(QString::fromUtf8(a.err)); it.hasNext();)
        how.push_back(it.next().captured(1));

    const auto x = decoded(split, channels);
    const auto y = decoded(single, channels);
    EXPECT_EQ(x.size(), y.size());
    const int window = rate / 20;
    const auto e = window_errors(x, y, channels, window);
    // The window holding each join (decoded, a container without gapless information keeps
    // the encoder's delay ahead of the sound).
    std::vector<size_t> at_seams;
    at_seams.reserve(joins.size());
    for (const double t : joins)
        at_seams.push_back(static_cast<size_t>((t * rate + f.delay) / window));
    std::vector<double> elsewhere;
    for (size_t i = 0; i < e.size(); ++i)
        if (e[i] > kNone && std::find(at_seams.begin(), at_seams.end(), i) == at_seams.end())
            elsewhere.push_back(e[i]);
    const double limit = std::max(percentile(elsewhere, 0.95), kInaudible);
    for (const size_t w : at_seams) {
        if (w >= e.size()) {
            ADD_FAILURE() << "join beyond the end";
            continue;
        }
        EXPECT_LE(e[w], limit) << "window at " << w * 0.05 << " s";
    }
    if (f.identical && !e.empty()) {
        EXPECT_LE(*std::max_element(e.begin(), e.end()), kNone);
    }
    // Against the input (delayed as the decoder delays it): as close as one encode.
    std::vector<float> input(static_cast<size_t>(f.delay) * channels, 0.0F);
    const auto samples = decoded(in, channels);
    input.insert(input.end(), samples.begin(), samples.end());
    const double split_error = percentile(window_errors(x, input, channels, window), 0.95);
    const double single_error = percentile(window_errors(y, input, channels, window), 0.95);
    EXPECT_LE(split_error, single_error * 1.1 + 1e-4);
    return how;
}

TEST_P(ConvSegments, SeamsAreInaudible)
{
    QTemporaryDir temp;
    const QString in = make_input(temp.path(), "music.wav", 35, 48000, 2, true);
    check_seams(in, GetParam(), {}, 48000, 2, "10");
}

// At a low bit rate LAME's runs agree on block types but not on how full the bit reservoir is:
// the first frame after such a join finds the bytes it borrows from the frames before it.
TEST(ConvSegmentsMp3, JoinsThatBorrowFromTheReservoir)
{
    QTemporaryDir temp;
    const QString in = temp.path() + "/gated.wav";
    ASSERT_TRUE(makeMedia(
        in,
        {"-f", "lavfi", "-i", "anoisesrc=color=pink:amplitude=0.3:seed=3:r=8000:d=45", "-f",
         "lavfi", "-i", "aevalsrc=exprs='0.3*sin(2*PI*440*t)*lt(mod(t\\,0.8)\\,0.4)':s=8000:d=45",
         "-filter_complex", "amix=inputs=2:normalize=0", "-ac", "1", "-c:a", "pcm_s16le"}));
    const auto how =
        check_seams(in, kFormats[0], {"-ab", "32k", "-ar", "8000", "-ac", "1"}, 8000, 1, "5");
    EXPECT_NE(std::count(how.begin(), how.end(), QString("matching")), 0);
}

// At some bit rates libvorbis finds no transient in a beeping sound where the runs' long blocks
// could fall back into step. Scanning libvorbis's block decisions first, each run starts where
// it is in step with the run before it, and every seam joins at once. Without the scan a later
// run is encoded again from a little later, in step, instead of the earlier run being continued
// (which costs a whole encode more at every seam); where a beep later brings both encodes of a
// run into step, the second stops there and the first one's packets follow. Either way length,
// seams and bytes are those of any other split, the same on any number of threads.
TEST(ConvSegmentsVorbis, RunsOutOfStepAreStartedOrEncodedAgainInStep)
{
    QTemporaryDir temp;
    const QString in = temp.path() + "/beeps.wav";
    ASSERT_TRUE(
        makeMedia(in, {"-f", "lavfi", "-i", "anoisesrc=color=pink:amplitude=0.2:seed=7:d=30", "-f",
                       "lavfi", "-i", "sine=frequency=330:beep_factor=3:d=30", "-filter_complex",
                       "[0][1]amix=inputs=2,aformat=channel_layouts=stereo", "-ar", "44100", "-c:a",
                       "pcm_s16le"}));
    const QStringList options{"-ab", "192k"};
    static const QRegularExpression summary(
        "(\\d+) runs on \\d+ threads, (\\d+) continued, (\\d+) "
        "realigned, (\\d+) back in step, (\\d+) started in step");
    struct Row {
        const char* scan; // ZMCONV_VORBIS_SCAN
        bool scanned;
    } rows[] = {{"1", true}, {"0", false}};
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string("scan ") + r.scan);
        const QList<QPair<QString, QString>> env{{"ZMCONV_VORBIS_SCAN", r.scan}};
        check_seams(in, kFormats[4], options, 44100, 2, "5", env);
        QByteArray bytes;
        for (const char* threads : {"1", "3"}) {
            SCOPED_TRACE(std::string("-threads ") + threads);
            const QString out = temp.path() + "/t" + threads + r.scan + ".ogg";
            const RunResult run =
                conv_with(QStringList{"-i", in, "-y", "-threads", threads} << options << out, "5",
                          QList<QPair<QString, QString>>{{"ZMCONV_SEGMENT_LOG", "1"}} << env);
            ASSERT_TRUE(run.ok()) << run.err.toStdString();
            const auto m = summary.match(QString::fromUtf8(run.err));
            ASSERT_TRUE(m.hasMatch()) << run.err.toStdString();
            const int runs = m.captured(1).toInt();
            const int realigned = m.captured(3).toInt();
            const int met = m.captured(4).toInt();
            const int started = m.captured(5).toInt();
            EXPECT_EQ(m.captured(2).toInt(), 0);
            if (r.scanned) {
                // One encode per segment, no second tries.
                EXPECT_EQ(runs, 6);
                EXPECT_EQ(realigned, 0);
                EXPECT_GE(started, 1);
            } else {
                EXPECT_EQ(started, 0);
                EXPECT_GE(realigned, 1);
                EXPECT_GE(met, 1);
                EXPECT_LT(met, realigned);
            }
            const QByteArray now = file_bytes(out);
            if (bytes.isEmpty())
                bytes = now;
            EXPECT_TRUE(now == bytes);
        }
    }
}

// -threads 1, 2 and 8, automatic, and automatic with the front end's share give the same bytes.
TEST_P(ConvSegments, SameBytesForAnyNumberOfThreads)
{
    const Format& f = GetParam();
    QTemporaryDir temp;
    const QString dir = temp.path();
    const QString in = make_input(dir, "in.wav", 45, 22050, 1, true);
    struct Row {
        const char* threads; // "" = not given
        const char* share;   // ZM_CONV_THREADS, "" = unset
    } rows[] = {{"1", ""}, {"2", ""}, {"8", ""}, {"0", ""}, {"", "3"}};
    QByteArray first;
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string("-threads ") + r.threads + ", share " + r.share);
        const QString out = dir + QString("/t%1-%2.").arg(r.threads, r.share) + f.ext;
        QStringList args{"-i", in, "-y"};
        if (*r.threads)
            args << "-threads" << r.threads;
        QList<QPair<QString, QString>> env{{"ZMCONV_SEGMENT_LOG", "1"}};
        if (*r.share)
            env.append(qMakePair(QString("ZM_CONV_THREADS"), QString(r.share)));
        const RunResult run = conv_with(args << out, "10", env);
        ASSERT_TRUE(run.ok()) << run.err.toStdString();
        const int expected_threads = *r.share ? 3
                                     : (*r.threads && std::string(r.threads) != "0")
                                         ? std::stoi(r.threads)
                                         : processors();
        EXPECT_TRUE(run.err.contains(QString(" on %1 threads").arg(expected_threads).toUtf8()))
            << run.err.toStdString();
        const QByteArray bytes = file_bytes(out);
        ASSERT_FALSE(bytes.isEmpty());
        if (first.isEmpty())
            first = bytes;
        EXPECT_TRUE(bytes == first);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, ConvSegments, testing::ValuesIn(kFormats), format_name);

// FLAC keeps every sample of a 16-bit and of a 24-bit input through its segments, and its bytes
// are those of one encode (frame numbers and stream summary included); WAV (never split: nothing
// to encode) keeps them too.
TEST(ConvSegmentsLossless, EverySampleOfTheInput)
{
    QTemporaryDir temp;
    const QString dir = temp.path();
    struct Row {
        const char* out_ext;
        const char* in_codec;
        const char* compare_as; // decoded sample format compared
    } rows[] = {
        {"flac", "pcm_s16le", "s16"},
        {"flac", "pcm_s24le", "s32"},
        {"wav", "flac", "s16"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.in_codec) + " to " + r.out_ext);
        const QString in = make_input(
            dir,
            QString("in-%1.%2").arg(r.in_codec, r.in_codec == std::string("flac") ? "flac" : "wav"),
            70, 44100, 2, true, r.in_codec);
        const QString split = dir + "/split." + r.out_ext;
        const RunResult a = conv_with({"-i", in, "-y", split}, "20");
        ASSERT_TRUE(a.ok()) << a.err.toStdString();
        auto md5 = [&](const QString& file) {
            const RunResult h = testsupport::run(
                "ffmpeg", {"-v", "error", "-nostdin", "-i", file, "-map", "0:a:0", "-c:a",
                           QString("pcm_%1le").arg(r.compare_as), "-f", "md5", "-"});
            return h.ok() ? h.out.trimmed() : QByteArray("failed: " + h.err);
        };
        EXPECT_EQ(md5(split), md5(in));
        if (std::string(r.out_ext) == "flac") {
            const QString single = dir + "/single.flac";
            ASSERT_TRUE(conv_with({"-i", in, "-y", single}, "0").ok());
            EXPECT_TRUE(file_bytes(split) == file_bytes(single));
        }
    }
}

// A track cut into two files (-t, -ss), each encoded in segments, plays back to back with no
// sample added or lost where the formats say where their sound starts and ends.
TEST(ConvSegmentsGapless, TwoHalvesPlayBackToBack)
{
    QTemporaryDir temp;
    const QString dir = temp.path();
    for (const Format& f : kFormats) {
        if (!f.gapless)
            continue;
        SCOPED_TRACE(f.ext);
        const int rate = f.forced_rate ? f.forced_rate : 44100;
        const QString in = make_input(dir, QString("in-%1.wav").arg(rate), 40, rate, 2, true);
        const QString first = dir + "/first." + f.ext;
        const QString second = dir + "/second." + f.ext;
        const RunResult a =
            conv_with({"-i", in, "-t", "17.3", "-y", first}, "5", {{"ZMCONV_SEGMENT_LOG", "1"}});
        const RunResult b =
            conv_with({"-i", in, "-ss", "17.3", "-y", second}, "5", {{"ZMCONV_SEGMENT_LOG", "1"}});
        ASSERT_TRUE(a.ok() && b.ok()) << a.err.toStdString() << b.err.toStdString();
        EXPECT_GE(joins_in(a.err).size(), 2u);
        EXPECT_GE(joins_in(b.err).size(), 2u);
        EXPECT_EQ(played_samples(first) + played_samples(second), int64_t(40) * rate);
    }
    const QString wav = make_input(dir, "in.wav", 40, 44100, 2, true);
    ASSERT_TRUE(conv_with({"-i", wav, "-t", "17.3", "-y", dir + "/first.wav"}, "5").ok());
    ASSERT_TRUE(conv_with({"-i", wav, "-ss", "17.3", "-y", dir + "/second.wav"}, "5").ok());
    EXPECT_EQ(played_samples(dir + "/first.wav") + played_samples(dir + "/second.wav"),
              int64_t(40) * 44100);
}

// Stopped (SIGTERM) or killed (SIGKILL) while four threads encode, conv leaves no output and
// nothing else in the folder; a stop exits 6.
TEST(ConvSegmentsStop, StopAndKillWithFourThreadsLeaveNothing)
{
    QTemporaryDir temp;
    const QString inputs = temp.path();
    const QString in = make_input(inputs, "long.wav", 240, 44100, 2);
    struct Row {
        int signal;
        int exit_code; // -1: killed
    } rows[] = {{SIGTERM, 6}, {SIGKILL, -1}, {SIGINT, 6}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.signal);
        const QString dir = inputs + QString("/out%1").arg(r.signal);
        ASSERT_TRUE(QDir().mkpath(dir));
        const QString out = dir + "/long.mp3";
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("ZMCONV_SEGMENT_SECONDS");
        env.insert("ZMCONV_SEGMENT_LOG", "1");
        p.setProcessEnvironment(env);
        p.setStandardInputFile(QProcess::nullDevice());
        p.start(conv_path(), {"-i", in, "-y", "-threads", "4", out});
        ASSERT_TRUE(p.waitForStarted());
        QByteArray seen;
        while (!seen.contains("time=") && p.waitForReadyRead(60000))
            seen += p.readAllStandardOutput();
        ASSERT_TRUE(seen.contains("time="));
        ::kill(static_cast<pid_t>(p.processId()), r.signal);
        ASSERT_TRUE(p.waitForFinished(60000));
        if (r.exit_code < 0) {
            EXPECT_EQ(p.exitStatus(), QProcess::CrashExit);
        } else {
            EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(p.exitCode(), r.exit_code);
            EXPECT_TRUE(p.readAllStandardError().contains("conv: interrupted"));
        }
        EXPECT_TRUE(
            QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
    }
}

} // namespace
