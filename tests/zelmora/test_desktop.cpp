// The window as the desktop starts it: an installed copy keeping its settings per user, and
// files given on the command line or handed over by a later start.
#include "support/files.h"
#include "support/scopedenv.h"
#include "shell/frmfailures.h"
#include "shell/frmoptions.h"
#include "instance/singleinstance.h"
#include "zelmora/windowutil.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace zm;
using testsupport::readFile;
using testsupport::ScopedEnv;
using testsupport::touch;
using zmtest::Harness;

namespace {

// <root>/prefix as `cmake --install` lays it out, with the fake converter, and a home of its own.
struct InstalledCopy {
    QTemporaryDir root;
    ScopedEnv env;
    QString appDir, config, home;
    InstalledCopy()
    {
        appDir = root.filePath(QStringLiteral("prefix/lib/zelmora-suite/zelmora"));
        config = root.filePath(QStringLiteral("home/.config"));
        home = root.filePath(QStringLiteral("home"));
        QDir().mkpath(appDir + QStringLiteral("/data"));
        QFile::copy(QStringLiteral(FAKECONV_PATH), appDir + QStringLiteral("/data/conv"));
        touch(root.filePath(QStringLiteral("prefix/share/applications/net.zelmora.Zelmora.desktop")));
        env.set("HOME", home);
        env.set("XDG_CONFIG_HOME", config);
    }
    QStringList appFiles() const { return QDir(appDir).entryList(QDir::Files | QDir::Hidden); }
};

} // namespace

TEST(InstalledCopy, KeepsItsSettingsPerUser)
{
    InstalledCopy copy;
    Harness h;
    h.open(copy.appDir);
    frmMain &w = *h.window;
    const QString music = copy.home + QStringLiteral("/Music/Zelmora");
    EXPECT_FALSE(w.state().portable());
    EXPECT_EQ(w.txtPath()->text(), music) << "a first start converts into the user's music folder";
    h.files.folderAnswers = QStringList{QString()};
    w.imgBrowse_Click(); // cancelled: back to the default
    EXPECT_EQ(w.txtPath()->text(), music);

    // The three files go to the user's configuration folder, made private as needed.
    w.cmbOF()->setCurrentIndex(4);
    w.txtAction()->setText(QStringLiteral("menuJobs2"));
    h.onDialog = [](QDialog &d) {
        auto *o = qobject_cast<frmOptions *>(&d);
        ASSERT_NE(o, nullptr);
        o->cmbSR()->setCurrentIndex(1);
        o->imgOK_Click();
    };
    w.imgToolbar_Click(2);
    w.imgExit_Click();
    const QString folder = copy.config + QStringLiteral("/zelmora");
    EXPECT_TRUE(readFile(folder + QStringLiteral("/setup.ini")).endsWith("\"" + music.toUtf8() + "\"\r\n\"4\"\r\n"));
    EXPECT_EQ(readFile(folder + QStringLiteral("/options.ini")), QByteArray("1\r\n0\r\n0\r\n0\r\n"));
    EXPECT_TRUE(readFile(folder + QStringLiteral("/zelmora.conf")).contains("Jobs=2"));
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(folder).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(copy.appFiles(), QStringList{}) << "nothing beside the installed program";

    // The next start reads them back.
    h.settings = {};
    h.open(copy.appDir);
    EXPECT_EQ(h.window->cmbOF()->currentText(), QStringLiteral("FLAC"));
    EXPECT_EQ(h.window->jobsChoice(), JobsChoice::Two);
    EXPECT_EQ(h.settings.gSoundReminder, 1);

    // A conversion runs the program's own converter and writes into the music folder, made
    // (with ~/Music above it) when the first file is converted.
    h.window->cmbOF()->setCurrentIndex(1);
    h.window->AddQueueEntry(h.app.script(QStringLiteral("song.flv"), {QStringLiteral("output")}));
    h.onDialog = nullptr;
    ASSERT_TRUE(h.runBatch());
    EXPECT_TRUE(QFileInfo::exists(music + QStringLiteral("/song.wma")));
    EXPECT_EQ(h.shell.opened.value(0), music);
}

