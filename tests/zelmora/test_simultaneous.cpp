// "Simultaneous Conversions" in the window: the Options menu's choices, their command words and
// zelmora.conf, and batches converting several files at once (close, failures, the bar).
#include "support/process.h"
#include "shell/frmfailures.h"
#include "zelmora/windowutil.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSettings>
#include <QTest>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

using namespace zm;
using testsupport::gone;
using zmtest::Harness;

namespace {

QStringList captions(QMenu *menu)
{
    QStringList out;
    for (QAction *a : menu->actions())
        out << a->text();
    return out;
}

QStringList checked(QMenu *menu)
{
    QStringList out;
    for (QAction *a : menu->actions())
        if (a->isChecked())
            out << a->text();
    return out;
}

QString storedJobs(const Harness &h)
{
    return QSettings(h.app.path + QStringLiteral("/zelmora.conf"), QSettings::IniFormat)
        .value(QStringLiteral("Batch/Jobs"))
        .toString();
}

} // namespace

TEST(SimultaneousConversions, MenuChoicesWordsAndTheFile)
{
    Harness h;
    h.open();
    const int cores = QThread::idealThreadCount();
    const QString all = QStringLiteral("All Cores (%1)").arg(cores);
    QMenu *options = h.window->menuOptions();
    // The last item of the Options menu opens the four choices; 1 is checked on a first start.
    ASSERT_EQ(options->actions().last()->menu(), h.window->menuJobs());
    EXPECT_EQ(options->actions().last()->text(), QStringLiteral("Simultaneous Conversions"));
    EXPECT_EQ(captions(h.window->menuJobs()), (QStringList{"1", "2", "4", all}));
    EXPECT_EQ(checked(h.window->menuJobs()), QStringList{"1"});
    EXPECT_EQ(h.window->batch().jobs(), 1);
    EXPECT_FALSE(QFile::exists(h.app.path + QStringLiteral("/zelmora.conf")));

    struct Row {
        int item;
        const char *word;
        int jobs; // 0: all cores
        const char *stored;
    };
    const Row rows[] = {
        {1, "menuJobs2", 2, "2"}, {3, "menuJobsAll", 0, "all"}, {2, "menuJobs4", 4, "4"}, {0, "menuJobs1", 1, "1"}};
    for (const Row &r : rows) {
        QStringList words;
        const QMetaObject::Connection seen =
            QObject::connect(h.window->txtAction(), &QLineEdit::textChanged, h.window.get(), [&](const QString &t) {
                if (!t.isEmpty())
                    words << t;
            });
        QAction *a = h.window->menuJobs()->actions()[r.item];
        const QString caption = a->text(); // the action goes with the window when it reopens
        a->trigger();
        EXPECT_EQ(words, QStringList{QString::fromLatin1(r.word)}) << "through the command word";
        EXPECT_TRUE(h.window->txtAction()->text().isEmpty());
        EXPECT_EQ(checked(h.window->menuJobs()), QStringList{caption}) << r.word;
        EXPECT_EQ(h.window->batch().jobs(), r.jobs ? r.jobs : cores) << r.word;
        EXPECT_EQ(storedJobs(h), QString::fromLatin1(r.stored)) << r.word;
        QObject::disconnect(seen);
        // A restart finds the choice again.
        if (r.item != 0) {
            h.open();
            EXPECT_EQ(checked(h.window->menuJobs()), QStringList{caption}) << r.word;
            EXPECT_EQ(h.window->batch().jobs(), r.jobs ? r.jobs : cores) << r.word;
        }
    }
    // The words are exact like the others: letter case matters.
    h.window->txtAction()->setText(QStringLiteral("menujobs2"));
    EXPECT_EQ(h.window->batch().jobs(), 1);
}

