// Unit tests of encoding in segments: the plan's arithmetic, the number of threads, where two
// runs are joined, what MP3, AAC, Vorbis and FLAC packets say about themselves and the changes a
// join makes to them, the Vorbis block scan against the encoder, and whole encodes in segments
// against one encode from the start; the output check's reading back in stretches against one
// decoder.
#include "common/audio_encoder.h"
#include "common/errors.h"
#include "common/output_check.h"
#include "common/output_file.h"
#include "common/program.h"
#include "common/progress.h"
#include "common/segment_join.h"
#include "common/segmented_encoder.h"
#include "common/segments.h"
#include "common/vorbis_grid.h"

#include "converters/test_files.h"

extern "C" {
#include <libavutil/crc.h>
#include <libavutil/intreadwrite.h>
}

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

using zmconv::ConvError;
using zmconv::Failure;
using zmconv::JoinKind;
using zmconv::PacketFacts;
using zmconv::PacketPtr;
using zmconv::SegmentPlan;

namespace {

// ---------------------------------------------------------------------------------------------
// The plan

TEST(SegmentPlan, WholeFramesOnTheCodecsGridAndLongerThanItsRolls)
{
    struct Row {
        const char* encoder;
        int rate;
        int frame;
        double seconds;
    } rows[] = {
        {"libmp3lame", 44100, 1152, 60}, {"libmp3lame", 8000, 576, 60}, {"aac", 48000, 1024, 60},
        {"libvorbis", 44100, 64, 60},    {"libvorbis", 8000, 64, 0.5},  {"libopus", 48000, 960, 1},
        {"ac3", 32000, 1536, 0.01},      {"flac", 44100, 4608, 60},     {"wmav1", 22050, 1024, 7},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.encoder) + " " + std::to_string(r.rate));
        const zmconv::SegmentCodec* codec = zmconv::segment_codec(r.encoder);
        ASSERT_NE(codec, nullptr);
        const SegmentPlan p = zmconv::make_segment_plan(*codec, r.rate, r.frame, r.seconds, 4096);
        const int64_t quantum = std::lcm<int64_t>(r.frame, codec->grid);
        EXPECT_EQ(p.frame, r.frame);
        EXPECT_EQ(p.length % quantum, 0);
        EXPECT_EQ(p.pre_roll % quantum, 0);
        EXPECT_EQ(p.post_roll % r.frame, 0);
        EXPECT_GE(p.post_roll, std::max<int64_t>(p.search, r.frame));
        EXPECT_GE(p.length, p.pre_roll + r.frame);
        EXPECT_GE(p.length, p.post_roll + r.frame);
        EXPECT_GE(p.length, p.reach + r.frame);
        for (int64_t k = 1; k < 4; ++k) {
            EXPECT_EQ(p.feed_from(k) % codec->grid, 0);
            EXPECT_EQ(p.feed_from(k) % r.frame, 0);
            EXPECT_EQ(p.feed_from(k), k * p.length - p.pre_roll);
        }
        EXPECT_EQ(p.feed_from(0), 0);
        const int64_t wanted = std::llround(r.seconds * r.rate);
        if (wanted > p.pre_roll + p.post_roll + p.reach + r.frame) {
            EXPECT_LT(std::llabs(p.length - wanted), quantum);
        }
        // Two segments or more are split; one less sample is not.
        EXPECT_FALSE(zmconv::worth_splitting(p, 2 * p.length - 1));
        EXPECT_TRUE(zmconv::worth_splitting(p, 2 * p.length));
        EXPECT_FALSE(zmconv::worth_splitting(p, 0));
    }
}

TEST(SegmentPlan, OnlyEncodersWhoseRunsCanBeJoinedAreSplit)
{
    struct Row {
        const char* encoder;
        std::optional<JoinKind> kind;
    } rows[] = {
        {"libmp3lame", JoinKind::Mp3},       {"aac", JoinKind::Aac},   {"libopus", JoinKind::Opus},
        {"libvorbis", JoinKind::Vorbis},     {"ac3", JoinKind::Plain}, {"wmav1", JoinKind::Plain},
        {"wmav2", JoinKind::Plain},          {"flac", JoinKind::Flac}, {"pcm_s16le", std::nullopt},
        {"libopencore_amrnb", std::nullopt}, {"mp2", std::nullopt},    {"", std::nullopt},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.encoder);
        const zmconv::SegmentCodec* codec = zmconv::segment_codec(r.encoder);
        ASSERT_EQ(codec != nullptr, r.kind.has_value());
        if (codec) {
            EXPECT_EQ(codec->join, *r.kind);
        }
    }
}

TEST(SegmentThreads, AskedForElseTheFrontEndsShareElseEveryProcessor)
{
    struct Row {
        int requested;
        const char* share; // ZM_CONV_THREADS
        int processors;
        int expected;
    } rows[] = {
        {3, "5", 8, 3},  {1, nullptr, 8, 1}, {0, "5", 8, 5},        {0, nullptr, 8, 8},
        {0, "", 6, 6},   {0, "abc", 4, 4},   {0, "2x", 4, 4},       {0, "0", 4, 4},
        {0, "-2", 4, 4}, {0, "999", 4, 64},  {500, nullptr, 2, 64}, {0, nullptr, 0, 1},
        {0, "1", 16, 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.requested) + " " + (r.share ? r.share : "(unset)"));
        EXPECT_EQ(zmconv::segment_threads(r.requested, r.share, r.processors), r.expected);
    }
}

// ---------------------------------------------------------------------------------------------
// Where two runs are joined

