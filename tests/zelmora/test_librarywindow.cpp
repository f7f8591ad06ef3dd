// The window's library work against the fake converter: the question about existing outputs
// (each answer, the remembered one, none when nothing exists), Keep Folder Structure from Add
// Folder and from a dropped folder, the saved queue of an unfinished batch (closing mid-batch,
// a clean end, Stop), Add Back to Queue, and the originals moved to the trash.
#include "support/process.h"
#include "support/scopedenv.h"
#include "zelmora/windowutil.h"

#include <QAction>
#include <QDir>
#include <QDirIterator>
#include <QDropEvent>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QUrl>
#include <gtest/gtest.h>

using namespace zm;
using testsupport::waitFor;
using zmtest::Harness;
using zmtest::LogEntry;
using zmtest::parseLog;

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// The output names the converter was given, in order, relative to the output folder.
QStringList givenOutputs(const Harness &h)
{
    QStringList given;
    for (const LogEntry &e : parseLog(h.app.logLines()))
        if (e.start)
            given << QDir(h.out(QString())).relativeFilePath(e.args.last());
    return given;
}

// Every file below `folder`, relative to it, sorted.
QStringList filesBelow(const QString &folder)
{
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << QDir(folder).relativeFilePath(it.next());
    found.sort();
    return found;
}

const QStringList kOutput{QStringLiteral("output")};

} // namespace

TEST(ExistingOutputs, EachAnswerOfTheQuestion)
{
    struct Row {
        const char *what;
        ExistingChoice answer; // Ask: Cancel
        QStringList converted; // the outputs the converter was given
        QByteArray oldFile;    // a.wma afterwards
        bool started;
    };
    const Row rows[] = {
        {"replace", ExistingChoice::Replace, {"a.wma", "b.wma"}, "converted audio\n", true},
        {"skip", ExistingChoice::Skip, {"b.wma"}, "old", true},
        {"keep both", ExistingChoice::Number, {"a (2).wma", "b.wma"}, "old", true},
        {"cancel", ExistingChoice::Ask, {}, "old", false},
    };
    for (const Row &r : rows) {
        Harness h;
        QDir(h.app.path).mkpath(QStringLiteral("output"));
        writeFile(h.out(QStringLiteral("a.wma")), "old");
        h.open();
        h.window->AddQueueEntry(h.app.script(QStringLiteral("a.flv"), kOutput));
        h.window->AddQueueEntry(h.app.script(QStringLiteral("b.flv"), kOutput));
        h.answerExisting(r.answer);
        EXPECT_EQ(h.runBatch(), r.started) << r.what;
        EXPECT_EQ(h.existingAsked, QStringList{QStringLiteral("1 output files already exist.")}) << r.what;
        EXPECT_EQ(givenOutputs(h), r.converted) << r.what;
        EXPECT_EQ(readFile(h.out(QStringLiteral("a.wma"))), r.oldFile) << r.what;
        // Cancel leaves the queue as it was; otherwise every file has left it.
        EXPECT_EQ(h.window->queue().count(), r.started ? 0 : 2) << r.what;
        // Nothing was remembered: zelmora.conf still says ask.
        EXPECT_EQ(h.window->batchOptions().existing, ExistingChoice::Ask) << r.what;
        EXPECT_EQ(h.window->batch().lastOutcome().skipped, r.answer == ExistingChoice::Skip ? 1 : 0) << r.what;
    }
}

TEST(ExistingOutputs, NoQuestionWhenNothingExists)
{
    Harness h;
    h.open();
    h.window->AddQueueEntry(h.app.script(QStringLiteral("a.flv"), kOutput));
    // Two files of this batch with one name: the batch's own numbering, no question.
    QDir(h.app.path).mkpath(QStringLiteral("in/x"));
    h.window->AddQueueEntry(h.app.script(QStringLiteral("x/a.mp4"), kOutput));
    h.answerExisting(ExistingChoice::Ask);
    ASSERT_TRUE(h.runBatch());
    EXPECT_TRUE(h.existingAsked.isEmpty());
    EXPECT_EQ(givenOutputs(h), (QStringList{QStringLiteral("a.wma"), QStringLiteral("a (2).wma")}));
}

