#include "batchstatus.h"

#include <algorithm>
#include <cmath>

namespace zm {

namespace {
// Below this much wall time or media the speed says too little to estimate anything.
constexpr qint64 kMinElapsedMs = 2000;
constexpr double kMinDoneMedia = 0.5;
const QString kDot = QStringLiteral(" \u00b7 ");
} // namespace

QString formatClock(qint64 seconds)
{
    seconds = std::max<qint64>(seconds, 0);
    const qint64 h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    const QString ss = QStringLiteral("%1").arg(s, 2, 10, QLatin1Char('0'));
    if (h > 0)
        return QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, QLatin1Char('0')).arg(ss);
    return QStringLiteral("%1:%2").arg(m).arg(ss);
}

void BatchStatus::setCut(bool on, qint64 from, qint64 length)
{
    m_cutOn = on;
    m_cutFrom = std::max<qint64>(from, 0);
    m_cutLength = std::max<qint64>(length, 0);
}

std::optional<double> BatchStatus::effective(std::optional<double> seconds) const
{
    if (!m_cutOn)
        return seconds;
    if (!seconds)
        return double(m_cutLength); // the cut is at most this long
    return std::clamp(*seconds - double(m_cutFrom), 0.0, double(m_cutLength));
}

void BatchStatus::begin(qint64 nowMs)
{
    const bool on = m_cutOn;
    const qint64 from = m_cutFrom, length = m_cutLength;
    *this = BatchStatus();
    setCut(on, from, length);
    m_startMs = nowMs;
}

void BatchStatus::fileStarted(std::optional<double> probedSeconds)
{
    m_fileRunning = true;
    m_current = effective(probedSeconds);
    m_position = 0;
}

void BatchStatus::setCurrentDuration(double seconds)
{
    m_current = effective(seconds);
}

void BatchStatus::setCurrentPosition(double seconds)
{
    m_position = std::max(seconds, 0.0);
}

void BatchStatus::fileEnded(bool converted)
{
    if (!m_fileRunning)
        return;
    m_fileRunning = false;
    (converted ? m_converted : m_failed) += 1;
    // A finished file counts in full; a failed one only as far as it got.
    if (m_current) {
        m_doneMedia += converted ? *m_current : std::min(m_position, *m_current);
        m_knownSum += *m_current;
        ++m_knownCount;
    } else {
        m_doneMedia += m_position;
    }
    m_current.reset();
    m_position = 0;
}

void BatchStatus::setWaiting(const QList<std::optional<double>> &seconds)
{
    m_waiting.clear();
    for (const auto &s : seconds)
        m_waiting << effective(s);
}

std::optional<qint64> BatchStatus::secondsLeft(qint64 nowMs) const
{
    const qint64 elapsed = nowMs - m_startMs;
    const double running = m_fileRunning ? (m_current ? std::min(m_position, *m_current) : m_position) : 0.0;
    const double done = m_doneMedia + running;
    if (elapsed < kMinElapsedMs || done < kMinDoneMedia)
        return std::nullopt;

    double knownSum = m_knownSum;
    int knownCount = m_knownCount;
    if (m_fileRunning && m_current)
        knownSum += *m_current, ++knownCount;
    for (const auto &w : m_waiting)
        if (w)
            knownSum += *w, ++knownCount;
    const std::optional<double> mean = knownCount > 0 ? std::optional<double>(knownSum / knownCount) : std::nullopt;

    double remaining = 0;
    if (m_fileRunning) {
        const std::optional<double> length = m_current ? m_current : mean;
        if (!length)
            return std::nullopt;
        remaining += std::max(*length - m_position, 0.0);
    }
    for (const auto &w : m_waiting) {
        const std::optional<double> length = w ? w : mean;
        if (!length)
            return std::nullopt;
        remaining += *length;
    }
    const double speed = done / (double(elapsed) / 1000.0);
    return qint64(std::ceil(remaining / speed));
}

QString BatchStatus::text(qint64 nowMs) const
{
    const int index = m_converted + m_failed + (m_fileRunning ? 1 : 0);
    const int total = m_converted + m_failed + (m_fileRunning ? 1 : 0) + int(m_waiting.size());
    QString t = QStringLiteral("Converting %1 of %2").arg(std::max(index, 1)).arg(std::max(total, 1));
    if (const auto left = secondsLeft(nowMs))
        t += kDot + QStringLiteral("about ") + formatClock(*left) + QStringLiteral(" left");
    return t;
}

QString BatchStatus::summary(qint64 nowMs, bool stopped) const
{
    QString t = stopped ? QStringLiteral("Stopped") + kDot : QString();
    t += QStringLiteral("%1 converted").arg(m_converted);
    if (m_failed > 0)
        t += QStringLiteral(", %1 failed").arg(m_failed);
    return t + kDot + formatClock((nowMs - m_startMs) / 1000);
}

} // namespace zm