// Packets of `frame` samples from `start`; fingerprints distinct per run unless overridden.
std::vector<PacketFacts> run_of(int64_t start, int count, int64_t frame, uint64_t run_id)
{
    std::vector<PacketFacts> v;
    for (int i = 0; i < count; ++i) {
        PacketFacts f;
        f.pts = start + i * frame;
        f.end = f.pts + frame;
        f.fingerprint = run_id * 1000 + static_cast<uint64_t>(i);
        f.size = 100;
        v.push_back(f);
    }
    return v;
}

// The run of facts with the packet ending at `end` changed by `change`.
template <class Change>
std::vector<PacketFacts> with(std::vector<PacketFacts> v, int64_t end, Change change)
{
    for (PacketFacts& f : v)
        if (f.end == end)
            change(f);
    return v;
}

TEST(Junction, FirstBoundaryBothRunsAgreeOnInTheWindow)
{
    const auto a = run_of(0, 12, 100, 1);   // [0, 1200)
    const auto b = run_of(500, 12, 100, 2); // [500, 1700)
    auto same_bytes_at = [&](int64_t end) {
        const uint64_t fp =
            with(a, end, [](PacketFacts&) {})[static_cast<size_t>(end / 100 - 1)].fingerprint;
        return with(b, end, [fp](PacketFacts& f) { f.fingerprint = fp; });
    };
    // Vorbis: the later run's blocks fall 128 samples away from the earlier one's.
    const auto shifted = run_of(628, 10, 100, 2);
    struct Row {
        const char* name;
        std::vector<PacketFacts> a, b;
        int64_t from, to;
        JoinKind kind;
        std::optional<std::array<size_t, 2>> expected; // last of a, first of b
        bool identical;
    } rows[] = {
        {"plain: at the window's start", a, b, 700, 700, JoinKind::Plain, {{6, 2}}, false},
        {"plain: boundary inside", a, b, 650, 750, JoinKind::Plain, {{6, 2}}, false},
        {"identical bytes before a later boundary win",
         a,
         same_bytes_at(900),
         700,
         1000,
         JoinKind::Plain,
         {{8, 4}},
         true},
        {"identical, but only beyond the window",
         a,
         same_bytes_at(1100),
         700,
         1000,
         JoinKind::Plain,
         {{6, 2}},
         false},
        {"mp3: reservoir too full at first, fits one frame later",
         with(a, 800, [](PacketFacts& f) { f.borrowed = 200; }) /* the packet after 700 */,
         with(b, 800, [](PacketFacts& f) { f.borrowed = 300; }),
         700,
         900,
         JoinKind::Mp3,
         {{7, 3}},
         false},
        {"mp3: block types differ before the first boundary",
         with(a, 700, [](PacketFacts& f) { f.shape = 2; }),
         b,
         700,
         900,
         JoinKind::Mp3,
         {{7, 3}},
         false},
        {"aac: a window that did not parse never matches",
         with(with(a, 700, [](PacketFacts& f) { f.shape = -1; }), 800,
              [](PacketFacts& f) { f.shape = -1; }),
         with(with(b, 700, [](PacketFacts& f) { f.shape = -1; }), 800,
              [](PacketFacts& f) { f.shape = -1; }),
         700, 850, JoinKind::Aac, std::nullopt, false},
        {"opus: other mode before the boundary, then the same",
         with(a, 700, [](PacketFacts& f) { f.shape = 0x7C; }),
         b,
         700,
         800,
         JoinKind::Opus,
         {{7, 3}},
         false},
        {"vorbis: no boundary in common", a, shifted, 700, 1100, JoinKind::Vorbis, std::nullopt,
         false},
        {"vorbis: block after the boundary differs, then agrees",
         with(a, 800, [](PacketFacts& f) { f.shape = 1; }),
         b,
         700,
         900,
         JoinKind::Vorbis,
         {{8, 4}},
         false},
        {"beyond the window there is nothing", a, b, 1250, 1300, JoinKind::Plain, std::nullopt,
         false},
        {"the later run has no packet after the boundary", a, run_of(500, 2, 100, 2), 700, 800,
         JoinKind::Plain, std::nullopt, false},
        {"flac: the later run begins at the end",
         run_of(0, 10, 100, 1),
         run_of(1000, 5, 100, 2),
         1000,
         1000,
         JoinKind::Flac,
         {{9, 0}},
         false},
        {"flac: a gap is no join", run_of(0, 10, 100, 1), run_of(1100, 5, 100, 2), 1000, 1000,
         JoinKind::Flac, std::nullopt, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const auto j = zmconv::find_junction(r.a, r.b, r.from, r.to, r.kind);
        ASSERT_EQ(j.has_value(), r.expected.has_value());
        if (!j)
            continue;
        EXPECT_EQ(j->last_of_a, (*r.expected)[0]);
        EXPECT_EQ(j->first_of_b, (*r.expected)[1]);
        EXPECT_EQ(j->identical, r.identical);
        // Whatever is chosen, the written packets meet without gap or overlap.
        EXPECT_EQ(r.a[j->last_of_a].end, r.b[j->first_of_b].pts);
    }
}

TEST(Junction, VorbisRunsOutOfStepAreShiftedIntoStep)
{
    // Long-block packets of 1024 samples; frames of 64.
    const auto a = run_of(0, 12, 1024, 1);
    struct Row {
        const char* name;
        std::vector<PacketFacts> b;
        int64_t from, to;
        std::optional<int64_t> shift;
    } rows[] = {
        {"384 samples behind", run_of(4096 + 1024 - 384, 8, 1024, 1), 6000, 9000, 384},
        // 8192 - 8168 = 24 is not a whole number of frames
        {"not a whole frame away", run_of(1000, 8, 1024, 1), 6000, 9000, std::nullopt},
        {"640 samples ahead", run_of(1024 + 640, 8, 1024, 1), 6000, 9000, 1024 - 640},
        {"in step already", run_of(2048, 8, 1024, 1), 6000, 9000, std::nullopt},
        {"only short packets in the later run", run_of(2048 + 64, 40, 256, 1), 6000, 9000,
         std::nullopt},
        {"nothing in the window", run_of(2048 + 64, 8, 1024, 1), 13000, 14000, std::nullopt},
        // what a search window of no width (the forced continuation) gives
        {"a window of no width", run_of(2048 + 64, 8, 1024, 1), 8193, 8192, std::nullopt},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const auto shift = zmconv::vorbis_realignment(a, r.b, r.from, r.to, 64);
        EXPECT_EQ(shift, r.shift);
        if (shift) { // the later run started that much later ends its blocks where a does
            EXPECT_EQ((r.b.back().end + *shift - a.back().end) % 1024, 0);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// MP3 frames

class BitWriter
{
public:
    void put(uint32_t value, int bits)
    {
        for (int i = bits - 1; i >= 0; --i) {
            if (m_bit % 8 == 0)
                m_bytes.push_back(0);
            if ((value >> i) & 1)
                m_bytes.back() |= static_cast<uint8_t>(0x80 >> (m_bit % 8));
            ++m_bit;
        }
    }
    std::vector<uint8_t> bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
    size_t m_bit = 0;
};

struct Mp3Spec {
    bool mpeg1;
    bool mono;
    bool crc;
    int borrowed;
    std::array<int, 2> block_types; // of each channel, in every granule
};

// A layer III frame: MPEG-1 128 kbit/s 44100 Hz (417 bytes) or MPEG-2 8 kbit/s 16000 Hz (36
// bytes), main data filled with `fill`.
std::vector<uint8_t> mp3_frame(const Mp3Spec& s, uint8_t fill)
{
    std::vector<uint8_t> f = {
        0xFF, static_cast<uint8_t>((s.mpeg1 ? 0xFB : 0xF3) & (s.crc ? 0xFE : 0xFF)),
        static_cast<uint8_t>(s.mpeg1 ? 0x90 : 0x18), static_cast<uint8_t>(s.mono ? 0xC0 : 0x40)};
    if (s.crc) {
        f.push_back(0x12);
        f.push_back(0x34);
    }
    const int channels = s.mono ? 1 : 2;
    BitWriter side;
    side.put(static_cast<uint32_t>(s.borrowed), s.mpeg1 ? 9 : 8);
    side.put(0, s.mpeg1 ? (s.mono ? 5 : 3) : (s.mono ? 1 : 2));
    if (s.mpeg1)
        side.put(0, 4 * channels);
    for (int gr = 0; gr < (s.mpeg1 ? 2 : 1); ++gr) {
        for (int ch = 0; ch < channels; ++ch) {
            side.put(0xABC, 12); // part2_3_length
            side.put(0x55, 9);   // big values
            side.put(0xC8, 8);   // global gain
            side.put(0x3, s.mpeg1 ? 4 : 9);
            const int bt = s.block_types[static_cast<size_t>(ch)];
            side.put(bt != 0 ? 1 : 0, 1);
            if (bt != 0) {
                side.put(static_cast<uint32_t>(bt), 2);
                side.put(0, 1);
                side.put(0x2AB, 10 + 9);
            } else {
                side.put(0x1FFFFF, 22);
            }
            side.put(0x7, s.mpeg1 ? 3 : 2);
        }
    }
    const auto side_bytes = side.bytes();
    f.insert(f.end(), side_bytes.begin(), side_bytes.end());
    const size_t size = s.mpeg1 ? 417 : 36;
    f.resize(size, fill);
    return f;
}

TEST(Mp3Frames, ReservoirUseAndBlockTypesAreRead)
{
    struct Row {
        Mp3Spec request;
        int main_offset;
        int shape;
    } rows[] = {
        {{true, false, false, 0, {0, 0}}, 36, 0},
        {{true, false, true, 511, {1, 3}}, 38, 1 | (3 << 3)},
        {{true, true, false, 300, {2, 0}}, 21, 2},
        {{false, true, false, 255, {3, 0}}, 13, 3},
        {{false, false, true, 17, {2, 2}}, 23, 2 | (2 << 3)},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.request.borrowed)
                     + (r.request.mpeg1 ? " mpeg-1" : " mpeg-2"));
        const auto bytes = mp3_frame(r.request, 0xEE);
        const auto f = zmconv::parse_mp3_frame(bytes);
        ASSERT_TRUE(f.has_value());
        EXPECT_EQ(f->main_offset, r.main_offset);
        EXPECT_EQ(f->borrowed, r.request.borrowed);
        EXPECT_EQ(f->shape, r.shape);
    }
    const auto good = mp3_frame({true, false, false, 0, {0, 0}}, 0);
    auto layer2 = good;
    layer2[1] = 0xFD;
    auto no_sync = good;
    no_sync[0] = 0x7F;
    const std::vector<uint8_t> refused[] = {{good.begin(), good.begin() + 20}, layer2, no_sync, {}};
    for (const auto& bytes : refused)
        EXPECT_FALSE(zmconv::parse_mp3_frame(bytes).has_value()) << bytes.size();
}

struct Packets {
    std::vector<PacketPtr> owned;
    std::vector<AVPacket*> raw() const
    {
        std::vector<AVPacket*> v;
        for (const PacketPtr& p : owned)
            v.push_back(p.get());
        return v;
    }
    void add(const std::vector<uint8_t>& bytes)
    {
        PacketPtr p = zmconv::make_packet();
        EXPECT_EQ(av_new_packet(p.get(), static_cast<int>(bytes.size())), 0);
        std::memcpy(p->data, bytes.data(), bytes.size());
        owned.push_back(std::move(p));
    }
    // Main data areas of every frame, one after the other.
    std::vector<uint8_t> main_data() const
    {
        std::vector<uint8_t> all;
        for (const PacketPtr& p : owned) {
            const auto f = zmconv::parse_mp3_frame({p->data, static_cast<size_t>(p->size)});
            all.insert(all.end(), p->data + f->main_offset, p->data + p->size);
        }
        return all;
    }
    std::vector<uint8_t> heads() const // everything but the main data
    {
        std::vector<uint8_t> all;
        for (const PacketPtr& p : owned) {
            const auto f = zmconv::parse_mp3_frame({p->data, static_cast<size_t>(p->size)});
            all.insert(all.end(), p->data, p->data + f->main_offset);
        }
        return all;
    }
};

TEST(Mp3Frames, TheBytesTheFirstFrameAfterAJoinBorrowsAreMovedOver)
{
    const Mp3Spec request{true, false, false, 0, {0, 0}}; // 381 bytes of main data each
    struct Row {
        int borrowed;
        bool moved;
    } rows[] = {{0, true},   {1, true},    {200, true},  {381, true},
                {500, true}, {1143, true}, {1144, false}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.borrowed);
        Packets a;
        Packets b;
        for (int i = 0; i < 3; ++i) {
            a.add(mp3_frame(request, static_cast<uint8_t>(0xA0 + i)));
            auto frame = mp3_frame(request, 0);
            for (size_t j = 36; j < frame.size(); ++j)
                frame[j] = static_cast<uint8_t>(static_cast<size_t>(i) * 381 + j);
            b.add(frame);
        }
        const auto a_before = a.main_data();
        const auto a_heads = a.heads();
        const auto b_before = b.main_data();
        std::vector<const AVPacket*> b_frames;
        for (AVPacket* p : b.raw())
            b_frames.push_back(p);
        EXPECT_EQ(zmconv::move_reservoir(a.raw(), b_frames, r.borrowed), r.moved);
        const auto a_after = a.main_data();
        EXPECT_EQ(a.heads(), a_heads);
        EXPECT_EQ(b.main_data(), b_before);
        if (!r.moved) {
            EXPECT_EQ(a_after, a_before);
            continue;
        }
        const size_t n = static_cast<size_t>(r.borrowed);
        EXPECT_TRUE(std::equal(a_after.end() - static_cast<ptrdiff_t>(n), a_after.end(),
                               b_before.end() - static_cast<ptrdiff_t>(n)));
        EXPECT_TRUE(std::equal(a_after.begin(), a_after.end() - static_cast<ptrdiff_t>(n),
                               a_before.begin()));
    }
}

// ---------------------------------------------------------------------------------------------
// AAC

TEST(AacFrames, WindowOfTheFirstChannel)
{
    struct Row {
        const char* name;
        std::vector<std::pair<uint32_t, int>> fields; // value, bits
        int expected;
    } rows[] = {
        {"single channel", {{0, 3}, {0, 4}, {100, 8}, {0, 1}, {2, 2}, {1, 1}}, (2 << 1) | 1},
        {"LFE", {{3, 3}, {0, 4}, {90, 8}, {0, 1}, {0, 2}, {0, 1}}, 0},
        {"pair, common window", {{1, 3}, {0, 4}, {1, 1}, {0, 1}, {3, 2}, {0, 1}}, 3 << 1},
        {"pair, own windows",
         {{1, 3}, {0, 4}, {0, 1}, {120, 8}, {0, 1}, {1, 2}, {1, 1}},
         (1 << 1) | 1},
        {"fill element first", {{6, 3}, {0, 4}, {0, 8}}, -1},
        {"cut short", {{0, 3}, {0, 4}}, -1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        BitWriter w;
        for (const auto& [value, bits] : r.fields)
            w.put(value, bits);
        EXPECT_EQ(zmconv::aac_window_shape(w.bytes()), r.expected);
    }
}

// ---------------------------------------------------------------------------------------------
// Encoding with FFmpeg's encoders (mono 16-bit input unless the encoder wants floats)

double test_signal(int64_t i, int ch, int rate)
{
    const double t = static_cast<double>(i) / rate;
    // Tones, a little noise (a fixed sequence) and a click every 0.7 s.
    const uint64_t x = static_cast<uint64_t>(i) * 6364136223846793005ULL + 1442695040888963407ULL
                       + static_cast<uint64_t>(ch) * 977;
    const double noise = static_cast<double>((x >> 33) & 0xFFFF) / 65536.0 - 0.5;
    const double click = std::fmod(t, 0.7) < 0.004 ? 0.6 * noise : 0.0;
    return 0.3 * std::sin(2 * M_PI * (440 + 110 * ch) * t) + 0.15 * std::sin(2 * M_PI * 97 * t * t)
           + 0.05 * noise + click;
}

void fill(AVFrame* f, int64_t first)
{
    const auto format = static_cast<AVSampleFormat>(f->format);
    const int channels = f->ch_layout.nb_channels;
    const bool planar = av_sample_fmt_is_planar(format);
    for (int i = 0; i < f->nb_samples; ++i) {
        for (int ch = 0; ch < channels; ++ch) {
            const double v = test_signal(first + i, ch, f->sample_rate);
            const int plane = planar ? ch : 0;
            const int at = planar ? i : i * channels + ch;
            switch (av_get_packed_sample_fmt(format)) {
            case AV_SAMPLE_FMT_FLT:
                reinterpret_cast<float*>(f->extended_data[plane])[at] = static_cast<float>(v);
                break;
            case AV_SAMPLE_FMT_S16:
                reinterpret_cast<int16_t*>(f->extended_data[plane])[at] =
                    static_cast<int16_t>(std::lrint(v * 32767));
                break;
            case AV_SAMPLE_FMT_S32:
                reinterpret_cast<int32_t*>(f->extended_data[plane])[at] =
                    static_cast<int32_t>(std::lrint(v * 8388607)) * 256;
                break;
            default:
                FAIL() << "sample format " << av_get_sample_fmt_name(format);
            }
        }
    }
}

// Packets of an encoder fed samples [first, first + frames * frame_size), drained when flush.
std::vector<PacketPtr> encode(const char* name, int rate, int64_t first, int frames, bool flush,
                              std::vector<uint8_t>* extradata = nullptr)
{
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    EXPECT_NE(codec, nullptr) << name;
    zmconv::CodecContextPtr ctx(avcodec_alloc_context3(codec));
    ctx->sample_rate = rate;
    ctx->sample_fmt = codec->sample_fmts[0];
    av_channel_layout_default(&ctx->ch_layout, 1);
    ctx->time_base = AVRational{1, rate};
    ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    EXPECT_EQ(avcodec_open2(ctx.get(), codec, nullptr), 0);
    if (extradata)
        extradata->assign(ctx->extradata, ctx->extradata + ctx->extradata_size);
    std::vector<PacketPtr> out;
    auto receive = [&] {
        for (PacketPtr p = zmconv::make_packet(); avcodec_receive_packet(ctx.get(), p.get()) == 0;
             p = zmconv::make_packet())
            out.push_back(std::move(p));
    };
    zmconv::FramePtr f = zmconv::make_frame();
    for (int k = 0; k < frames; ++k) {
        av_frame_unref(f.get());
        f->format = ctx->sample_fmt;
        f->sample_rate = rate;
        av_channel_layout_default(&f->ch_layout, 1);
        f->nb_samples = ctx->frame_size;
        EXPECT_EQ(av_frame_get_buffer(f.get(), 0), 0);
        const int64_t at = first + int64_t(k) * ctx->frame_size;
        fill(f.get(), at);
        f->pts = at;
        EXPECT_EQ(avcodec_send_frame(ctx.get(), f.get()), 0);
        receive();
    }
    if (flush) {
        avcodec_send_frame(ctx.get(), nullptr);
        receive();
    }
    return out;
}

std::vector<uint8_t> bytes_of(const AVPacket* p)
{
    return {p->data, p->data + p->size};
}

TEST(FlacFrames, ARunsFramesRenumberedAreTheFramesOfOneEncode)
{
    constexpr int kRate = 8000;
    const auto whole = encode("flac", kRate, 0, 6, true);
    ASSERT_GE(whole.size(), 6u);
    const int frame = static_cast<int>(whole[1]->pts - whole[0]->pts);
    const auto part = encode("flac", kRate, 2 * int64_t(frame), 3, false);
    ASSERT_EQ(part.size(), 3u);
    for (size_t i = 0; i < part.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(zmconv::flac_frame_number(bytes_of(part[i].get())), int64_t(i));
        EXPECT_NE(bytes_of(part[i].get()), bytes_of(whole[2 + i].get()));
        ASSERT_TRUE(zmconv::flac_set_frame_number(part[i].get(), int64_t(2 + i)));
        EXPECT_EQ(bytes_of(part[i].get()), bytes_of(whole[2 + i].get()));
    }
}

TEST(FlacFrames, EveryFrameNumberIsWrittenWithValidChecksums)
{
    const auto packets = encode("flac", 8000, 0, 1, false);
    ASSERT_EQ(packets.size(), 1u);
    const int64_t numbers[] = {0,     1,       127,     128,      2047,     2048,   65535,
                               65536, 2097151, 2097152, 67108863, 67108864, 999999, 2147483647};
    for (const int64_t n : numbers) {
        SCOPED_TRACE(n);
        PacketPtr p = zmconv::make_packet();
        ASSERT_EQ(av_packet_ref(p.get(), packets[0].get()), 0);
        ASSERT_TRUE(zmconv::flac_set_frame_number(p.get(), n));
        const auto f = bytes_of(p.get());
        EXPECT_EQ(zmconv::flac_frame_number(f), n);
        // The header ends with the CRC-8 of what precedes it; the frame with its CRC-16.
        const AVCRC* crc8 = av_crc_get_table(AV_CRC_8_ATM);
        size_t header = 4;
        while (header < f.size() && av_crc(crc8, 0, f.data(), header) != f[header])
            ++header;
        EXPECT_LT(header, 16u);
        const AVCRC* crc16 = av_crc_get_table(AV_CRC_16_ANSI);
        EXPECT_EQ(av_crc(crc16, 0, f.data(), f.size()), 0u); // over the CRC itself: zero
        EXPECT_EQ(f.size() - packets[0]->size, size_t(n < 128        ? 0
                                                      : n < 2048     ? 1
                                                      : n < 65536    ? 2
                                                      : n < 2097152  ? 3
                                                      : n < 67108864 ? 4
                                                                     : 5));
    }
    auto broken = bytes_of(packets[0].get());
    broken[1] = 0xF9; // variable block size: numbered by sample, not by frame
    PacketPtr p = zmconv::make_packet();
    ASSERT_EQ(av_new_packet(p.get(), static_cast<int>(broken.size())), 0);
    std::memcpy(p->data, broken.data(), broken.size());
    EXPECT_FALSE(zmconv::flac_set_frame_number(p.get(), 3));
    EXPECT_EQ(bytes_of(p.get()), broken);
}

TEST(FlacFrames, StreamSummaryGetsLengthFrameSizesAndChecksum)
{
    std::array<uint8_t, 34> info{};
    for (size_t i = 0; i < info.size(); ++i)
        info[i] = static_cast<uint8_t>(0x10 + i);
    std::array<uint8_t, 16> md5{};
    std::iota(md5.begin(), md5.end(), uint8_t(0xC0));
    const auto before = info;
    zmconv::flac_update_streaminfo(info, (int64_t(1) << 35) + 12345, 17, 0xABCDE, md5);
    EXPECT_EQ(std::vector<uint8_t>(info.begin(), info.begin() + 4),
              std::vector<uint8_t>(before.begin(), before.begin() + 4)); // block sizes kept
    EXPECT_EQ(AV_RB24(info.data() + 4), 17u);
    EXPECT_EQ(AV_RB24(info.data() + 7), 0xABCDEu);
    const uint64_t word = AV_RB64(info.data() + 10);
    EXPECT_EQ(word & ((uint64_t(1) << 36) - 1), (uint64_t(1) << 35) + 12345);
    EXPECT_EQ(word >> 36, AV_RB64(before.data() + 10) >> 36); // rate, channels, bits kept
    EXPECT_TRUE(std::equal(md5.begin(), md5.end(), info.begin() + 18));
}

TEST(VorbisBlocks, BlockSizesExplainEveryPacketsLength)
{
    std::vector<uint8_t> headers;
    const auto packets = encode("libvorbis", 44100, 0, 44100 * 3 / 64, false, &headers);
    zmconv::VorbisBlocks blocks(headers);
    ASSERT_TRUE(blocks.valid());
    std::vector<int> shapes;
    shapes.reserve(packets.size());
    for (const PacketPtr& p : packets)
        shapes.push_back(blocks.shape(bytes_of(p.get())));
    ASSERT_GT(packets.size(), 10u);
    // The clicks make short blocks, the rest long ones; each packet lasts a quarter of its own
    // block and of the one before.
    EXPECT_NE(std::count(shapes.begin(), shapes.end(), 0), 0);
    EXPECT_NE(std::count(shapes.begin(), shapes.end(), 1), 0);
    EXPECT_EQ(std::count(shapes.begin(), shapes.end(), -1), 0);
    int64_t short_half = INT64_MAX;
    int64_t long_half = 0;
    for (size_t i = 1; i < packets.size(); ++i) {
        short_half = std::min(short_half, packets[i]->duration);
        long_half = std::max(long_half, packets[i]->duration);
    }
    for (size_t i = 1; i < packets.size(); ++i) {
        SCOPED_TRACE(i);
        auto half = [&](int s) { return s ? long_half : short_half; };
        EXPECT_EQ(packets[i]->duration, (half(shapes[i - 1]) + half(shapes[i])) / 2);
    }
    EXPECT_FALSE(zmconv::VorbisBlocks(std::vector<uint8_t>{1, 2, 3}).valid());
}

// The scan's packets against those of FFmpeg's libvorbis encoder fed the same frames: the same
// stamps, lengths and block sizes, packet for packet, wherever the run starts.
TEST(VorbisGrid, PacketsAreThoseTheEncoderMakes)
{
    struct Row {
        int channels;
        int rate;
        int64_t bit_rate; // 0: the encoder's default quality
        int64_t first;    // the run's first sample (multiples of 64, not all of 2048)
    };
    const Row rows[] = {
        {1, 44100, 0, 0},          {2, 44100, 160000, 0},  {2, 44100, 160000, 76224},
        {2, 48000, 320000, 90112}, {1, 22050, 48000, 320}, {6, 48000, 0, 6144},
        {2, 8000, 0, 0},
    };
    const AVCodec* codec = avcodec_find_encoder_by_name("libvorbis");
    ASSERT_NE(codec, nullptr);
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << r.channels << " ch, " << r.rate << " Hz, "
                                          << r.bit_rate << " b/s, from " << r.first);
        zmconv::CodecContextPtr ctx(avcodec_alloc_context3(codec));
        ctx->sample_rate = r.rate;
        ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
        av_channel_layout_default(&ctx->ch_layout, r.channels);
        ctx->time_base = AVRational{1, r.rate};
        ctx->bit_rate = r.bit_rate;
        ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        ASSERT_EQ(avcodec_open2(ctx.get(), codec, nullptr), 0);
        zmconv::VorbisBlocks blocks({ctx->extradata, static_cast<size_t>(ctx->extradata_size)});
        zmconv::VorbisGrid grid(r.channels, r.rate, r.bit_rate);
        grid.restart(r.first);

        std::vector<PacketFacts> made;
        PacketPtr p = zmconv::make_packet();
        zmconv::FramePtr f = zmconv::make_frame();
        const int64_t frames = int64_t(r.rate) * 4 / 64;
        for (int64_t k = 0; k < frames; ++k) {
            av_frame_unref(f.get());
            f->format = AV_SAMPLE_FMT_FLTP;
            f->sample_rate = r.rate;
            av_channel_layout_default(&f->ch_layout, r.channels);
            f->nb_samples = 64;
            ASSERT_EQ(av_frame_get_buffer(f.get(), 0), 0);
            f->pts = r.first + k * 64;
            fill(f.get(), f->pts);
            ASSERT_EQ(avcodec_send_frame(ctx.get(), f.get()), 0);
            while (avcodec_receive_packet(ctx.get(), p.get()) == 0) {
                if (p->duration > 0)
                    made.push_back(
                        {p->pts, p->pts + p->duration, blocks.shape(bytes_of(p.get())), 0, 0, 0});
                av_packet_unref(p.get());
            }
            grid.feed(reinterpret_cast<const float* const*>(f->extended_data), 64);
        }
        const std::vector<PacketFacts>& scanned = grid.packets();
        ASSERT_GT(made.size(), 100u);
        // The encoder hands a packet over a little after its block is decided.
        ASSERT_GE(scanned.size(), made.size());
        EXPECT_NE(std::count_if(made.begin(), made.end(), [](auto& m) { return m.shape == 0; }), 0)
            << "no short block: the clicks should make some";
        for (size_t i = 0; i < made.size(); ++i) {
            SCOPED_TRACE(i);
            ASSERT_EQ(scanned[i].pts, made[i].pts);
            ASSERT_EQ(scanned[i].end, made[i].end);
            ASSERT_EQ(scanned[i].shape, made[i].shape);
        }
        EXPECT_EQ(grid.fed_to(), r.first + frames * 64);
    }
    EXPECT_THROW(zmconv::VorbisGrid(2, 44100, 5000000), ConvError);
}

