// Where the programs keep their state, their command line and opening paths: the shared pieces,
// each with the values both programs give it.
#include "shared/desktopopener.h"
#include "shared/launcharguments.h"
#include "shared/statelocations.h"
#include "support/fakeopener.h"
#include "support/files.h"
#include "support/scopedenv.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::ScopedEnv;
using testsupport::touch;

namespace {

int mode(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

// The desktop entries of the two window programs.
const QString kZelmoraId = QStringLiteral("net.zelmora.Zelmora");
const QString kVidruneId = QStringLiteral("net.zelmora.Vidrune");

} // namespace

TEST(StateLocations, XdgFoldersTakeOnlyAbsolutePaths)
{
    const QString home = QDir::homePath();
    struct Row {
        const char *name;
        std::optional<QString> value;
        QString (*folder)();
        QString expected;
    };
    const QList<Row> rows{
        {"XDG_CONFIG_HOME", QStringLiteral("/srv/cfg"), &batch::configHome, QStringLiteral("/srv/cfg")},
        {"XDG_CONFIG_HOME", QStringLiteral("/srv/cfg/"), &batch::configHome, QStringLiteral("/srv/cfg")},
        {"XDG_CONFIG_HOME", QStringLiteral("relative/cfg"), &batch::configHome, home + QStringLiteral("/.config")},
        {"XDG_CONFIG_HOME", std::nullopt, &batch::configHome, home + QStringLiteral("/.config")},
        {"XDG_CONFIG_HOME", QString(), &batch::configHome, home + QStringLiteral("/.config")},
        {"XDG_CACHE_HOME", QStringLiteral("/srv/cache"), &batch::cacheHome, QStringLiteral("/srv/cache")},
        {"XDG_CACHE_HOME", QStringLiteral("cache"), &batch::cacheHome, home + QStringLiteral("/.cache")},
        {"XDG_STATE_HOME", QStringLiteral("/srv/state"), &batch::stateHome, QStringLiteral("/srv/state")},
        {"XDG_STATE_HOME", QStringLiteral("/srv//state/"), &batch::stateHome, QStringLiteral("/srv/state")},
        {"XDG_STATE_HOME", QStringLiteral("relative/st"), &batch::stateHome, home + QStringLiteral("/.local/state")},
        {"XDG_STATE_HOME", std::nullopt, &batch::stateHome, home + QStringLiteral("/.local/state")},
    };
    for (const Row &r : rows) {
        ScopedEnv env;
        if (r.value)
            env.set(r.name, *r.value);
        else
            env.unset(r.name);
        EXPECT_EQ(r.folder(), r.expected)
            << r.name << " = " << r.value.value_or(QStringLiteral("(unset)")).toStdString();
    }
}

TEST(StateLocations, InstanceFolderIsTheProgramsFolderInTheRuntimeFolderOrTheCache)
{
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    struct Row {
        QString name;
        std::optional<QString> runtime;
        QString expected;
    };
    const QList<Row> rows{
        {QStringLiteral("vidrune"), runtime.path(), runtime.path() + QStringLiteral("/vidrune")},
        {QStringLiteral("zelmora"), runtime.path() + QStringLiteral("/"), runtime.path() + QStringLiteral("/zelmora")},
        {QStringLiteral("vidrune"), runtime.path() + QStringLiteral("/not there"),
         QStringLiteral("/srv/cache/vidrune")},
        {QStringLiteral("zelmora"), QStringLiteral("run/user/1000"), QStringLiteral("/srv/cache/zelmora")},
        {QStringLiteral("vidrune"), std::nullopt, QStringLiteral("/srv/cache/vidrune")},
    };
    for (const Row &r : rows) {
        ScopedEnv env;
        env.set("XDG_CACHE_HOME", QStringLiteral("/srv/cache"));
        if (r.runtime)
            env.set("XDG_RUNTIME_DIR", *r.runtime);
        else
            env.unset("XDG_RUNTIME_DIR");
        EXPECT_EQ(batch::instanceFolder(r.name), r.expected)
            << r.runtime.value_or(QStringLiteral("(unset)")).toStdString();
    }
}

TEST(StateLocations, WritableFolderDecidesPortable)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(touch(dir.filePath(QStringLiteral("a file"))));
    const QString readOnly = dir.filePath(QStringLiteral("read only"));
    ASSERT_TRUE(QDir().mkpath(readOnly));
    ::chmod(QFile::encodeName(readOnly).constData(), 0555);
    struct Row {
        QString folder;
        bool writable;
    };
    QList<Row> rows{
        {dir.path(), true},
        {dir.filePath(QStringLiteral("missing")), false},
        {dir.filePath(QStringLiteral("a file")), false},
        {QString(), false},
    };
    // The superuser may write anywhere; for anybody else a read-only folder is not portable.
    if (::geteuid() != 0)
        rows.append({readOnly, false});
    for (const Row &r : rows) {
        EXPECT_EQ(batch::isWritableFolder(r.folder), r.writable) << r.folder.toStdString();
        for (const QString &id : {kZelmoraId, kVidruneId})
            EXPECT_EQ(batch::isPortable(r.folder, id), r.writable) << r.folder.toStdString();
    }
    ::chmod(QFile::encodeName(readOnly).constData(), 0755);
}

