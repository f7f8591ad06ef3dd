#pragma once
#include <QList>
#include <QMap>
#include <QString>
#include <optional>

namespace zm {

// "0:42", "12:05", "1:02:03": a span of whole seconds as the status strip shows it.
QString formatClock(qint64 seconds);

// Follows one batch for the status strip and, when several files convert at once, for the
// progress bar: which files of how many are converting, how long the rest will take, and how
// much of the whole batch is done. Time left is weighted by media length: the speed so far
// (media seconds per second of wall time, overhead included, all running files together)
// applied to the media still to convert. Lengths come from the converter's "Duration: " line
// for a running file and from a probe for the waiting ones; a length nobody knows is taken as
// the mean of the known ones. Running files are told apart by an id of the caller's choice;
// the calls without an id are for a batch that runs one file at a time. Every call takes the
// time (milliseconds of a monotonic clock) from the caller, so tests drive it with their own
// clock.
class BatchStatus final
{
public:
    // With the cutter on, a file contributes at most `length` seconds after `from`.
    void setCut(bool on, qint64 from, qint64 length);

    void begin(qint64 nowMs);
    void fileStarted(int id, std::optional<double> probedSeconds);
    void setCurrentDuration(int id, double seconds); // the converter's Duration line wins over a probe
    void setCurrentPosition(int id, double seconds);
    void fileEnded(int id, bool converted);
    void fileStarted(std::optional<double> probedSeconds) { fileStarted(0, probedSeconds); }
    void setCurrentDuration(double seconds) { setCurrentDuration(0, seconds); }
    void setCurrentPosition(double seconds) { setCurrentPosition(0, seconds); }
    void fileEnded(bool converted) { fileEnded(0, converted); }
    // The files waiting behind the running ones, with their lengths where known.
    void setWaiting(const QList<std::optional<double>> &seconds);

    int converted() const { return m_converted; }
    int failed() const { return m_failed; }
    int running() const { return int(m_running.size()); }

    // Seconds left, or nothing while there is too little to go on.
    std::optional<qint64> secondsLeft(qint64 nowMs) const;
    // The share of the whole batch done, 0 to 1: media seconds converted over the media seconds
    // of every file of the batch (a finished file counts in full, whether it converted or
    // not). While no length at all is known, every file weighs the same.
    double batchFraction() const;
    // "Converting 3 of 14 · about 0:42 left" (without the estimate while there is none);
    // "Converting 3–4 of 14" while two files convert at once.
    QString text(qint64 nowMs) const;
    // "9 converted, 1 failed · 1:23"; a stopped batch starts with "Stopped · ".
    QString summary(qint64 nowMs, bool stopped) const;

private:
    struct Running {
        std::optional<double> length; // effective length
        double position = 0;          // seconds of it converted
    };
    std::optional<double> effective(std::optional<double> seconds) const;
    std::optional<double> meanLength() const;

    bool m_cutOn = false;
    qint64 m_cutFrom = 0, m_cutLength = 0;
    qint64 m_startMs = 0;
    int m_converted = 0, m_failed = 0;
    QMap<int, Running> m_running;
    double m_doneMedia = 0; // media seconds the finished files got through
    double m_knownSum = 0;  // effective lengths of finished files that had one
    int m_knownCount = 0;
    int m_unknownCount = 0;                 // finished files whose length nobody knew
    QList<std::optional<double>> m_waiting; // effective lengths
};

} // namespace zm
