// Where video keeps its files (portable or installed) and the progress file of each window.
#include "core/progressslot.h"
#include "core/statelocations.h"
#include "video/videotestutil.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <map>
#include <optional>

using namespace vidrune;

namespace {

// Sets environment variables for one scope and puts the old values back.
class EnvGuard
{
public:
    void Set(const char *name, const std::optional<QString> &value)
    {
        if (!m_saved.count(name))
            m_saved[name] = qEnvironmentVariableIsSet(name)
                                ? std::optional<QByteArray>(qgetenv(name))
                                : std::nullopt;
        if (value)
            qputenv(name, value->toUtf8());
        else
            qunsetenv(name);
    }
    ~EnvGuard()
    {
        for (const auto &[name, value] : m_saved) {
            if (value)
                qputenv(name.c_str(), *value);
            else
                qunsetenv(name.c_str());
        }
    }

private:
    std::map<std::string, std::optional<QByteArray>> m_saved;
};

QStringList Entries(const QString &folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// The process id of a process that has ended.
qint64 DeadPid()
{
    QProcess p;
    p.start(QStringLiteral("true"), {});
    const qint64 pid = p.processId();
    p.waitForFinished();
    return pid;
}

} // namespace

TEST(StateLocations, InstanceFolderIsTheRuntimeFolderOrTheCache)
{
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    struct Row {
        std::optional<QString> runtime;
        QString expected;
    };
    const QList<Row> rows{
        {runtime.path(), runtime.path() + "/vidrune"},
        {runtime.path() + "/not there", "/srv/cache/vidrune"},
        {"run/user/1000", "/srv/cache/vidrune"},
        {std::nullopt, "/srv/cache/vidrune"},
    };
    for (const Row &r : rows) {
        EnvGuard env;
        env.Set("XDG_CACHE_HOME", QStringLiteral("/srv/cache"));
        env.Set("XDG_RUNTIME_DIR", r.runtime);
        EXPECT_EQ(StateLocations::InstanceFolder(), r.expected) << r.runtime.value_or("(unset)");
    }
}

TEST(StateLocations, PortableCopyKeepsTheSettingsFileItAlwaysHad)
{
    // The main of this test sets XDG_CONFIG_HOME before Qt first looks at it.
    const QSettings asBefore(QSettings::NativeFormat, QSettings::UserScope,
                             QStringLiteral("zelmora-suite"), QStringLiteral("video"));
    EXPECT_EQ(StateLocations::SettingsFile(true), asBefore.fileName());
    EXPECT_EQ(StateLocations::SettingsFile(false), batch::configHome() + "/vidrune/vidrune.conf");
}

TEST(StateLocations, OutputFolderIsRememberedPerSettingsFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.filePath("输出 folder \"quoted\"");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString file = dir.filePath("cfg/vidrune/vidrune.conf");
    EXPECT_EQ(StateLocations::LoadOutputFolder(file), QString()) << "nothing kept yet";
    StateLocations::SaveOutputFolder(file, folder);
    EXPECT_TRUE(QFileInfo::exists(file)) << "the folder of the settings file is made";
    EXPECT_EQ(StateLocations::LoadOutputFolder(file), folder);
    // A folder that has gone since is not offered.
    ASSERT_TRUE(QDir(folder).removeRecursively());
    EXPECT_EQ(StateLocations::LoadOutputFolder(file), QString());
    // A damaged settings file reads as nothing kept.
    ASSERT_TRUE(Touch(file, QByteArray("\0\xff[[[outputFolder\n=\n", 20)));
    EXPECT_EQ(StateLocations::LoadOutputFolder(file), QString());
}

TEST(StateLocations, LogsAndSettingsMoveOnceToTheVidrunePlaces)
{
    // What an earlier version left under "video", and what the start does with it.
    struct Row {
        const char *name;
        bool oldLogs, newLogs; // <state>/video/logs, <state>/vidrune/logs before the start
        bool oldSettings;      // <config>/zelmora-suite/video.conf of a portable copy
        bool newSettings;      // <config>/vidrune/vidrune.conf
        bool portable;
        const char *logsAfter;   // the log file that <state>/vidrune/logs holds afterwards
        const char *folderAfter; // the output folder vidrune.conf names afterwards
    };
    const Row rows[] = {
        {"an earlier installed copy", true, false, true, false, false, "old.log", "old"},
        {"moved before: nothing moves again", true, true, true, true, false, "new.log", "new"},
        {"a portable copy keeps its own settings", true, false, true, false, true, "old.log", ""},
        {"nothing earlier", false, false, false, false, false, "", ""},
    };
    for (const Row &r : rows) {
        QTemporaryDir home;
        EnvGuard env;
        env.Set("XDG_STATE_HOME", home.filePath("state"));
        env.Set("XDG_CONFIG_HOME", home.filePath("config"));
        QDir(home.path()).mkpath("old");
        QDir(home.path()).mkpath("new");
        if (r.oldLogs) {
            ASSERT_TRUE(Touch(home.filePath("state/video/logs/b1/old.log")));
        }
        if (r.newLogs) {
            ASSERT_TRUE(Touch(home.filePath("state/vidrune/logs/b2/new.log")));
        }
        if (r.oldSettings) {
            QDir().mkpath(home.filePath("config/zelmora-suite"));
            StateLocations::SaveOutputFolder(StateLocations::SettingsFile(true),
                                             home.filePath("old"));
        }
        if (r.newSettings) {
            QDir().mkpath(home.filePath("config/vidrune"));
            StateLocations::SaveOutputFolder(StateLocations::SettingsFile(false),
                                             home.filePath("new"));
        }
        StateLocations::MigrateOldPlaces(r.portable);
        StateLocations::MigrateOldPlaces(r.portable); // a second start changes nothing
        QStringList logs;
        for (const QString &batch : Entries(home.filePath("state/vidrune/logs")))
            logs << Entries(home.filePath("state/vidrune/logs/" + batch));
        EXPECT_EQ(logs, *r.logsAfter ? QStringList{r.logsAfter} : QStringList()) << r.name;
        EXPECT_EQ(QFileInfo::exists(home.filePath("state/video")), r.oldLogs && r.newLogs)
            << r.name;
        const QString folder =
            StateLocations::LoadOutputFolder(StateLocations::SettingsFile(false));
        EXPECT_EQ(folder, *r.folderAfter ? home.filePath(r.folderAfter) : QString()) << r.name;
        if (r.oldSettings) {
            EXPECT_EQ(StateLocations::LoadOutputFolder(StateLocations::SettingsFile(true)),
                      home.filePath("old"))
                << r.name << ": the old file stays for a portable copy";
        }
    }
}

TEST(StateLocations, InstalledCopyIsNeverPortable)
{
    // A prefix the user may write to (below the home folder, or any for the superuser): the
    // installed copy still keeps its files per user; a portable copy or the build tree does not
    // have the desktop entry two folders up.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString installed = dir.filePath("prefix/lib/zelmora-suite/video");
    const QString portable = dir.filePath("portable/vidrune");
    const QString other = dir.filePath("other/lib/zelmora-suite/video");
    const QString buildTree = dir.filePath("build/apps/video");
    for (const QString &f : {installed, portable, other, buildTree})
        ASSERT_TRUE(QDir().mkpath(f));
    ASSERT_TRUE(Touch(dir.filePath("prefix/share/applications/net.zelmora.Vidrune.desktop")));
    ASSERT_TRUE(Touch(dir.filePath("other/share/applications/net.zelmora.Zelmora.desktop")));
    struct Row {
        QString folder;
        bool installed, portable;
    } rows[] = {
        {installed, true, false},
        {portable, false, true},
        {other, false, true}, // only the other program's entry
        {buildTree, false, true},
    };
    for (const Row &r : rows) {
        EXPECT_EQ(batch::isInstalledCopy(r.folder, QLatin1String(StateLocations::DesktopId)),
                  r.installed)
            << r.folder;
        EXPECT_EQ(StateLocations::IsPortable(r.folder), r.portable) << r.folder;
    }
}

class ProgressSlotTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir().mkpath(AppFolder()));
    }
    QString AppFolder() const { return dir.filePath("app"); }
    QString Beside() const { return AppFolder() + "/progress.txt"; }
    QString Instances() const { return dir.filePath("run/vidrune"); }

    QTemporaryDir dir;
};

