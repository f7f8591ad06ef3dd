// End-to-end tests of both converters: input names read as plain paths (never as protocols or
// playlists), one timestamp out of line in damaged sound, stops that arrive while the program
// is still loading, values an encoder refuses, and running out of memory.
#include "converters/shared/shared_test_support.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <thread>

using namespace sharedtest;

namespace {

// Seconds of the first stream of that type ffprobe states, 0 when there is none.
double stream_seconds(const QString& file, const QString& type)
{
    for (const testsupport::StreamInfo& s : probe(file).streams)
        if (s.type == type && !s.attachedPic)
            return s.duration;
    return 0;
}

// Reads an EBML variable-length number at d[at]: its value (marker bit removed when size is set)
// and its length in bytes; 0 bytes when it is not one.
std::pair<quint64, int> ebml_number(const QByteArray& d, qsizetype at, bool size)
{
    if (at >= d.size())
        return {0, 0};
    const quint8 first = quint8(d[at]);
    int length = 1;
    while (length <= 8 && !(first & (0x80 >> (length - 1))))
        ++length;
    if (length > 8 || at + length > d.size())
        return {0, 0};
    quint64 value = size ? first & (0xff >> length) : first;
    for (int i = 1; i < length; ++i)
        value = (value << 8) | quint8(d[at + i]);
    return {value, length};
}

// A copy of a WebM file in which the block of the given track whose time (in ms) comes first at
// or after at_ms has bit `bit` of its 16-bit relative timestamp flipped, as a damaged byte
// would: bit 14 puts it 16.384 s ahead, bit 15 (the sign) 32.768 s behind.
QString flipped_timestamp_copy(const QString& file, quint64 track, qint64 at_ms, int bit)
{
    QByteArray d = contents(file);
    constexpr quint64 kSegment = 0x18538067, kCluster = 0x1F43B675, kTimecode = 0xE7,
                      kSimpleBlock = 0xA3, kBlockGroup = 0xA0, kBlock = 0xA1;
    // Walks the elements in [from, to); descends into segments, clusters and block groups.
    qint64 cluster_ms = 0;
    std::function<bool(qsizetype, qsizetype)> walk = [&](qsizetype from, qsizetype to) {
        for (qsizetype at = from; at < to;) {
            const auto [id, id_length] = ebml_number(d, at, false);
            const auto [size, size_length] = ebml_number(d, at + id_length, true);
            if (id_length == 0 || size_length == 0)
                return false;
            const qsizetype body = at + id_length + size_length;
            const bool unknown = size == (quint64(1) << (7 * size_length)) - 1;
            const qsizetype end = unknown ? to : std::min<qsizetype>(to, body + qsizetype(size));
            if (id == kSegment || id == kCluster || id == kBlockGroup) {
                if (walk(body, end))
                    return true;
            } else if (id == kTimecode) {
                cluster_ms = 0;
                for (qsizetype i = body; i < end; ++i)
                    cluster_ms = (cluster_ms << 8) | quint8(d[i]);
            } else if (id == kSimpleBlock || id == kBlock) {
                const auto [number, number_length] = ebml_number(d, body, true);
                const qsizetype stamp = body + number_length;
                const qint16 relative = qint16((quint8(d[stamp]) << 8) | quint8(d[stamp + 1]));
                if (number == track && cluster_ms + relative >= at_ms) {
                    d[stamp + (bit < 8 ? 1 : 0)] =
                        char(quint8(d[stamp + (bit < 8 ? 1 : 0)]) ^ (1 << (bit % 8)));
                    return true;
                }
            }
            at = end;
        }
        return false;
    };
    if (!walk(0, d.size()))
        return {};
    const QString out = file + QString(".flipped-%1-%2.webm").arg(at_ms).arg(bit);
    return write_file(out, d) ? out : QString();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Input names are paths. A file named "pipe:0" is that file, not standard input; "file:a.wav"
// is a file of that name, not a.wav; a file named "concat:a.wav|/dev/zero" (a folder
// "concat:a.wav|" holding dev/zero) is an empty file, not a.wav followed by endless zeros. A
// playlist that names other files is not followed. Each runs in the folder that holds the
// files, with the name as typed.

TEST(Inputs, NamesAreReadAsPlainPathsNotProtocols)
{
    Env& env = Env::get();
    struct Row {
        const Converter* converter;
        QString name;    // relative to the folder
        QString content; // media name, "" = an empty file, or "list" = a playlist of a.*
        int code;
        const char* message; // start of the error line after "NAME: ", for code != 0
    } rows[] = {
        {&kConv, "pipe:0", "short.wav", 0, ""},
        {&kConv, "file:a.wav", "surround.wav", 0, ""},
        {&kConv, "concat:a.wav|/dev/zero", "", 3, "input is not a media file FFmpeg can read"},
        {&kConv, "list.ffconcat", "list", 3, "input refers to other files"},
        {&kVv, "pipe:0", "short.mp4", 0, ""},
        {&kVv, "file:a.mp4", "three.flv", 0, ""},
        {&kVv, "concat:a.mp4|/dev/zero", "", 3, "input is not a media file FFmpeg can read"},
        {&kVv, "list.ffconcat", "list", 3, "input refers to other files"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.converter->name) + " -i " + row.name.toStdString());
        const QString folder = env.fresh_folder();
        // The file a protocol would reach instead: short, and of other channels or picture.
        const QString other_ext = QString(row.converter->name) == "conv" ? "wav" : "mp4";
        const QString decoy = row.converter->short_input;
        ASSERT_TRUE(QFile::copy(env.media(decoy), folder + "/a." + other_ext));
        const QString path = folder + "/" + row.name;
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        if (row.content == "list") {
            ASSERT_TRUE(
                write_file(path, "ffconcat version 1.0\nfile 'a." + other_ext.toUtf8() + "'\n"));
        } else if (row.content.isEmpty()) {
            ASSERT_TRUE(write_file(path, ""));
        } else {
            ASSERT_TRUE(QFile::copy(env.media(row.content), path));
        }
        const QString out = "o." + QString(row.converter->ext);
        const RunResult r = testsupport::run(
            row.converter->program(),
            QStringList{"-i", row.name, "-y"} + row.converter->options + QStringList{out}, 60000,
            QProcessEnvironment::systemEnvironment(), folder);
        ASSERT_FALSE(r.timedOut) << "read on past the named file";
        EXPECT_EQ(r.exitCode, row.code) << r.err.toStdString();
        if (row.code == 0) {
            // The named file's sound, not the decoy's: the channels and length are its own.
            const Probe in = probe(path);
            const Probe made = probe(folder + "/" + out);
            ASSERT_TRUE(in.audio() && made.audio());
            if (QString(row.converter->name) == "conv") {
                EXPECT_EQ(made.audio()->channels, std::min(in.audio()->channels, 2));
            }
            EXPECT_NEAR(made.duration, in.duration, 0.3);
        } else {
            EXPECT_TRUE(r.err.startsWith(QByteArray(row.converter->name) + ": " + row.message))
                << r.err.toStdString();
            EXPECT_FALSE(QFileInfo::exists(folder + "/" + out));
        }
    }
}

// An output name whose format would write files of its own beside it (a playlist and its
// segments) is refused before anything is written.
TEST(Outputs, FormatsThatWriteSeveralFilesAreRefused)
{
    Env& env = Env::get();
    for (const char* name : {"out.m3u8", "frame%03d.png"}) {
        SCOPED_TRACE(name);
        const QString folder = env.fresh_folder();
        const RunResult r =
            run(kVv.program(), QStringList{"-i", env.media("short.mp4"), "-y", "-vcodec", "mpeg4",
                                           folder + "/" + name});
        EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("writes several files")) << r.err.toStdString();
        EXPECT_EQ(listing(folder), QStringList());
    }
}

