#include "queue/getfile.h"
#include "shell/frmfailures.h"
#include "skin/hotspot.h"
#include "zelmora/windowutil.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>
#include <QListWidget>
#include <QProcess>
#include <csignal>
#include <QTreeView>
#include <QTest>
#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace zm;
using zmtest::Harness;
using zmtest::LogEntry;
using zmtest::parseLog;

namespace {

QStringList okScript()
{
    return {QStringLiteral("err   Duration: 00:00:10.00, start: 0.000000"), QStringLiteral("sleep 60"),
            QStringLiteral("raw size=1kB time=5.00 bitrate=1\\r"), QStringLiteral("sleep 60"),
            QStringLiteral("output")};
}

} // namespace

TEST(Batch, ThreeFilesInOrder)
{
    Harness h;
    h.open();
    const QStringList inputs{h.app.script(QStringLiteral("one.flv"), okScript()),
                             h.app.script(QStringLiteral("two.avi"), okScript()),
                             h.app.script(QStringLiteral("three.mp4"), okScript())};
    for (const QString &p : inputs)
        h.window->AddQueueEntry(p);
    QStringList captions;
    QObject::connect(&h.window->batch(), &BatchDriver::progressChanged,
                     [&](float, const QString &c) { captions << c; });
    bool lockedDuring = false;
    QObject::connect(&h.window->batch(), &BatchDriver::fileStarted, [&] {
        lockedDuring = h.window->convertState() == frmMain::ConvertState::Stop && h.window->imgConvert()->isEnabled()
                       && !h.window->imgToolbar(0)->isEnabled();
    });
    ASSERT_TRUE(h.runBatch());

    const auto log = parseLog(h.app.logLines());
    ASSERT_EQ(log.size(), 6u);
    for (int i = 0; i < 3; ++i) {
        const LogEntry &s = log[2 * size_t(i)];
        ASSERT_TRUE(s.start);
        EXPECT_EQ(s.args.value(1), inputs[i]);
        EXPECT_EQ(s.args.last(), h.out(GetBaseName(inputs[i]) + QStringLiteral(".wma")));
        if (i > 0) {
            EXPECT_GE(s.ms - log[size_t(2 * i - 1)].ms, 100) << "file " << i;
        }
    }
    EXPECT_TRUE(lockedDuring);
    EXPECT_EQ(h.window->queue().count(), 0);
    EXPECT_EQ(h.window->LV()->model()->rowCount(), 0);
    EXPECT_EQ(h.shell.opened, QStringList{h.app.path + QStringLiteral("/output")});
    EXPECT_EQ(h.window->lblPB()->text(), QStringLiteral("Done."));
    EXPECT_EQ(h.window->imgPB()->width(), 0);
    EXPECT_TRUE(captions.contains(QStringLiteral("50%")));
    EXPECT_EQ(h.sound.played, QStringList{h.app.path + QStringLiteral("/sound.wav")});
    EXPECT_TRUE(h.boxes.boxes.empty());
    EXPECT_TRUE(h.window->imgConvert()->isEnabled());
    EXPECT_TRUE(h.window->imgToolbar(6)->isEnabled());
    EXPECT_TRUE(h.window->lblFeed()->isEnabled());
    for (const QString &p : inputs)
        EXPECT_TRUE(QFile::exists(h.out(GetBaseName(p) + QStringLiteral(".wma"))));
}

TEST(Batch, BarFollowsTheConverter)
{
    Harness h;
    h.open();
    h.window->AddQueueEntry(
        h.app.script(QStringLiteral("bar.flv"),
                     {QStringLiteral("err Duration: 00:00:40.00, start"), QStringLiteral("sleep 80"),
                      QStringLiteral("raw time=3.00 \\r"), QStringLiteral("sleep 300"), QStringLiteral("output")}));
    int widthAt = -1;
    QString captionAt;
    QObject::connect(&h.window->batch(), &BatchDriver::progressChanged, [&](float, const QString &c) {
        if (c == QLatin1String("7.5%")) {
            widthAt = h.window->imgPB()->width();
            captionAt = h.window->lblPB()->text();
        }
    });
    ASSERT_TRUE(h.runBatch());
    EXPECT_EQ(captionAt, QStringLiteral("7.5%"));
    EXPECT_EQ(widthAt, 27); // 361 * 3 / 40
}