TEST(InstalledCopy, APortableCopyKeepsItsFilesBesideItself)
{
    // Whatever the user's configuration folder, a copy that is not installed keeps to its own.
    InstalledCopy copy;
    Harness h;
    h.open();
    EXPECT_TRUE(h.window->state().portable());
    h.window->txtAction()->setText(QStringLiteral("menuJobs4"));
    h.window->imgExit_Click();
    EXPECT_TRUE(QFileInfo::exists(h.app.path + QStringLiteral("/setup.ini")));
    EXPECT_TRUE(QFileInfo::exists(h.app.path + QStringLiteral("/zelmora.conf")));
    EXPECT_FALSE(QFileInfo::exists(copy.config + QStringLiteral("/zelmora")));
}

TEST(LaunchFiles, JoinTheQueueAsDropsDo)
{
    Harness h;
    h.open();
    frmMain &w = *h.window;
    const QString in = h.app.path + QStringLiteral("/in");
    QDir(in).mkpath(QStringLiteral("Album/CD 10"));
    QDir(in).mkpath(QStringLiteral("Album/CD 9"));
    const QString a = h.app.script(QStringLiteral("a.flv"), {}), b = h.app.script(QStringLiteral("b.avi"), {});
    const QString cd9 = h.app.script(QStringLiteral("Album/CD 9/t.mp4"), {});
    const QString cd10 = h.app.script(QStringLiteral("Album/CD 10/t.mp4"), {});
    const QString fifo = in + QStringLiteral("/pipe.flv");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // A second request that comes while the first is still being queued (the window answers
    // events while it searches a folder) follows it; a FIFO and a file gone since never join.
    w.folderLister = [&w, b](const QString &folder) {
        if (folder.endsWith(QStringLiteral("/Album")) && w.openFromLaunch({{b}, {}}))
            QCoreApplication::processEvents();
        return listFolder(folder);
    };
    EXPECT_TRUE(w.openFromLaunch({{a, in + QStringLiteral("/Album"), fifo, in + QStringLiteral("/gone.flv")}, {}}));
    EXPECT_EQ(w.queue().count(), 0) << "queued from the event loop, after the answer";
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.queue().count() == 4; }, 30000));
    EXPECT_EQ(w.queue().paths(), (QStringList{a, cd9, cd10, b}));
    EXPECT_TRUE(w.picText()->isHidden());

    // Closing: nothing more is taken, so that a later start opens a window of its own.
    w.close();
    EXPECT_FALSE(w.openFromLaunch({{a}, {}}));
    QTest::qWait(20);
    EXPECT_EQ(w.queue().count(), 4);
}

TEST(LaunchFiles, DuringABatchJoinTheTail)
{
    Harness h;
    h.open();
    h.window->AddQueueEntry(
        h.app.script(QStringLiteral("first.flv"), {QStringLiteral("sleep 200"), QStringLiteral("output")}));
    const QString late = h.app.script(QStringLiteral("late.flv"), {QStringLiteral("output")});
    bool handed = false;
    QObject::connect(&h.window->batch(), &BatchDriver::fileStarted, [&] {
        if (!handed)
            handed = h.window->openFromLaunch({{late}, {}});
    });
    ASSERT_TRUE(h.runBatch());
    EXPECT_TRUE(handed);
    EXPECT_TRUE(QFile::exists(h.out(QStringLiteral("first.wma"))));
    EXPECT_TRUE(QFile::exists(h.out(QStringLiteral("late.wma"))));
    EXPECT_TRUE(h.window->queue().isEmpty());
}