TEST(SimultaneousConversions, AFileThatSaysNothingUsefulMeansOne)
{
    for (const QByteArray &text :
         {QByteArray("[Batch]\nJobs=3\n"), QByteArray("[Batch]\nJobs=\n"), QByteArray("\xff\xfe\x00", 3)}) {
        Harness h;
        QFile f(h.app.path + QStringLiteral("/zelmora.conf"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
        f.close();
        h.open();
        EXPECT_EQ(checked(h.window->menuJobs()), QStringList{"1"}) << text.toStdString();
        EXPECT_EQ(h.window->batch().jobs(), 1);
    }
}

TEST(SimultaneousConversions, ClosingStopsEveryConverter)
{
    Harness h;
    h.open();
    h.window->show();
    h.window->txtAction()->setText(QStringLiteral("menuJobs4"));
    QStringList inputs;
    for (int i = 0; i < 5; ++i)
        inputs << h.app.script(QStringLiteral("long%1.flv").arg(i),
                               {QStringLiteral("touch ") + h.app.path + QStringLiteral("/ready%1").arg(i),
                                QStringLiteral("sleep 20000"), QStringLiteral("output")});
    for (const QString &p : inputs)
        h.window->AddQueueEntry(p);
    h.boxes.answers = {true};
    bool exited = false;
    QObject::connect(h.window.get(), &frmMain::exitRequested, [&] { exited = true; });
    QList<pid_t> pids;
    int started = 0;
    QObject::connect(&h.window->batch(), &BatchDriver::fileStarted, h.window.get(), [&] {
        if (++started != 4)
            return;
        QTimer::singleShot(0, h.window.get(), [&] {
            for (int i = 0; i < 4; ++i)
                while (!QFile::exists(h.app.path + QStringLiteral("/ready%1").arg(i)))
                    QTest::qWait(10);
            pids = h.window->batch().runningPids();
            h.window->close();
        });
    });
    ASSERT_TRUE(h.runBatch());
    ASSERT_EQ(h.boxes.questions.size(), 1u);
    EXPECT_EQ(h.boxes.questions[0].text, QStringLiteral("A conversion is running. Stop it and quit?"));
    EXPECT_TRUE(exited);
    ASSERT_EQ(pids.size(), 4);
    for (pid_t p : pids)
        EXPECT_TRUE(gone(p));
    EXPECT_EQ(h.window->queue().paths(), inputs);
    EXPECT_TRUE(h.shell.opened.isEmpty());
    EXPECT_TRUE(h.sound.played.isEmpty());
    EXPECT_TRUE(QFile::exists(h.app.path + QStringLiteral("/setup.ini")));
}

TEST(SimultaneousConversions, OneFailuresWindowOneFolderOneSound)
{
    Harness h;
    h.open();
    h.window->txtAction()->setText(QStringLiteral("menuJobs2"));
    const QString bad1 = h.app.script(
        QStringLiteral("bad1.flv"),
        {QStringLiteral("sleep 200"), QStringLiteral("err conv: no audio stream"), QStringLiteral("exit 1")});
    const QString bad2 = h.app.script(QStringLiteral("bad2.flv"),
                                      {QStringLiteral("err conv: cannot open input"), QStringLiteral("exit 1")});
    const QString good =
        h.app.script(QStringLiteral("good.flv"),
                     {QStringLiteral("err Duration: 00:00:04.00, start"), QStringLiteral("raw time=2.00 \\r"),
                      QStringLiteral("sleep 100"), QStringLiteral("output")});
    for (const QString &p : {bad1, bad2, good})
        h.window->AddQueueEntry(p);
    Harness::FailuresSeen seen;
    h.watchFailures(seen);
    ASSERT_TRUE(h.runBatch());
    EXPECT_EQ(h.dialogs, 1);
    seen.rows.sort();
    EXPECT_EQ(seen.rows, (QStringList{bad1 + QStringLiteral("\nconv: no audio stream"),
                                      bad2 + QStringLiteral("\nconv: cannot open input")}));
    EXPECT_EQ(seen.captionAtWindow, QStringLiteral("Done."));
    EXPECT_EQ(h.shell.opened, QStringList{h.app.path + QStringLiteral("/output")});
    EXPECT_EQ(h.sound.played.size(), 1);
    EXPECT_TRUE(h.window->lblStatus()->text().startsWith(QStringLiteral("1 converted, 2 failed \u00b7 ")));
    EXPECT_EQ(h.window->queue().count(), 0);
    EXPECT_EQ(h.window->convertState(), frmMain::ConvertState::Convert);
}
