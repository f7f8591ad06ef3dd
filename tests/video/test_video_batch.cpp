// The batch flow against the fake converter: statuses, bar, naming, failures, aborting.
#include "core/converterprogress.h"
#include "logic/filelistmodel.h"
#include "logic/presets.h"
#include "logic/videobatch.h"
#include "video/videotestutil.h"

#include <QElapsedTimer>
#include <csignal>
#include <QTimer>
#include <gtest/gtest.h>

using namespace vidrune;

namespace {

// A batch on `appFolder` with that tick and pause; the other fields keep their defaults.
VideoBatch::Config BatchConfig(const QString &appFolder, int tickMs, int pauseMs)
{
    VideoBatch::Config config;
    config.appFolder = appFolder;
    config.tickMs = tickMs;
    config.pauseMs = pauseMs;
    return config;
}

class BatchTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(app.IsValid());
        settings.Initialise();
        QDir().mkpath(Out());
    }

    // tickMs: a huge value lets a test drive the ticks itself.
    VideoBatch &MakeBatch(int tickMs = 50, int pauseMs = 0, QString converter = QString())
    {
        VideoBatch::Config config = BatchConfig(app.Path(), tickMs, pauseMs);
        config.converter = std::move(converter);
        config.logRoot = Logs();
        batch = std::make_unique<VideoBatch>(list, settings, prompts, config);
        return *batch;
    }
    QString In(const QString &name) const { return app.File("in/" + name); }
    QString Out() const { return app.File("out"); }
    QString Logs() const { return app.File("logs"); }
    // Adds files as the dialog does: each new one at the top.
    void Add(const QStringList &namesBottomUp)
    {
        for (const QString &n : namesBottomUp) {
            ASSERT_TRUE(Touch(In(n)));
            list.InsertAt(0, In(n));
        }
    }
    void ChooseFormat(const QString &format)
    {
        settings.Select(FormatList,
                        static_cast<int>(settings.List(FormatList).entries.indexOf(format)));
    }
    bool WaitDone(int ms = 20000)
    {
        return testsupport::waitFor([&] { return !batch->IsBusy(); }, ms);
    }
    // Stops the batch and waits until the stop is over.
    bool StopAndWaitIdle(bool announce = false)
    {
        batch->Stop(announce);
        return WaitDone();
    }
    QStringList Statuses() const
    {
        QStringList s;
        for (int i = 0; i < list.Count(); ++i)
            s << list.Status(i);
        return s;
    }

    FakeAppFolder app;
    FileListModel list;
    VideoSettings settings{[this] { return app.Path(); }};
    ScriptedPrompts prompts;
    std::unique_ptr<VideoBatch> batch;
};

} // namespace

TEST_F(BatchTest, ConverterFollowsTheApplicationFolder)
{
    struct Row {
        QString appFolder, converter, expectedConverter;
    };
    const QList<Row> rows{
        {"/opt/Tools", "", "/opt/Tools/vv"},
        {"/opt/my tools", "/elsewhere/vv", "/elsewhere/vv"},
    };
    for (const Row &r : rows) {
        VideoBatch::Config config = BatchConfig(r.appFolder, 1000, 1000);
        config.converter = r.converter;
        VideoBatch b(list, settings, prompts, config);
        EXPECT_EQ(b.ConverterPath(), r.expectedConverter);
        EXPECT_EQ(b.ProgressFilePath(), QString()) << "decided when the first file starts";
    }
}

TEST_F(BatchTest, ConverterWritesTheProgressFileTheWindowReads)
{
    using Place = VideoBatch::ProgressPlace;
    struct Row {
        Place place;
        bool beside; // progress.txt beside the program, else a file of the window's own
    } rows[] = {{Place::Auto, true}, {Place::BesideProgram, true}, {Place::OwnFile, false}};
    Add({"hang.flv"});
    // A value inherited from whoever started us never reaches the converter.
    const QString inherited = app.File("inherited progress.txt");
    qputenv(ProgressSlot::EnvironmentName, inherited.toUtf8());
    for (const Row &r : rows) {
        const int where = static_cast<int>(r.place);
        QFile::remove(app.Progress());
        VideoBatch::Config config = BatchConfig(app.Path(), 3600 * 1000, 0);
        config.logRoot = Logs();
        config.progressPlace = r.place;
        config.instanceFolder = app.File("run/vidrune");
        auto b = std::make_unique<VideoBatch>(list, settings, prompts, config);
        ASSERT_TRUE(b->Start(Out())) << where;
        const QString progress = b->ProgressFilePath();
        EXPECT_EQ(b->ProgressBesideProgram(), r.beside) << where;
        if (r.beside) {
            EXPECT_EQ(progress, app.Progress()) << where;
        } else {
            EXPECT_EQ(QFileInfo(progress).path(), app.File("run/vidrune")) << where;
        }
        // The converter got the name in its environment: it writes there, nowhere else.
        ASSERT_TRUE(testsupport::waitFor([&] { return ReadAll(progress) == "100"; })) << where;
        b->OnTimer();
        EXPECT_EQ(list.Status(0), "10%") << where;
        EXPECT_EQ(QFileInfo::exists(app.Progress()), r.beside) << where;
        b->Stop(false);
        ASSERT_TRUE(testsupport::waitFor([&] { return !b->IsBusy(); })) << where;
        b.reset();
        EXPECT_EQ(QFileInfo::exists(progress), r.beside)
            << "a window's own file goes with it; progress.txt stays, " << where;
    }
    qunsetenv(ProgressSlot::EnvironmentName);
    EXPECT_FALSE(QFileInfo::exists(inherited));
}