// ---------------------------------------------------------------------------------------------
// One sound packet stamped far from its place (seconds ahead or behind) in a damaged file: the
// sound stays as long as the picture and the file, it is said once, and the picture is not
// stretched either. vv used to fill the jump with 16 s of silence.

TEST(DamagedInput, OneTimestampOutOfLineKeepsSoundWithPicture)
{
    Env& env = Env::get();
    // The sound's block at 4.3 s with a flipped bit in its timestamp: 16.384 s ahead, or
    // 32.768 s behind.
    const QString ahead = flipped_timestamp_copy(env.media("eight.webm"), 2, 4300, 14);
    const QString behind = flipped_timestamp_copy(env.media("eight.webm"), 2, 4300, 15);
    ASSERT_FALSE(ahead.isEmpty());
    ASSERT_FALSE(behind.isEmpty());
    struct Row {
        Job job;
        QString input; // "" = the job's own
        bool said;     // a timestamp is put right (one behind the rest the decoder mends itself)
    } rows[] = {
        {{&kVv, "", {"-vcodec", "mpeg4", "-acodec", "aac"}, "mp4"}, ahead, true},
        {{&kVv, "", {"-vcodec", "mpeg4", "-acodec", "aac"}, "mp4"}, behind, false},
        {{&kVv, "stamp-ahead.mkv", {"-vcodec", "mpeg4", "-acodec", "libmp3lame"}, "avi"}, "", true},
        {{&kConv, "", {"-vn"}, "wav"}, ahead, true},
        {{&kConv, "", {"-vn"}, "wav"}, behind, false},
        {{&kConv, "stamp-ahead.mkv", {"-vn"}, "mp3"}, "", true},
    };
    for (const Row& row : rows) {
        const Job& job = row.job;
        SCOPED_TRACE(job.trace() + " from "
                     + (row.input.isEmpty() ? std::string(job.input) : row.input.toStdString()));
        const QString out = env.fresh_folder() + "/synced." + job.ext;
        const RunResult r = job.run_into(out, row.input);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        if (row.said) {
            EXPECT_EQ(r.err, QByteArray(job.converter->name)
                                 + ": warning: 1 timestamp out of line put right\n");
        } else {
            EXPECT_EQ(r.err, QByteArray());
        }
        EXPECT_NEAR(decoded_seconds(out), 8.0, 0.1);
        if (job.converter == &kVv) {
            EXPECT_NEAR(stream_seconds(out, "video"), 8.0, 0.1);
            EXPECT_NEAR(probe(out).duration, 8.0, 0.15);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The front ends start a converter with SIGINT and SIGTERM blocked, so that a stop sent while it
// is still loading its libraries waits. Sent at once, 10 ms or 50 ms after the start, the stop
// ends it with exit 6, no output and nothing left in the folder; without a stop it converts. A
// fast machine may have begun writing within those milliseconds: the one line then says that
// the partial output was removed.

TEST(Stop, SentWhileStartingWithStopsBlockedEndsWithExitSix)
{
    Env& env = Env::get();
    for (const Converter* c : kBoth)
        for (int delay_ms : {0, 10, 50, -1}) {
            for (int sig : {SIGTERM, SIGINT}) {
                if (delay_ms < 0 && sig == SIGINT)
                    continue;
                SCOPED_TRACE(std::string(c->name) + " signal " + std::to_string(sig) + " after "
                             + std::to_string(delay_ms) + " ms");
                const QString folder = env.fresh_folder();
                const QString progress = env.fresh_folder() + "/progress.txt";
                ChildOptions options;
                options.stops_blocked = true;
                options.env << "VV_PROGRESS_FILE=" + progress;
                const QString input = env.media(delay_ms < 0 ? c->short_input : c->long_input);
                Child child(c->program(), c->args(input, folder + "/o." + c->ext), options);
                ASSERT_GT(child.pid(), 0);
                if (delay_ms < 0) {
                    child.read_until();
                    EXPECT_EQ(child.wait(), 0) << child.err().toStdString();
                    EXPECT_EQ(listing(folder), QStringList{"o." + QString(c->ext)});
                    continue;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
                child.signal(sig);
                child.read_until();
                EXPECT_EQ(child.wait(), 6) << child.err().toStdString();
                const QByteArray said = QByteArray(c->name) + ": interrupted";
                EXPECT_TRUE(child.err() == said + "\n"
                            || child.err() == said + "; the partial output was removed\n")
                    << child.err().toStdString();
                EXPECT_EQ(listing(folder), QStringList());
            }
        }
}

// ---------------------------------------------------------------------------------------------
// A bit rate the encoder refuses becomes the nearest one it takes, with a note, as for MP3, AC3,
// AAC and AMR. The rate it says it uses is taken by the encoder (the ffmpeg CLI encodes with it)
// and the next one further from the asked rate is not (the CLI refuses it, as it refuses the
// asked one).

TEST(Notes, RefusedBitRatesBecomeTheNearestTheEncoderTakes)
{
    Env& env = Env::get();
    struct Row {
        const char* input;
        QStringList options;
        const char* ext;
        const char* encoder;
        const char* asked; // as the note writes it
    } rows[] = {
        {"short.wav", {"-ac", "2", "-ab", "32k"}, "ogg", "libvorbis", "32 kbit/s"},
        {"short.wav", {"-ac", "2", "-ab", "8k"}, "ogg", "libvorbis", "8 kbit/s"},
        {"short.wav", {"-ac", "2", "-ab", "600k"}, "ogg", "libvorbis", "600 kbit/s"},
        {"surround.wav", {"-ab", "64k"}, "ogg", "libvorbis", "64 kbit/s"},
        {"short.wav", {"-ab", "16k"}, "wma", "wmav1", "16 kbit/s"},
        {"short.wav", {"-ab", "1"}, "opus", "libopus", "1 bit/s"},
    };
    const QRegularExpression note("^conv: note: (\\S+) cannot encode (.+) at (\\d+) Hz; using "
                                  "([0-9.]+) (k?)bit/s\n$");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.options.join(' ').toStdString() + " ." + row.ext);
        const QString folder = env.fresh_folder();
        const QString out = folder + "/n." + row.ext;
        const RunResult r = run(kConv.program(), QStringList{"-i", env.media(row.input), "-y"}
                                                     + row.options + QStringList{out});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        const auto match = note.match(QString::fromUtf8(r.err));
        ASSERT_TRUE(match.hasMatch()) << r.err.toStdString();
        EXPECT_EQ(match.captured(1), row.encoder);
        EXPECT_EQ(match.captured(2), row.asked);
        ASSERT_TRUE(probe(out).audio());

        // The CLI with the same encoder: the asked rate fails, the one used works, and one step
        // from it towards the asked rate fails too (so no nearer rate was passed over).
        const qint64 unit = match.captured(5) == "k" ? 1000 : 1;
        const qint64 used = qRound64(match.captured(4).toDouble() * unit);
        const qint64 asked = row.options.last().endsWith('k')
                                 ? row.options.last().chopped(1).toLongLong() * 1000
                                 : row.options.last().toLongLong();
        const qint64 step = used >= 1000 ? 1000 : 1;
        const qint64 nearer = used > asked ? used - step : used + step;
        auto cli_takes = [&](qint64 bits) {
            QStringList args{"-i", env.media(row.input), "-c:a", row.encoder};
            args << row.options.mid(0, row.options.size() - 2) << "-b:a" << QString::number(bits);
            return makeMedia(folder + "/cli-" + QString::number(bits) + "." + row.ext, args);
        };
        EXPECT_FALSE(cli_takes(asked));
        EXPECT_TRUE(cli_takes(used));
        EXPECT_FALSE(cli_takes(nearer)) << nearer;
    }
}

// ---------------------------------------------------------------------------------------------
// Out of memory (an address-space limit, as with ulimit -v) is said as such with exit 5, never as
// an input error or in other words, and never crashes. The limits swept start where the program
// can just be loaded and go up until conversions succeed; at least one of them must have run
// out of memory, or the test would prove nothing.

namespace {

// Exit code of the converter under an address-space limit of mb megabytes.
struct LimitedRun {
    int code = -1;
    QByteArray err;
};

LimitedRun run_limited(const Converter& c, const QString& out, qint64 mb)
{
    ChildOptions options;
    options.address_space_limit = static_cast<rlim_t>(mb) << 20;
    Child child(c.program(), c.args(Env::get().media(c.short_input), out), options);
    child.read_until();
    LimitedRun r;
    r.code = child.wait(120000);
    r.err = child.err();
    return r;
}

// The dynamic loader ends a program it cannot map with this code, before any of its own code.
constexpr int kCannotLoad = 127;

} // namespace

TEST(OutOfMemory, IsSaidAsSuchWithExitFive)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory does not fit under an address-space limit";
#endif
    Env& env = Env::get();
    for (const Converter* c : kBoth) {
        SCOPED_TRACE(c->name);
        const QString folder = env.fresh_folder();
        const QString out = folder + "/o." + c->ext;
        // The lowest limit at which it loads (within a megabyte).
        qint64 too_low = 16;
        qint64 loads = 8192;
        if (run_limited(*c, out, loads).code == kCannotLoad)
            GTEST_SKIP() << "runs only without an address-space limit (a sanitizer build)";
        while (loads - too_low > 1) {
            const qint64 middle = (too_low + loads) / 2;
            (run_limited(*c, out, middle).code == kCannotLoad ? too_low : loads) = middle;
        }
        int out_of_memory = 0;
        int converted = 0;
        for (qint64 mb = loads; mb < loads + 400 && converted < 3; mb += mb < loads + 8 ? 1 : 6) {
            SCOPED_TRACE(std::to_string(mb) + " MB");
            QFile::remove(out);
            const LimitedRun r = run_limited(*c, out, mb);
            ASSERT_TRUE(r.code == 0 || r.code == 5) << r.code << " " << r.err.toStdString();
            if (r.code == 0) {
                ++converted;
                EXPECT_TRUE(probe(out).ok);
                continue;
            }
            converted = 0;
            ++out_of_memory;
            EXPECT_EQ(r.err, QByteArray(c->name) + ": out of memory\n");
            EXPECT_EQ(listing(folder), QStringList());
        }
        EXPECT_GT(out_of_memory, 0) << "no limit made it run out of memory";
        EXPECT_EQ(converted, 3) << "no limit let it convert";
    }
}