TEST(Batch, SoundOnlyWhenOn)
{
    for (const char *setting : {"0", "1"}) {
        Harness h;
        ASSERT_TRUE(h.app.write(QStringLiteral("options.ini"), QByteArray(setting) + "\r\n0\r\n0\r\n0\r\n"));
        h.open();
        h.window->AddQueueEntry(h.app.script(QStringLiteral("s.flv"), {QStringLiteral("output")}));
        ASSERT_TRUE(h.runBatch());
        EXPECT_EQ(h.sound.played.size(), setting[0] == '0' ? 1 : 0) << setting;
    }
}

TEST(Batch, TheOutputFolderOpensWhenDoneOnlyWhileTheOptionIsOn)
{
    struct Row {
        const char *name;
        QByteArray conf;    // zelmora.conf before the start; empty: none
        bool toggle;        // Options, "Open Output Folder When Done" chosen once
        bool opened;        // the folder opens at the end of the batch
        const char *stored; // OpenFolderWhenDone= afterwards; null: not written
    };
    const Row rows[] = {
        {"a first start", {}, false, true, nullptr},
        {"turned off", {}, true, false, "false"},
        {"off in the file", "[Batch]\nOpenFolderWhenDone=false\nJobs=2\n", false, false, "false"},
        {"turned on again", "[Batch]\nOpenFolderWhenDone=false\n", true, true, "true"},
        {"garbage in the file", "[Batch]\nOpenFolderWhenDone=perhaps\n", false, true, "perhaps"},
    };
    for (const Row &r : rows) {
        Harness h;
        if (!r.conf.isEmpty()) {
            ASSERT_TRUE(h.app.write(QStringLiteral("zelmora.conf"), r.conf)) << r.name;
        }
        h.open();
        QAction *option = h.window->openFolderWhenDoneAction();
        ASSERT_NE(option, nullptr);
        EXPECT_EQ(option->text(), QStringLiteral("Open Output Folder When Done"));
        EXPECT_TRUE(option->isCheckable());
        EXPECT_TRUE(h.window->menuOptions()->actions().contains(option)) << r.name;
        if (r.toggle)
            option->trigger();
        EXPECT_EQ(option->isChecked(), r.opened) << r.name;
        h.window->AddQueueEntry(h.app.script(QStringLiteral("s.flv"), {QStringLiteral("output")}));
        ASSERT_TRUE(h.runBatch()) << r.name;
        EXPECT_EQ(h.shell.opened, r.opened ? QStringList{h.app.path + QStringLiteral("/output")} : QStringList())
            << r.name;
        EXPECT_EQ(h.window->lblPB()->text(), QStringLiteral("Done.")) << r.name;
        const QSettings conf(h.app.path + QStringLiteral("/zelmora.conf"), QSettings::IniFormat);
        EXPECT_EQ(conf.value(QStringLiteral("Batch/OpenFolderWhenDone")).toString(),
                  r.stored ? QString::fromLatin1(r.stored) : QString())
            << r.name;
        if (r.conf.contains("Jobs=2")) {
            EXPECT_EQ(conf.value(QStringLiteral("Batch/Jobs")).toString(), QStringLiteral("2")) << "kept";
        }
        // A restart finds the choice again.
        h.open();
        EXPECT_EQ(h.window->openFolderWhenDoneAction()->isChecked(), r.opened) << r.name;
    }
}