TEST_F(BatchTest, EmptyListOnlySaysSo)
{
    VideoBatch &b = MakeBatch();
    EXPECT_FALSE(b.Start(Out()));
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0].text, "请添加要转换的视频");
    EXPECT_EQ(prompts.messages[0].caption, "提示信息");
    EXPECT_TRUE(prompts.messages[0].owned);
    EXPECT_FALSE(b.IsBusy());
    EXPECT_TRUE(app.Calls().isEmpty());
}

TEST_F(BatchTest, ThreeFilesTopToBottomWithStatusesWhileTheSecondConverts)
{
    qputenv("FAKE_VV_SLOW_MS", "1600");
    Add({"c.flv", "slow-b.flv", "a.flv"}); // a at the top
    VideoBatch &b = MakeBatch();
    QList<bool> busy;
    QObject::connect(&b, &VideoBatch::busyChanged, [&](bool v) { busy << v; });
    ASSERT_TRUE(b.Start(Out()));
    EXPECT_EQ(busy, QList<bool>{true});

    bool seen = false;
    ASSERT_TRUE(testsupport::waitFor([&] {
        if (b.CurrentIndex() == 1 && list.Status(0) == "已完成" && list.Status(2) == "等待"
            && list.Status(1).endsWith('%') && list.Status(1) != "--%") {
            seen = true;
        }
        return !b.IsBusy();
    }));
    EXPECT_TRUE(seen) << "never saw 已完成 / n% / 等待 while the second file converted";
    EXPECT_EQ(Statuses(), (QStringList{"已完成", "已完成", "已完成"}));
    EXPECT_EQ(app.Calls(), (QStringList{In("a.flv"), In("slow-b.flv"), In("c.flv")}));
    for (const char *n : {"a", "slow-b", "c"})
        EXPECT_TRUE(QFile::exists(Out() + "/" + n + ".3gp")) << n;
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0].text, "转换完成");
    EXPECT_EQ(prompts.messages[0].caption, "转换完成");
    EXPECT_FALSE(prompts.messages[0].owned);
    EXPECT_EQ(b.BarValue(), 1000);
    EXPECT_EQ(busy, (QList<bool>{true, false}));
    EXPECT_EQ(b.Failures(), 0);
}

TEST_F(BatchTest, FailedConversionsShowFailureAndAreCounted)
{
    struct Row {
        const char *name;
        const char *status;
        const char *detail; // tool tip of the status cell
    } rows[] = {
        {"ok.flv", "已完成", ""},
        // The converter's exit code and last line on stderr say why, in the dialog's language
        // for the common reasons; the exit code only when it is silent.
        {"fail.flv", "失败", "失败：不是可以读取的媒体文件"},
        {"silentfail.flv", "失败", "转换器出错退出（退出码 3）"},
        {"nooutput.flv", "失败", "转换器没有写出输出文件"},
        {"ok2.flv", "已完成", ""},
    };
    for (auto it = std::rbegin(rows); it != std::rend(rows); ++it)
        Add({it->name});
    VideoBatch &b = MakeBatch();
    ASSERT_TRUE(b.Start(Out()));
    ASSERT_TRUE(WaitDone());
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(list.Status(i), QString::fromUtf8(rows[i].status)) << rows[i].name;
        EXPECT_EQ(list.Detail(i), QString::fromUtf8(rows[i].detail)) << rows[i].name;
        EXPECT_EQ(list.data(list.index(i, FileListModel::StatusColumn), Qt::ToolTipRole).toString(),
                  QString::fromUtf8(*rows[i].detail ? rows[i].detail : rows[i].status))
            << rows[i].name;
    }
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0].text, "转换完成，其中 3 个文件转换失败");
    EXPECT_EQ(prompts.messages[0].caption, "转换完成");
    EXPECT_EQ(b.Failures(), 3);
}

