#include "common/true_peak.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace zmconv {

namespace {

constexpr int kFilterTaps = 49;

// The values of one channel's interpolated phases from sample `from` on, one at a time; returns
// the largest magnitude. x points at the first new sample and has Taps - 1 samples of history
// before it; coeff holds Phases rows of Taps weights.
template <int Taps, int Phases>
float peak_one_by_one(const float* x, size_t from, size_t n, const float* coeff)
{
    float peak = 0;
    for (size_t i = from; i < n; ++i)
        for (int p = 0; p < Phases; ++p) {
            float acc = 0;
            for (int k = 0; k < Taps; ++k)
                acc += coeff[p * Taps + k] * x[static_cast<std::ptrdiff_t>(i) - k];
            peak = std::max(peak, std::abs(acc));
        }
    return peak;
}

#if defined(__x86_64__) || defined(__i386__)
// Four values of each phase at a time (SSE2, which every x86-64 has).
template <int Taps, int Phases>
float peak_by_four(const float* x, size_t n, const float* coeff)
{
    __m128 c[Phases][Taps];
    for (int p = 0; p < Phases; ++p)
        for (int k = 0; k < Taps; ++k)
            c[p][k] = _mm_set1_ps(coeff[p * Taps + k]);
    const __m128 sign = _mm_set1_ps(-0.0f);
    __m128 top = _mm_setzero_ps();
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        __m128 acc[Phases];
        for (int p = 0; p < Phases; ++p)
            acc[p] = _mm_setzero_ps();
        for (int k = 0; k < Taps; ++k) {
            const __m128 v = _mm_loadu_ps(x + i - k);
            for (int p = 0; p < Phases; ++p)
                acc[p] = _mm_add_ps(acc[p], _mm_mul_ps(c[p][k], v));
        }
        for (int p = 0; p < Phases; ++p)
            top = _mm_max_ps(_mm_andnot_ps(sign, acc[p]), top); // a NaN leaves top
    }
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, top);
    const float peak = std::max(std::max(lanes[0], lanes[1]), std::max(lanes[2], lanes[3]));
    return std::max(peak, peak_one_by_one<Taps, Phases>(x, i, n, coeff));
}

// Eight at a time with fused multiply-adds, on processors that have them.
template <int Taps, int Phases>
__attribute__((target("avx2,fma"))) float peak_by_eight(const float* x, size_t n,
                                                        const float* coeff)
{
    __m256 c[Phases][Taps];
    for (int p = 0; p < Phases; ++p)
        for (int k = 0; k < Taps; ++k)
            c[p][k] = _mm256_set1_ps(coeff[p * Taps + k]);
    const __m256 sign = _mm256_set1_ps(-0.0f);
    __m256 top = _mm256_setzero_ps();
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        __m256 acc[Phases];
        for (int p = 0; p < Phases; ++p)
            acc[p] = _mm256_setzero_ps();
        for (int k = 0; k < Taps; ++k) {
            const __m256 v = _mm256_loadu_ps(x + i - k);
            for (int p = 0; p < Phases; ++p)
                acc[p] = _mm256_fmadd_ps(c[p][k], v, acc[p]);
        }
        for (int p = 0; p < Phases; ++p)
            top = _mm256_max_ps(_mm256_andnot_ps(sign, acc[p]), top);
    }
    alignas(32) float lanes[8];
    _mm256_store_ps(lanes, top);
    float peak = 0;
    for (const float v : lanes)
        peak = std::max(peak, v);
    return std::max(peak, peak_one_by_one<Taps, Phases>(x, i, n, coeff));
}
#endif

template <int Taps, int Phases>
float interpolated_peak(TruePeak::Kernel kernel, const float* x, size_t n, const float* coeff)
{
#if defined(__x86_64__) || defined(__i386__)
    if (kernel == TruePeak::Kernel::ByEight)
        return peak_by_eight<Taps, Phases>(x, n, coeff);
    if (kernel == TruePeak::Kernel::ByFour)
        return peak_by_four<Taps, Phases>(x, n, coeff);
#endif
    return peak_one_by_one<Taps, Phases>(x, 0, n, coeff);
}

} // namespace