// ---------------------------------------------------------------------------------------------
// Whole encodes

struct EncodeResult {
    std::string bytes;
    zmconv::SegmentedEncoder::Counts counts;
};

// Encodes `seconds` of the test signal into a file, in segments when a plan is given.
EncodeResult encode_file(const std::string& path, const char* muxer, const char* encoder, int rate,
                         int channels, double seconds, std::optional<SegmentPlan> plan, int threads,
                         int64_t bit_rate = 0)
{
    EncodeResult result;
    {
        zmconv::OutputFile out({path, muxer, true, ""});
        out.set_bit_exact();
        zmconv::AudioEncoderSettings settings;
        settings.encoder = encoder;
        settings.sample_rate = rate;
        settings.channels = channels;
        settings.bit_rate = bit_rate;
        zmconv::AudioSourceFormat source{rate, channels, AV_SAMPLE_FMT_FLTP};
        std::unique_ptr<zmconv::AudioEncoder> enc =
            zmconv::make_audio_encoder(settings, source, out);
        zmconv::SegmentedEncoder* segmented = nullptr;
        if (plan) {
            auto stage = std::make_unique<zmconv::SegmentedEncoder>(
                std::move(enc), out, *zmconv::segment_codec(encoder), *plan, threads);
            segmented = stage.get();
            enc = std::move(stage);
        }
        out.write_header();
        const int64_t total = std::llround(seconds * rate);
        const int frame = enc->frame_size() > 0 ? enc->frame_size() : 4096;
        zmconv::FramePtr f = zmconv::make_frame();
        for (int64_t at = 0; at < total; at += frame) {
            av_frame_unref(f.get());
            f->format = enc->sample_format();
            f->sample_rate = rate;
            av_channel_layout_copy(&f->ch_layout, &enc->channel_layout());
            f->nb_samples = static_cast<int>(std::min<int64_t>(frame, total - at));
            EXPECT_EQ(av_frame_get_buffer(f.get(), 0), 0);
            fill(f.get(), at);
            f->pts = at;
            enc->encode(f.get());
        }
        enc->encode(nullptr);
        out.finish();
        if (segmented)
            result.counts = segmented->counts();
    }
    result.bytes = zmtest::read_file(path);
    return result;
}