TEST(VideoBatchReasons, AFailedFilesToolTipGivesTheCommonReasonsInChinese)
{
    // vv's exit code and its last line (as vv words them), and what the tool tip says.
    struct Row {
        RunOutcome outcome;
        int code; // exit code, or the signal for Killed
        const char *line;
        const char *detail;
    };
    const Row rows[] = {
        {RunOutcome::Failed, 3, "vv: input is not a media file FFmpeg can read: /v/a.txt",
         "失败：不是可以读取的媒体文件"},
        {RunOutcome::Failed, 3,
         "vv: cannot open input /v/a.avi: Invalid data found when processing input",
         "失败：不是可以读取的媒体文件"},
        {RunOutcome::Failed, 3, "vv: the input /v/song.mp3 has no video stream",
         "失败：文件中没有视频"},
        {RunOutcome::Failed, 3, "vv: input file not found: /v/gone.avi", "失败：找不到输入文件"},
        {RunOutcome::Failed, 3, "vv: input file is not readable: /v/locked.avi",
         "失败：无法读取输入文件"},
        {RunOutcome::Failed, 4, "vv: output folder is not writable: /media/cd",
         "失败：无法写入输出目录"},
        {RunOutcome::Failed, 4, "vv: output folder does not exist: /media/usb",
         "失败：无法写入输出目录"},
        {RunOutcome::Failed, 5, "vv: writing the output failed: No space left on device",
         "失败：磁盘空间不足"},
        {RunOutcome::Failed, 5, "vv: writing the output failed: File too large",
         "失败：磁盘空间不足"},
        {RunOutcome::Failed, 5,
         "vv: decoding the video failed: Invalid data found when processing input",
         "失败：输入文件已损坏"},
        {RunOutcome::Failed, 6, "vv: stopped; the partial output was removed", "失败：转换被中止"},
        {RunOutcome::Killed, SIGTERM, "", "失败：转换被中止"},
        // Anything else keeps vv's own words, and a silent failure its exit code.
        {RunOutcome::Failed, 2, "vv: unknown option -foo", "失败：unknown option -foo"},
        {RunOutcome::Failed, 5,
         "vv: encoding the audio failed: Generic error in an external library",
         "失败：encoding the audio failed: Generic error in an external library"},
        {RunOutcome::Failed, 3, "", "转换器出错退出（退出码 3）"},
        {RunOutcome::Killed, SIGSEGV, "", "转换器被信号 11 结束"},
    };
    for (const Row &r : rows) {
        RunResult result;
        result.outcome = r.outcome;
        (r.outcome == RunOutcome::Killed ? result.signal : result.exitCode) = r.code;
        result.lastLine = r.line;
        EXPECT_EQ(VideoBatch::FailureDetail(result, false), QString::fromUtf8(r.detail)) << r.line;
    }
}

TEST_F(BatchTest, MissingOutputFolderIsMadeOrNothingIsConverted)
{
    ASSERT_TRUE(Touch(app.File("plain"), "a file, not a folder"));
    struct Row {
        QString folder; // relative to the app folder
        bool creatable;
    };
    const QList<Row> rows{
        {"new/nested folder 输出", true},
        {"plain/sub", false}, // below a regular file
        {"plain", false},     // a regular file itself
    };
    Add({"b.flv", "a.flv"});
    for (const Row &r : rows) {
        const QString folder = app.File(r.folder);
        const std::string where = r.folder.toStdString();
        prompts.messages.clear();
        QFile::remove(app.File("calls.log"));
        for (int i = 0; i < list.Count(); ++i)
            list.SetStatus(i, QString());
        VideoBatch &b = MakeBatch();
        EXPECT_EQ(b.Start(folder), r.creatable) << where;
        ASSERT_TRUE(WaitDone()) << where;
        ASSERT_EQ(prompts.messages.size(), 1) << where;
        if (r.creatable) {
            EXPECT_TRUE(QFileInfo(folder).isDir()) << where;
            EXPECT_EQ(Statuses(), (QStringList{"已完成", "已完成"})) << where;
            EXPECT_EQ(prompts.messages[0].text, "转换完成");
        } else {
            EXPECT_EQ(prompts.messages[0].text, "无法创建输出目录：" + folder) << where;
            EXPECT_EQ(prompts.messages[0].caption, "提示信息");
            EXPECT_TRUE(prompts.messages[0].owned);
            EXPECT_TRUE(app.Calls().isEmpty()) << "nothing may be converted, " << where;
            EXPECT_EQ(Statuses(), (QStringList{"", ""})) << where;
            EXPECT_EQ(ReadAll(app.File("plain")), "a file, not a folder");
        }
    }
}

TEST_F(BatchTest, OutputFolderRemovedDuringTheBatchSaysWhy)
{
    Add({"b.flv", "slow-a.flv"});
    const QString out = app.File("vanishing");
    VideoBatch &b = MakeBatch();
    ASSERT_TRUE(b.Start(out));
    ASSERT_TRUE(QDir(out).removeRecursively());
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(list.Detail(0), "输出目录不存在：" + out);
    EXPECT_EQ(list.Detail(1), "输出目录不存在：" + out);
}

TEST_F(BatchTest, ConverterThatCannotStartFailsEveryFileAndTheBatchEnds)
{
    Add({"b.flv", "a.flv"});
    VideoBatch &b = MakeBatch(50, 0, app.File("nowhere/vv"));
    ASSERT_TRUE(b.Start(Out()));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(Statuses(), (QStringList{"失败", "失败"}));
    EXPECT_TRUE(list.Detail(0).startsWith("无法启动转换器：")) << list.Detail(0);
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0].text, "转换完成，其中 2 个文件转换失败");
}

