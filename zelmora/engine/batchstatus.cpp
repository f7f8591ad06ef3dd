#include "engine/batchstatus.h"

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

void BatchStatus::fileStarted(int id, std::optional<double> probedSeconds)
{
    m_running.insert(id, Running{effective(probedSeconds), 0});
}

void BatchStatus::setCurrentDuration(int id, double seconds)
{
    const auto it = m_running.find(id);
    if (it != m_running.end())
        it->length = effective(seconds);
}

void BatchStatus::setCurrentPosition(int id, double seconds)
{
    const auto it = m_running.find(id);
    if (it != m_running.end())
        it->position = std::max(seconds, 0.0);
}

void BatchStatus::fileEnded(int id, bool converted)
{
    const auto it = m_running.find(id);
    if (it == m_running.end())
        return;
    const Running file = *it;
    m_running.erase(it);
    (converted ? m_converted : m_failed) += 1;
    // A finished file counts in full; a failed one only as far as it got.
    if (file.length) {
        m_doneMedia += converted ? *file.length : std::min(file.position, *file.length);
        m_knownSum += *file.length;
        ++m_knownCount;
    } else {
        m_doneMedia += file.position;
        ++m_unknownCount;
    }
}

void BatchStatus::setWaiting(const QList<std::optional<double>> &seconds)
{
    m_waiting.clear();
    for (const auto &s : seconds)
        m_waiting << effective(s);
}

std::optional<double> BatchStatus::meanLength() const
{
    double knownSum = m_knownSum;
    int knownCount = m_knownCount;
    for (const Running &r : m_running)
        if (r.length)
            knownSum += *r.length, ++knownCount;
    for (const auto &w : m_waiting)
        if (w)
            knownSum += *w, ++knownCount;
    return knownCount > 0 ? std::optional<double>(knownSum / knownCount) : std::nullopt;
}

std::optional<qint64> BatchStatus::secondsLeft(qint64 nowMs) const
{
    const qint64 elapsed = nowMs - m_startMs;
    double done = m_doneMedia;
    for (const Running &r : m_running)
        done += r.length ? std::min(r.position, *r.length) : r.position;
    if (elapsed < kMinElapsedMs || done < kMinDoneMedia)
        return std::nullopt;

    const std::optional<double> mean = meanLength();
    double remaining = 0;
    for (const Running &r : m_running) {
        const std::optional<double> length = r.length ? r.length : mean;
        if (!length)
            return std::nullopt;
        remaining += std::max(*length - r.position, 0.0);
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

double BatchStatus::batchFraction() const
{
    const int finished = m_converted + m_failed;
    const std::optional<double> mean = meanLength();
    if (!mean) {
        const int total = finished + int(m_running.size()) + int(m_waiting.size());
        return total > 0 ? double(finished) / total : 0.0;
    }
    double done = m_knownSum + m_unknownCount * *mean;
    double total = done;
    for (const Running &r : m_running) {
        const double length = r.length ? *r.length : *mean;
        done += std::min(r.position, length);
        total += length;
    }
    for (const auto &w : m_waiting)
        total += w ? *w : *mean;
    return total > 0 ? std::clamp(done / total, 0.0, 1.0) : 0.0;
}

QString BatchStatus::text(qint64 nowMs) const
{
    const int finished = m_converted + m_failed;
    const int running = int(m_running.size());
    const int total = std::max(finished + running + int(m_waiting.size()), 1);
    QString t = running > 1
                    ? QStringLiteral("Converting %1\u2013%2 of %3").arg(finished + 1).arg(finished + running).arg(total)
                    : QStringLiteral("Converting %1 of %2").arg(std::max(finished + running, 1)).arg(total);
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
