// The true peak against libebur128's own (the reference implementation of the same filter), on
// signals whose peaks lie between samples, across rates and channel counts, fed in pieces of
// uneven sizes, with each way of computing that the processor offers.
#include "common/true_peak.h"

extern "C" {
#include <ebur128.h>
}

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

namespace {

struct Case {
    std::string name;
    int rate;
    int channels;
    // Sample of channel c at frame i.
    std::function<float(int64_t i, int c, int rate)> wave;
};

float sine(double freq, double phase, double amp, int64_t i, int rate)
{
    return static_cast<float>(
        amp * std::sin(2 * std::numbers::pi * freq * static_cast<double>(i) / rate + phase));
}

double db(double v)
{
    return 20 * std::log10(v);
}

TEST(TruePeak, AgreesWithLibebur128)
{
    auto noise = [](int64_t i, int c, int) {
        // A fixed pseudo-random sequence per sample, so any piece size gives the same sound.
        uint64_t h = static_cast<uint64_t>(i * 8 + c) * 0x9E3779B97F4A7C15ull;
        h ^= h >> 29;
        h *= 0xBF58476D1CE4E5B9ull;
        h ^= h >> 32;
        return static_cast<float>(static_cast<double>(h >> 11) / 9007199254740992.0 * 1.8 - 0.9);
    };
    const std::vector<Case> cases = {
        {"quarter rate at 45 degrees", 48000, 1,
         [](int64_t i, int, int r) { return sine(r / 4.0, std::numbers::pi / 4, 0.9, i, r); }},
        {"near Nyquist", 44100, 2,
         [](int64_t i, int c, int r) { return sine(r * 0.45, c * 0.7, 0.8, i, r); }},
        {"closer to Nyquist", 8000, 1,
         [](int64_t i, int, int r) { return sine(r * 0.49, 0.3, 0.7, i, r); }},
        {"noise", 22050, 2, noise},
        {"noise six channels", 48000, 6, noise},
        {"clipped square", 11025, 2,
         [](int64_t i, int c, int) { return ((i / (37 + c)) % 2) ? 1.0f : -1.0f; }},
        {"loud sine clipped", 32000, 1,
         [](int64_t i, int, int r) {
             return std::clamp(sine(1000.0, 0.1, 1.6, i, r), -1.0f, 1.0f);
         }},
        {"one channel silent", 16000, 2,
         [](int64_t i, int c, int r) { return c ? 0.0f : sine(r * 0.3, 1.0, 0.5, i, r); }},
        {"2x oversampling", 96000, 2,
         [](int64_t i, int c, int r) { return sine(r * 0.47, c, 0.9, i, r); }},
        {"no oversampling", 192000, 1,
         [](int64_t i, int, int r) { return sine(r * 0.4, 0.2, 0.6, i, r); }},
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(t.name + " at " + std::to_string(t.rate));
        const int64_t frames = t.rate / 2 + 13; // not a whole number of pieces
        std::vector<float> sound(static_cast<size_t>(frames * t.channels));
        for (int64_t i = 0; i < frames; ++i)
            for (int c = 0; c < t.channels; ++c)
                sound[static_cast<size_t>(i * t.channels + c)] = t.wave(i, c, t.rate);

        std::vector<zmconv::TruePeak> ours;
        for (const zmconv::TruePeak::Kernel k : zmconv::TruePeak::kernels())
            ours.emplace_back(t.channels, t.rate, k);
        ebur128_state* ref =
            ebur128_init(static_cast<unsigned>(t.channels), static_cast<unsigned long>(t.rate),
                         EBUR128_MODE_TRUE_PEAK | EBUR128_MODE_SAMPLE_PEAK);
        ASSERT_NE(ref, nullptr);
        const int64_t pieces[] = {1, 3, 1151, 4096, 5};
        int64_t at = 0;
        for (int n = 0; at < frames; ++n) {
            const int64_t take = std::min(pieces[n % 5], frames - at);
            const float* p = sound.data() + at * t.channels;
            for (zmconv::TruePeak& o : ours)
                o.add(p, static_cast<size_t>(take));
            ASSERT_EQ(ebur128_add_frames_float(ref, p, static_cast<size_t>(take)), EBUR128_SUCCESS);
            at += take;
        }
        double ref_true = 0;
        double ref_sample = 0;
        for (int c = 0; c < t.channels; ++c) {
            double v = 0;
            ebur128_true_peak(ref, static_cast<unsigned>(c), &v);
            ref_true = std::max(ref_true, v);
            ebur128_sample_peak(ref, static_cast<unsigned>(c), &v);
            ref_sample = std::max(ref_sample, v);
        }
        ebur128_destroy(&ref);
        for (size_t k = 0; k < ours.size(); ++k) {
            SCOPED_TRACE("kernel " + std::to_string(k));
            EXPECT_DOUBLE_EQ(ours[k].sample_peak(), ref_sample);
            EXPECT_NEAR(db(ours[k].true_peak()), db(std::max(ref_true, ref_sample)), 0.01);
            EXPECT_GE(ours[k].true_peak(), ours[k].sample_peak());
        }
    }
}

TEST(TruePeak, BetweenSamplesAboveTheSamples)
{
    // A sine at a quarter of the rate sampled 45 degrees off its crests: every sample is at
    // 0.707 of the crest (3 dB under it), the true peak is the crest within the filter's ripple.
    zmconv::TruePeak peak(1, 48000);
    std::vector<float> s(48000);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = sine(12000.0, std::numbers::pi / 4, 0.5, static_cast<int64_t>(i), 48000);
    peak.add(s.data(), s.size());
    EXPECT_NEAR(peak.sample_peak(), 0.5 * std::sqrt(0.5), 1e-6);
    EXPECT_NEAR(db(peak.true_peak()), db(0.5), 0.15);
    EXPECT_TRUE(peak.oversampling());

    zmconv::TruePeak silent(2, 44100);
    const float zeros[8] = {};
    silent.add(zeros, 4);
    EXPECT_EQ(silent.true_peak(), 0.0);
}

} // namespace
