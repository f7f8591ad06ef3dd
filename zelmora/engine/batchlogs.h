#pragma once
#include <QDateTime>
#include <QSet>
#include <QString>

namespace zm {

// Where the converter logs live: $XDG_STATE_HOME/zelmora/logs, ~/.local/state/zelmora/logs when
// the variable is unset or not an absolute path.
QString logsRoot();

// The converter logs of one batch: a folder per batch under the logs root, named by the batch's
// start time so that names sort by age, holding one text file per input named after it
// ("clip.flv.log"; a second input of the same name gets "clip.flv (2).log"). Starting a batch
// removes the oldest batch folders beyond the number kept. Nothing here ever fails loudly: a
// log that cannot be written is simply missing.
class BatchLogs final
{
public:
    static constexpr int kKeptBatches = 20;

    explicit BatchLogs(QString root = logsRoot(), int keep = kKeptBatches) : m_root(std::move(root)), m_keep(keep) {}

    // Creates this batch's folder and prunes the oldest; false when no folder could be made.
    bool begin(const QDateTime &start);
    QString folder() const { return m_folder; }
    // Writes one conversion's log and returns its path (empty when it could not be written).
    QString write(const QString &inputPath, const QString &text);

    // Batch folder names look like this; nothing else in the logs root is ever removed.
    static bool isBatchFolderName(const QString &name);

private:
    QString m_root;
    int m_keep;
    QString m_folder;
    QSet<QString> m_used;
};

} // namespace zm
