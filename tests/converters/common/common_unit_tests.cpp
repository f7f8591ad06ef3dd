// Unit tests of the converters' shared library: the output protocol, the worker queue, sample
// sanitising, the warning line, the bit rates encoders take, inputs that are no regular file and
// the exit code of a stop.
#include "common/audio_copy.h"
#include "common/audio_encoder.h"
#include "common/decoder.h"
#include "common/errors.h"
#include "common/input_file.h"
#include "common/output_check.h"
#include "common/output_target.h"
#include "common/program.h"
#include "common/progress.h"
#include "common/worker.h"

#include "converters/test_files.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using zmconv::ConvError;
using zmconv::Failure;
using zmconv::OutputTarget;

namespace {

namespace fs = std::filesystem;

using TempDir = zmtest::TempFolder;
using zmtest::read_file;

// What `ls -A` shows of a folder, sorted.
std::vector<std::string> listing(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void write_file(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

void write_all(int fd, const std::string& text)
{
    ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

// The id of a process that has ended (and was reaped).
pid_t dead_pid()
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return pid;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The output protocol.

enum class Existing { Nothing, File, Link, DanglingLink };

struct TargetRow {
    const char* name;
    Existing existing;
    bool unnamed_allowed;
    bool commit;
};

class OutputProtocol : public ::testing::TestWithParam<TargetRow>
{};

TEST_P(OutputProtocol, TheNameShowsOnlyAWholeNewFileAndNothingElseIsLeft)
{
    const TargetRow& row = GetParam();
    TempDir dir;
    const std::string out = dir.path + "/out folder";
    const std::string elsewhere = dir.path + "/targets";
    fs::create_directories(out);
    fs::create_directories(elsewhere);
    const std::string name = out + "/clip ü.mp3";
    const std::string real = elsewhere + "/real.mp3"; // what a link points to
    std::string file = name;                          // the file that gets the output
    switch (row.existing) {
    case Existing::Nothing:
        break;
    case Existing::File:
        write_file(name, "old");
        ::chmod(name.c_str(), 0640);
        break;
    case Existing::Link:
        write_file(real, "old");
        ::chmod(real.c_str(), 0640);
        fs::create_symlink("../targets/real.mp3", name);
        file = real;
        break;
    case Existing::DanglingLink:
        fs::create_symlink(real, name);
        file = real;
        break;
    }
    const auto out_before = listing(out);
    const auto elsewhere_before = listing(elsewhere);
    const bool existed = row.existing == Existing::File || row.existing == Existing::Link;

    {
        OutputTarget target({name, true, "", row.unnamed_allowed});
        EXPECT_EQ(target.target(),
                  row.existing == Existing::Link ? out + "/../targets/real.mp3" : file);
        target.open();
        if (!row.unnamed_allowed) {
            EXPECT_EQ(target.kind(), OutputTarget::Kind::Named);
        }
        write_all(target.fd(), "new contents");

        // While it is written: the old state under every name; a named temporary (with this
        // process's id) beside the file it will replace, and nothing at all when unnamed.
        EXPECT_EQ(existed ? read_file(file) : std::string(), existed ? "old" : "");
        EXPECT_EQ(fs::exists(file), existed);
        const std::string folder = fs::path(file).parent_path().string();
        auto now = listing(folder);
        const auto& before = folder == out ? out_before : elsewhere_before;
        if (target.kind() == OutputTarget::Kind::Named) {
            ASSERT_EQ(now.size(), before.size() + 1);
            const std::string temp_start =
                OutputTarget::temporary_prefix(fs::path(file).filename().string())
                + std::to_string(::getpid()) + "-";
            EXPECT_TRUE(std::any_of(now.begin(), now.end(), [&](const std::string& n) {
                return n.rfind(temp_start, 0) == 0;
            })) << temp_start;
        } else {
            EXPECT_EQ(now, before);
        }
        if (row.commit)
            target.commit();
    }

    // The link, if there was one, is still the same link.
    if (row.existing == Existing::Link || row.existing == Existing::DanglingLink) {
        EXPECT_TRUE(fs::is_symlink(name));
    }
    if (row.commit) {
        EXPECT_EQ(read_file(file), "new contents");
        if (existed) {
            struct stat st {};
            ASSERT_EQ(::stat(file.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0640u) << "the replaced file's permissions";
        }
        auto expected_out = out_before;
        if (row.existing == Existing::Nothing)
            expected_out.push_back("clip ü.mp3");
        auto expected_elsewhere = elsewhere_before;
        if (row.existing == Existing::DanglingLink)
            expected_elsewhere.push_back("real.mp3");
        std::sort(expected_out.begin(), expected_out.end());
        EXPECT_EQ(listing(out), expected_out);
        EXPECT_EQ(listing(elsewhere), expected_elsewhere);
    } else {
        EXPECT_EQ(listing(out), out_before);
        EXPECT_EQ(listing(elsewhere), elsewhere_before);
        if (existed) {
            EXPECT_EQ(read_file(file), "old");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OutputProtocol,
    ::testing::Values(TargetRow{"NewUnnamedComplete", Existing::Nothing, true, true},
                      TargetRow{"NewUnnamedAbandoned", Existing::Nothing, true, false},
                      TargetRow{"NewNamedComplete", Existing::Nothing, false, true},
                      TargetRow{"NewNamedAbandoned", Existing::Nothing, false, false},
                      TargetRow{"ReplaceUnnamedComplete", Existing::File, true, true},
                      TargetRow{"ReplaceUnnamedAbandoned", Existing::File, true, false},
                      TargetRow{"ReplaceNamedComplete", Existing::File, false, true},
                      TargetRow{"ReplaceNamedAbandoned", Existing::File, false, false},
                      TargetRow{"LinkUnnamedComplete", Existing::Link, true, true},
                      TargetRow{"LinkUnnamedAbandoned", Existing::Link, true, false},
                      TargetRow{"LinkNamedComplete", Existing::Link, false, true},
                      TargetRow{"LinkNamedAbandoned", Existing::Link, false, false},
                      TargetRow{"DanglingLinkComplete", Existing::DanglingLink, true, true},
                      TargetRow{"DanglingLinkAbandoned", Existing::DanglingLink, false, false}),
    [](const auto& row) { return std::string(row.param.name); });

// Hidden temporaries of gone writers of the same output go; every other file stays.
TEST(OutputProtocolCleanup, RemovesOnlyTemporariesOfGoneWritersOfThisOutput)
{
    TempDir dir;
    const std::string name = dir.path + "/song.mp3";
    const std::string prefix = OutputTarget::temporary_prefix("song.mp3");
    const std::string dead = std::to_string(dead_pid());
    std::string other_host = prefix;
    other_host.replace(other_host.size() - 9, 8,
                       other_host.substr(other_host.size() - 9, 8) == "00000000" ? "11111111"
                                                                                 : "00000000");
    struct Row {
        std::string entry;
        bool removed;
    } rows[] = {
        {prefix + dead + "-a1B2c3", true},
        {prefix + std::to_string(::getpid()) + "-a1B2c3", false}, // this process
        {prefix + "1-a1B2c3", false},                             // init is alive
        {other_host + dead + "-a1B2c3", false},                   // another host's
        {OutputTarget::temporary_prefix("other.mp3") + dead + "-a1B2c3", false},
        {prefix + dead + "-abc", false}, // not our pattern
        {prefix + "x" + dead + "-a1B2c3", false},
        {"song.mp3", false},
    };
    for (const Row& row : rows)
        write_file(dir.path + "/" + row.entry, "x");
    fs::create_directory(dir.path + "/" + prefix + dead + "-folder"); // not a regular file

    OutputTarget target({name, true, "", false});
    EXPECT_EQ(target.remove_stale_temporaries(), 1);
    for (const Row& row : rows)
        EXPECT_EQ(fs::exists(dir.path + "/" + row.entry), !row.removed) << row.entry;
    EXPECT_TRUE(fs::exists(dir.path + "/" + prefix + dead + "-folder"));
}

// Without -y, a file that appears under the name while converting is not replaced.
TEST(OutputProtocolCleanup, NameTakenMeanwhileWithoutOverwrite)
{
    for (bool unnamed : {true, false}) {
        SCOPED_TRACE(unnamed ? "unnamed" : "named");
        TempDir dir;
        const std::string name = dir.path + "/a.wav";
        try {
            OutputTarget target({name, false, "", unnamed});
            target.open();
            write_all(target.fd(), "ours");
            write_file(name, "theirs");
            target.commit();
            ADD_FAILURE() << "replaced a file made meanwhile";
        } catch (const ConvError& e) {
            EXPECT_EQ(e.kind(), Failure::Output);
            EXPECT_NE(std::string(e.what()).find("already exists"), std::string::npos) << e.what();
        }
        EXPECT_EQ(read_file(name), "theirs");
        EXPECT_EQ(listing(dir.path), std::vector<std::string>{"a.wav"});
    }
}

TEST(OutputProtocolCleanup, RefusedNamesAndDirectOutputs)
{
    TempDir dir;
    const std::string input = dir.path + "/in.wav";
    write_file(input, "input");
    fs::create_symlink(input, dir.path + "/link-to-input.wav");
    fs::create_directory(dir.path + "/folder.wav");
    fs::create_symlink("/dev/null", dir.path + "/null.wav");
    struct Row {
        std::string path;
        bool overwrite;
        std::optional<Failure> failure;
        const char* message;
    } rows[] = {
        {"", true, Failure::Usage, "no output"},
        {dir.path + "/sub/", true, Failure::Usage, "folder"},
        {dir.path + "/missing/a.wav", true, Failure::Output, "does not exist"},
        {input, false, Failure::Output, "is the input"},
        {dir.path + "/link-to-input.wav", true, Failure::Output, "is the input"},
        {dir.path + "/folder.wav", true, Failure::Output, "is a folder"},
        {dir.path + "/null.wav", false, Failure::Output, "already exists"},
        {dir.path + "/null.wav", true, std::nullopt, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        try {
            OutputTarget target({row.path, row.overwrite, input, true});
            ASSERT_FALSE(row.failure) << "accepted";
            EXPECT_EQ(target.kind(), OutputTarget::Kind::Direct);
            target.open();
            write_all(target.fd(), "gone");
            target.commit();
        } catch (const ConvError& e) {
            ASSERT_TRUE(row.failure) << e.what();
            EXPECT_EQ(e.kind(), *row.failure);
            EXPECT_NE(std::string(e.what()).find(row.message), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(read_file(input), "input");
    EXPECT_TRUE(fs::is_symlink(dir.path + "/null.wav"));
}

// ---------------------------------------------------------------------------------------------
// The worker queue.

TEST(BoundedWorker, KeepsOrderStaysWithinItsBoundAndFinishesOnce)
{
    struct Row {
        size_t capacity, batch;
    } rows[] = {{1, 1}, {4, 3}, {32, 8}, {2, 10}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.capacity) + "/" + std::to_string(row.batch));
        std::vector<int> seen;
        std::atomic<int> pushed{0};
        int handled = 0;
        int most_ahead = 0;
        zmconv::BoundedWorker<int> worker(
            [&](int& item) {
                most_ahead = std::max(most_ahead, pushed.load() - handled);
                seen.push_back(item);
                ++handled;
            },
            [&] { seen.push_back(-1); }, row.capacity, row.batch);
        for (int i = 0; i < 1000; ++i) {
            worker.push(int(i));
            ++pushed;
        }
        worker.finish();
        ASSERT_EQ(seen.size(), 1001u);
        for (int i = 0; i < 1000; ++i)
            ASSERT_EQ(seen[static_cast<size_t>(i)], i);
        EXPECT_EQ(seen.back(), -1);
        // One item in hand, the rest queued: never more ahead than that.
        EXPECT_LE(most_ahead, static_cast<int>(row.capacity) + 1);
    }
}

TEST(BoundedWorker, AFailureReachesTheFeederAndStopsTheWork)
{
    for (bool at_finish : {false, true}) {
        int handled = 0;
        bool finished = false;
        zmconv::BoundedWorker<int> worker(
            [&](int& item) {
                ++handled;
                if (item == 5)
                    throw ConvError(Failure::Codec, "item 5 broke");
            },
            [&] { finished = true; }, 4, 2);
        try {
            for (int i = 0; i < (at_finish ? 6 : 1000); ++i)
                worker.push(int(i));
            worker.finish();
            ADD_FAILURE() << "the failure was lost";
        } catch (const ConvError& e) {
            EXPECT_STREQ(e.what(), "item 5 broke");
        }
        EXPECT_EQ(handled, 6);
        EXPECT_FALSE(finished);
    }
}

TEST(BoundedWorker, DroppedWithoutFinishEndsItsThread)
{
    std::atomic<int> handled{0};
    bool finished = false;
    {
        zmconv::BoundedWorker<int> worker([&](int&) { ++handled; }, [&] { finished = true; }, 8, 8);
        for (int i = 0; i < 5; ++i)
            worker.push(int(i));
    }
    EXPECT_LE(handled.load(), 5);
    EXPECT_FALSE(finished);
}

// ---------------------------------------------------------------------------------------------
// Samples no encoder should see.

TEST(SampleSanitising, ReplacesNanInfinityAndFarTooLargeValuesInFloatFrames)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double in[] = {0.5, nan, inf, -inf, 1e30, -100.0, 63.9, -1.2};
    const double want[] = {0.5, 0.0, 1.0, -1.0, 1.0, -1.0, 63.9, -1.2};
    struct Row {
        AVSampleFormat format;
        int channels;
    } rows[] = {{AV_SAMPLE_FMT_FLT, 1},  {AV_SAMPLE_FMT_FLTP, 2}, {AV_SAMPLE_FMT_DBL, 2},
                {AV_SAMPLE_FMT_DBLP, 1}, {AV_SAMPLE_FMT_S16, 1},  {AV_SAMPLE_FMT_S32P, 2}};
    for (const Row& row : rows) {
        SCOPED_TRACE(av_get_sample_fmt_name(row.format));
        // The eight values in every plane: one plane of interleaved channels, or one per channel.
        const bool planar = av_sample_fmt_is_planar(row.format);
        const int planes = planar ? row.channels : 1;
        const AVSampleFormat packed = av_get_packed_sample_fmt(row.format);
        const bool floats = packed == AV_SAMPLE_FMT_FLT || packed == AV_SAMPLE_FMT_DBL;
        zmconv::FramePtr frame = zmconv::make_frame();
        frame->format = row.format;
        frame->nb_samples = planar ? 8 : 8 / row.channels;
        av_channel_layout_default(&frame->ch_layout, row.channels);
        ASSERT_GE(av_frame_get_buffer(frame.get(), 0), 0);
        for (int p = 0; p < planes; ++p) {
            std::memset(frame->extended_data[p], 0x7f,
                        size_t{8} * av_get_bytes_per_sample(row.format));
            for (int i = 0; i < 8 && floats; ++i) {
                if (packed == AV_SAMPLE_FMT_FLT)
                    reinterpret_cast<float*>(frame->extended_data[p])[i] =
                        static_cast<float>(in[i]);
                else
                    reinterpret_cast<double*>(frame->extended_data[p])[i] = in[i];
            }
        }
        const int64_t changed = floats ? 5 * planes : 0;
        const int per_plane = 8;
        // A second reference: the samples are changed in a copy, never in a shared buffer.
        zmconv::FramePtr other = zmconv::make_frame();
        ASSERT_GE(av_frame_ref(other.get(), frame.get()), 0);
        EXPECT_EQ(zmconv::sanitize_samples(frame.get()), changed);
        for (int p = 0; p < planes && changed; ++p)
            for (int i = 0; i < per_plane; ++i) {
                const double v = packed == AV_SAMPLE_FMT_FLT
                                     ? reinterpret_cast<const float*>(frame->extended_data[p])[i]
                                     : reinterpret_cast<const double*>(frame->extended_data[p])[i];
                EXPECT_NEAR(v, want[i], 1e-5) << "plane " << p << " sample " << i;
                const double shared =
                    packed == AV_SAMPLE_FMT_FLT
                        ? reinterpret_cast<const float*>(other->extended_data[p])[i]
                        : reinterpret_cast<const double*>(other->extended_data[p])[i];
                EXPECT_TRUE(std::isnan(in[i])
                                ? std::isnan(shared)
                                : shared == static_cast<float>(in[i]) || shared == in[i]);
            }
    }
}

// ---------------------------------------------------------------------------------------------
// The warning line at the end.

TEST(WarningLine, SaysWhatWentWrongOnlyWhenSomethingDid)
{
    const int64_t s = AV_TIME_BASE;
    const int64_t none = AV_NOPTS_VALUE;
    struct Row {
        zmconv::DecodeReport report;
        std::string text;
    } rows[] = {
        {{0, 0, 3 * s, 3 * s}, ""},
        {{1, 0, none, none}, "1 damaged packet skipped"},
        {{37, 0, none, none}, "37 damaged packets skipped"},
        {{0, 3, none, none},
         "3 invalid samples (not a number, infinite or far past full scale) replaced"},
        {{0, 0, 21 * s / 10, 3 * s},
         "the input ends at 00:00:02.10, before its stated length of 00:00:03.00"},
        {{0, 0, 26 * s / 10, 3 * s}, ""}, // within half a second
        {{0, 0, 590 * s, 600 * s}, ""},   // within 2 %
        {{0, 0, 500 * s, 600 * s},
         "the input ends at 00:08:20.00, before its stated length of 00:10:00.00"},
        {{0, 0, none, 3 * s}, ""}, // nothing had a timestamp
        {{0, 0, 2 * s, none}, ""}, // no stated length
        {{2, 1, 1 * s, 3 * s},
         "2 damaged packets skipped; 1 invalid sample (not a number, infinite or far past full "
         "scale) replaced; the input ends at 00:00:01.00, before its stated length of 00:00:03.00"},
        {{0, 0, 8 * s, 8 * s, 1}, "1 timestamp out of line put right"},
        // A stated length worked out from a timestamp out of line says nothing.
        {{1, 0, 8 * s, 24 * s, 2}, "1 damaged packet skipped; 2 timestamps out of line put right"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(zmconv::warning_text(row.report), row.text);
}

// ---------------------------------------------------------------------------------------------
// Bit rates the encoders take.

TEST(EncoderBitRates, NearestTheEncoderTakes)
{
    struct Row {
        const char* encoder;
        int rate, channels;
        int64_t wanted, taken;
    } rows[] = {
        {"mp2", 22050, 2, 320000, 160000},
        {"mp2", 44100, 2, 1, 32000},
        {"mp2", 44100, 1, 33000, 32000},
        {"mp2", 48000, 2, 390000, 384000},
        {"mp2", 16000, 1, 150000, 144000},
        {"mp2", 32000, 2, 128000, 128000},
        {"libmp3lame", 8000, 1, 320000, 64000},
        {"libmp3lame", 44100, 2, 1, 32000},
        {"libmp3lame", 44100, 2, 36000, 40000}, // a tie goes up
        {"libmp3lame", 22050, 2, 150000, 144000},
        {"libmp3lame", 12000, 1, 32000, 32000},
        {"aac", 44100, 2, 1, 16000},
        {"aac", 8000, 1, 160000, 48000},
        {"aac", 44100, 2, 128000, 128000},
        {"wmav1", 44100, 2, 1, 1},
    };
    for (const Row& row : rows)
        EXPECT_EQ(zmconv::encoder_bit_rate(row.encoder, row.rate, row.channels, row.wanted),
                  row.taken)
            << row.encoder << " " << row.rate << " " << row.wanted;

    EXPECT_EQ(zmconv::bit_rate_text(128000), "128 kbit/s");
    EXPECT_EQ(zmconv::bit_rate_text(12200), "12.2 kbit/s");
    EXPECT_EQ(zmconv::bit_rate_text(4750), "4.75 kbit/s");
    EXPECT_EQ(zmconv::bit_rate_text(1), "1 bit/s");
}

// An encoder that says only by refusing to open which bit rates it takes (one range of them):
// the nearest it takes is found, in whole kbit/s where the asked rate is one; none when it
// takes no usual rate either.
TEST(EncoderBitRates, NearestOfARangeFoundByTrying)
{
    struct Row {
        int64_t low, high; // the range taken
        int64_t wanted, found;
    } rows[] = {
        {45000, 500000, 32000, 45000}, // libvorbis, stereo 44100 Hz
        {45000, 500000, 1000, 45000},
        {45000, 500000, 600000, 500000},
        {45000, 500000, 128000, 128000},  // taken as it is (found by the first probe)
        {45500, 500000, 32000, 46000},    // the whole kbit/s above the range's start
        {84000, 1500000, 64000, 84000},   // 5.1
        {24000, INT64_MAX, 16000, 24000}, // wmav1
        {500, 512000, 1, 500},            // libopus: to the bit below 1 kbit/s
        {500, 512000, 900000, 512000},
        {3000000, 4000000, 64000, 0}, // no usual rate: the refusal is about something else
    };
    for (const Row& row : rows) {
        int tries = 0;
        const int64_t found = zmconv::nearest_accepted_bit_rate(row.wanted, [&](int64_t bits) {
            ++tries;
            return bits >= row.low && bits <= row.high;
        });
        EXPECT_EQ(found, row.found) << row.low << "-" << row.high << " asked " << row.wanted;
        EXPECT_LE(tries, 40) << "each try opens an encoder";
    }
}

// ---------------------------------------------------------------------------------------------
// Channel layouts: the source's speakers are kept where the encoder takes them.

TEST(ChannelLayouts, TheSourcesSpeakersAreKeptWhereTheEncoderTakesThem)
{
    auto layout = [](const char* name) {
        AVChannelLayout l{};
        EXPECT_EQ(av_channel_layout_from_string(&l, name), 0) << name;
        return l;
    };
    auto name = [](const AVChannelLayout& l) {
        char text[64] = {};
        av_channel_layout_describe(&l, text, sizeof text);
        return std::string(text);
    };
    const AVChannelLayout side = layout("5.1(side)");
    const AVChannelLayout back = layout("5.1");
    const AVChannelLayout quad = layout("quad");
    const AVChannelLayout stereo = layout("stereo");
    const AVChannelLayout none{};
    // Lists end with a layout of no channels.
    const AVChannelLayout backs_only[] = {stereo, back, none};
    const AVChannelLayout both[] = {stereo, back, side, none};
    struct Row {
        const AVChannelLayout* supported; // null = any
        int channels;
        const AVChannelLayout* source;
        const char* chosen;
    } rows[] = {
        {nullptr, 6, &side, "5.1(side)"},                              // WAV, FLAC: any layout
        {nullptr, 6, &back, "5.1"},       {nullptr, 4, &quad, "quad"}, // not the usual 4.0
        {nullptr, 4, nullptr, "4.0"},  // the source says nothing: the usual one
        {nullptr, 2, &side, "stereo"}, // fewer channels asked: the usual layout of two
        {both, 6, &side, "5.1(side)"}, // AC3 takes both
        {backs_only, 6, &side, "5.1"}, // AAC: the one of that many it takes
        {backs_only, 8, &side, "5.1"}, // the nearest count it takes
    };
    for (const Row& row : rows) {
        AVChannelLayout chosen{};
        zmconv::choose_channel_layout(row.supported, row.channels, row.source, &chosen);
        EXPECT_EQ(name(chosen), row.chosen)
            << row.channels << " from " << (row.source ? name(*row.source) : "nothing");
        av_channel_layout_uninit(&chosen);
    }
}

// ---------------------------------------------------------------------------------------------
// Packet lengths read from Opus packets (table of contents: configuration and frame count).

TEST(PacketSamples, OpusTableOfContents)
{
    struct Row {
        std::vector<uint8_t> packet;
        int64_t samples;
    } rows[] = {
        {{0xfc}, 960}, // CELT 20 ms, one frame
        {{0xf8}, 960},
        {{0xe0}, 120},        // CELT 2.5 ms
        {{0x08}, 960},        // SILK 20 ms
        {{0x18}, 2880},       // SILK 60 ms
        {{0x70}, 480},        // hybrid 10 ms
        {{0x78}, 960},        // hybrid 20 ms
        {{0x71, 0, 0}, 960},  // hybrid 10 ms, two frames
        {{0x73, 0x03}, 1440}, // hybrid 10 ms, three frames (code 3)
        {{0x1b, 0x02}, 5760}, // SILK 60 ms, two frames: 120 ms, the most a packet holds
        {{0x1b, 0x03}, -1},   // 180 ms: not a valid packet
        {{0xfb, 0x00}, -1},   // no frames
        {{0xfb}, -1},         // code 3 without its count
        {{}, -1},
    };
    for (const Row& row : rows)
        EXPECT_EQ(zmconv::opus_packet_samples(row.packet.data(), int(row.packet.size())),
                  row.samples)
            << int(row.packet.empty() ? -1 : row.packet[0]);
}

// ---------------------------------------------------------------------------------------------
// Values in error lines: at most 200 characters, control characters and bytes that are no UTF-8
// written out.

TEST(ErrorLines, EchoAValueShortAndPrintable)
{
    struct Row {
        std::string value;
        std::string shown;
    } rows[] = {
        {"veryfast", "veryfast"},
        {"Ödön 名前", "Ödön 名前"},
        {"a\x01"
         "b\x7f\n",
         "a\\x01b\\x7f\\x0a"},
        {"\xff\xfejunk", "\\xff\\xfejunk"},
        {"\xe5\x90", "\\xe5\\x90"}, // a cut-off UTF-8 sequence
        {std::string(200, 'a'), std::string(200, 'a')},
        {std::string(61440, 'a'), std::string(200, 'a') + "... (61440 bytes)"},
        {std::string(300, '\x01'),
         [] {
             std::string s;
             for (int i = 0; i < 200; ++i)
                 s += "\\x01";
             return s + "... (300 bytes)";
         }()},
    };
    for (const Row& row : rows)
        EXPECT_EQ(zmconv::value_text(row.value), row.shown);
}

// A failure that comes from a lack of memory is said as such, whatever the call's own words.
TEST(ErrorLines, OutOfMemoryIsSaidAsSuch)
{
    struct Row {
        int code;
        const char* detail;
        bool memory;
    } rows[] = {
        {AVERROR(ENOMEM), "", true},
        {AVERROR_EXTERNAL, "x264 [error]: malloc of size 4096 failed", true},
        {AVERROR(EPERM), "Failed to allocate packet: Cannot allocate memory", true},
        {AVERROR_INVALIDDATA, "Invalid data found when processing input", false},
        {AVERROR(EINVAL), "", false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(zmconv::is_out_of_memory(row.code, row.detail), row.memory) << row.detail;
        try {
            zmconv::check(row.code, Failure::Input, "cannot read");
            ADD_FAILURE() << "no error";
        } catch (const ConvError& e) {
            if (row.memory)
                continue; // the detail came from the table, not from the library
            EXPECT_EQ(e.kind(), Failure::Input);
        }
    }
    try {
        zmconv::check(AVERROR(ENOMEM), Failure::Input, "cannot open the input");
        ADD_FAILURE() << "no error";
    } catch (const ConvError& e) {
        EXPECT_EQ(e.kind(), Failure::Codec);
        EXPECT_STREQ(e.what(), "out of memory");
    }
}

// ---------------------------------------------------------------------------------------------
// Inputs and stops.

namespace {

// A short 8000 Hz mono 16-bit WAV file.
void write_wav(const std::string& path, int samples)
{
    std::ofstream f(path, std::ios::binary);
    auto u32 = [&f](uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&f](uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
    const uint32_t data = static_cast<uint32_t>(samples) * 2;
    f << "RIFF";
    u32(36 + data);
    f << "WAVEfmt ";
    u32(16), u16(1), u16(1), u32(8000), u32(16000), u16(2), u16(16);
    f << "data";
    u32(data);
    for (int i = 0; i < samples; ++i)
        u16(static_cast<uint16_t>(i * 97));
}

} // namespace

// A FIFO, a socket, a device or a folder is refused before anything opens it (a FIFO would
// otherwise block here for ever).
TEST(Inputs, NotRegularFilesAreRefusedAtOnce)
{
    TempDir dir;
    const std::string fifo = dir.path + "/in.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string socket_path = dir.path + "/in.sock";
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket_path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string link_to_fifo = dir.path + "/link.wav";
    fs::create_symlink(fifo, link_to_fifo);
    struct Row {
        std::string path;
        const char* message;
    } rows[] = {{fifo, "is a FIFO"},
                {link_to_fifo, "is a FIFO"},
                {socket_path, "is a socket"},
                {"/dev/zero", "is a device"},
                {"/dev/null", "is a device"},
                {dir.path, "is a folder"},
                {dir.path + "/missing.wav", "not found"}};
    for (const Row& row : rows) {
        try {
            zmconv::InputFile in(row.path);
            ADD_FAILURE() << "opened " << row.path;
        } catch (const ConvError& e) {
            EXPECT_EQ(e.kind(), Failure::Input);
            EXPECT_NE(std::string(e.what()).find(row.message), std::string::npos) << e.what();
        }
    }
    ::close(sock);
}

// A stop cuts a read short (the demuxer's refill is interrupted): that is a stop, not a damaged
// or unreadable input.
TEST(Stops, AReadEndedByAStopIsAStop)
{
    TempDir dir;
    write_wav(dir.path + "/a.wav", 8000 * 30); // far more than one buffer of the demuxer
    zmconv::InputFile in(dir.path + "/a.wav");
    zmconv::PacketPtr pkt = zmconv::make_packet();
    ASSERT_TRUE(in.read(pkt.get()));
    zmconv::set_stop_requested(true);
    try {
        while (in.read(pkt.get())) {
        }
        ADD_FAILURE() << "read to the end past a stop";
    } catch (const ConvError& e) {
        EXPECT_EQ(e.kind(), Failure::Interrupted) << e.what();
    }
    zmconv::set_stop_requested(false);
}

namespace {

// Runs run_program with body, its stderr caught; returns the exit code and the text.
std::pair<int, std::string> run_caught(const std::vector<std::string>& args,
                                       const std::function<void()>& body)
{
    char name[] = "/tmp/zm-stderr-XXXXXX";
    const int capture = ::mkstemp(name);
    ::unlink(name);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(capture, STDERR_FILENO);
    std::vector<std::string> argv_text = {"conv"};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(argv_text.size());
    for (std::string& a : argv_text)
        argv.push_back(a.data());
    const int code =
        zmconv::run_program({"conv", "usage: conv\n"}, static_cast<int>(argv.size()), argv.data(),
                            [&](const std::vector<std::string>&) { body(); });
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    std::string text(4096, '\0');
    const ssize_t n = ::pread(capture, text.data(), text.size(), 0);
    text.resize(static_cast<size_t>(std::max<ssize_t>(n, 0)));
    ::close(capture);
    return {code, text};
}

} // namespace

// Whatever call a stop ends, and in whatever words that call fails, the run exits 6; the stop
// line mentions a removed output only when there was one.
TEST(Stops, AStopAlwaysExitsInterrupted)
{
    struct Row {
        const char* name;
        bool stop;
        bool removed;
        std::function<void()> body;
        int code;
        std::string err;
    } rows[] = {
        {"read fails", true, false,
         [] { throw ConvError(Failure::Input, "cannot read x: Immediate exit requested"); }, 6,
         "conv: interrupted\n"},
        {"write fails", true, false, [] { throw ConvError(Failure::Codec, "cannot write"); }, 6,
         "conv: interrupted\n"},
        {"plain stop", false, false, [] { throw ConvError(Failure::Interrupted, "interrupted"); },
         6, "conv: interrupted\n"},
        {"no stop", false, false,
         [] { throw ConvError(Failure::Input, "input file not found: x"); }, 3,
         "conv: input file not found: x\n"},
        {"out of memory", false, false, [] { throw std::bad_alloc(); }, 5, "conv: out of memory\n"},
        {"complete before the stop", true, false, [] {}, 0, ""},
        {"stop after writing", true, true, [] { throw ConvError(Failure::Codec, "cannot write"); },
         6, "conv: interrupted; the partial output was removed\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        zmconv::set_partial_output_removed(row.removed);
        const auto [code, err] = run_caught({}, [&] {
            if (row.stop)
                zmconv::set_stop_requested(true);
            row.body();
        });
        zmconv::set_stop_requested(false);
        EXPECT_EQ(code, row.code);
        EXPECT_EQ(err, row.err);
    }
}

TEST(Stops, HelpAndVersionAnswerWithoutConverting)
{
    for (const char* arg : {"--help", "-h", "--version"}) {
        bool ran = false;
        const auto [code, err] = run_caught({arg}, [&] { ran = true; });
        EXPECT_EQ(code, 0) << arg;
        EXPECT_FALSE(ran) << arg;
        EXPECT_EQ(err, "") << arg;
    }
}

// The check of a finished output: how far its length may lie from the expected one (a frame or
// 50 ms either way, more on the long side for priming the decoder keeps), and the words of a
// failure, which must tell the two lengths apart.
TEST(OutputCheckLength, AFrameOr50MsEitherWayAndTheWordsOfAFailure)
{
    struct Row {
        int64_t got_us;
        int64_t expected_us;
        int64_t frame_us;
        int64_t extra_long_us;
        const char* failure; // nullptr: passes
    } rows[] = {
        {3000000, 3000000, 26122, 0, nullptr},
        {2950000, 3000000, 26122, 0, nullptr},            // 50 ms short
        {2949000, 3000000, 26122, 0, "2.9 s of 3.0 s"},   // beyond 50 ms
        {2951000, 3049000, 26122, 0, "2.95 s of 3.05 s"}, // the same in tenths
        {2100000, 3000000, 26122, 0, "2.1 s of 3.0 s"},   // half a file lost
        {2880000, 3000000, 128000, 0, nullptr},           // one AAC frame at 8 kHz
        {2870000, 3000000, 128000, 0, "2.9 s of 3.0 s"},  // more than one
        {3050000, 3000000, 20000, 0, nullptr},            // 50 ms long
        {3100000, 3000000, 20000, 0, "3.1 s of 3.0 s"},   // too long
        {3100000, 3000000, 20000, 58000, nullptr},        // kept priming + padding
        {0, 3000000, 0, 0, "0.0 s of 3.0 s"},             // nothing decodes
        {600000000, 600000000, 24000, 0, nullptr},        // long files: same bounds
        {599900000, 600000000, 24000, 0, "599.9 s of 600.0 s"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.got_us) + " of " + std::to_string(r.expected_us));
        const zmconv::OutputLength got{r.got_us, r.frame_us};
        const auto allowance = zmconv::length_allowance(r.frame_us, r.extra_long_us);
        if (!r.failure) {
            EXPECT_NO_THROW(zmconv::check_output_length(got, r.expected_us, allowance));
            continue;
        }
        try {
            zmconv::check_output_length(got, r.expected_us, allowance);
            ADD_FAILURE() << "passed";
        } catch (const zmconv::ConvError& e) {
            EXPECT_EQ(e.kind(), zmconv::Failure::Codec);
            EXPECT_EQ(std::string(e.what()), std::string("output check failed: ") + r.failure);
        }
    }
}
