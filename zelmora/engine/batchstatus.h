#pragma once
#include <QList>
#include <QString>
#include <optional>

namespace zm {

// "0:42", "12:05", "1:02:03": a span of whole seconds as the status strip shows it.
QString formatClock(qint64 seconds);

// Follows one batch for the status strip: which file of how many is converting, and how long
// the rest will take. Time left is weighted by media length: the speed so far (media seconds
// per second of wall time, overhead included) applied to the media still to convert. Lengths
// come from the converter's "Duration: " line for the running file and from a probe for the
// waiting ones; a length nobody knows is taken as the mean of the known ones. Every call takes
// the time (milliseconds of a monotonic clock) from the caller, so tests drive it with their own
// clock.
class BatchStatus final {
public:
    // With the cutter on, a file contributes at most `length` seconds after `from`.
    void setCut(bool on, qint64 from, qint64 length);

    void begin(qint64 nowMs);
    void fileStarted(std::optional<double> probedSeconds);
    void setCurrentDuration(double seconds); // the converter's Duration line wins over a probe
    void setCurrentPosition(double seconds);
    void fileEnded(bool converted);
    // The files waiting behind the running one, with their lengths where known.
    void setWaiting(const QList<std::optional<double>> &seconds);

    int converted() const { return m_converted; }
    int failed() const { return m_failed; }
    qint64 elapsedMs(qint64 nowMs) const { return nowMs - m_startMs; }

    // Seconds left, or nothing while there is too little to go on.
    std::optional<qint64> secondsLeft(qint64 nowMs) const;
    // "Converting 3 of 14 · about 0:42 left" (without the estimate while there is none).
    QString text(qint64 nowMs) const;
    // "9 converted, 1 failed · 1:23"; a stopped batch starts with "Stopped · ".
    QString summary(qint64 nowMs, bool stopped) const;

private:
    std::optional<double> effective(std::optional<double> seconds) const;

    bool m_cutOn = false;
    qint64 m_cutFrom = 0, m_cutLength = 0;
    qint64 m_startMs = 0;
    int m_converted = 0, m_failed = 0;
    bool m_fileRunning = false;
    std::optional<double> m_current;  // effective length of the running file
    double m_position = 0;            // seconds of it converted
    double m_doneMedia = 0;           // media seconds of the finished files
    double m_knownSum = 0;            // effective lengths of finished files that had one
    int m_knownCount = 0;
    QList<std::optional<double>> m_waiting; // effective lengths
};

} // namespace zm
