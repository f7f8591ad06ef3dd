// The command line `vidrune FILE...`: which files join the list, what is skipped and said.
#include "logic/launcharguments.h"
#include "video/videotestutil.h"

#include <QDir>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace vidrune;

TEST(LaunchArguments, FilesOptionsAndWhatIsSkipped)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString a = dir.filePath("a clip.avi"), b = dir.filePath("视频 b.mp4");
    ASSERT_TRUE(Touch(a));
    ASSERT_TRUE(Touch(b));
    ASSERT_TRUE(Touch(dir.filePath("-dash.flv")));
    const QString fifo = dir.filePath("pipe.avi");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    using A = batch::LaunchArguments::Action;
    struct Row {
        QStringList args;
        A action;
        QStringList files;
        QStringList messages;
    };
    const QList<Row> rows{
        {{"/usr/bin/vidrune"}, A::Run, {}, {}},
        {{"vidrune", a, b}, A::Run, {a, b}, {}},
        {{"vidrune", b, a, b}, A::Run, {b, a, b}, {}},
        {{"vidrune", "视频 b.mp4", "./x/../a clip.avi"}, A::Run, {b, a}, {}},
        {{"vidrune", QUrl::fromLocalFile(b).toString(QUrl::FullyEncoded)}, A::Run, {b}, {}},
        {{"vidrune", dir.filePath("gone.avi"), a},
         A::Run,
         {a},
         {"vidrune: " + dir.filePath("gone.avi") + ": no such file, skipped"}},
        {{"video", dir.path(), fifo, a},
         A::Run,
         {a},
         {"video: " + dir.path() + ": not a regular file, skipped",
          "video: " + fifo + ": not a regular file, skipped"}},
        {{"vidrune", "--", "-dash.flv"}, A::Run, {dir.filePath("-dash.flv")}, {}},
        {{"vidrune", "-dash.flv"}, A::Error, {}, {"vidrune: unknown option -dash.flv"}},
        {{"vidrune", "--version", a}, A::Version, {a}, {}},
        {{"vidrune", "-platform", "offscreen", "--help"},
         A::Help,
         {},
         {"vidrune: unknown option -platform", "vidrune: offscreen: no such file, skipped"}},
        {{"vidrune", "--", "--help"}, A::Run, {}, {"vidrune: --help: no such file, skipped"}},
    };
    for (const Row &r : rows) {
        const batch::LaunchArguments got =
            batch::LaunchArguments::parse(LaunchRules(), r.args, dir.path());
        const std::string where = r.args.join(' ').toStdString();
        EXPECT_EQ(got.action, r.action) << where;
        EXPECT_EQ(got.paths, r.files) << where;
        EXPECT_EQ(got.messages, r.messages) << where;
    }
    EXPECT_TRUE(LaunchRules().usageText("vidrune").startsWith("usage: vidrune [FILE...]\n"));
}