TEST_F(BatchTest, OutputNamesOfTheBatch)
{
    struct Row {
        QString format;
        QString input;       // relative to the app folder
        QString folder;      // relative to the app folder
        QStringList present; // outputs present before the batch
        QList<bool> answers; // to the overwrite question
        QString output;      // expected, relative to the app folder
        int questions;
    };
    const QList<Row> rows{
        {"3gpp2", "in/clip.flv", "out", {}, {}, "out/clip.3g2", 0},
        {"mp4", "v/clip.mp4", "v", {}, {}, "v/新clip.mp4", 0},
        {"mp4", "in/clip.mp4", "out", {"out/clip.mp4"}, {false}, "out/重命名clip.mp4", 1},
        {"mp4", "in/clip.mp4", "out", {"out/clip.mp4"}, {true}, "out/clip.mp4", 1},
        {"mp4",
         "in/clip.mp4",
         "out",
         {"out/clip.mp4", "out/重命名clip.mp4"},
         {false},
         "out/重命名clip (2).mp4",
         1},
        {"avi", "v1.0/clip", "out", {}, {}, "out/clip.avi", 0},
        {"flv", "v1.0/clip.avi", "out/", {}, {}, "out/clip.flv", 0},
    };
    for (const Row &r : rows) {
        FakeAppFolder fresh;
        ASSERT_TRUE(fresh.IsValid());
        FileListModel files;
        VideoSettings s([&] { return fresh.Path(); });
        s.Initialise();
        s.Select(FormatList, static_cast<int>(s.List(FormatList).entries.indexOf(r.format)));
        ScriptedPrompts p;
        p.answers = r.answers;
        ASSERT_TRUE(Touch(fresh.File(r.input)));
        QDir().mkpath(fresh.File(r.folder));
        for (const QString &f : r.present)
            ASSERT_TRUE(Touch(fresh.File(f), "old"));
        files.InsertAt(0, fresh.File(r.input));
        VideoBatch b(files, s, p, BatchConfig(fresh.Path(), 50, 0));
        ASSERT_TRUE(b.Start(fresh.File(r.folder)));
        ASSERT_TRUE(testsupport::waitFor([&] { return !b.IsBusy(); }));
        const std::string where = r.output.toStdString();
        EXPECT_EQ(b.OutputPathOf(0), fresh.File(r.output)) << where;
        EXPECT_EQ(fresh.LastArgs().value(fresh.LastArgs().size() - 1), fresh.File(r.output));
        ASSERT_EQ(p.questions.size(), r.questions) << where;
        if (r.questions) {
            const QString base = r.input.section('/', -1).section('.', 0, 0);
            EXPECT_EQ(p.questions[0].text, QStringLiteral("输出目录%1中，已经有%2.%3，是否要覆盖？")
                                               .arg(fresh.File(r.folder), base, s.Extension()));
            EXPECT_EQ(p.questions[0].caption, "提示");
        }
        EXPECT_EQ(files.Status(0), "已完成") << where;
        for (const QString &f : r.present) {
            if (fresh.File(f) != fresh.File(r.output)) {
                EXPECT_EQ(ReadAll(fresh.File(f)), "old") << "replaced " << f.toStdString();
            }
        }
    }
}