TEST(ExistingOutputs, RememberedChoiceIsNotAskedAgain)
{
    Harness h;
    QDir(h.app.path).mkpath(QStringLiteral("output"));
    writeFile(h.out(QStringLiteral("a.wma")), "old");
    h.open();
    const QString a = h.app.script(QStringLiteral("a.flv"), kOutput);
    h.window->AddQueueEntry(a);
    h.answerExisting(ExistingChoice::Number, true);
    ASSERT_TRUE(h.runBatch());
    EXPECT_EQ(h.existingAsked.size(), 1);
    EXPECT_EQ(QSettings(h.window->state().jobsConf(), QSettings::IniFormat).value(QStringLiteral("Batch/Existing")),
              QStringLiteral("number"));
    // A new window of the same copy reads the answer and does not ask.
    h.window.reset();
    QFile::remove(h.app.log());
    h.open();
    h.answerExisting(ExistingChoice::Replace);
    h.window->AddQueueEntry(a);
    ASSERT_TRUE(h.runBatch());
    EXPECT_EQ(h.existingAsked.size(), 1);
    EXPECT_EQ(givenOutputs(h), QStringList{QStringLiteral("a (3).wma")});
    EXPECT_EQ(readFile(h.out(QStringLiteral("a.wma"))), QByteArray("old"));
    // The menu shows the remembered answer, and "Ask" brings the question back.
    QStringList checked;
    for (QAction *act : h.window->menuExisting()->actions())
        if (act->isChecked())
            checked << act->text();
    EXPECT_EQ(checked, QStringList{QStringLiteral("Keep Both")});
    h.window->menuExisting()->actions().first()->trigger();
    EXPECT_EQ(readBatchOptions(h.window->state().jobsConf()).existing, ExistingChoice::Ask);
    h.window->AddQueueEntry(a);
    h.answerExisting(ExistingChoice::Ask);
    EXPECT_FALSE(h.runBatch());
    EXPECT_EQ(h.existingAsked.size(), 2);
}