// Encoders that carry no state between frames beyond their overlap (AC3 at 48000 Hz, WMA,
// FLAC) give the very bytes of one encode; so does any encoder when no join is found and every
// run is continued, which a window of no width forces.
TEST(SegmentedEncodes, TheSameBytesAsOneEncodeWhereTheEncoderAllows)
{
    zmtest::TempFolder dir;
    struct Row {
        const char* name;
        const char* muxer;
        const char* encoder;
        int rate;
        int channels;
        double seconds;
        double segment;
        bool no_window; // forces a continuation at every seam
        int threads;
    } rows[] = {
        {"ac3", "ac3", "ac3", 48000, 2, 4.3, 1.0, false, 3},
        {"ac3, continued", "ac3", "ac3", 44100, 2, 4.3, 1.0, true, 2},
        {"wma", "asf", "wmav1", 22050, 1, 4.3, 0.8, false, 2},
        {"flac", "flac", "flac", 44100, 1, 4.3, 0.7, false, 3},
        {"flac, one thread", "flac", "flac", 8000, 2, 4.3, 0.5, false, 1},
        {"mp3, continued", "mp3", "libmp3lame", 16000, 1, 4.3, 1.0, true, 4},
        {"vorbis, continued", "ogg", "libvorbis", 11025, 1, 12.3, 3.0, true, 2},
    };
    zmconv::capture_library_log();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const double seconds = r.seconds;
        const auto whole = encode_file(dir.path + "/whole", r.muxer, r.encoder, r.rate, r.channels,
                                       seconds, std::nullopt, 1);
        SegmentPlan plan;
        { // the frame size is the encoder's: ask it
            zmconv::OutputFile probe({dir.path + "/probe", r.muxer, true, ""});
            zmconv::AudioEncoderSettings s;
            s.encoder = r.encoder;
            s.sample_rate = r.rate;
            s.channels = r.channels;
            const auto e =
                zmconv::make_audio_encoder(s, {r.rate, r.channels, AV_SAMPLE_FMT_FLTP}, probe);
            plan = zmconv::make_segment_plan(*zmconv::segment_codec(r.encoder), r.rate,
                                             e->frame_size(), r.segment, 4096);
        }
        if (r.no_window) { // from the segment's end plus one to its end: empty
            plan.search = 0;
            plan.lead = -1;
        }
        const auto split = encode_file(dir.path + "/split", r.muxer, r.encoder, r.rate, r.channels,
                                       seconds, plan, r.threads);
        // The last run starts with the first segment the input does not go on past by a post-roll.
        const int64_t total = std::llround(seconds * r.rate);
        int segments = 1;
        while (total >= segments * plan.length + plan.post_roll)
            ++segments;
        EXPECT_GE(segments, 3);
        EXPECT_EQ(split.counts.continued, r.no_window ? segments - 1 : 0);
        EXPECT_EQ(split.counts.runs, segments + split.counts.continued);
        EXPECT_TRUE(split.bytes == whole.bytes)
            << "sizes " << split.bytes.size() << " and " << whole.bytes.size();
    }
}

