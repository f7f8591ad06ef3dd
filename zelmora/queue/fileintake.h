#pragma once
#include "queue/filesearch.h"

#include <QObject>
#include <QStringList>

#include <deque>

namespace zm {

class QueueModel;

// How files reach the queue besides the open-file dialog: dropped paths, paths a later start
// hands over, and Add Folder's search. Files join as they are; a folder brings the regular files
// below it in the folder search's order; anything else stays out. The searches keep the event
// loop turning, so the window stays alive while a big folder is read; once the window is closing
// (setClosing) they end early and nothing more is taken.
class FileIntake final : public QObject
{
    Q_OBJECT
public:
    explicit FileIntake(QueueModel &queue, QObject *parent = nullptr);

    // Queues dropped (or handed-over) paths now; `entriesQueued` follows when the queue then
    // holds anything.
    void queueDropped(const QStringList &paths, const FolderLister &lister);
    // Paths handed over by a later start: taken from the event loop, so the start that sent
    // them has its answer at once, and in the order they came, one hand-over after another.
    void handOver(const QStringList &paths, FolderLister lister);
    // Add Folder's search: every regular file below `folder` into `found` (what was found before
    // the window began to close, when it did). False when a search runs already: one at a time.
    bool searchFolder(const QString &folder, QStringList &found, const FolderLister &lister);
    bool isSearching() const { return m_searching; }

    void setClosing() { m_closing = true; }
    bool isClosing() const { return m_closing; }

signals:
    // Dropped or handed-over files have joined the queue (the hint over the list goes).
    void entriesQueued();

private:
    void takeHandedOver();
    bool keepGoing();

    QueueModel &m_queue;
    bool m_searching = false;
    bool m_closing = false;
    struct HandOver {
        QStringList paths;
        FolderLister lister;
    };
    std::deque<HandOver> m_handedOver; // not yet queued
    bool m_taking = false;
};

} // namespace zm