TEST(Batch, LoudnessChoicesInTheOptionsMenu)
{
    struct Row {
        const char *name;
        QByteArray conf;               // zelmora.conf before the start; empty: none
        QStringList choose;            // the captions leading to the item chosen; empty: none
        const char *checked;           // the caption checked afterwards
        const char *stored;            // Loudness= afterwards; null: not written
        const char *inLine;            // what the command line holds before the output; null: nothing added
        const char *failure = nullptr; // the file's failure instead of a line (album normalisation
                                       // measures first; this converter writes no measurement)
    };
    const Row rows[] = {
        {"a first start: off", {}, {}, "Off", nullptr, nullptr},
        {"tag only",
         {},
         {"Tag Only (track and album)"},
         "Tag Only (track and album)",
         "tags",
         " -replaygain track -loudness-out \""},
        {"normalise", "[Batch]\nJobs=2\n", {"Normalise to", "-23 LUFS"}, "-23 LUFS", "-23", " -loudnorm -23 \""},
        {"off again", "[Batch]\nLoudness=-16\n", {"Off"}, "Off", "off", nullptr},
        {"kept from the file", "[Batch]\nLoudness=-16\n", {}, "-16 LUFS", "-16", " -loudnorm -16 \""},
        {"garbage in the file", "[Batch]\nLoudness=very loud\n", {}, "Off", "very loud", nullptr},
        {"a target the menu does not have", "[Batch]\nLoudness=-99\n", {}, "Off", "-99", nullptr},
        {"normalise albums",
         {},
         {"Normalise Albums to", "-18 LUFS"},
         "albums -18 LUFS",
         "album:-18",
         nullptr,
         "the loudness of its album could not be measured"},
        {"albums kept from the file",
         "[Batch]\nLoudness=album:-14\n",
         {},
         "albums -14 LUFS",
         "album:-14",
         nullptr,
         "could not be measured"},
        {"an album target the menu does not have", "[Batch]\nLoudness=album:-99\n", {}, "Off", "album:-99", nullptr},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        Harness h;
        if (!r.conf.isEmpty()) {
            ASSERT_TRUE(h.app.write(QStringLiteral("zelmora.conf"), r.conf));
        }
        h.open();
        QMenu *loudness = h.window->menuLoudness();
        ASSERT_NE(loudness, nullptr);
        EXPECT_EQ(loudness->title(), QStringLiteral("Loudness"));
        EXPECT_TRUE(h.window->menuOptions()->actions().contains(loudness->menuAction()));
        QStringList captions;
        for (QAction *a : loudness->actions())
            captions << a->text();
        EXPECT_EQ(captions, (QStringList{"Off", "Tag Only (track and album)", "Normalise to", "Normalise Albums to"}));
        QMenu *normalise = loudness->actions().at(2)->menu();
        ASSERT_NE(normalise, nullptr);
        captions.clear();
        for (QAction *a : normalise->actions())
            captions << a->text();
        EXPECT_EQ(captions, (QStringList{"-14 LUFS", "-16 LUFS", "-18 LUFS", "-23 LUFS"}));
        QMenu *albums = loudness->actions().at(3)->menu();
        ASSERT_NE(albums, nullptr);
        captions.clear();
        for (QAction *a : albums->actions())
            captions << a->text();
        EXPECT_EQ(captions, (QStringList{"-14 LUFS", "-16 LUFS", "-18 LUFS", "-23 LUFS"}));
        if (!r.choose.isEmpty()) {
            QMenu *menu = loudness;
            for (const QString &caption : r.choose) {
                QAction *found = nullptr;
                for (QAction *a : menu->actions())
                    if (a->text() == caption)
                        found = a;
                ASSERT_NE(found, nullptr) << caption.toStdString();
                if (found->menu())
                    menu = found->menu();
                else
                    found->trigger();
            }
        }
        QStringList checked;
        for (QAction *a : loudness->actions() + normalise->actions())
            if (a->isChecked())
                checked << a->text();
        for (QAction *a : albums->actions())
            if (a->isChecked())
                checked << QStringLiteral("albums ") + a->text();
        EXPECT_EQ(checked, QStringList{QString::fromLatin1(r.checked)}) << "one choice at a time";

        QStringList lines;
        QObject::connect(&h.window->batch(), &BatchDriver::fileStarted,
                         [&](const QString &, const QString &line) { lines << line; });
        const QString input = h.app.script(QStringLiteral("s.flv"), {QStringLiteral("output")});
        h.window->AddQueueEntry(input);
        ASSERT_TRUE(h.runBatch());
        if (r.failure) {
            EXPECT_TRUE(lines.isEmpty()) << "no conversion of an album that was not measured";
            ASSERT_EQ(h.window->batch().failures().size(), 1);
            EXPECT_TRUE(h.window->batch().failures().first().reason.contains(QLatin1String(r.failure)))
                << h.window->batch().failures().first().reason.toStdString();
            EXPECT_EQ(h.window->queue().count(), 0) << "the failed file leaves the queue";
        } else {
            ASSERT_EQ(lines.size(), 1);
        }
        CommandInputs plain;
        plain.appDir = h.app.path;
        plain.inputPath = input;
        plain.outputDir = h.window->selections().outputDir;
        plain.formatIndex = h.window->selections().formatIndex;
        const QString output = outputPathFor(plain);
        if (r.failure) {
        } else if (r.inLine) {
            EXPECT_TRUE(lines.first().contains(QLatin1String(r.inLine))) << lines.first().toStdString();
            EXPECT_TRUE(lines.first().endsWith(quoteArg(output)));
        } else {
            EXPECT_EQ(lines.first(), BuildCommandLine(plain, output)) << "off: the line as it always was";
        }
        const QSettings conf(h.app.path + QStringLiteral("/zelmora.conf"), QSettings::IniFormat);
        EXPECT_EQ(conf.value(QStringLiteral("Batch/Loudness")).toString(),
                  r.stored ? QString::fromLatin1(r.stored) : QString());
        if (r.conf.contains("Jobs=2")) {
            EXPECT_EQ(conf.value(QStringLiteral("Batch/Jobs")).toString(), QStringLiteral("2")) << "kept";
        }
        // A restart finds the choice again.
        h.open();
        checked.clear();
        for (QAction *a :
             h.window->menuLoudness()->actions() + h.window->menuLoudness()->actions().at(2)->menu()->actions())
            if (a->isChecked())
                checked << a->text();
        for (QAction *a : h.window->menuLoudness()->actions().at(3)->menu()->actions())
            if (a->isChecked())
                checked << QStringLiteral("albums ") + a->text();
        EXPECT_EQ(checked, QStringList{QString::fromLatin1(r.checked)});
    }
}

