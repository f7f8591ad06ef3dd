#include "chime.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <vector>

namespace skin::chime {
namespace {

// One bell-like note: a few partials, each dying away at its own pace,
// with a short attack so the start does not click.
double note(double t, double freq)
{
    if (t < 0)
        return 0;
    const double attack = std::min(1.0, t / 0.006);
    const double partials[3][3] = {
        // ratio, level, decay time
        {1.0, 1.00, 0.20},
        {2.0, 0.30, 0.09},
        {3.01, 0.10, 0.05},
    };
    double v = 0;
    for (const auto &pt : partials)
        v += pt[1] * std::exp(-t / pt[2]) * std::sin(2 * M_PI * freq * pt[0] * t);
    return attack * v;
}

void putLE16(QByteArray &b, quint16 v)
{
    char c[2];
    qToLittleEndian(v, c);
    b.append(c, 2);
}

void putLE32(QByteArray &b, quint32 v)
{
    char c[4];
    qToLittleEndian(v, c);
    b.append(c, 4);
}

} // namespace

QByteArray wav()
{
    const int frames = static_cast<int>(kRate * kSeconds);
    std::vector<double> samples(frames);
    double peak = 0;
    for (int i = 0; i < frames; ++i) {
        const double t = double(i) / kRate;
        // A5 then E6, a rising fifth.
        double v = 0.8 * note(t, 880.0) + 0.9 * note(t - 0.13, 1318.51);
        const double tail = kSeconds - t;
        if (tail < 0.04)
            v *= tail / 0.04; // end exactly at silence
        samples[i] = v;
        peak = std::max(peak, std::fabs(v));
    }
    const double gain = peak > 0 ? 0.6 / peak : 0; // about -4.4 dBFS

    QByteArray data;
    data.reserve(frames * 2);
    for (double s : samples)
        putLE16(data, static_cast<quint16>(static_cast<qint16>(std::lround(s * gain * 32767))));

    QByteArray out;
    out.append("RIFF", 4);
    putLE32(out, 36 + data.size());
    out.append("WAVE", 4);
    out.append("fmt ", 4);
    putLE32(out, 16);
    putLE16(out, 1); // PCM
    putLE16(out, 1); // mono
    putLE32(out, kRate);
    putLE32(out, kRate * 2); // bytes per second
    putLE16(out, 2);         // block align
    putLE16(out, 16);        // bits per sample
    out.append("data", 4);
    putLE32(out, data.size());
    out.append(data);
    return out;
}

} // namespace skin::chime
