#pragma once
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace zm {

class BatchDriver;
class QueueModel;

// What an unfinished batch left: its files in queue order, each with the folder it was found
// in, and those whose conversion had started when it ended.
struct UnfinishedBatch {
    QStringList paths;
    QStringList roots;
    int started = 0; // the first `started` files were being converted
    int left() const { return int(paths.size()); }
};

// Reads and writes the saved queue: a small JSON file written whole (QSaveFile: a temporary
// file renamed over the old one), so a crash at any moment leaves the old or the new one. A
// file that is missing, torn or not ours reads as nothing.
std::optional<UnfinishedBatch> readUnfinishedBatch(const QString &path);
bool writeUnfinishedBatch(const QString &path, const UnfinishedBatch &batch, QString *error = nullptr);

// Keeps the window's queue in the state folder while a batch runs, written on every change of
// the queue and whenever a file starts, so a crash, a kill or a power cut loses nothing: the
// next start offers to continue. A batch that ends by itself (or is stopped with Stop) leaves no
// saved queue; one stopped because the window closes (setClosing first) keeps what was left.
class QueueKeeper final : public QObject
{
    Q_OBJECT
public:
    QueueKeeper(QueueModel &queue, BatchDriver &batch, QString path, QObject *parent = nullptr);

    // $XDG_STATE_HOME/zelmora/queue-<16 hex digits of the settings folder's hash>.json: one
    // saved queue per copy of the program.
    static QString pathFor(const QString &stateFolder, const QString &settingsFolder);
    QString path() const { return m_path; }

    // What the last run left unfinished, as read when this keeper was made; nothing once it
    // was taken or discarded.
    const std::optional<UnfinishedBatch> &pending() const { return m_pending; }
    // Puts the files left back into the queue (the batch is started by the caller).
    void takePending();
    // Forgets them, and the saved file with them.
    void discardPending();

    // The window closes during the batch: the stop that follows keeps the rest for the next start.
    void setClosing() { m_closing = true; }
    // The last error writing the file (empty when the last write went well).
    QString lastError() const { return m_error; }

private:
    void save();
    void batchEnded(bool stopped);

    QueueModel &m_queue;
    BatchDriver &m_batch;
    QString m_path;
    std::optional<UnfinishedBatch> m_pending;
    bool m_closing = false;
    QString m_error;
};

} // namespace zm
