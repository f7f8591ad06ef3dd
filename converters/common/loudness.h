// Loudness of a stream of sound after EBU R 128 (ITU-R BS.1770), measured with libebur128:
// integrated loudness, loudness range, sample and true peak, and the gating blocks that let the
// loudness of several tracks be worked out together (an album's is the integrated loudness over
// all its 400 ms blocks, not an average of its tracks). libebur128 weights the sound and gives
// the loudness of its windows and the loudness range; the blocks are gated here (as libebur128
// gates them) and the true peak comes from common/true_peak.h, both for speed.
//
// The blocks are kept as a histogram of their loudness in steps of 0.01 LU (block counts by
// step), which is what combining needs and stays small however long the sound is. The file
// written by "-loudness-out" holds it beside the track's own values:
//
//   {"format": "zelmora-loudness", "version": 1, "integrated_lufs": -20.13,
//    "range_lu": 3.2, "true_peak": 0.316, "sample_peak": 0.312, "peak": 0.316,
//    "peak_kind": "true", "sample_rate": 44100, "channels": 2, "seconds": 180.0,
//    "block_step_lu": 0.01, "blocks": [[-2013, 12], [-2012, 40], ...]}
//
// where each pair of "blocks" is a step (loudness = step x 0.01 LUFS) and how many blocks of
// the sound had that loudness (blocks under the absolute gate of -70 LUFS are left out).
// Silence has an integrated loudness of null.
#pragma once

#include "common/av_owner.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zmconv {

// The reference levels of ReplayGain 2.0 and of Opus's R128 gain tags.
constexpr double kReplayGainReference = -18.0;
constexpr double kR128Reference = -23.0;

struct Loudness {
    std::optional<double> integrated; // LUFS; none for silence (no block above the gates)
    double range = 0;                 // LU
    double true_peak = 0;             // linear, 1.0 = full scale
    double sample_peak = 0;           // linear
    double peak = 0; // what a peak tag carries (one of the two); read from a measurement file
    int sample_rate = 0;
    int channels = 0;
    double seconds = 0;
    std::map<int, int64_t> blocks; // step (0.01 LU) -> number of 400 ms blocks
};

// Integrated loudness of the blocks of several tracks together, gated as for one (absolute gate
// -70 LUFS, relative gate 10 LU under the loudness of the blocks above the absolute gate); none
// when no block passes the gates.
std::optional<double> gated_loudness(const std::vector<const Loudness*>& tracks);

// The JSON text of a measurement (see above); peak is the value a tag should carry, true_kind
// whether it is the true peak (else the sample peak).
std::string loudness_json(const Loudness& l, bool true_kind);
// Reads such a text. Throws ConvError(Failure::Usage) naming `name` when it is not one.
Loudness parse_loudness_json(const std::string& text, const std::string& name);

class LoudnessMeter
{
public:
    // Sound of this layout and rate; any sample format. Throws ConvError(Failure::Codec).
    LoudnessMeter(const AVChannelLayout& layout, int sample_rate);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    // Adds a frame of the layout and rate given (its own sample format).
    void add(const AVFrame* frame);
    // The measurement of everything added so far.
    Loudness result();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    void feed(const float* samples, int count);
};

// Gain in dB that brings `loudness` to `target`, lowered where needed so that a sound whose peak
// is `peak` (linear) stays at or under `ceiling_db` (dBFS / dBTP).
double limited_gain(double loudness, double target, double peak, double ceiling_db);

// Multiplies the samples of a frame by a linear gain in place (any sample format; integer
// samples are rounded and held at full scale). The frame must be writable.
void apply_gain(AVFrame* frame, double gain);

// Tag texts as ReplayGain scanners write them: "-3.21 dB", "0.912345", and the Q7.8 integer of
// the Opus R128 tags ("-1234").
std::string replaygain_gain_text(double db);
std::string replaygain_peak_text(double peak);
std::string r128_gain_text(double db);

} // namespace zmconv