TEST_F(BatchTest, SameBaseNameInOneBatchNeverReplacesThisBatchsOutput)
{
    // Three inputs named clip in three folders, all converted into one output folder.
    struct Row {
        QStringList present;   // in the output folder before the batch (an earlier run)
        QList<bool> answers;   // to the overwrite questions, in order
        QStringList questions; // "<name>.<ext>" each question names
        QStringList outputs;   // expected output names, top to bottom
    };
    const QList<Row> rows{
        {{}, {}, {}, {"clip.3gp", "clip (2).3gp", "clip (3).3gp"}},
        {{"clip.3gp"}, {true}, {"clip.3gp"}, {"clip.3gp", "clip (2).3gp", "clip (3).3gp"}},
        // A numbered name avoids only this batch's names; a file of an earlier run with that
        // name is asked about like any other.
        {{"clip (2).3gp"}, {true}, {"clip (2).3gp"}, {"clip.3gp", "clip (2).3gp", "clip (3).3gp"}},
        {{"clip (2).3gp"},
         {false, true},
         {"clip (2).3gp", "clip (2).3gp"},
         {"clip.3gp", "重命名clip (2).3gp", "clip (2).3gp"}},
        // Declined for the first file; the second meets the same earlier file and is asked
        // again (that file is not this batch's).
        {{"clip.3gp", "重命名clip.3gp"},
         {false, true},
         {"clip.3gp", "clip.3gp"},
         {"重命名clip (2).3gp", "clip.3gp", "clip (2).3gp"}},
    };
    const QStringList inputs{"in/a/clip.avi", "in/b/clip.flv", "in/c/clip.mp4"};
    for (const Row &r : rows) {
        FakeAppFolder fresh;
        ASSERT_TRUE(fresh.IsValid());
        FileListModel files;
        VideoSettings s([&] { return fresh.Path(); });
        s.Initialise();
        ScriptedPrompts p;
        p.answers = r.answers;
        const QString out = fresh.File("out");
        QDir().mkpath(out);
        for (const QString &f : r.present)
            ASSERT_TRUE(Touch(out + "/" + f, "old"));
        for (auto it = inputs.rbegin(); it != inputs.rend(); ++it) {
            ASSERT_TRUE(Touch(fresh.File(*it)));
            files.InsertAt(0, fresh.File(*it));
        }
        VideoBatch b(files, s, p, BatchConfig(fresh.Path(), 20, 0));
        ASSERT_TRUE(b.Start(out));
        ASSERT_TRUE(testsupport::waitFor([&] { return !b.IsBusy(); }));
        const std::string where = r.present.join(", ").toStdString();
        QStringList asked;
        for (const auto &q : p.questions)
            asked << q.text;
        QStringList expectedQuestions;
        for (const QString &q : r.questions)
            expectedQuestions << QStringLiteral("输出目录%1中，已经有%2，是否要覆盖？").arg(out, q);
        EXPECT_EQ(asked, expectedQuestions) << where;
        for (int i = 0; i < inputs.size(); ++i) {
            EXPECT_EQ(b.OutputPathOf(i), out + "/" + r.outputs.at(i)) << where << " row " << i;
            // Each output holds the conversion of its own input.
            EXPECT_EQ(ReadAll(out + "/" + r.outputs.at(i)),
                      "fake output of " + fresh.File(inputs.at(i)).toUtf8() + "\n")
                << where << " row " << i;
        }
        for (const QString &f : r.present) {
            if (!r.outputs.contains(f)) {
                EXPECT_EQ(ReadAll(out + "/" + f), "old") << "replaced " << f.toStdString();
            }
        }
    }
}

TEST_F(BatchTest, OverlongCommandLineFailsThatFileOnly)
{
    // Five folders of 200 letters: a legal path, but the command line exceeds 1023 characters.
    QString deep = "deep";
    for (char c : {'v', 'w', 'x', 'y', 'z'})
        deep += "/" + QString(200, QLatin1Char(c));
    ASSERT_TRUE(Touch(app.File(deep + "/long.flv")));
    Add({"after.flv"});
    list.InsertAt(0, app.File(deep + "/long.flv"));
    VideoBatch &b = MakeBatch();
    ASSERT_TRUE(b.Start(Out()));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(Statuses(), (QStringList{"失败：命令行过长", "已完成"}));
    EXPECT_EQ(list.Detail(0), "命令行超过 1023 个字符或 1999 字节");
    EXPECT_EQ(app.Calls(), QStringList{In("after.flv")});
    EXPECT_GT(b.CommandLineOf(0).size(), 1023);
    EXPECT_EQ(b.Failures(), 1);
}

TEST_F(BatchTest, ProgressValuesMoveTheBarForwardOnly)
{
    Add({"hang.flv"});
    VideoBatch &b = MakeBatch(3600 * 1000);
    ASSERT_TRUE(b.Start(Out()));
    ASSERT_TRUE(testsupport::waitFor([&] { return ReadAll(app.Progress()) == "100"; }));
    struct Step {
        const char *content;
        const char *status;
        int bar;
    } steps[] = {
        {"0", "0%", 0},      {"5", "0%", 5},       {"500", "50%", 500},
        {"300", "30%", 500}, {"1001", "--%", 500}, {"-5", "--%", 500},
        {"", "0%", 500},     {"999", "99%", 999},  {"1000", "100%", 1000},
    };
    for (const Step &s : steps) {
        ASSERT_TRUE(Touch(app.Progress(), s.content));
        b.OnTimer();
        EXPECT_EQ(list.Status(0), QString::fromUtf8(s.status)) << s.content;
        EXPECT_EQ(b.BarValue(), s.bar) << s.content;
    }
    const pid_t pid = b.CurrentPid();
    ASSERT_TRUE(ProcessExists(pid));
    ASSERT_TRUE(StopAndWaitIdle());
    EXPECT_FALSE(ProcessExists(pid)) << "a stop must end the converter";
}

TEST_F(BatchTest, ProgressFileIsResetBeforeEachFile)
{
    // A converter that never starts never writes: what is left is the dialog's own reset.
    ASSERT_TRUE(Touch(app.Progress(), "1000 from the last file"));
    Add({"a.flv"});
    VideoBatch &b = MakeBatch(3600 * 1000, 0, app.File("nowhere/vv"));
    ASSERT_TRUE(b.Start(Out()));
    EXPECT_EQ(ReadAll(app.Progress()), "0");
    ASSERT_TRUE(StopAndWaitIdle());
}