TEST(KeepFolderStructure, AddFolderAndDroppedFoldersMirrorTheTree)
{
    for (const bool byDrop : {false, true}) {
        Harness h;
        h.open();
        ASSERT_FALSE(h.window->keepFolderStructureAction()->isChecked()) << "off by default";
        h.window->keepFolderStructureAction()->trigger();
        EXPECT_TRUE(h.window->batchOptions().keepFolderStructure);
        EXPECT_EQ(QSettings(h.window->state().jobsConf(), QSettings::IniFormat)
                      .value(QStringLiteral("Batch/KeepFolderStructure")),
                  QStringLiteral("true"));
        const QString music = h.app.path + QStringLiteral("/in/Music");
        for (const char *dir : {"Music/A/B", "Music/C"})
            QDir(h.app.path + QStringLiteral("/in")).mkpath(QString::fromLatin1(dir));
        for (const char *f : {"Music/01.flv", "Music/A/B/01.flv", "Music/C/01.flv", "Music/C/02.flv"})
            h.app.script(QString::fromLatin1(f), kOutput);
        if (byDrop) {
            auto *mime = new QMimeData;
            mime->setUrls({QUrl::fromLocalFile(music)});
            QDropEvent ev(QPointF(5, 5), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
            h.window->dropFiles(&ev);
            delete mime;
        } else {
            h.files.folderAnswers = QStringList{music};
            h.window->AddFolder();
        }
        ASSERT_EQ(h.window->queue().count(), 4);
        EXPECT_EQ(h.window->queue().rootAt(3), music);
        ASSERT_TRUE(h.runBatch());
        EXPECT_EQ(filesBelow(h.out(QString())), (QStringList{QStringLiteral("01.wma"), QStringLiteral("A/B/01.wma"),
                                                             QStringLiteral("C/01.wma"), QStringLiteral("C/02.wma")}))
            << (byDrop ? "dropped" : "Add Folder");
    }
}

TEST(KeepFolderStructure, OffKeepsTheFlatNumberedFlow)
{
    Harness h;
    h.open();
    const QString music = h.app.path + QStringLiteral("/in/Music");
    QDir(h.app.path + QStringLiteral("/in")).mkpath(QStringLiteral("Music/A"));
    for (const char *f : {"Music/01.flv", "Music/A/01.flv"})
        h.app.script(QString::fromLatin1(f), kOutput);
    h.files.folderAnswers = QStringList{music};
    h.window->AddFolder();
    ASSERT_TRUE(h.runBatch());
    EXPECT_EQ(filesBelow(h.out(QString())), (QStringList{QStringLiteral("01 (2).wma"), QStringLiteral("01.wma")}));
}

TEST(SavedQueue, WhatIsLeftForTheNextStart)
{
    struct Row {
        const char *how;
        int left; // 0: nothing is offered
    };
    const Row rows[] = {{"finished", 0}, {"stopped", 0}, {"closed", 3}};
    for (const Row &r : rows) {
        Harness h;
        h.open();
        const QString release = h.app.path + QStringLiteral("/release");
        const bool finish = QByteArray(r.how) == "finished";
        h.window->AddQueueEntry(h.app.script(
            QStringLiteral("a.flv"),
            finish ? kOutput : QStringList{QStringLiteral("waitfile ") + release, QStringLiteral("output")}));
        h.window->AddQueueEntry(h.app.script(QStringLiteral("b.flv"), kOutput));
        h.window->AddQueueEntry(h.app.script(QStringLiteral("c.flv"), kOutput));
        const QString saved = h.window->keeper().path();
        if (finish) {
            ASSERT_TRUE(h.runBatch());
        } else {
            QEventLoop loop;
            bool ended = false;
            QObject::connect(&h.window->batch(), &BatchDriver::batchFinished, &loop, [&] { ended = true; });
            h.window->imgStart_Click();
            ASSERT_TRUE(waitFor([&] { return !h.window->batch().runningPids().isEmpty(); }));
            // While it runs the queue is saved, the running file marked (the save that marks it
            // may follow the first one).
            ASSERT_TRUE(waitFor([&] {
                const auto batch = readUnfinishedBatch(saved);
                return batch && batch->started == 1;
            }));
            EXPECT_EQ(readUnfinishedBatch(saved)->left(), 3);
            if (QByteArray(r.how) == "stopped") {
                h.window->batch().stop();
            } else {
                h.boxes.answers = {true}; // "Stop it and quit?"
                h.window->close();
            }
            ASSERT_TRUE(waitFor([&] { return ended; }, 20000));
        }
        EXPECT_EQ(readUnfinishedBatch(saved).has_value(), r.left > 0) << r.how;
        // The next start.
        h.window.reset();
        QFile(release).open(QIODevice::WriteOnly);
        QFile::remove(h.app.log());
        h.open();
        h.answerUnfinished(QStringLiteral("Continue"));
        QEventLoop loop;
        bool finished = false;
        QObject::connect(&h.window->batch(), &BatchDriver::batchFinished, &loop, [&] { finished = true; });
        h.window->offerUnfinishedBatch();
        if (r.left == 0) {
            EXPECT_TRUE(h.unfinishedAsked.isEmpty()) << r.how;
            EXPECT_FALSE(h.window->batch().isRunning()) << r.how;
            continue;
        }
        EXPECT_EQ(h.unfinishedAsked,
                  QStringList{QStringLiteral("The last batch did not finish: 3 files were left. Continue?")});
        ASSERT_TRUE(waitFor([&] { return finished; }, 20000));
        EXPECT_EQ(givenOutputs(h),
                  (QStringList{QStringLiteral("a.wma"), QStringLiteral("b.wma"), QStringLiteral("c.wma")}));
        EXPECT_FALSE(QFileInfo::exists(saved)) << "a finished batch leaves no saved queue";
    }
}

TEST(SavedQueue, DiscardForgetsIt)
{
    Harness h;
    h.open();
    UnfinishedBatch b;
    b.paths = {h.app.script(QStringLiteral("a.flv"), kOutput)};
    b.roots = {QString()};
    const QString saved = h.window->keeper().path();
    ASSERT_TRUE(writeUnfinishedBatch(saved, b));
    h.window.reset();
    h.open();
    h.answerUnfinished(QStringLiteral("Discard"));
    h.window->offerUnfinishedBatch();
    EXPECT_EQ(h.unfinishedAsked.size(), 1);
    EXPECT_TRUE(h.window->queue().isEmpty());
    EXPECT_FALSE(h.window->batch().isRunning());
    EXPECT_FALSE(QFileInfo::exists(saved));
    EXPECT_TRUE(h.app.logLines().isEmpty());
}

TEST(Failures, AddBackToQueue)
{
    Harness h;
    h.open();
    const QString music = h.app.path + QStringLiteral("/in/Music");
    QDir(h.app.path + QStringLiteral("/in")).mkpath(QStringLiteral("Music/A"));
    const QString bad =
        h.app.script(QStringLiteral("Music/A/bad.flv"), {QStringLiteral("err conv: broken"), QStringLiteral("exit 5")});
    h.app.script(QStringLiteral("Music/good.flv"), kOutput);
    h.files.folderAnswers = QStringList{music};
    h.window->AddFolder();
    int presses = 0;
    bool enabledAfter = true;
    h.onDialog = [&](QDialog &d) {
        auto *f = qobject_cast<frmFailures *>(&d);
        if (!f)
            return;
        f->addBackButton()->click();
        ++presses;
        enabledAfter = f->addBackButton()->isEnabled();
        f->addBackButton()->click(); // a disabled button does nothing
    };
    ASSERT_TRUE(h.runBatch());
    EXPECT_EQ(presses, 1);
    EXPECT_FALSE(enabledAfter);
    ASSERT_EQ(h.window->queue().count(), 1);
    EXPECT_EQ(h.window->queue().at(0), bad);
    EXPECT_EQ(h.window->queue().rootAt(0), music) << "its output keeps its place under Keep Folder Structure";
    EXPECT_FALSE(h.window->picText()->isVisibleTo(h.window.get())) << "the hint over the list goes";
}

TEST(TrashOriginals, OnlyAfterTheOutputWasCheckedAndNamed)
{
    Harness h;
    const QString data = h.app.path + QStringLiteral("/data-home");
    testsupport::ScopedEnv env;
    env.set("XDG_DATA_HOME", data);
    h.open();
    EXPECT_FALSE(h.window->trashOriginalsAction()->isChecked()) << "off by default";
    h.window->trashOriginalsAction()->trigger();
    EXPECT_TRUE(h.window->batchOptions().trashOriginals);
    const QString good = h.app.script(QStringLiteral("good.flv"), kOutput);
    // The converter's read-back of its output failed: no output, the original stays.
    const QString bad =
        h.app.script(QStringLiteral("bad.flv"),
                     {QStringLiteral("err conv: output check failed: 2.1 s of 3.0 s"), QStringLiteral("exit 5")});
    h.window->AddQueueEntry(good);
    h.window->AddQueueEntry(bad);
    ASSERT_TRUE(h.runBatch());
    EXPECT_FALSE(QFileInfo::exists(good));
    EXPECT_TRUE(QFileInfo::exists(data + QStringLiteral("/Trash/files/good.flv")));
    EXPECT_TRUE(QFileInfo::exists(bad));
    EXPECT_FALSE(QFileInfo::exists(data + QStringLiteral("/Trash/files/bad.flv")));
    EXPECT_TRUE(h.boxes.boxes.empty()) << "nothing to say: the one converted original went";
}