TEST_F(ProgressSlotTest, PortableWindowsShareNoFile)
{
    // The first window of a portable copy has progress.txt; while it lives, others get their
    // own; once it is gone, the next window has progress.txt again.
    auto first = std::make_unique<ProgressSlot>(AppFolder(), true, Instances());
    EXPECT_EQ(first->Path(), QString()) << "nothing decided before the first file";
    EXPECT_FALSE(QFileInfo::exists(Beside())) << "nothing written before the first file";
    EXPECT_EQ(first->Acquire(), Beside());
    EXPECT_TRUE(first->IsBesideProgram());
    ProgressSlot second(AppFolder(), true, Instances());
    const QString own = second.Acquire();
    EXPECT_FALSE(second.IsBesideProgram());
    EXPECT_EQ(QFileInfo(own).path(), Instances());
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^progress-%1-[A-Za-z0-9]{6}\\.txt$").arg(::getpid()))
            .match(QFileInfo(own).fileName())
            .hasMatch())
        << own;
    EXPECT_EQ(first->Acquire(), Beside()) << "a window keeps its file";
    EXPECT_EQ(second.Acquire(), own) << "a window keeps its file";
    first.reset();
    EXPECT_TRUE(QFileInfo::exists(Beside())) << "progress.txt stays, as it always has";
    ProgressSlot third(AppFolder(), true, Instances());
    EXPECT_EQ(third.Acquire(), Beside());
}