// A stop reaches every run: the encode ends with Interrupted, and the threads end with it.
TEST(SegmentedEncodes, AStopEndsEveryRun)
{
    zmtest::TempFolder dir;
    const SegmentPlan plan =
        zmconv::make_segment_plan(*zmconv::segment_codec("libmp3lame"), 44100, 1152, 1.0, 4096);
    zmconv::set_stop_requested(false);
    bool stopped = false;
    try {
        zmconv::OutputFile out({dir.path + "/stopped.mp3", "mp3", true, ""});
        zmconv::AudioEncoderSettings s;
        s.encoder = "libmp3lame";
        s.sample_rate = 44100;
        s.channels = 2;
        auto inner = zmconv::make_audio_encoder(s, {44100, 2, AV_SAMPLE_FMT_FLTP}, out);
        zmconv::SegmentedEncoder enc(std::move(inner), out, *zmconv::segment_codec("libmp3lame"),
                                     plan, 4);
        out.write_header();
        zmconv::FramePtr f = zmconv::make_frame();
        for (int64_t at = 0; at < int64_t{44100} * 30; at += 1152) {
            if (at >= int64_t{44100} * 6)
                zmconv::set_stop_requested(true); // several runs are under way by now
            av_frame_unref(f.get());
            f->format = enc.sample_format();
            f->sample_rate = 44100;
            av_channel_layout_copy(&f->ch_layout, &enc.channel_layout());
            f->nb_samples = 1152;
            ASSERT_EQ(av_frame_get_buffer(f.get(), 0), 0);
            fill(f.get(), at);
            f->pts = at;
            enc.encode(f.get());
        }
        enc.encode(nullptr);
    } catch (const ConvError& e) {
        stopped = e.kind() == Failure::Interrupted;
    }
    zmconv::set_stop_requested(false);
    EXPECT_TRUE(stopped);
    EXPECT_FALSE(std::filesystem::exists(dir.path + "/stopped.mp3"));
}

