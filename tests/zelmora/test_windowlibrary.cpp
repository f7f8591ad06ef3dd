// The window's library work headless: where its outputs go, what counts as an existing output
// (a continued batch does not count its own), each answer about existing outputs, the journal
// it keeps, the originals it moves to the trash, and the saved queue.
#include "library/queuekeeper.h"
#include "library/windowbatch.h"
#include "support/files.h"
#include "support/scopedenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace zm;

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Fixture {
    Fixture()
    {
        QDir(dir.path()).mkpath(QStringLiteral("app/data"));
        EXPECT_TRUE(testsupport::touch(app() + QStringLiteral("/data/conv"), "a converter"));
    }
    QString app() const { return dir.path() + QStringLiteral("/app"); }
    QString state() const { return dir.path() + QStringLiteral("/state"); }
    QString out(const QString &name = QString()) const
    {
        return dir.path() + QStringLiteral("/out") + (name.isEmpty() ? QString() : QLatin1Char('/') + name);
    }
    QString in(const QString &name) const { return dir.path() + QStringLiteral("/in/") + name; }
    CommandInputs inputs(const QString &input, const QString &outputDir) const
    {
        CommandInputs c;
        c.appDir = app();
        c.inputPath = input;
        c.outputDir = outputDir;
        return c;
    }
    QTemporaryDir dir;
};

} // namespace

TEST(WindowPlanner, MirroredFoldersOnlyWhenKeepingTheStructure)
{
    Fixture fx;
    LibraryPlanner planner(fx.app(), fx.state());
    const QString music = fx.in(QStringLiteral("Music"));
    struct Row {
        bool keep;
        QString root, input, folder;
    };
    const Row rows[] = {
        {false, music, music + QStringLiteral("/A/B/01.flac"), fx.out()},
        {true, music, music + QStringLiteral("/A/B/01.flac"), fx.out(QStringLiteral("A/B"))},
        {true, music, music + QStringLiteral("/01.flac"), fx.out()},
        // Added by itself, or not below its root: the output folder itself.
        {true, QString(), music + QStringLiteral("/A/01.flac"), fx.out()},
        {true, fx.in(QStringLiteral("Other")), music + QStringLiteral("/A/01.flac"), fx.out()},
        {true, music + QLatin1Char('/'), music + QStringLiteral("/A/01.flac"), fx.out(QStringLiteral("A"))},
    };
    for (const Row &r : rows) {
        planner.setKeepFolderStructure(r.keep);
        EXPECT_EQ(planner.outputFolder(fx.out(), r.root, r.input), r.folder) << r.input.toStdString();
    }
}

TEST(WindowPlanner, EachAnswerAboutExistingOutputs)
{
    Fixture fx;
    const QString input = fx.in(QStringLiteral("a.flv"));
    EXPECT_TRUE(testsupport::touch(input, "input"));
    const QString existing = fx.out(QStringLiteral("a.wma"));
    const QString fresh = fx.out(QStringLiteral("b.wma"));
    EXPECT_TRUE(testsupport::touch(existing, "old"));
    struct Row {
        ExistingPolicy policy;
        bool convertsExisting;
        bool avoids; // the batch numbers past a name the disk holds
    };
    const Row rows[] = {
        {ExistingPolicy::Replace, true, false},
        {ExistingPolicy::Skip, false, false},
        {ExistingPolicy::Number, true, true},
    };
    for (const Row &r : rows) {
        LibraryPlanner planner(fx.app(), fx.state());
        planner.beginBatch(fx.out(), r.policy, false);
        QString reason;
        EXPECT_EQ(planner.accept(fx.inputs(input, fx.out()), existing, &reason), r.convertsExisting)
            << existingPolicyName(r.policy).toStdString();
        EXPECT_EQ(reason.isEmpty(), r.convertsExisting);
        EXPECT_TRUE(planner.accept(fx.inputs(input, fx.out()), fresh, nullptr)) << "nothing there: converted";
        EXPECT_EQ(planner.avoidExisting(), r.avoids);
    }
    // The count before the question: only names a file has.
    LibraryPlanner planner(fx.app(), fx.state());
    planner.load(fx.out());
    const QList<PlannedOutput> planned{{fx.inputs(input, fx.out()), existing}, {fx.inputs(input, fx.out()), fresh}};
    EXPECT_EQ(planner.existingCount(planned, false), 1);
    EXPECT_EQ(planner.existingCount(planned, true), 1) << "no conversion here made it";
    EXPECT_EQ(readFile(existing), QByteArray("old"));
}