TEST(StateLocations, EachProgramIsInstalledByItsOwnDesktopEntry)
{
    // Two prefixes, each with one program's entry: a copy is installed (and so never portable)
    // only where the entry three folders up is its own.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString zelmoraPrefix = dir.filePath(QStringLiteral("usr"));
    const QString vidrunePrefix = dir.filePath(QStringLiteral("opt/suite"));
    ASSERT_TRUE(touch(zelmoraPrefix + QStringLiteral("/share/applications/net.zelmora.Zelmora.desktop")));
    ASSERT_TRUE(touch(vidrunePrefix + QStringLiteral("/share/applications/net.zelmora.Vidrune.desktop")));
    const QString inUsr = zelmoraPrefix + QStringLiteral("/lib/zelmora-suite/zelmora");
    const QString inOpt = vidrunePrefix + QStringLiteral("/lib/zelmora-suite/video");
    const QString portable = dir.filePath(QStringLiteral("USB stick/Zelmora"));
    for (const QString &f : {inUsr, inOpt, portable})
        ASSERT_TRUE(QDir().mkpath(f));
    struct Row {
        QString folder;
        QString desktopId;
        bool installed;
    };
    const Row rows[] = {
        {inUsr, kZelmoraId, true},  {inUsr, kVidruneId, false},     {inOpt, kVidruneId, true},
        {inOpt, kZelmoraId, false}, {portable, kZelmoraId, false},  {portable, kVidruneId, false},
        {inUsr, QString(), false},  {QString(), kZelmoraId, false},
    };
    for (const Row &r : rows) {
        const std::string where = (r.folder + QStringLiteral(" / ") + r.desktopId).toStdString();
        EXPECT_EQ(batch::isInstalledCopy(r.folder, r.desktopId), r.installed) << where;
        EXPECT_EQ(batch::isPortable(r.folder, r.desktopId), !r.installed && !r.folder.isEmpty()) << where;
    }
}

TEST(StateLocations, MissingFoldersAreMadePrivate)
{
    QTemporaryDir dir;
    ASSERT_TRUE(touch(dir.filePath(QStringLiteral("a file"))));
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    const struct {
        const char *name;
        QString file;
        bool made;
    } rows[] = {
        {"two folders down", dir.filePath(QStringLiteral("cfg/zelmora/setup.ini")), true},
        {"the folder is there", dir.filePath(QStringLiteral("options.ini")), true},
        {"a file in the way", dir.filePath(QStringLiteral("a file/zelmora/setup.ini")), false},
    };
    for (const auto &r : rows)
        EXPECT_EQ(batch::makeFolderFor(r.file), r.made) << r.name;
    EXPECT_EQ(mode(dir.filePath(QStringLiteral("cfg"))), 0700);
    EXPECT_EQ(mode(dir.filePath(QStringLiteral("cfg/zelmora"))), 0700);
    EXPECT_EQ(mode(dir.path()), 0755) << "a folder that was there is left as it was";
}

