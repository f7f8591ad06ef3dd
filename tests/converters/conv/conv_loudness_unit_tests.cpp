// Unit tests of the loudness pieces: album gating against libebur128's own, the measurement
// file, gain on every sample format, tag texts, tags filled in place (Ogg checksums, UTF-16) and
// MP4 freeform atoms.
#include "common/errors.h"
#include "common/loudness.h"
#include "common/mp4_tags.h"
#include "common/tag_patch.h"
#include "conv/loudness_work.h"

extern "C" {
#include <ebur128.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
}

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using zmconv::ConvError;
using zmconv::Loudness;

namespace {

constexpr int kRate = 48000;

// Stereo float sound from a function of the time in seconds, fed in frames of an odd size so
// the meter's own 100 ms chunking is exercised.
Loudness measure(double seconds, const std::function<double(double)>& wave, int rate = kRate)
{
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    zmconv::LoudnessMeter meter(stereo, rate);
    const int total = static_cast<int>(seconds * rate);
    constexpr int kFrame = 1151;
    AVFrame* f = av_frame_alloc();
    for (int at = 0; at < total; at += kFrame) {
        av_frame_unref(f);
        f->format = AV_SAMPLE_FMT_FLTP;
        f->sample_rate = rate;
        av_channel_layout_copy(&f->ch_layout, &stereo);
        f->nb_samples = std::min(kFrame, total - at);
        EXPECT_EQ(av_frame_get_buffer(f, 0), 0);
        for (int i = 0; i < f->nb_samples; ++i) {
            const auto v = static_cast<float>(wave(static_cast<double>(at + i) / rate));
            reinterpret_cast<float*>(f->data[0])[i] = v;
            reinterpret_cast<float*>(f->data[1])[i] = v;
        }
        meter.add(f);
    }
    av_frame_free(&f);
    return meter.result();
}

double tone(double t, double dbfs, double hz = 997)
{
    return std::pow(10.0, dbfs / 20.0) * std::sin(2 * M_PI * hz * t);
}

// A deterministic noise in [-1, 1].
double noise(double t)
{
    auto x = static_cast<uint32_t>(t * kRate) * 2654435761u;
    x ^= x >> 13;
    x *= 0x5bd1e995u;
    x ^= x >> 15;
    return static_cast<double>(x) / 2147483648.0 - 1.0;
}

} // namespace