// ---------------------------------------------------------------------------------------------
// The check's reading back in stretches

// A file's sound decoded in stretches on several threads has the length one decoder finds, to
// the sample, in every format conv writes: stretches of a few packets put a seam at every
// kind of place (the MP3 reservoir, Vorbis block changes, Opus's pre-skip, the padding
// dropped at the end). A file damaged in its middle is no different.
TEST(ReadBack, InStretchesTheLengthOfOneDecoder)
{
    zmtest::TempFolder dir;
    struct Row {
        const char* name;
        const char* muxer;
        const char* encoder;
        int rate;
        int channels;
        int64_t bit_rate;
        double seconds;
        bool damaged;
    } rows[] = {
        {"mp3", "mp3", "libmp3lame", 44100, 2, 0, 6.3, false},
        {"mp3, 8 kHz 8 kbit/s", "mp3", "libmp3lame", 8000, 1, 8000, 6.3, false},
        {"mp3, damaged", "mp3", "libmp3lame", 44100, 2, 0, 6.3, true},
        {"aac", "adts", "aac", 44100, 2, 0, 5.1, false},
        {"m4a", "ipod", "aac", 22050, 1, 0, 5.1, false},
        {"opus", "ogg", "libopus", 48000, 2, 0, 5.1, false},
        {"opus, 6 kbit/s", "ogg", "libopus", 48000, 1, 6000, 5.1, false},
        {"opus, damaged", "ogg", "libopus", 48000, 2, 0, 5.1, true},
        {"vorbis", "ogg", "libvorbis", 44100, 2, 0, 5.1, false},
        {"flac", "flac", "flac", 44100, 2, 0, 12.1, false},
        {"ac3", "ac3", "ac3", 48000, 2, 0, 5.1, false},
        {"wma", "asf", "wmav2", 44100, 2, 0, 5.1, false},
        {"amr", "amr", "libopencore_amrnb", 8000, 1, 0, 5.1, false},
    };
    zmconv::capture_library_log();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const std::string path = dir.path + "/read back";
        encode_file(path, r.muxer, r.encoder, r.rate, r.channels, r.seconds, std::nullopt, 1,
                    r.bit_rate);
        if (r.damaged) { // a run of bytes in the middle overwritten
            std::string bytes = zmtest::read_file(path);
            ASSERT_GT(bytes.size(), 4000u);
            for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 1500; ++i)
                bytes[i] = static_cast<char>(i * 37 % 251);
            std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        }
        const zmconv::OutputLength one = zmconv::read_output_length(path);
        EXPECT_GT(one.us, 4'000'000);
        for (const zmconv::ReadBack how :
             {zmconv::ReadBack{2, 5}, zmconv::ReadBack{3, 1}, zmconv::ReadBack{4, 7, 2000}}) {
            SCOPED_TRACE(std::to_string(how.threads) + " threads, "
                         + std::to_string(how.stretch_packets) + " packets");
            const zmconv::OutputLength stretched = zmconv::read_output_length(path, true, {}, how);
            EXPECT_EQ(stretched.us, one.us);
            EXPECT_EQ(stretched.frame_us, one.frame_us);
        }
    }
}

} // namespace