TEST(LaunchFiles, ALaterStartReachesTheWindow)
{
    // The window listens as the program does; a later start, a process of its own, hands it
    // files whose names hold blanks, quotes, other letters and a line break.
    Harness h;
    h.open();
    frmMain &w = *h.window;
    w.show();
    w.showMinimized();
    QTemporaryDir run;
    // Named as the stand-in that comes later names its own.
    SingleInstance instance(run.path(),
                            SingleInstance::instanceName(QFileInfo(QStringLiteral(INSTANCE_PEER_PATH)).absolutePath()));
    ASSERT_EQ(instance.start({}), SingleInstance::Outcome::First);
    instance.onRequest = [&w](const LaunchRequest &r) { return w.openFromLaunch(r); };
    const QStringList names{
        h.app.script(QStringLiteral("a b  c.flv"), {}), h.app.script(QStringLiteral("\"q\" 'x'.mp4"), {}),
        h.app.script(QStringLiteral("Ünïcödé 日本語.avi"), {}), h.app.script(QStringLiteral("line\nbreak.wmv"), {})};
    QProcess later;
    later.start(QStringLiteral(INSTANCE_PEER_PATH), QStringList{run.path()} + names);
    ASSERT_TRUE(QTest::qWaitFor([&] { return later.state() == QProcess::NotRunning; }, 30000));
    EXPECT_EQ(later.exitCode(), 0);
    EXPECT_EQ(later.readAllStandardOutput(), QByteArray("handed-over\n"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.queue().count() == names.size(); }, 30000));
    EXPECT_EQ(w.queue().paths(), names);
    EXPECT_FALSE(w.isMinimized()) << "the window comes up";
}

TEST(DesktopOpen, AnOpenThatFailsShowsThePathToCopy)
{
    // The window on the real desktop seam, whose xdg-open is a stand-in that finds no program
    // (or, in the last row, opens what it is given).
    struct Row {
        const char *name;
        int exitCode;
        // Does it; returns what is to be opened.
        std::function<QString(Harness &, frmMain &, DesktopShell &)> act;
    };
    const QList<Row> rows{
        {"Help", 3,
         [](Harness &h, frmMain &w, DesktopShell &) {
             w.imgHelp_Click();
             return h.app.path + QStringLiteral("/help/tutorial.html");
         }},
        {"the web site", 3,
         [](Harness &, frmMain &w, DesktopShell &) {
             w.lblWeb_Click();
             return webBase() + QLatin1Char('/');
         }},
        {"the output folder when a batch is done", 4,
         [](Harness &h, frmMain &w, DesktopShell &) {
             w.AddQueueEntry(h.app.script(QStringLiteral("s.flv"), {QStringLiteral("output")}));
             EXPECT_TRUE(h.runBatch());
             return h.app.path + QStringLiteral("/output");
         }},
        {"Open Log Folder", 3,
         [](Harness &h, frmMain &w, DesktopShell &shell) {
             BatchOutcome outcome;
             outcome.failed = 1;
             outcome.failures = {{h.app.path + QStringLiteral("/in/bad.flv"), QStringLiteral("not media")}};
             outcome.logFolder = h.app.path + QStringLiteral("/logs of 'today'");
             QDir().mkpath(outcome.logFolder);
             frmFailures failures(outcome, &shell, &w);
             failures.logButton()->click();
             return outcome.logFolder;
         }},
        {"an open that works", 0,
         [](Harness &h, frmMain &w, DesktopShell &) {
             w.imgHelp_Click();
             return h.app.path + QStringLiteral("/help/tutorial.html");
         }},
    };
    for (const Row &r : rows) {
        Harness h;
        ASSERT_TRUE(touch(h.app.path + QStringLiteral("/help/tutorial.html")));
        zmtest::FakeOpener fake(r.exitCode);
        QtDesktopShell shell(&h.boxes);
        shell.opener().setProgram(fake.program());
        h.window = std::make_unique<frmMain>(h.app.path, UiSeams{&h.boxes, &shell, &h.sound, &h.files}, h.settings);
        h.window->runDialog = [](QDialog &) {};
        const QString target = r.act(h, *h.window, shell);
        ASSERT_TRUE(QTest::qWaitFor([&] { return fake.opened().size() == 1; }, 10000)) << r.name;
        EXPECT_EQ(fake.opened(), QStringList{target}) << r.name;
        if (r.exitCode == 0) {
            EXPECT_TRUE(h.boxes.boxes.empty()) << r.name;
            continue;
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return !h.boxes.boxes.empty(); }, 10000)) << r.name;
        ASSERT_EQ(h.boxes.boxes.size(), 1u) << r.name;
        const zmtest::Box &box = h.boxes.boxes[0];
        EXPECT_EQ(box.caption, QStringLiteral("Zelmora")) << r.name;
        EXPECT_EQ(box.icon, MsgIcon::Warning) << r.name;
        EXPECT_TRUE(box.text.split(QLatin1Char('\n')).contains(target)) << r.name << ": the path on a line of its own";
    }
}