TEST(LaunchArguments, FoldersAndNamesFollowTheProgramsRules)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("a clip.flv"));
    const QString folder = dir.filePath(QStringLiteral("Music"));
    ASSERT_TRUE(touch(file));
    ASSERT_TRUE(QDir().mkpath(folder));
    // The values zelmora and vidrune give (their descriptions are their own tests').
    const batch::LaunchRules zelmora{QStringLiteral("zelmora"), QStringLiteral("Zelmora"), true,
                                     QStringLiteral("Opens Zelmora.\n")};
    const batch::LaunchRules vidrune{QStringLiteral("vidrune"), QStringLiteral("Vidrune"), false,
                                     QStringLiteral("Opens the dialog.\n")};
    struct Row {
        const char *name;
        const batch::LaunchRules &rules;
        QStringList args;
        QStringList paths;
        QStringList messages;
        QString program;
    };
    const QList<Row> rows{
        {"zelmora takes a folder",
         zelmora,
         {QStringLiteral("zelmora"), folder, file},
         {folder, file},
         {},
         QStringLiteral("zelmora")},
        {"vidrune skips it",
         vidrune,
         {QStringLiteral("vidrune"), folder, file},
         {file},
         {QStringLiteral("vidrune: ") + folder + QStringLiteral(": not a regular file, skipped")},
         QStringLiteral("vidrune")},
        {"zelmora's words for a missing name",
         zelmora,
         {QStringLiteral("/usr/bin/zelmora"), QStringLiteral("gone")},
         {},
         {QStringLiteral("zelmora: gone: no such file or folder, skipped")},
         QStringLiteral("zelmora")},
        {"vidrune's",
         vidrune,
         {QStringLiteral("video"), QStringLiteral("gone")},
         {},
         {QStringLiteral("video: gone: no such file, skipped")},
         QStringLiteral("video")},
        {"no name of its own: the program's", zelmora, {QString(), file}, {file}, {}, QStringLiteral("zelmora")},
        {"no arguments at all", vidrune, {}, {}, {}, QStringLiteral("vidrune")},
    };
    for (const Row &r : rows) {
        const batch::LaunchArguments got = batch::LaunchArguments::parse(r.rules, r.args, dir.path());
        EXPECT_EQ(got.action, batch::LaunchArguments::Action::Run) << r.name;
        EXPECT_EQ(got.paths, r.paths) << r.name;
        EXPECT_EQ(got.messages, r.messages) << r.name;
        EXPECT_EQ(got.program, r.program) << r.name;
    }
    const QString options = QStringLiteral("  --help     show this text\n  --version  show the version\n");
    EXPECT_EQ(zelmora.usageText(QStringLiteral("zm")),
              QStringLiteral("usage: zm [FILE|FOLDER...]\nOpens Zelmora.\n") + options);
    EXPECT_EQ(vidrune.usageText(QStringLiteral("video")),
              QStringLiteral("usage: video [FILE...]\nOpens the dialog.\n") + options);
    EXPECT_TRUE(zelmora.versionText().startsWith(QStringLiteral("Zelmora (")));
    EXPECT_TRUE(vidrune.versionText().startsWith(QStringLiteral("Vidrune (")));
    EXPECT_TRUE(vidrune.versionText().endsWith(QLatin1Char('\n')));
    // Only --help and --version are answered before the window.
    const QList<QPair<QStringList, bool>> answered{
        {{QStringLiteral("zelmora"), QStringLiteral("--help")}, true},
        {{QStringLiteral("zelmora"), QStringLiteral("--version")}, true},
        {{QStringLiteral("zelmora"), QStringLiteral("--bogus")}, false},
        {{QStringLiteral("zelmora"), file}, false},
    };
    for (const auto &[args, expected] : answered)
        EXPECT_EQ(batch::answerInformation(zelmora, batch::LaunchArguments::parse(zelmora, args, dir.path())), expected)
            << args.join(QLatin1Char(' ')).toStdString();
}

TEST(DesktopOpener, HandsThePathOverWholeAndSaysWhenItFails)
{
    const QString tricky = QStringLiteral("/tmp/a b/\"q\" 'x' $(y);\\ 日本.mp3");
    struct Row {
        const char *name;
        int exitCode;   // of the stand-in; -1: there is no opener at that place
        QString target; // what is to be opened
        bool startsNow; // open() starts it
        bool fails;
    };
    const QList<Row> rows{
        {"a folder that opens", 0, QStringLiteral("/home/ann/Music/Zelmora"), true, false},
        {"blanks, quotes and shell characters stay one argument", 0, tricky, true, false},
        {"a web address", 0, QStringLiteral("https://zelmora.net/tutorial.html"), true, false},
        {"no program for it", 3, QStringLiteral("/home/ann/logs"), true, true},
        {"the opener gives up", 4, tricky, true, true},
        {"no opener at all", -1, QStringLiteral("/home/ann/logs"), false, true},
        {"a relative path", 0, QStringLiteral("logs/today"), false, true},
        {"nothing", 0, QString(), false, true},
    };
    for (const Row &r : rows) {
        testsupport::FakeOpener fake(r.exitCode < 0 ? 0 : r.exitCode);
        batch::DesktopOpener opener;
        opener.setProgram(r.exitCode < 0 ? fake.folder() + QStringLiteral("/missing") : fake.program());
        QStringList failed;
        QObject::connect(&opener, &batch::DesktopOpener::failed, [&](const QString &p) { failed << p; });
        const bool started = opener.open(r.target);
        EXPECT_EQ(started, r.startsNow || r.exitCode < 0) << r.name;
        if (r.fails) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return !failed.isEmpty(); }, 10000)) << r.name;
        } else {
            EXPECT_TRUE(QTest::qWaitFor([&] { return fake.opened().size() == 1; }, 10000)) << r.name;
        }
        EXPECT_EQ(failed, r.fails ? QStringList{r.target} : QStringList()) << r.name;
        EXPECT_EQ(fake.opened(), r.startsNow ? QStringList{r.target} : QStringList()) << r.name;
    }
}
