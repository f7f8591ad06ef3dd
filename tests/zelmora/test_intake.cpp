// How files reach the queue besides the open-file dialog (FileIntake): dropped paths, paths a
// later start hands over, and Add Folder's search, against a real folder tree.
#include "queue/fileintake.h"
#include "queue/queuemodel.h"
#include "support/files.h"
#include "support/process.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace zm;
using testsupport::touch;

namespace {

// in/a.flv, in/Album/{10.mp3, 9.mp3, Sub/x.wav}, in/pipe (a FIFO).
struct Tree {
    QTemporaryDir dir;
    QString in = dir.path() + QStringLiteral("/in");
    Tree()
    {
        for (const char *f : {"a.flv", "Album/10.mp3", "Album/9.mp3", "Album/Sub/x.wav"})
            touch(in + QLatin1Char('/') + QLatin1String(f));
        ::mkfifo(qPrintable(in + QStringLiteral("/pipe")), 0600);
    }
    QString at(const char *name) const { return in + QLatin1Char('/') + QLatin1String(name); }
};

} // namespace

TEST(FileIntake, DroppedPathsJoinAsTheFolderSearchFindsThem)
{
    Tree t;
    const QStringList album{t.at("Album/9.mp3"), t.at("Album/10.mp3"), t.at("Album/Sub/x.wav")};
    struct Row {
        const char *name;
        QStringList dropped;
        QStringList queued;
        int emitted;
    };
    const Row rows[] = {
        {"a file", {t.at("a.flv")}, {t.at("a.flv")}, 1},
        {"a folder brings its files, subfolders after", {t.at("Album")}, album, 1},
        {"in the order dropped", {t.at("Album"), t.at("a.flv")}, album + QStringList{t.at("a.flv")}, 1},
        {"a FIFO and a missing file stay out", {t.at("pipe"), t.at("gone.flv")}, {}, 0},
        {"nothing", {}, {}, 0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        QueueModel queue;
        FileIntake intake(queue);
        QSignalSpy queued(&intake, &FileIntake::entriesQueued);
        intake.queueDropped(r.dropped, listFolder);
        EXPECT_EQ(queue.paths(), r.queued);
        EXPECT_EQ(queued.count(), r.emitted);
    }
}

TEST(FileIntake, HandOversAreTakenLaterInTheOrderTheyCame)
{
    Tree t;
    QueueModel queue;
    FileIntake intake(queue);
    // The first hand-over's folder takes a while; a second one arrives meanwhile.
    bool secondSent = false;
    const FolderLister slow = [&](const QString &folder) {
        if (!secondSent) {
            secondSent = true;
            intake.handOver({t.at("a.flv")}, listFolder);
        }
        return listFolder(folder);
    };
    intake.handOver({t.at("Album")}, slow);
    EXPECT_TRUE(queue.isEmpty()) << "nothing is taken before the event loop turns";
    ASSERT_TRUE(testsupport::waitFor([&] { return queue.count() == 4; }));
    EXPECT_EQ(queue.paths(),
              (QStringList{t.at("Album/9.mp3"), t.at("Album/10.mp3"), t.at("Album/Sub/x.wav"), t.at("a.flv")}));

    // Once the window is closing, nothing more is taken.
    QueueModel later;
    FileIntake closing(later);
    closing.handOver({t.at("a.flv")}, listFolder);
    closing.setClosing();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_TRUE(later.isEmpty());
}

TEST(FileIntake, OneFolderSearchAtATimeAndClosingEndsIt)
{
    Tree t;
    QueueModel queue;
    FileIntake intake(queue);
    bool second = true;
    QStringList found, nested;
    int listed = 0;
    const FolderLister lister = [&](const QString &folder) {
        if (listed++ == 0) {
            EXPECT_TRUE(intake.isSearching());
            second = intake.searchFolder(t.in, nested, listFolder);
        } else if (listed == 2) {
            // The window closes while the second folder is read; the search looks up once that
            // listing is done (it looks up at most every 10 ms).
            intake.setClosing();
            QThread::msleep(20);
        }
        return listFolder(folder);
    };
    EXPECT_TRUE(intake.searchFolder(t.in, found, lister));
    EXPECT_FALSE(second) << "a second search while one runs";
    EXPECT_TRUE(nested.isEmpty());
    EXPECT_FALSE(intake.isSearching());
    // The search stopped once the window began to close: what the first two folders hold, not
    // the folder below them.
    EXPECT_EQ(found, (QStringList{t.at("a.flv"), t.at("Album/9.mp3"), t.at("Album/10.mp3")}));
}
