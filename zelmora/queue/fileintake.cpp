#include "queue/fileintake.h"

#include "queue/queuemodel.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

namespace zm {

FileIntake::FileIntake(QueueModel &queue, QObject *parent) : QObject(parent), m_queue(queue) {}

bool FileIntake::keepGoing()
{
    // Handlers run meanwhile; the window (and this object with it) may be gone afterwards.
    QPointer<FileIntake> self(this);
    QCoreApplication::processEvents();
    return self && !m_closing;
}

void FileIntake::queueDropped(const QStringList &paths, const FolderLister &lister)
{
    QPointer<FileIntake> self(this);
    QStringList found, roots;
    if (!paths.isEmpty()) {
        found = queueableDroppedPaths(paths, roots, lister, [self] { return self && self->keepGoing(); });
        if (!self)
            return;
    }
    m_queue.appendEntries(found, roots);
    if (m_queue.isEmpty())
        return;
    QCoreApplication::processEvents();
    if (self)
        emit entriesQueued();
}

void FileIntake::handOver(const QStringList &paths, FolderLister lister)
{
    m_handedOver.push_back({paths, std::move(lister)});
    QTimer::singleShot(0, this, &FileIntake::takeHandedOver);
}

void FileIntake::takeHandedOver()
{
    if (m_taking)
        return; // the one under way takes these too, in the order they came
    m_taking = true;
    QPointer<FileIntake> self(this);
    while (self && !m_closing && !m_handedOver.empty()) {
        // Its own copy: more hand-overs may arrive while this one is searched.
        const HandOver next = m_handedOver.front();
        m_handedOver.pop_front();
        queueDropped(next.paths, next.lister);
    }
    if (self)
        m_taking = false;
}

bool FileIntake::searchFolder(const QString &folder, QStringList &found, const FolderLister &lister)
{
    if (m_searching)
        return false;
    m_searching = true;
    QPointer<FileIntake> self(this);
    SearchFolder(folder, found, lister, [self] { return self && self->keepGoing(); });
    if (self)
        m_searching = false;
    return true;
}

} // namespace zm