std::vector<TruePeak::Kernel> TruePeak::kernels()
{
    std::vector<Kernel> all{Kernel::OneByOne};
#if defined(__x86_64__) || defined(__i386__)
    all.push_back(Kernel::ByFour);
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
        all.push_back(Kernel::ByEight);
#endif
    return all;
}

TruePeak::TruePeak(int channels, int sample_rate, std::optional<Kernel> kernel)
    : m_kernel(kernel ? *kernel : kernels().back()), m_channels(std::max(channels, 1)),
      m_sample_peak(static_cast<size_t>(m_channels), 0.0f),
      m_true_peak(static_cast<size_t>(m_channels), 0.0f)
{
    const int factor = sample_rate < 96000 ? 4 : sample_rate < 192000 ? 2 : 1;
    if (factor == 1)
        return;
    // Phase 0 of the interpolator weighs only the sample itself (the sinc is zero at every other
    // multiple of the factor, the window at both ends): the sample peak covers it.
    m_phases = factor - 1;
    m_taps = (kFilterTaps + factor - 2) / factor;
    m_coeff.assign(static_cast<size_t>(m_phases) * static_cast<size_t>(m_taps), 0.0f);
    for (int j = 0; j < kFilterTaps; ++j) {
        const int phase = j % factor;
        if (phase == 0)
            continue;
        const double m = j - (kFilterTaps - 1) / 2.0;
        const double x = m * std::numbers::pi / factor;
        const double window = 0.5 * (1 - std::cos(2 * std::numbers::pi * j / (kFilterTaps - 1)));
        m_coeff[(static_cast<size_t>(phase) - 1) * static_cast<size_t>(m_taps)
                + static_cast<size_t>(j / factor)] = static_cast<float>(std::sin(x) / x * window);
    }
    m_history.assign(static_cast<size_t>(m_channels) * (static_cast<size_t>(m_taps) - 1), 0.0f);
}

void TruePeak::add(const float* samples, size_t frames)
{
    if (frames == 0)
        return;
    const size_t ch = static_cast<size_t>(m_channels);
    const size_t history = m_taps > 0 ? static_cast<size_t>(m_taps - 1) : 0;
    m_work.resize(history + frames);
    for (size_t c = 0; c < ch; ++c) {
        float* w = m_work.data();
        float* h = m_history.data() + c * history;
        if (history > 0) // without taps (no oversampling) there is no history, and no buffer
            std::memcpy(w, h, history * sizeof(float));
        float peak = m_sample_peak[c];
        for (size_t i = 0; i < frames; ++i) {
            const float v = samples[i * ch + c];
            w[history + i] = v;
            peak = std::max(peak, std::abs(v));
        }
        m_sample_peak[c] = peak;
        if (m_taps == 0)
            continue;
        const float* x = w + history;
        float tp = 0;
        if (m_taps == 12 && m_phases == 3)
            tp = interpolated_peak<12, 3>(m_kernel, x, frames, m_coeff.data());
        else
            tp = interpolated_peak<24, 1>(m_kernel, x, frames, m_coeff.data());
        m_true_peak[c] = std::max(m_true_peak[c], tp);
        if (history > 0)
            std::memcpy(h, w + frames, history * sizeof(float));
    }
}

double TruePeak::sample_peak() const
{
    return *std::max_element(m_sample_peak.begin(), m_sample_peak.end());
}

double TruePeak::true_peak() const
{
    return std::max(sample_peak(), static_cast<double>(m_true_peak.empty()
                                                           ? 0.0f
                                                           : *std::max_element(m_true_peak.begin(),
                                                                               m_true_peak.end())));
}

} // namespace zmconv
