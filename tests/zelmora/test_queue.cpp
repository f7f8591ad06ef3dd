#include "queue/commondialogs.h"
#include "queue/queuemodel.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace zm;

TEST(QueueModel, PassesModelTester)
{
    QueueModel m;
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::Fatal);
    m.AddQueueEntry(QStringLiteral("/a/clip.flv"));
    m.appendEntries({QStringLiteral("/b/x.rm"), QStringLiteral("/c/song.flac"), QStringLiteral("/a/clip.flv")});
    m.removeAt(1);
    m.removeHead();
    m.removeAt(7);
    m.appendEntries({});
    m.clear();
    m.clear();
    EXPECT_EQ(m.count(), 0);
}

TEST(QueueModel, OrderDuplicatesAndFormatCells)
{
    QueueModel m;
    const QStringList paths{QStringLiteral("/v/clip.flv"), QStringLiteral("/v/clip.rm"),
                            QStringLiteral("/v/song.flac "), QStringLiteral("/v/clip.flv"), QStringLiteral("ab")};
    for (const QString &p : paths)
        m.AddQueueEntry(p);
    ASSERT_EQ(m.rowCount(), 5);
    EXPECT_EQ(m.paths(), paths);
    const char *formats[] = {"FLV", ".RM", "LAC", "FLV", "AB"};
    for (int r = 0; r < 5; ++r) {
        EXPECT_EQ(m.data(m.index(r, QueueModel::FileName)).toString(), paths[r]);
        EXPECT_EQ(m.data(m.index(r, QueueModel::Format)).toString(), QString::fromLatin1(formats[r]));
    }
    EXPECT_EQ(m.headerData(0, Qt::Horizontal).toString(), QStringLiteral("FileName"));
    EXPECT_EQ(m.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Format"));
    EXPECT_TRUE(m.removeHead());
    EXPECT_EQ(m.at(0), paths[1]);
    EXPECT_FALSE(m.removeAt(-1));
    EXPECT_FALSE(m.removeAt(4));
}

namespace {
class Answer final : public FileDialogBackend
{
public:
    QStringList openFiles(QObject *, const QString &t, const QString &folder, const QString &filters,
                          QString *selected) override
    {
        title = t;
        startFolder = folder;
        qtFilters = filters;
        preselected = *selected;
        if (!choose.isEmpty())
            *selected = choose;
        if (!answers.isEmpty())
            return answers;
        return answer.isEmpty() ? QStringList() : QStringList{answer};
    }
    QString chooseFolder(QObject *, const QString &) override { return answer; }
    QString answer, title, startFolder, qtFilters, preselected, choose;
    QStringList answers;
};
} // namespace

TEST(CommonDialogs, ShowOpenSetsResultsAndFolder)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("sub dir"));
    const QString before = QDir::currentPath();
    Answer a;
    CCommonDialogs d(&a);
    d.setTitle(QStringLiteral("Open Files"));
    d.setFilter(QStringLiteral("FLV Files(*.FLV)|*.FLV|All Media Formats(*.*)|*.*"));
    a.answer = QString();
    EXPECT_FALSE(d.ShowOpen());
    EXPECT_EQ(d.FileName(), QString());
    EXPECT_EQ(a.title, QStringLiteral("Open Files"));
    EXPECT_EQ(a.startFolder, before);
    EXPECT_EQ(a.qtFilters, QStringLiteral("FLV Files (*.FLV *.flv);;All Media Formats (*)"));

    a.answer = dir.path() + QStringLiteral("/sub dir/clip.flv");
    EXPECT_TRUE(d.ShowOpen());
    EXPECT_EQ(d.FileName(), a.answer);
    EXPECT_EQ(d.FileTitle(), QStringLiteral("clip.flv"));
    EXPECT_EQ(d.Path(), dir.path() + QStringLiteral("/sub dir"));
    // The next dialog starts where the last pick was made.
    a.answer.clear();
    d.ShowOpen();
    EXPECT_EQ(QDir(a.startFolder).canonicalPath(), QDir(dir.path() + QStringLiteral("/sub dir")).canonicalPath());
    QDir::setCurrent(before);

    d.setFileName(QStringLiteral("abc") + QChar(0) + QStringLiteral("junk"));
    EXPECT_EQ(d.FileName(), QStringLiteral("abc"));
}

TEST(CommonDialogs, MediaFilterHasThirteenEntries)
{
    const QString f = CCommonDialogs::toQtFilter(QStringLiteral(
        "FLV Files(*.FLV)|*.FLV|AVI Files(*.avi)|*.avi|MPG Files(*.mpg)|*.mpg|WMV Files(*.wmv)|*.wmv|MP4 "
        "Files(*.mp4)|*.mp4|QuickTime Format(*.mov)|*.mov|DVD VOB(*.vob)|*.vob|Real Video(*.rm)|*.rm|3GP "
        "Video(*.3gp)|*.3gp|MP3 Audio(*.mp3)|*.mp3|WAVE Files(*.wav)|*.wav|WMA Audio(*.wma)|*.wma|All Media "
        "Formats(*.*)|*.*"));
    const QStringList entries = f.split(QStringLiteral(";;"));
    ASSERT_EQ(entries.size(), 13);
    EXPECT_EQ(entries.first(), QStringLiteral("FLV Files (*.FLV *.flv)"));
    EXPECT_EQ(entries[1], QStringLiteral("AVI Files (*.avi *.AVI)"));
    EXPECT_EQ(entries.last(), QStringLiteral("All Media Formats (*)"));
    // The catch-all shows every file, with or without a dot in its name.
    const QString &last = entries.last();
    const qsizetype open = last.lastIndexOf(QLatin1Char('('));
    const QStringList catchAll = last.mid(open + 1, last.size() - open - 2).split(QLatin1Char(' '));
    for (const char *name : {"clip.flv", "notes.TXT", "recording", ".hidden"})
        EXPECT_TRUE(QDir::match(catchAll, QString::fromLatin1(name))) << name;
}
