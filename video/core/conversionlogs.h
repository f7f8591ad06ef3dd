#pragma once

#include <QString>

namespace vidrune {

// Where the converter's messages of each batch are kept: one folder per batch under
// $XDG_STATE_HOME/vidrune/logs/ (by default ~/.local/state/vidrune/logs/), one file per input,
// and only the newest batches kept.
class ConversionLogs
{
public:
    // How many batch folders are kept, the new one included.
    static constexpr int KeptBatches = 20;

    // `root` empty: the folder under XDG_STATE_HOME.
    explicit ConversionLogs(QString root = QString());

    static QString DefaultRoot();
    QString Root() const { return m_root; }

    // Makes the folder of a new batch (named by its start time, so names sort by age) and
    // removes the oldest batch folders beyond KeptBatches. Empty when it cannot be made; the
    // batch then runs without logs.
    QString BeginBatch();

    // The input's file name is cut to this many UTF-8 bytes in its log's name.
    static constexpr int MaxNameBytes = 200;

    // The log of the file at `row` (0-based) of the batch in `batchFolder`:
    // "<row + 1, two digits> <input file name>.log".
    static QString FileLog(const QString &batchFolder, int row, const QString &inputPath);

    // Appends `text` (UTF-8) to a log; false when it cannot.
    static bool Append(const QString &logPath, const QString &text);

private:
    void Rotate(const QString &keep);

    QString m_root;
};

} // namespace vidrune