TEST_F(BatchTest, TicksDuringTheOverwriteQuestionOnlyRefresh)
{
    Add({"b.flv", "a.flv"});
    ASSERT_TRUE(Touch(Out() + "/b.3gp", "old"));
    VideoBatch &b = MakeBatch(3600 * 1000);
    int ticks = 0;
    prompts.onQuestion = [&] {
        // The timer keeps running behind the modal box.
        for (int i = 0; i < 3; ++i, ++ticks)
            b.OnTimer();
        EXPECT_EQ(b.CurrentIndex(), 1);
        EXPECT_EQ(b.CurrentPid(), 0) << "no runner while the question is open";
    };
    prompts.answers = {false};
    ASSERT_TRUE(b.Start(Out()));
    // Drive the ticks until the batch ends.
    ASSERT_TRUE(testsupport::waitFor([&] {
        b.OnTimer();
        return !b.IsBusy();
    }));
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(Statuses(), (QStringList{"已完成", "已完成"}));
    EXPECT_EQ(b.OutputPathOf(1), Out() + "/重命名b.3gp");
    EXPECT_EQ(ReadAll(Out() + "/b.3gp"), "old");
}

TEST_F(BatchTest, StopDuringTheOverwriteQuestionStartsNothing)
{
    Add({"a.flv"});
    ASSERT_TRUE(Touch(Out() + "/a.3gp", "old"));
    VideoBatch &b = MakeBatch();
    prompts.onQuestion = [&] { b.Stop(); };
    b.Start(Out());
    EXPECT_FALSE(b.IsBusy());
    // The command line is built just before a runner is made: none means no runner was.
    EXPECT_EQ(b.CommandLineOf(0), QString());
    EXPECT_EQ(b.CurrentPid(), 0);
    EXPECT_EQ(b.StateOf(0), VideoBatch::FileState::Stopped);
    // A tick that was already on its way starts nothing either.
    b.OnTimer();
    QCoreApplication::processEvents();
    EXPECT_EQ(b.CommandLineOf(0), QString());
    EXPECT_TRUE(app.Calls().isEmpty());
    EXPECT_EQ(Statuses(), QStringList{"已停止"});
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0].text, "转换已停止");
    EXPECT_EQ(ReadAll(Out() + "/a.3gp"), "old");
}

TEST_F(BatchTest, AudioChoicesAtConvertTime)
{
    ChooseFormat("3gpp2");
    settings.Select(SampleRateList,
                    static_cast<int>(settings.List(SampleRateList).entries.indexOf("22050 Hz")));
    settings.Select(AudioCodecList,
                    static_cast<int>(settings.List(AudioCodecList).entries.indexOf("AAC")));
    Add({"a.flv"});
    VideoBatch &b = MakeBatch();
    ASSERT_TRUE(b.Start(Out()));
    ASSERT_TRUE(WaitDone());
    EXPECT_TRUE(b.CommandLineOf(0).contains(" -ar 44100 ")) << b.CommandLineOf(0).toStdString();
    EXPECT_TRUE(b.CommandLineOf(0).endsWith("/a.3g2\""));
    const QStringList args = app.LastArgs();
    EXPECT_EQ(args.mid(0, 4), (QStringList{"vv", "-i", In("a.flv"), "-y"}));
    EXPECT_TRUE(args.contains("-fpre"));
    EXPECT_EQ(args.value(args.indexOf("-fpre") + 1), app.Path() + "/h264.dat");
}

TEST_F(BatchTest, ASecondBatchConvertsTheListAsItStands)
{
    Add({"a.flv"});
    VideoBatch &b = MakeBatch();
    ASSERT_TRUE(b.Start(Out()));
    ASSERT_TRUE(WaitDone());
    Add({"b.flv"});
    EXPECT_EQ(Statuses(), (QStringList{"", "已完成"}));
    ASSERT_TRUE(b.Start(Out()));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(Statuses(), (QStringList{"已完成", "已完成"}));
    EXPECT_EQ(app.Calls(), (QStringList{In("a.flv"), In("b.flv"), In("a.flv")}));
}