TEST_F(ProgressSlotTest, InstalledWindowsEachHaveTheirOwnFileRemovedWithThem)
{
    auto a = std::make_unique<ProgressSlot>(AppFolder(), false, Instances());
    auto b = std::make_unique<ProgressSlot>(AppFolder(), false, Instances());
    const QString pathA = a->Acquire(), pathB = b->Acquire();
    ASSERT_FALSE(pathA.isEmpty());
    ASSERT_FALSE(pathB.isEmpty());
    EXPECT_NE(pathA, pathB);
    EXPECT_TRUE(QFileInfo::exists(pathA));
    EXPECT_TRUE(QFileInfo::exists(pathB));
    EXPECT_FALSE(QFileInfo::exists(Beside())) << "an installed copy writes nothing beside itself";
    EXPECT_EQ(QFileInfo(Instances()).permissions() & (QFile::ReadOther | QFile::ReadGroup), 0)
        << "the folder is the user's alone";
    a.reset();
    EXPECT_FALSE(QFileInfo::exists(pathA)) << "removed when its window goes";
    EXPECT_TRUE(QFileInfo::exists(pathB));
    b.reset();
    EXPECT_EQ(Entries(Instances()), QStringList()) << "no debris";
}

TEST_F(ProgressSlotTest, ProgressTxtHeldByAnotherProcessIsLeftToIt)
{
    if (QStandardPaths::findExecutable(QStringLiteral("flock")).isEmpty())
        GTEST_SKIP() << "flock(1) not installed";
    ASSERT_TRUE(Touch(Beside(), "0"));
    QProcess other; // another window's process holding progress.txt
    other.start(QStringLiteral("flock"), {Beside(), QStringLiteral("sleep"), QStringLiteral("60")});
    ASSERT_TRUE(other.waitForStarted());
    qint64 sleeper = 0; // flock(1) holds the lock once it has started sleep as its child
    ASSERT_TRUE(testsupport::waitFor([&] {
        const qint64 pid = other.processId();
        sleeper =
            ReadAll(QStringLiteral("/proc/%1/task/%1/children").arg(pid)).trimmed().toLongLong();
        return sleeper > 0;
    }));
    {
        ProgressSlot slot(AppFolder(), true, Instances());
        EXPECT_NE(slot.Acquire(), Beside());
        EXPECT_FALSE(slot.IsBesideProgram());
    }
    // The lock goes with the last process holding it: sleep inherited it.
    ::kill(static_cast<pid_t>(sleeper), SIGKILL);
    ASSERT_TRUE(other.waitForFinished());
    ProgressSlot slot(AppFolder(), true, Instances());
    EXPECT_EQ(slot.Acquire(), Beside()) << "free again once the other process is gone";
}

TEST_F(ProgressSlotTest, ReplacedProgressTxtIsClaimedAfresh)
{
    ProgressSlot a(AppFolder(), true, Instances());
    ASSERT_EQ(a.Acquire(), Beside());
    // Removed behind the window's back: a new window takes the new progress.txt, and the old
    // window must not go on thinking the name is its own.
    ASSERT_TRUE(QFile::remove(Beside()));
    ProgressSlot b(AppFolder(), true, Instances());
    EXPECT_EQ(b.Acquire(), Beside());
    const QString now = a.Acquire();
    EXPECT_NE(now, Beside());
    EXPECT_FALSE(now.isEmpty());
}

TEST_F(ProgressSlotTest, FilesOfEndedProcessesAreRemoved)
{
    ASSERT_TRUE(QDir().mkpath(Instances()));
    const qint64 dead = DeadPid();
    ASSERT_GT(dead, 0);
    const QString stale = Instances() + QStringLiteral("/progress-%1-abcDEF.txt").arg(dead);
    const QString live = Instances() + QStringLiteral("/progress-%1-abcDEF.txt").arg(::getpid());
    const QString other = Instances() + "/notes.txt";
    for (const QString &f : {stale, live, other})
        ASSERT_TRUE(Touch(f));
    EXPECT_EQ(ProgressSlot::RemoveStale(Instances()), 1);
    EXPECT_FALSE(QFileInfo::exists(stale));
    EXPECT_TRUE(QFileInfo::exists(live)) << "a running window's file stays";
    EXPECT_TRUE(QFileInfo::exists(other)) << "files not ours stay";
    // A new window sweeps too.
    ASSERT_TRUE(Touch(stale));
    ProgressSlot slot(AppFolder(), false, Instances());
    ASSERT_FALSE(slot.Acquire().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(stale));
}

TEST_F(ProgressSlotTest, NowhereToWriteGivesNoFile)
{
    ASSERT_TRUE(Touch(dir.filePath("plain file")));
    struct Row {
        QString appFolder;
        bool beside;
    } rows[] = {{AppFolder(), false}, {dir.filePath("missing app"), true}};
    for (const Row &r : rows) {
        ProgressSlot slot(r.appFolder, r.beside, dir.filePath("plain file/vidrune"));
        EXPECT_EQ(slot.Acquire(), QString()) << r.appFolder;
        EXPECT_EQ(slot.Path(), QString());
    }
}
