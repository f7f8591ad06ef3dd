// The sample peak and the true peak of a stream of sound, as ITU-R BS.1770 estimates the true
// peak: each channel oversampled (4x under 96 kHz, 2x under 192 kHz, not at all above) by a
// 49-tap windowed-sinc interpolator (Hann window), the peak being the largest magnitude among
// the samples and the values between them. The interpolator works on each of its phases as a
// short filter in single precision, several samples at a time, which keeps it a small part of a
// conversion; its values agree with libebur128's own (same filter) to far better than 0.01 dB.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

namespace zmconv {

class TruePeak
{
public:
    // How the interpolator computes: one value at a time, or several at a time with the
    // processor's vector instructions (SSE2: four, AVX2 with FMA: eight).
    enum class Kernel { OneByOne, ByFour, ByEight };
    // The kernels this processor runs, the fastest last.
    static std::vector<Kernel> kernels();

    // Without a kernel, the fastest one.
    TruePeak(int channels, int sample_rate, std::optional<Kernel> kernel = std::nullopt);

    // Interleaved samples, `frames` of them per channel, full scale at 1.0.
    void add(const float* samples, size_t frames);

    // The largest magnitude of any channel so far (linear); the true peak is never under the
    // sample peak.
    double sample_peak() const;
    double true_peak() const;
    // Whether the sound is oversampled at all (false from 192 kHz: the true peak is the sample
    // peak there).
    bool oversampling() const { return m_taps > 0; }

private:
    Kernel m_kernel;
    int m_channels;
    int m_phases = 0; // interpolated phases (the factor less the one that is the sample itself)
    int m_taps = 0;   // taps of each interpolated phase
    std::vector<float> m_coeff;   // m_phases x m_taps, tap k weighs the sample k steps back
    std::vector<float> m_history; // per channel, the last m_taps - 1 samples
    std::vector<float> m_work;    // one channel's history and new samples
    std::vector<float> m_sample_peak;
    std::vector<float> m_true_peak;
};

} // namespace zmconv