TEST(Batch, FileAddedDuringTheBatchIsConverted)
{
    Harness h;
    h.open();
    h.window->AddQueueEntry(h.app.script(QStringLiteral("first.flv"), okScript()));
    const QString late = h.app.script(QStringLiteral("late.flv"), okScript());
    bool added = false;
    QObject::connect(&h.window->batch(), &BatchDriver::fileStarted, [&] {
        if (!added) {
            added = true;
            QTimer::singleShot(30, [&] { h.window->AddQueueEntry(late); });
        }
    });
    ASSERT_TRUE(h.runBatch());
    const auto log = parseLog(h.app.logLines());
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[2].args.value(1), late);
    EXPECT_EQ(h.shell.opened.size(), 1);
}

TEST(Batch, EmptyQueueAsksForAFile)
{
    Harness h;
    h.open();
    h.window->imgStart_Click();
    ASSERT_EQ(h.boxes.boxes.size(), 1u);
    EXPECT_EQ(h.boxes.boxes[0].text, QStringLiteral("Please add a file"));
    EXPECT_EQ(h.boxes.boxes[0].caption, QStringLiteral("Add"));
    EXPECT_EQ(h.boxes.boxes[0].icon, MsgIcon::Warning);
    EXPECT_FALSE(h.window->batch().isRunning());
    EXPECT_TRUE(h.window->imgConvert()->isEnabled());
    EXPECT_FALSE(h.window->batch().Timer1().isActive());
}

TEST(Batch, MissingConverterGivesTheWindowBack)
{
    Harness h(false);
    h.open();
    h.window->AddQueueEntry(h.app.path + QStringLiteral("/in/a.flv"));
    ASSERT_TRUE(h.runBatch());
    ASSERT_EQ(h.boxes.boxes.size(), 1u);
    EXPECT_EQ(h.boxes.boxes[0].text, QStringLiteral("File or command not found"));
    EXPECT_EQ(h.window->queue().count(), 1);
    EXPECT_FALSE(h.window->batch().isRunning());
    EXPECT_TRUE(h.window->imgConvert()->isEnabled());
    EXPECT_TRUE(h.window->imgToolbar(0)->isEnabled());
    EXPECT_TRUE(h.shell.opened.isEmpty());
}