// The blocks kept for album gain give back libebur128's own integrated loudness for one track,
// for sound where each gate matters: steady tones, quiet stretches under the relative gate,
// silence under the absolute one, noise.
TEST(LoudnessBlocks, OneTrackGivesLibebur128sLoudness)
{
    struct Row {
        const char* name;
        double seconds;
        std::function<double(double)> wave;
    } rows[] = {
        {"tone -20", 4, [](double t) { return tone(t, -20); }},
        {"tone -3", 2.05, [](double t) { return tone(t, -3, 440); }},
        {"loud then quiet (relative gate)", 6,
         [](double t) { return t < 3 ? tone(t, -10) : tone(t, -40); }},
        {"tone with silence (absolute gate)", 5,
         [](double t) { return std::fmod(t, 1.0) < 0.5 ? tone(t, -15) : 0.0; }},
        {"noise -12", 3, [](double t) { return 0.25 * noise(t); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Loudness l = measure(row.seconds, row.wave);
        ASSERT_TRUE(l.integrated.has_value());
        const auto gated = zmconv::gated_loudness({&l});
        ASSERT_TRUE(gated.has_value());
        EXPECT_NEAR(*gated, *l.integrated, 0.01);
        EXPECT_GT(l.true_peak, 0.0);
        EXPECT_GE(l.true_peak, l.sample_peak);
    }
    const Loudness silence = measure(2, [](double) { return 0.0; });
    EXPECT_FALSE(silence.integrated.has_value());
    EXPECT_FALSE(zmconv::gated_loudness({&silence}).has_value());
}

// The blocks are those libebur128 itself gives as momentary loudness after each 100 ms, at
// rates where 100 ms is a whole number of samples (read as four 100 ms windows) and where it is
// not (read as the 400 ms window): the same count, each within one step; the integrated
// loudness gated from them is libebur128's own.
TEST(LoudnessBlocks, SameAsLibebur128sMomentaryLoudness)
{
    auto wave = [](double t) {
        const double bar = std::fmod(t, 1.3);
        return bar < 0.4   ? tone(t, -14)
               : bar < 0.7 ? 0.1 * noise(t)
               : bar < 0.9 ? 0.0
                           : tone(t, -45, 3000);
    };
    for (const int rate : {48000, 44100, 22050, 11025, 8000}) {
        SCOPED_TRACE(rate);
        const double seconds = 4.27;
        const Loudness ours = measure(seconds, wave, rate);

        ebur128_state* ref = ebur128_init(2, static_cast<unsigned long>(rate), EBUR128_MODE_I);
        ASSERT_NE(ref, nullptr);
        const size_t chunk = static_cast<size_t>((rate + 5) / 10);
        const size_t total = static_cast<size_t>(seconds * rate);
        std::vector<float> samples(chunk * 2);
        std::vector<int> want;
        for (size_t at = 0, n = 0; at + chunk <= total; at += chunk, ++n) {
            for (size_t i = 0; i < chunk; ++i)
                samples[2 * i] = samples[2 * i + 1] =
                    static_cast<float>(wave(static_cast<double>(at + i) / rate));
            ASSERT_EQ(ebur128_add_frames_float(ref, samples.data(), chunk), EBUR128_SUCCESS);
            double m = 0;
            if (n >= 3 && ebur128_loudness_momentary(ref, &m) == EBUR128_SUCCESS && std::isfinite(m)
                && m >= -70.0)
                want.push_back(static_cast<int>(std::lround(m / 0.01)));
        }
        double integrated = 0;
        ASSERT_EQ(ebur128_loudness_global(ref, &integrated), EBUR128_SUCCESS);
        ebur128_destroy(&ref);
        ASSERT_TRUE(ours.integrated.has_value());
        EXPECT_NEAR(*ours.integrated, integrated, 1e-6);
        std::sort(want.begin(), want.end());
        std::vector<int> got;
        for (const auto& [step, count] : ours.blocks)
            got.insert(got.end(), static_cast<size_t>(count), step);
        ASSERT_EQ(got.size(), want.size());
        ASSERT_GT(got.size(), 20u);
        for (size_t i = 0; i < got.size(); ++i)
            EXPECT_LE(std::abs(got[i] - want[i]), 1) << i;
    }
}

// An album's loudness is that of all its blocks together: the same as measuring the tracks as
// one sound, and not the mean of the tracks' loudness.
TEST(LoudnessBlocks, TracksTogetherAreOneSound)
{
    const Loudness loud = measure(6, [](double t) { return tone(t, -8); });
    const Loudness quiet = measure(3, [](double t) { return tone(t, -30); });
    const Loudness both = measure(9, [](double t) { return t < 6 ? tone(t, -8) : tone(t, -30); });
    const auto album = zmconv::gated_loudness({&loud, &quiet});
    ASSERT_TRUE(album && both.integrated);
    // Only the few blocks across the join differ.
    EXPECT_NEAR(*album, *both.integrated, 0.15);
    // The quiet track lies under the relative gate: the album is as loud as the loud one.
    EXPECT_NEAR(*album, *loud.integrated, 0.01);
    EXPECT_GT(std::abs(*album - (*loud.integrated + *quiet.integrated) / 2), 5.0);
}

TEST(LoudnessFile, RoundTripAndRefusals)
{
    const Loudness l = measure(3, [](double t) { return t < 2 ? tone(t, -12) : tone(t, -25); });
    const Loudness back = zmconv::parse_loudness_json(zmconv::loudness_json(l, true), "x.json");
    ASSERT_TRUE(back.integrated.has_value());
    EXPECT_NEAR(*back.integrated, *l.integrated, 1e-3);
    EXPECT_NEAR(back.range, l.range, 1e-3);
    EXPECT_NEAR(back.peak, l.true_peak, 1e-6);
    EXPECT_EQ(back.sample_rate, kRate);
    EXPECT_EQ(back.channels, 2);
    EXPECT_EQ(back.blocks, l.blocks);
    EXPECT_NEAR(zmconv::parse_loudness_json(zmconv::loudness_json(l, false), "x").peak,
                l.sample_peak, 1e-6);

    const Loudness silent = measure(1, [](double) { return 0.0; });
    EXPECT_FALSE(zmconv::parse_loudness_json(zmconv::loudness_json(silent, true), "s").integrated);

    const char* bad[] = {
        "",
        "[1, 2]",
        "{\"format\": \"zelmora-loudness\", \"version\": 1",
        "{\"format\": \"other\", \"version\": 1, \"block_step_lu\": 0.01, \"blocks\": []}",
        "{\"format\": \"zelmora-loudness\", \"version\": 2, \"block_step_lu\": 0.01, \"blocks\": "
        "[]}",
        "{\"format\": \"zelmora-loudness\", \"version\": 1, \"block_step_lu\": 0.1, \"blocks\": "
        "[]}",
        "{\"format\": \"zelmora-loudness\", \"version\": 1, \"block_step_lu\": 0.01}",
        "{\"format\": \"zelmora-loudness\", \"version\": 1, \"block_step_lu\": 0.01, "
        "\"blocks\": [[-2000]]}",
        "{\"format\": \"zelmora-loudness\", \"version\": 1, \"block_step_lu\": 0.01, "
        "\"blocks\": [[-2000, -4]]}",
        "{\"format\": \"zelmora-loudness\", \"version\": 1, \"block_step_lu\": 0.01, "
        "\"blocks\": []} trailing",
    };
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        try {
            zmconv::parse_loudness_json(text, "bad.json");
            ADD_FAILURE() << "accepted";
        } catch (const ConvError& e) {
            EXPECT_EQ(e.kind(), zmconv::Failure::Usage);
            EXPECT_NE(std::string(e.what()).find("bad.json"), std::string::npos);
        }
    }
}

TEST(LoudnessGain, LimitedByTheCeiling)
{
    struct Row {
        double loudness, target, peak, ceiling, gain;
    } rows[] = {
        {-30, -16, 0.05, -1, 14},                       // room under the ceiling
        {-20, -14, 0.8, -1, -1 - 20 * std::log10(0.8)}, // peaks hold it back
        {-8, -16, 1.4, -1, -8},                         // clipping sound is lowered anyway
        {-8, -16, 0.0, -1, -8},
    };
    for (const Row& r : rows)
        EXPECT_NEAR(zmconv::limited_gain(r.loudness, r.target, r.peak, r.ceiling), r.gain, 1e-9);
}

// Gain on the sample formats encoders take, integers rounded and held at full scale.
TEST(LoudnessGain, EverySampleFormat)
{
    struct Row {
        AVSampleFormat format;
        double in, gain, out;
    } rows[] = {
        {AV_SAMPLE_FMT_S16, 1000, 2.0, 2000},      {AV_SAMPLE_FMT_S16, 30000, 2.0, 32767},
        {AV_SAMPLE_FMT_S16P, -30000, 2.0, -32768}, {AV_SAMPLE_FMT_S32P, 1 << 20, 0.5, 1 << 19},
        {AV_SAMPLE_FMT_FLTP, 0.5, 0.25, 0.125},    {AV_SAMPLE_FMT_FLT, -0.5, 3.0, -1.5},
        {AV_SAMPLE_FMT_DBL, 0.1, 10.0, 1.0},       {AV_SAMPLE_FMT_U8, 138, 2.0, 148},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(av_get_sample_fmt_name(r.format));
        AVFrame* f = av_frame_alloc();
        f->format = r.format;
        f->nb_samples = 3;
        AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        av_channel_layout_copy(&f->ch_layout, &stereo);
        ASSERT_EQ(av_frame_get_buffer(f, 0), 0);
        const bool planar = av_sample_fmt_is_planar(r.format);
        auto each = [&](const std::function<void(uint8_t*, int)>& fn) {
            for (int p = 0; p < (planar ? 2 : 1); ++p)
                for (int i = 0; i < (planar ? 3 : 6); ++i)
                    fn(f->extended_data[p], i);
        };
        auto put = [&](uint8_t* d, int i) {
            switch (av_get_packed_sample_fmt(r.format)) {
            case AV_SAMPLE_FMT_S16:
                reinterpret_cast<int16_t*>(d)[i] = static_cast<int16_t>(r.in);
                break;
            case AV_SAMPLE_FMT_S32:
                reinterpret_cast<int32_t*>(d)[i] = static_cast<int32_t>(r.in);
                break;
            case AV_SAMPLE_FMT_FLT:
                reinterpret_cast<float*>(d)[i] = static_cast<float>(r.in);
                break;
            case AV_SAMPLE_FMT_DBL:
                reinterpret_cast<double*>(d)[i] = r.in;
                break;
            default:
                d[i] = static_cast<uint8_t>(r.in);
                break;
            }
        };
        each(put);
        zmconv::apply_gain(f, r.gain);
        each([&](uint8_t* d, int i) {
            double v = 0;
            switch (av_get_packed_sample_fmt(r.format)) {
            case AV_SAMPLE_FMT_S16:
                v = reinterpret_cast<int16_t*>(d)[i];
                break;
            case AV_SAMPLE_FMT_S32:
                v = reinterpret_cast<int32_t*>(d)[i];
                break;
            case AV_SAMPLE_FMT_FLT:
                v = reinterpret_cast<float*>(d)[i];
                break;
            case AV_SAMPLE_FMT_DBL:
                v = reinterpret_cast<double*>(d)[i];
                break;
            default:
                v = d[i];
                break;
            }
            EXPECT_NEAR(v, r.out, 1e-6);
        });
        av_frame_free(&f);
    }
}

// The texts of the tags: ReplayGain gains always nine characters (so a value fits the place kept
// for it in the file's header), peaks eight, Opus gains Q7.8 in six.
TEST(LoudnessTags, TextsPerFormat)
{
    Loudness track;
    track.true_peak = 0.9;
    track.sample_peak = 0.8;
    conv::Album album;
    album.peak = 0.95;
    struct Row {
        double loudness;
        const char* gain;
        const char* r128;
    } rows[] = {
        {-20.5, "+2.500 dB", "-00640"},   {-5.0, "-13.00 dB", "-04608"},
        {-18.0, "+0.000 dB", "-01280"},   {-60.0, "+42.00 dB", "009472"},
        {-8.0012, "-9.999 dB", "-03840"}, {-7.9999, "-10.00 dB", "-03840"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.loudness);
        track.integrated = r.loudness;
        album.loudness = r.loudness;
        const auto tags = conv::gain_tags(conv::TagStyle::Header, &track, false, &album);
        ASSERT_EQ(tags.size(), 4u);
        EXPECT_EQ(tags[0],
                  std::make_pair(std::string("REPLAYGAIN_TRACK_GAIN"), std::string(r.gain)));
        EXPECT_EQ(tags[1].second, "0.900000");
        EXPECT_EQ(tags[2].second, r.gain);
        EXPECT_EQ(tags[3].second, "0.950000");
        EXPECT_EQ(conv::gain_tags(conv::TagStyle::Header, &track, true, nullptr)[1].second,
                  "0.800000");
        const auto opus = conv::gain_tags(conv::TagStyle::Opus, &track, false, &album);
        ASSERT_EQ(opus.size(), 2u);
        EXPECT_EQ(opus[0], std::make_pair(std::string("R128_TRACK_GAIN"), std::string(r.r128)));
        EXPECT_EQ(opus[1].first, "R128_ALBUM_GAIN");
    }
    EXPECT_TRUE(conv::gain_tags(conv::TagStyle::None, &track, false, &album).empty());
    track.integrated.reset();
    EXPECT_TRUE(conv::gain_tags(conv::TagStyle::Header, &track, false, nullptr).empty());
}

// Values written over their placeholders: an Ogg page gets a right checksum again, UTF-16 (ASF)
// places are found too, a missing place or a value of another width is refused.
TEST(LoudnessTags, PlaceholdersFilledInPlace)
{
    // One Ogg page: header, a segment table of one lacing value, the body.
    const std::string body = "\x03vorbis....REPLAYGAIN_TRACK_GAIN={zmRG-tg}....";
    std::string page =
        std::string("OggS") + std::string(22, '\0') + char(1) + char(body.size()) + body;
    auto stored = [](const std::string& p) {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= uint32_t(uint8_t(p[22 + i])) << (8 * i);
        return v;
    };
    std::string file = page + "OggS-the-sound-follows";
    ASSERT_TRUE(zmconv::patch_tags_in(file, {{"{zmRG-tg}", "-12.34 dB"}}));
    EXPECT_NE(file.find("REPLAYGAIN_TRACK_GAIN=-12.34 dB"), std::string::npos);
    const std::string patched = file.substr(0, page.size());
    EXPECT_EQ(stored(patched),
              zmconv::ogg_page_crc(reinterpret_cast<const unsigned char*>(patched.data()),
                                   patched.size()));
    EXPECT_NE(stored(patched), 0u);
    EXPECT_EQ(file.substr(page.size()), "OggS-the-sound-follows");

    std::string wide;
    for (char c : std::string("x{zmRGtp}y")) {
        wide += c;
        wide += '\0';
    }
    ASSERT_TRUE(zmconv::patch_tags_in(wide, {{"{zmRGtp}", "0.500000"}}));
    EXPECT_EQ(wide.find(std::string("0\0.\0005", 5)), 2u);

    std::string none = "no place here";
    EXPECT_FALSE(zmconv::patch_tags_in(none, {{"{zmRt}", "-00256"}}));
    EXPECT_THROW(zmconv::patch_tags_in(file, {{"{zmRt}", "-256"}}), ConvError);
}

// Freeform atoms go into moov/udta/meta/ilst, made where missing, replacing items of the same
// name and keeping the others; every box's size stays right.
TEST(LoudnessTags, Mp4FreeformAtoms)
{
    auto box = [](const std::string& type, const std::string& body) {
        const uint32_t n = static_cast<uint32_t>(body.size() + 8);
        return std::string{char(n >> 24), char(n >> 16), char(n >> 8), char(n)} + type + body;
    };
    const std::string mvhd = box("mvhd", std::string(100, '\1'));
    // Checks every box's size down the udta path and returns the ilst items' types and names.
    std::function<void(const std::string&, size_t, size_t, std::vector<std::string>&)> walk =
        [&](const std::string& s, size_t from, size_t to, std::vector<std::string>& items) {
            size_t at = from;
            while (at < to) {
                const uint32_t size = (uint32_t(uint8_t(s[at])) << 24)
                                      | (uint32_t(uint8_t(s[at + 1])) << 16)
                                      | (uint32_t(uint8_t(s[at + 2])) << 8) | uint8_t(s[at + 3]);
                ASSERT_GE(size, 8u);
                ASSERT_LE(at + size, to);
                const std::string type = s.substr(at + 4, 4);
                if (type == "udta" || type == "moov")
                    walk(s, at + 8, at + size, items);
                else if (type == "meta")
                    walk(s, at + 12, at + size, items);
                else if (type == "ilst") {
                    size_t i = at + 8;
                    while (i < at + size) {
                        const uint32_t n = (uint32_t(uint8_t(s[i])) << 24)
                                           | (uint32_t(uint8_t(s[i + 1])) << 16)
                                           | (uint32_t(uint8_t(s[i + 2])) << 8) | uint8_t(s[i + 3]);
                        const std::string item = s.substr(i, n);
                        const auto name = item.find("name");
                        const auto data = item.find("data");
                        items.push_back(item.substr(4, 4)
                                        + (name == std::string::npos
                                               ? ""
                                               : ":" + item.substr(name + 8, data - 4 - name - 8)
                                                     + "=" + item.substr(data + 12)));
                        i += n;
                    }
                }
                at += size;
            }
            EXPECT_EQ(at, to);
        };
    const std::string bare = box("moov", mvhd);
    const std::string once =
        zmconv::movie_box_with_tags(bare, {{"REPLAYGAIN_TRACK_GAIN", "-1.00 dB"}});
    std::vector<std::string> items;
    walk(once, 0, once.size(), items);
    EXPECT_EQ(items, std::vector<std::string>{"----:REPLAYGAIN_TRACK_GAIN=-1.00 dB"});
    EXPECT_NE(once.find("mdir"), std::string::npos);
    EXPECT_EQ(once.substr(8, mvhd.size()), mvhd);

    // Existing title kept; a same-named freeform item (any case) replaced, not repeated.
    const std::string title = box("\xa9nam", box("data", std::string(8, '\0') + "Song"));
    const std::string old_gain =
        box("----", box("mean", std::string(4, '\0') + "com.apple.iTunes")
                        + box("name", std::string(4, '\0') + "replaygain_track_gain")
                        + box("data", std::string(8, '\0') + "+9.00 dB"));
    const std::string tagged =
        box("moov",
            mvhd + box("udta", box("meta", std::string(4, '\0') + box("ilst", title + old_gain))));
    const std::string again = zmconv::movie_box_with_tags(
        tagged, {{"REPLAYGAIN_TRACK_GAIN", "-2.00 dB"}, {"REPLAYGAIN_ALBUM_GAIN", "-3.00 dB"}});
    items.clear();
    walk(again, 0, again.size(), items);
    EXPECT_EQ(items, (std::vector<std::string>{"\xa9nam", "----:REPLAYGAIN_TRACK_GAIN=-2.00 dB",
                                               "----:REPLAYGAIN_ALBUM_GAIN=-3.00 dB"}));
    EXPECT_THROW(zmconv::movie_box_with_tags("not a box", {}), ConvError);
}
