#pragma once

#include <QDateTime>
#include <QSet>
#include <QString>

namespace batch {

// The converter logs of one batch: a folder per batch under a root, named by the batch's start
// time so that names sort by age ("-2", "-3" ... when two start in the same millisecond), with
// one text file per input. Starting a batch removes the oldest batch folders beyond the number
// kept; nothing else in the root is ever touched. Nothing here fails loudly: a log that cannot
// be written is simply missing.
class BatchLogs
{
public:
    // How the files of a batch are named after their inputs.
    enum class Naming {
        ByName,   // "clip.flv.log", a second "clip.flv" gets "clip.flv (2).log"
        Numbered, // "01 clip.flv.log": the input's place in the batch, counted from 1
    };
    struct Layout {
        QString stampFormat; // QDateTime format of the folder names; sorting them sorts by age
        Naming naming = Naming::ByName;
    };

    static constexpr int kKeptBatches = 20;
    // The input's file name is cut to this many UTF-8 bytes in its log's name: a name may use
    // all 255 bytes a file name can have, and the log's name adds to it.
    static constexpr int kMaxNameBytes = 200;

    BatchLogs(QString root, Layout layout, int keep = kKeptBatches);
    virtual ~BatchLogs() = default;

    QString root() const { return m_root; }
    // Makes this batch's folder and prunes the oldest; false when no folder could be made.
    bool begin(const QDateTime &start);
    QString folder() const { return m_folder; }
    // Where the log of an input goes (its place in the batch, from 0, for Numbered logs): empty
    // without a batch folder. With ByName each call hands out a name of its own.
    QString fileFor(const QString &inputPath, int index = 0);
    // Writes one input's log (replacing it) and returns its path; empty when it could not.
    QString write(const QString &inputPath, const QString &text, int index = 0);
    // Appends UTF-8 text to a log; false when it cannot.
    static bool append(const QString &logPath, const QString &text);

    // Batch folder names of this layout look like this.
    bool isBatchFolderName(const QString &name) const;
    // An input's file name as it appears in log names: after the last '/', cut to
    // kMaxNameBytes bytes, "input" when there is none.
    static QString logName(const QString &inputPath);

private:
    void prune();

    QString m_root;
    Layout m_layout;
    int m_keep;
    QString m_folder;
    QSet<QString> m_used;
};

} // namespace batch