TEST_F(BatchTest, StopMidFileEndsTheConverterAndKeepsTheRestWaiting)
{
    // "hang" ends when asked (SIGTERM); "stubborn" ignores that and has to be killed after
    // the grace time.
    for (const QString middle : {"hang.flv", "stubborn.flv"}) {
        const std::string where = middle.toStdString();
        FakeAppFolder fresh;
        ASSERT_TRUE(fresh.IsValid());
        FileListModel files;
        ScriptedPrompts p;
        for (const QString &n : {QString("c.flv"), middle, QString("a.flv")}) {
            ASSERT_TRUE(Touch(fresh.File("in/" + n)));
            files.InsertAt(0, fresh.File("in/" + n));
        }
        VideoBatch b(files, settings, p, BatchConfig(fresh.Path(), 50, 0));
        QList<bool> busy, stopping;
        int stoppedSignals = 0;
        QObject::connect(&b, &VideoBatch::busyChanged, [&](bool v) { busy << v; });
        QObject::connect(&b, &VideoBatch::stoppingChanged, [&](bool v) { stopping << v; });
        QObject::connect(&b, &VideoBatch::stopped, [&] { ++stoppedSignals; });
        ASSERT_TRUE(b.Start(fresh.File("out")));
        ASSERT_TRUE(
            testsupport::waitFor([&] { return b.CurrentIndex() == 1 && b.CurrentPid() > 0; }));
        ASSERT_TRUE(testsupport::waitFor([&] { return ReadAll(fresh.Progress()) == "100"; }))
            << where;
        const pid_t pid = b.CurrentPid();
        ASSERT_TRUE(ProcessExists(pid));

        b.Stop();
        // Nothing was waited for here: the converter may still be there, the batch is busy.
        EXPECT_TRUE(b.IsStopping()) << where;
        EXPECT_TRUE(b.IsBusy()) << where;
        EXPECT_TRUE(p.messages.isEmpty()) << where;
        ASSERT_TRUE(testsupport::waitFor([&] { return !b.IsBusy(); })) << where;

        EXPECT_FALSE(ProcessExists(pid)) << "converter still there (alive or unreaped), " << where;
        EXPECT_EQ(ReadAll(fresh.File("got_term")), "TERM") << "SIGTERM comes first, " << where;
        QStringList statuses;
        for (int i = 0; i < files.Count(); ++i)
            statuses << files.Status(i);
        EXPECT_EQ(statuses, (QStringList{"已完成", "已停止", "等待"})) << where;
        EXPECT_EQ(b.StateOf(1), VideoBatch::FileState::Stopped);
        EXPECT_EQ(fresh.Calls(), (QStringList{fresh.File("in/a.flv"), fresh.File("in/" + middle)}))
            << "nothing starts after a stop, " << where;
        ASSERT_EQ(p.messages.size(), 1) << where;
        EXPECT_EQ(p.messages[0].text, "转换已停止");
        EXPECT_EQ(p.messages[0].caption, "提示信息");
        EXPECT_TRUE(p.messages[0].owned);
        EXPECT_EQ(busy, (QList<bool>{true, false})) << where;
        EXPECT_EQ(stopping, (QList<bool>{true, false})) << where;
        EXPECT_EQ(stoppedSignals, 1) << where;
        EXPECT_EQ(b.Failures(), 0) << "a stopped file is not a failure, " << where;

        // The list can be converted again from the top.
        p.messages.clear();
        files.RemoveAt(1);
        ASSERT_TRUE(b.Start(fresh.File("out")));
        ASSERT_TRUE(testsupport::waitFor([&] { return !b.IsBusy(); }));
        EXPECT_EQ(files.Status(0), "已完成");
        EXPECT_EQ(files.Status(1), "已完成");
    }
}

TEST_F(BatchTest, EventLoopKeepsTurningThroughPausesAndAStubbornStop)
{
    // The real one-second pause between files and a converter that must be killed after the
    // grace time: neither may hold up the thread that runs the batch. A heartbeat on that
    // thread notes what it sees; a pause or a wait done by sleeping would let it see neither
    // the pause before the last file (bar still full) nor the converter alive after it was
    // asked to end.
    Add({"stubborn.flv", "c.flv", "b.flv", "a.flv"});
    VideoBatch &b = MakeBatch(100, 1000);
    int beatsInLastPause = 0;
    int beatsInGrace = 0;
    pid_t stubborn = 0;
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout, [&] {
        if (b.IsBusy() && !b.IsStopping() && b.CurrentIndex() == 3 && b.BarValue() == 1000)
            ++beatsInLastPause;
        if (b.IsStopping() && ReadAll(app.File("got_term")) == "TERM" && ProcessExists(stubborn))
            ++beatsInGrace;
    });
    beat.start(10);
    ASSERT_TRUE(b.Start(Out()));
    // The last file has started and its pause is over (the index moves on as the pause begins,
    // with the bar full until it ends): the heartbeat had the whole pause to look.
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            return b.CurrentIndex() == 3 && b.BarValue() != 1000 && ReadAll(app.Progress()) == "100"
                   && list.Status(2) == "已完成";
        },
        30000));
    EXPECT_EQ(Statuses().mid(0, 3), (QStringList{"已完成", "已完成", "已完成"}));
    EXPECT_GT(beatsInLastPause, 0) << "the pause before the last file held up the event loop";
    stubborn = b.CurrentPid();
    ASSERT_GT(stubborn, 0);
    QElapsedTimer stopClock;
    stopClock.start();
    b.Stop(false);
    ASSERT_TRUE(WaitDone());
    // The converter had its grace time before it was killed.
    EXPECT_GE(stopClock.elapsed(), MirelFFmpeg::TermGrace.count() - 50);
    EXPECT_EQ(Statuses().at(3), "已停止");
    EXPECT_GT(beatsInGrace, 0) << "the grace time of the stop held up the event loop";
    EXPECT_FALSE(ProcessExists(stubborn));
}

