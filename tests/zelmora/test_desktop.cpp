// The window as the desktop starts it: an installed copy keeping its settings per user.
#include "scopedenv.h"
#include "shell/frmoptions.h"
#include "windowutil.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace zm;
using zmtest::Harness;
using zmtest::ScopedEnv;

namespace {

QByteArray readFile(const QString &p)
{
    QFile f(p);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool touch(const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly);
}

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
    QStringList appFiles() const
    {
        return QDir(appDir).entryList(QDir::Files | QDir::Hidden);
    }
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
