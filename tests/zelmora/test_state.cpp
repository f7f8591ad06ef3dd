// Where a copy of zelmora keeps its settings and converts into: beside itself when it is a
// portable copy, per user when it is installed.
#include "support/files.h"
#include "settings/statelocations.h"
#include "support/scopedenv.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace zm;
using testsupport::ScopedEnv;
using testsupport::touch;

TEST(StateLocations, InstalledCopiesAreNeverPortable)
{
    // An installed copy keeps its files per user even where it could write (as the superuser,
    // or in a prefix below the home folder); a portable copy or the build tree has no desktop
    // entry three folders up.
    QTemporaryDir dir;
    const QString installed = dir.filePath(QStringLiteral("prefix/lib/zelmora-suite/zelmora"));
    const QString otherEntry = dir.filePath(QStringLiteral("other/lib/zelmora-suite/zelmora"));
    const QString portable = dir.filePath(QStringLiteral("USB stick/Zelmora"));
    const QString buildTree = dir.filePath(QStringLiteral("build/apps/zelmora"));
    const QString readOnly = dir.filePath(QStringLiteral("read only/zelmora"));
    for (const QString &f : {installed, otherEntry, portable, buildTree, readOnly})
        ASSERT_TRUE(QDir().mkpath(f));
    ASSERT_TRUE(touch(dir.filePath(QStringLiteral("prefix/share/applications/net.zelmora.Zelmora.desktop"))));
    ASSERT_TRUE(touch(dir.filePath(QStringLiteral("other/share/applications/net.zelmora.Vidrune.desktop"))));
    ::chmod(QFile::encodeName(readOnly).constData(), 0555);
    struct Row {
        QString folder;
        bool installed, portable;
    };
    QList<Row> rows{
        {installed, true, false},  {otherEntry, false, true}, // only the other program's entry
        {portable, false, true},   {buildTree, false, true},  {dir.filePath(QStringLiteral("missing")), false, false},
        {QString(), false, false},
    };
    // The superuser may write anywhere; for anybody else a read-only folder is no portable copy.
    if (::geteuid() != 0)
        rows.append({readOnly, false, false});
    for (const Row &r : rows) {
        EXPECT_EQ(batch::isInstalledCopy(r.folder, QLatin1String(kDesktopId)), r.installed) << r.folder.toStdString();
        EXPECT_EQ(isPortable(r.folder), r.portable) << r.folder.toStdString();
        EXPECT_EQ(StateLocations(r.folder).portable(), r.portable) << r.folder.toStdString();
    }
    ::chmod(QFile::encodeName(readOnly).constData(), 0755);
}

TEST(StateLocations, PortableBesideItselfInstalledPerUser)
{
    QTemporaryDir dir;
    ScopedEnv env;
    const QString home = dir.filePath(QStringLiteral("home/ann"));
    const QString config = dir.filePath(QStringLiteral("config"));
    env.set("HOME", home);
    env.set("XDG_CONFIG_HOME", config);

    const StateLocations portable(QStringLiteral("/opt/Zelmora"), true);
    EXPECT_EQ(portable.setupIni(), QStringLiteral("/opt/Zelmora/setup.ini"));
    EXPECT_EQ(portable.optionsIni(), QStringLiteral("/opt/Zelmora/options.ini"));
    EXPECT_EQ(portable.jobsConf(), QStringLiteral("/opt/Zelmora/zelmora.conf"));
    EXPECT_EQ(portable.defaultOutputFolder(), QStringLiteral("/opt/Zelmora/output"));

    const StateLocations installed(QStringLiteral("/usr/lib/zelmora-suite/zelmora"), false);
    EXPECT_EQ(installed.setupIni(), config + QStringLiteral("/zelmora/setup.ini"));
    EXPECT_EQ(installed.optionsIni(), config + QStringLiteral("/zelmora/options.ini"));
    EXPECT_EQ(installed.jobsConf(), config + QStringLiteral("/zelmora/zelmora.conf"));
    // The music folder of the desktop's user folders, ~/Music without one.
    EXPECT_EQ(installed.defaultOutputFolder(), home + QStringLiteral("/Music/Zelmora"));
    ASSERT_TRUE(touch(config + QStringLiteral("/user-dirs.dirs")));
    QFile dirs(config + QStringLiteral("/user-dirs.dirs"));
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write("XDG_MUSIC_DIR=\"$HOME/Klänge\"\n");
    dirs.close();
    EXPECT_EQ(installed.defaultOutputFolder(), home + QStringLiteral("/Klänge/Zelmora"));
}