TEST_F(BatchTest, PauseBetweenFilesHoldsTheBarAndTheTick)
{
    Add({"b.flv", "a.flv"});
    VideoBatch &b = MakeBatch(3600 * 1000, 1500);
    ASSERT_TRUE(b.Start(Out()));
    ASSERT_TRUE(testsupport::waitFor(
        [&] { return app.Calls().size() == 1 && ReadAll(app.Progress()) == "1000"; }));
    ASSERT_TRUE(testsupport::waitFor([&] {
        b.OnTimer();
        return b.CurrentIndex() == 1;
    }));
    // The next file has started; the pause keeps the bar full and lets no tick through.
    EXPECT_EQ(b.BarValue(), 1000);
    ASSERT_TRUE(testsupport::waitFor([&] { return app.Calls().size() == 2; }));
    ASSERT_TRUE(testsupport::waitFor([&] { return ReadAll(app.Progress()) == "1000"; }));
    b.OnTimer();
    EXPECT_EQ(b.BarValue(), 1000);
    EXPECT_TRUE(b.IsBusy()) << "a tick inside the pause must not finish the file";
    EXPECT_EQ(b.CurrentIndex(), 1);
    EXPECT_EQ(list.Status(0), "已完成");
    EXPECT_NE(list.Status(1), "已完成");
    // The tick held back runs when the pause is over: the batch ends with no further tick.
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(Statuses(), (QStringList{"已完成", "已完成"}));
    EXPECT_EQ(b.BarValue(), 1000);
}

TEST_F(BatchTest, EachFileHasALogWithTheConvertersWords)
{
    Add({"ok.flv", "fail.flv"});
    VideoBatch &b = MakeBatch();
    ASSERT_TRUE(b.Start(Out()));
    ASSERT_TRUE(WaitDone());
    const QStringList batches = QDir(Logs()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(batches.size(), 1);
    const QString folder = Logs() + "/" + batches[0];
    EXPECT_EQ(QDir(folder).entryList(QDir::Files),
              (QStringList{"01 fail.flv.log", "02 ok.flv.log"}));
    EXPECT_EQ(list.Log(0), folder + "/01 fail.flv.log");
    EXPECT_EQ(list.Log(1), folder + "/02 ok.flv.log");
    const QString failed = QString::fromUtf8(ReadAll(list.Log(0)));
    for (const QString &part :
         {"输入：" + In("fail.flv"), "输出：" + Out() + "/fail.3gp",
          "命令行：" + b.CommandLineOf(0),
          QString("vv: warning: damaged packet skipped\nvv: input is not a media file\n"),
          QString("结果：失败：不是可以读取的媒体文件\n")}) {
        EXPECT_TRUE(failed.contains(part)) << part << " missing in " << failed;
    }
    EXPECT_TRUE(QString::fromUtf8(ReadAll(list.Log(1))).endsWith("结果：已完成\n"));

    // A second batch: a folder of its own, and the rows point to the new logs.
    ASSERT_TRUE(b.Start(Out()));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(QDir(Logs()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 2);
    EXPECT_FALSE(list.Log(0).startsWith(folder));
}

TEST_F(BatchTest, UnwritableLogFolderStillConverts)
{
    ASSERT_TRUE(Touch(Logs(), "a file where the log folder would be"));
    Add({"fail.flv", "ok.flv"});
    VideoBatch &b = MakeBatch();
    ASSERT_TRUE(b.Start(Out()));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(Statuses(), (QStringList{"已完成", "失败"}));
    EXPECT_EQ(list.Log(0), "");
    EXPECT_EQ(list.Detail(1), "失败：不是可以读取的媒体文件") << "the reason needs no log";
}

TEST_F(BatchTest, NumberingAcrossRunsReplacesInsteadOfPilingUp)
{
    // The same two same-name inputs converted twice leave two outputs, not three.
    Add({"b/clip.flv", "a/clip.flv"});
    VideoBatch &b = MakeBatch();
    for (int run = 0; run < 2; ++run) {
        prompts.questions.clear();
        ASSERT_TRUE(b.Start(Out()));
        ASSERT_TRUE(WaitDone());
        QStringList asked;
        for (const auto &q : prompts.questions)
            asked << q.text;
        const QStringList expected =
            run == 0
                ? QStringList()
                : QStringList{
                    QStringLiteral("输出目录%1中，已经有clip.3gp，是否要覆盖？").arg(Out()),
                    QStringLiteral("输出目录%1中，已经有clip (2).3gp，是否要覆盖？").arg(Out())};
        EXPECT_EQ(asked, expected) << "run " << run;
    }
    EXPECT_EQ(QDir(Out()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"clip (2).3gp", "clip.3gp"}));
    EXPECT_EQ(ReadAll(Out() + "/clip (2).3gp"),
              "fake output of " + In("b/clip.flv").toUtf8() + "\n");
}