TEST(WindowPlanner, AContinuedBatchLeavesOutWhatItsEarlierRunMade)
{
    Fixture fx;
    const QString a = fx.in(QStringLiteral("a.flv")), b = fx.in(QStringLiteral("b.flv"));
    EXPECT_TRUE(testsupport::touch(a, "input a"));
    EXPECT_TRUE(testsupport::touch(b, "input b"));
    const QString outA = fx.out(QStringLiteral("a.wma")), outB = fx.out(QStringLiteral("b.wma"));
    {
        // The earlier run: a was converted; b had begun when the window was killed, and its
        // converter named the output afterwards (it finishes its file on its own).
        LibraryPlanner run(fx.app(), fx.state());
        run.beginBatch(fx.out(), ExistingPolicy::Replace, false);
        run.started(fx.inputs(a, fx.out()), outA);
        EXPECT_TRUE(testsupport::touch(outA, "converted a"));
        run.ended(a, outA, FileVerdict::Kind::Converted, QString());
        run.started(fx.inputs(b, fx.out()), outB);
        EXPECT_TRUE(testsupport::touch(outB, "converted b"));
    }
    const QList<PlannedOutput> planned{{fx.inputs(a, fx.out()), outA}, {fx.inputs(b, fx.out()), outB}};
    LibraryPlanner next(fx.app(), fx.state());
    next.load(fx.out());
    EXPECT_EQ(next.existingCount(planned, true), 0) << "its own outputs are no surprise";
    EXPECT_EQ(next.existingCount(planned, false), 2) << "a new batch asks about them";
    // Continued with any answer, the files already made are left out.
    for (ExistingPolicy p : {ExistingPolicy::Replace, ExistingPolicy::Number, ExistingPolicy::Skip}) {
        next.beginBatch(fx.out(), p, true);
        EXPECT_FALSE(next.accept(fx.inputs(a, fx.out()), outA, nullptr));
        EXPECT_FALSE(next.accept(fx.inputs(b, fx.out()), outB, nullptr));
    }
    // An input changed since is converted again.
    EXPECT_TRUE(testsupport::touch(a, "input a, longer now"));
    next.beginBatch(fx.out(), ExistingPolicy::Replace, true);
    EXPECT_TRUE(next.accept(fx.inputs(a, fx.out()), outA, nullptr));
    // The journal is the one zelmora-cli reads for the output folder.
    OutputJournal journal(fx.out(), fx.state());
    journal.load();
    ASSERT_TRUE(journal.last(outA).has_value());
    EXPECT_EQ(journal.last(outA)->kind, JournalRecord::Kind::Done);
}

TEST(WindowPlanner, OriginalsGoToTheTrashOnlyAfterAConversion)
{
    Fixture fx;
    testsupport::ScopedEnv env;
    env.set("XDG_DATA_HOME", fx.dir.path() + QStringLiteral("/data"));
    const QString trash = fx.dir.path() + QStringLiteral("/data/Trash/files/");
    struct Row {
        const char *name;
        bool trashOn;
        FileVerdict::Kind kind;
        bool sameFile; // the output is the input
        bool trashed;
    };
    const Row rows[] = {
        {"converted.flv", true, FileVerdict::Kind::Converted, false, true},
        {"failed.flv", true, FileVerdict::Kind::Failed, false, false},
        {"off.flv", false, FileVerdict::Kind::Converted, false, false},
        {"same.wma", true, FileVerdict::Kind::Converted, true, false},
    };
    LibraryPlanner planner(fx.app(), fx.state());
    for (const Row &r : rows) {
        planner.setTrashOriginals(r.trashOn);
        planner.beginBatch(fx.out(), ExistingPolicy::Replace, false);
        const QString input = fx.in(QString::fromLatin1(r.name));
        EXPECT_TRUE(testsupport::touch(input, "original"));
        const QString output =
            r.sameFile ? input : fx.out(QFileInfo(input).completeBaseName() + QStringLiteral(".wma"));
        planner.started(fx.inputs(input, fx.out()), output);
        if (r.kind == FileVerdict::Kind::Converted && !r.sameFile) {
            EXPECT_TRUE(testsupport::touch(output, "converted"));
        }
        planner.ended(input, output, r.kind, QStringLiteral("output check failed"));
        EXPECT_EQ(QFileInfo::exists(input), !r.trashed) << r.name;
        EXPECT_EQ(QFileInfo::exists(trash + QString::fromLatin1(r.name)), r.trashed) << r.name;
        EXPECT_EQ(planner.trashed(), r.trashed ? 1 : 0) << r.name;
        // Only a file that should have gone and did not is named.
        EXPECT_EQ(planner.trashNotes().size(), r.sameFile ? 1 : 0) << r.name;
    }
    EXPECT_TRUE(planner.trashNotes().value(0).contains(QStringLiteral("the output is the input")));
}

TEST(SavedQueue, WrittenWholeAndReadBackOrNothing)
{
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/state/queue.json");
    UnfinishedBatch b;
    b.paths = {QStringLiteral("/m/A/01 \"x\".flac"), QStringLiteral("/m/ü ß/02;$(rm).flac"), QStringLiteral("/c.mp4")};
    b.roots = {QStringLiteral("/m"), QStringLiteral("/m"), QString()};
    b.started = 1;
    ASSERT_TRUE(writeUnfinishedBatch(path, b));
    const auto read = readUnfinishedBatch(path);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->paths, b.paths);
    EXPECT_EQ(read->roots, b.roots);
    EXPECT_EQ(read->started, 1);
    EXPECT_EQ(read->left(), 3);
    // Nothing but the file itself lies in the folder (no temporary left behind).
    EXPECT_EQ(QDir(dir.path() + QStringLiteral("/state")).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("queue.json")});

    const QByteArray whole = readFile(path);
    struct Row {
        const char *what;
        QByteArray bytes;
    };
    const Row bad[] = {
        {"torn", whole.left(whole.size() / 2)},
        {"empty", QByteArray()},
        {"another format", QByteArray(R"({"format":"other/1","files":[{"path":"/x"}]})")},
        {"no files", QByteArray(R"({"format":"zelmora-queue/1","files":[]})")},
        {"not JSON", QByteArray("\x00\x01garbage", 9)},
    };
    for (const Row &r : bad) {
        EXPECT_TRUE(testsupport::touch(path, r.bytes));
        EXPECT_FALSE(readUnfinishedBatch(path).has_value()) << r.what;
    }
    EXPECT_FALSE(readUnfinishedBatch(dir.path() + QStringLiteral("/missing.json")).has_value());
    // One saved queue per copy of the program.
    EXPECT_NE(QueueKeeper::pathFor(dir.path(), QStringLiteral("/opt/a")),
              QueueKeeper::pathFor(dir.path(), QStringLiteral("/opt/b")));
    EXPECT_EQ(QueueKeeper::pathFor(dir.path(), QStringLiteral("/opt/a")),
              QueueKeeper::pathFor(dir.path(), QStringLiteral("/opt/a/")));
}