TEST(Batch, FailedFilesListedAfterDone)
{
    Harness h;
    h.open();
    const QString good = h.app.script(QStringLiteral("good.flv"), okScript());
    const QString bad = h.app.script(QStringLiteral("bad.flv"),
                                     {QStringLiteral("err conv: no audio stream in input"), QStringLiteral("exit 1")});
    const QString silent = h.app.script(QStringLiteral("nofile.flv"), {QStringLiteral("out nothing written")});
    for (const QString &p : {good, bad, silent})
        h.window->AddQueueEntry(p);
    Harness::FailuresSeen seen;
    h.watchFailures(seen);
    ASSERT_TRUE(h.runBatch());
    EXPECT_EQ(h.window->queue().count(), 0);
    EXPECT_TRUE(h.boxes.boxes.empty());
    EXPECT_EQ(h.dialogs, 1);
    EXPECT_EQ(seen.windows, 1);
    EXPECT_EQ(seen.captionAtWindow, QStringLiteral("Done."));
    const QStringList &rows = seen.rows;
    // Each failed file once, with the converter's reason (or how it ended) once below it.
    EXPECT_EQ(rows, (QStringList{bad + QStringLiteral("\nconv: no audio stream in input"),
                                 silent + QStringLiteral("\nno output file was written")}));
    ASSERT_EQ(h.window->batch().failures().size(), 2);
    EXPECT_EQ(h.window->lblStatus()->text(), QStringLiteral("1 converted, 2 failed \u00b7 0:00"));
}

TEST(Batch, CollidingNamesNeverOverwriteThisBatch)
{
    Harness h;
    QDir(h.app.path).mkpath(QStringLiteral("in/x"));
    QDir(h.app.path).mkpath(QStringLiteral("in/y"));
    QDir(h.app.path).mkpath(QStringLiteral("output"));
    h.open();
    // A file from an earlier run is replaced when the user says so.
    QFile old(h.out(QStringLiteral("clip.wma")));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    h.answerExisting(zm::ExistingChoice::Replace);
    const QStringList inputs{h.app.script(QStringLiteral("x/clip.flv"), {QStringLiteral("output")}),
                             h.app.script(QStringLiteral("y/clip.mp4"), {QStringLiteral("output")}),
                             h.app.script(QStringLiteral("x/clip.part2.flv"), {QStringLiteral("output")})};
    for (const QString &p : inputs)
        h.window->AddQueueEntry(p);
    ASSERT_TRUE(h.runBatch());
    EXPECT_EQ(h.existingAsked, QStringList{QStringLiteral("1 output files already exist.")});
    const auto log = parseLog(h.app.logLines());
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[0].args.last(), h.out(QStringLiteral("clip.wma")));
    EXPECT_EQ(log[2].args.last(), h.out(QStringLiteral("clip (2).wma")));
    EXPECT_EQ(log[4].args.last(), h.out(QStringLiteral("clip (3).wma")));
    QFile first(h.out(QStringLiteral("clip.wma")));
    ASSERT_TRUE(first.open(QIODevice::ReadOnly));
    EXPECT_EQ(first.readAll(), QByteArray("converted audio\n"));
}

TEST(Batch, SelectionChangedDuringTheBatchAppliesToTheNextFile)
{
    Harness h;
    h.open();
    h.window->AddQueueEntry(h.app.script(QStringLiteral("a.flv"), okScript()));
    h.window->AddQueueEntry(h.app.script(QStringLiteral("b.flv"), okScript()));
    bool changed = false;
    QObject::connect(&h.window->batch(), &BatchDriver::fileStarted, [&] {
        if (!changed) {
            changed = true;
            h.window->cmbOF()->setCurrentIndex(0);
        }
    });
    ASSERT_TRUE(h.runBatch());
    const auto log = parseLog(h.app.logLines());
    ASSERT_EQ(log.size(), 4u);
    EXPECT_TRUE(log[0].args.last().endsWith(QStringLiteral("a.wma")));
    EXPECT_TRUE(log[2].args.last().endsWith(QStringLiteral("b.mp3")));
    EXPECT_TRUE(log[2].args.contains(QStringLiteral("-ab")));
}

TEST(Batch, CutterReachesTheConverter)
{
    Harness h;
    ASSERT_TRUE(h.app.write(QStringLiteral("options.ini"), "1\r\n1\r\n30\r\n60\r\n"));
    h.open();
    h.window->cmbOF()->setCurrentIndex(3);
    h.window->AddQueueEntry(h.app.script(QStringLiteral("cut.flv"), {QStringLiteral("output")}));
    ASSERT_TRUE(h.runBatch());
    const auto log = parseLog(h.app.logLines());
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0].args.mid(2, 4), (QStringList{"-ss", "30", "-t", "60"}));
}

TEST(Batch, ClosingTheWindowDuringAConversionAsksFirst)
{
    for (const bool yes : {false, true}) {
        Harness h;
        h.open();
        h.window->show();
        const QString first =
            h.app.script(QStringLiteral("long.flv"),
                         {QStringLiteral("out started"), QStringLiteral("sleep 1500"), QStringLiteral("output")});
        const QString second = h.app.script(QStringLiteral("next.flv"), {QStringLiteral("output")});
        h.window->AddQueueEntry(first);
        h.window->AddQueueEntry(second);
        h.window->cmbOF()->setCurrentIndex(3);
        h.boxes.answers = {yes};
        bool exited = false;
        QObject::connect(h.window.get(), &frmMain::exitRequested, [&] { exited = true; });
        pid_t child = -1;
        QObject::connect(&h.window->batch(), &BatchDriver::fileStarted, h.window.get(), [&] {
            if (child < 0)
                QTimer::singleShot(200, h.window.get(), [&] {
                    child = h.window->objDOS().childPid();
                    h.window->close();
                });
        });
        ASSERT_TRUE(h.runBatch()) << yes;
        ASSERT_EQ(h.boxes.questions.size(), 1u) << yes;
        EXPECT_EQ(h.boxes.questions[0].text, QStringLiteral("A conversion is running. Stop it and quit?"));
        EXPECT_EQ(h.boxes.questions[0].caption, QStringLiteral("Zelmora"));
        EXPECT_GT(child, 0);
        if (yes) {
            // Stopped as by the Stop button, settings kept as by Exit, then the program ends.
            EXPECT_TRUE(exited);
            EXPECT_FALSE(h.window->isVisible());
            EXPECT_EQ(h.window->queue().paths(), (QStringList{first, second}));
            EXPECT_FALSE(QFile::exists(h.out(QStringLiteral("long.wav"))));
            EXPECT_EQ(::kill(child, 0), -1) << "the converter is gone";
            QFile setup(h.app.path + QStringLiteral("/setup.ini"));
            ASSERT_TRUE(setup.open(QIODevice::ReadOnly));
            EXPECT_TRUE(setup.readAll().endsWith("\"3\"\r\n"));
            EXPECT_TRUE(h.shell.opened.isEmpty());
        } else {
            // No: the batch goes on to its end, the window stays.
            EXPECT_FALSE(exited);
            EXPECT_TRUE(h.window->isVisible());
            EXPECT_EQ(h.window->queue().count(), 0);
            EXPECT_TRUE(QFile::exists(h.out(QStringLiteral("long.wav"))));
            EXPECT_TRUE(QFile::exists(h.out(QStringLiteral("next.wav"))));
            EXPECT_FALSE(QFile::exists(h.app.path + QStringLiteral("/setup.ini")));
        }
    }
}

TEST(Batch, ClosingWhenIdleAsksNothing)
{
    Harness h;
    h.open();
    h.window->show();
    h.window->close();
    EXPECT_TRUE(h.boxes.questions.empty());
    EXPECT_FALSE(h.window->isVisible());
}

TEST(Batch, AnotherConvStartedBySomeoneElseDoesNotHoldTheBatch)
{
    // A converter of the same name that this window did not start (another user's, another
    // program's) runs all through the batch: the batch follows its own converters only.
    Harness h;
    h.open();
    zmtest::FakeApp elsewhere;
    QProcess other;
    other.setProgram(elsewhere.conv());
    other.setArguments(
        {QStringLiteral("-i"), elsewhere.script(QStringLiteral("other.flv"), {QStringLiteral("sleep 20000")})});
    other.start();
    ASSERT_TRUE(other.waitForStarted());
    h.window->AddQueueEntry(h.app.script(QStringLiteral("a.flv"), okScript()));
    h.window->AddQueueEntry(h.app.script(QStringLiteral("b.flv"), okScript()));
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(h.runBatch(15000));
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_EQ(other.state(), QProcess::Running) << "the batch ended while the other converter still ran";
    EXPECT_EQ(h.window->lblPB()->text(), QStringLiteral("Done."));
    EXPECT_TRUE(QFile::exists(h.out(QStringLiteral("b.wma"))));
    other.kill();
    other.waitForFinished(3000);
}
