// End to end: the dialog converts generated media with the real converter into all five
// formats; ffprobe checks what came out.
#include "core/converterprogress.h"
#include "support/media.h"
#include "support/probe.h"
#include "ui/cvideodlg.h"
#include "video/videotestutil.h"

#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <gtest/gtest.h>

using namespace vidrune;

namespace {

// A private application folder with the real converter and its preset file: vv keeps its
// progress.txt beside itself.
bool MakeAppFolder(const QString &appFolder)
{
    QDir().mkpath(appFolder);
    if (!QFile::copy(VV_PATH, appFolder + "/vv")
        || !QFile::copy(QStringLiteral(VV_DIR) + "/h264.dat", appFolder + "/h264.dat"))
        return false;
    return QFile::setPermissions(appFolder + "/vv", QFile::ReadOwner | QFile::ExeOwner);
}

// A dialog on that folder, answered by `prompts`, with a quick tick and no notifications.
CvideoDlg::Options RealConverterOptions(const QString &appFolder, const QString &out,
                                        ScriptedPrompts &prompts)
{
    CvideoDlg::Options o;
    o.appFolder = appFolder;
    o.outputFolder = out;
    o.tickMs = 200;
    o.pauseMs = 0;
    o.prompts = &prompts;
    o.browser = false;
    o.notify = [](const QString &) {};
    return o;
}

// 3gpp2 (H.264) at 1280x720: slow enough that a stop or a second window lands mid-file.
bool ChooseSlowFormat(CvideoDlg &dlg)
{
    QComboBox *format = dlg.SettingCombo(FormatList);
    format->setCurrentIndex(1);
    emit format->activated(1);
    QComboBox *size = dlg.SettingCombo(FrameSizeList);
    const int hd = size->findText("1280x720");
    if (hd < 0)
        return false;
    size->setCurrentIndex(hd);
    emit size->activated(hd);
    return true;
}

// Each test: a temporary folder with the application folder in it; ffmpeg and ffprobe make
// and check the media.
class VideoEndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable("ffmpeg").isEmpty()
            || QStandardPaths::findExecutable("ffprobe").isEmpty())
            GTEST_SKIP() << "ffmpeg/ffprobe not installed";
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(MakeAppFolder(appFolder));
    }

    QTemporaryDir dir;
    const QString appFolder = dir.filePath("app");
};

} // namespace

TEST_F(VideoEndToEnd, EveryFormatFromTheDialog)
{
    const QString input = dir.filePath("输入 clip's/第一 clip.avi");
    QDir().mkpath(QFileInfo(input).path());
    ASSERT_TRUE(testsupport::makeMedia(
        input, {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=2", "-f", "lavfi", "-i",
                "sine=frequency=440:sample_rate=44100:duration=2", "-ac", "2", "-c:v", "mpeg4",
                "-c:a", "mp2"}));

    const QString out = dir.filePath("out folder");
    QDir().mkpath(out);
    ScriptedPrompts prompts;
    CvideoDlg dlg(RealConverterOptions(appFolder, out, prompts));
    prompts.filesToOpen << input;
    qobject_cast<QPushButton *>(dlg.Control(1000))->click();

    struct Row {
        int formatIndex;
        QString ext, video, audio;
        int width, height, rate, channels;
    };
    const QList<Row> rows{
        {0, "3gp", "h263", "amr_nb", 176, 144, 8000, 1},
        {1, "3g2", "h264", "aac", 320, 240, 44100, 2},
        {2, "mp4", "mpeg4", "aac", 320, 240, 44100, 2},
        {3, "avi", "mpeg4", "mp2", 320, 240, 22050, 2},
        {4, "flv", "flv1", "mp3", 320, 240, 44100, 2},
    };
    for (const Row &r : rows) {
        QComboBox *format = dlg.SettingCombo(FormatList);
        format->setCurrentIndex(r.formatIndex);
        emit format->activated(r.formatIndex);
        prompts.messages.clear();
        qobject_cast<QPushButton *>(dlg.Control(1006))->click();
        ASSERT_TRUE(testsupport::waitFor([&] { return !dlg.Batch().IsBusy(); }, 120000)) << r.ext;
        ASSERT_EQ(prompts.messages.size(), 1);
        EXPECT_EQ(prompts.messages[0].text, "转换完成") << r.ext;
        EXPECT_EQ(dlg.FileList().Status(0), "已完成") << r.ext;
        const QString output = out + "/第一 clip." + r.ext;
        ASSERT_TRUE(QFile::exists(output)) << output.toStdString();
        const testsupport::Probe p = testsupport::probe(output);
        ASSERT_TRUE(p.video() && p.audio()) << r.ext;
        EXPECT_EQ(p.video()->codec, r.video) << r.ext;
        EXPECT_EQ(p.audio()->codec, r.audio) << r.ext;
        EXPECT_EQ(p.video()->width, r.width) << r.ext;
        EXPECT_EQ(p.video()->height, r.height) << r.ext;
        EXPECT_EQ(p.audio()->sampleRate, r.rate) << r.ext;
        EXPECT_EQ(p.audio()->channels, r.channels) << r.ext;
        EXPECT_NEAR(p.duration, 2.0, 0.3) << r.ext;
    }
    EXPECT_EQ(ConverterProgress::Read(appFolder + "/progress.txt"), 1000);
}

TEST_F(VideoEndToEnd, StoppedMidFileLeavesNoFileAndNoHiddenFile)
{ // Cheap to make, slow to convert (H.264 at 1280x720): the stop lands mid-file.
    const QString input = dir.filePath("in/长 clip.avi");
    QDir().mkpath(QFileInfo(input).path());
    ASSERT_TRUE(testsupport::makeMedia(
        input, {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=120", "-f", "lavfi",
                "-i", "sine=duration=120", "-c:v", "mpeg4", "-q:v", "8", "-c:a", "mp2"}));

    struct Row {
        const char *name;
        bool earlierOutput; // an output of an earlier run is present and the user replaces it
    } rows[] = {{"fresh folder", false}, {"replacing an earlier file", true}};
    for (const Row &r : rows) {
        const QString out = dir.filePath(QString("out ") + r.name);
        QDir().mkpath(out);
        const QString output = out + "/长 clip.3g2";
        if (r.earlierOutput) {
            ASSERT_TRUE(Touch(output, "earlier output"));
        }
        ScriptedPrompts prompts;
        CvideoDlg dlg(RealConverterOptions(appFolder, out, prompts));
        prompts.filesToOpen << input;
        qobject_cast<QPushButton *>(dlg.Control(1000))->click();
        ASSERT_TRUE(ChooseSlowFormat(dlg));

        auto *convert = qobject_cast<QPushButton *>(dlg.Control(1006));
        convert->click();
        ASSERT_TRUE(testsupport::waitFor(
            [&] {
                const long long p = ConverterProgress::Read(appFolder + "/progress.txt");
                return dlg.Batch().CurrentPid() > 0 && p > 0 && p < 1000;
            },
            60000))
            << r.name;
        const pid_t pid = dlg.Batch().CurrentPid();
        convert->click(); // 停止转换
        ASSERT_TRUE(testsupport::waitFor([&] { return !dlg.Batch().IsBusy(); }, 20000)) << r.name;

        EXPECT_FALSE(ProcessExists(pid)) << r.name;
        EXPECT_EQ(prompts.questions.size(), r.earlierOutput ? 1 : 0) << r.name;
        EXPECT_EQ(dlg.FileList().Status(0), "已停止") << r.name;
        ASSERT_EQ(prompts.messages.size(), 1);
        EXPECT_EQ(prompts.messages[0].text, "转换已停止");
        const QStringList left = QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                     | QDir::NoDotAndDotDot);
        if (r.earlierOutput) {
            EXPECT_EQ(left, QStringList{"长 clip.3g2"}) << r.name;
            EXPECT_EQ(ReadAll(output), "earlier output") << "the earlier file must stay as it was";
        } else {
            EXPECT_TRUE(left.isEmpty()) << r.name << ": " << left.join(", ");
        }
        // The log tells the story, ending with the stop.
        EXPECT_TRUE(QString::fromUtf8(ReadAll(dlg.FileList().Log(0))).endsWith("结果：已停止\n"));
    }
}

TEST_F(VideoEndToEnd, TwoWindowsConvertAtOnceEachWithItsOwnProgress)
{
    // A converts a long file slowly (H.264 at 1280x720); B converts a short clip while A is
    // under way. The first window of this portable folder has progress.txt, the second a file
    // of its own that vv learns from VV_PROGRESS_FILE.
    const QString longInput = dir.filePath("in/长 clip.avi");
    const QString shortInput = dir.filePath("in/short clip.avi");
    QDir().mkpath(dir.filePath("in"));
    ASSERT_TRUE(testsupport::makeMedia(
        longInput, {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=120", "-f", "lavfi",
                    "-i", "sine=duration=120", "-c:v", "mpeg4", "-q:v", "8", "-c:a", "mp2"}));
    ASSERT_TRUE(testsupport::makeMedia(
        shortInput, {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=2", "-f", "lavfi",
                     "-i", "sine=duration=2", "-c:v", "mpeg4", "-c:a", "mp2"}));
    const QString out = dir.filePath("out");
    QDir().mkpath(out);
    ScriptedPrompts promptsA, promptsB;
    CvideoDlg::Options oa = RealConverterOptions(appFolder, out, promptsA);
    CvideoDlg::Options ob = RealConverterOptions(appFolder, out, promptsB);
    oa.instanceFolder = ob.instanceFolder = dir.filePath("run/vidrune");
    CvideoDlg a(oa), b(ob);
    a.FileList().InsertAt(0, longInput);
    b.FileList().InsertAt(0, shortInput);
    ASSERT_TRUE(ChooseSlowFormat(a));

    auto *convertA = qobject_cast<QPushButton *>(a.Control(1006));
    convertA->click();
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            const long long p = ConverterProgress::Read(a.Batch().ProgressFilePath());
            return p > 0 && p < 1000;
        },
        60000));
    qobject_cast<QPushButton *>(b.Control(1006))->click();
    QStringList seenA;
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            seenA << a.FileList().Status(0);
            return !b.Batch().IsBusy();
        },
        120000));
    EXPECT_EQ(a.Batch().ProgressFilePath(), appFolder + "/progress.txt");
    EXPECT_EQ(QFileInfo(b.Batch().ProgressFilePath()).path(), dir.filePath("run/vidrune"));
    // vv wrote B's progress where B reads it, to the end.
    EXPECT_EQ(ConverterProgress::Read(b.Batch().ProgressFilePath()), 1000);
    EXPECT_EQ(b.FileList().Status(0), "已完成");
    EXPECT_EQ(b.ProgressBar()->value(), 1000);
    const testsupport::Probe p = testsupport::probe(out + "/short clip.3gp");
    ASSERT_TRUE(p.video());
    EXPECT_EQ(p.video()->codec, "h263");
    EXPECT_NEAR(p.duration, 2.0, 0.3);
    // A followed only its own converter, which is still under way.
    ASSERT_TRUE(a.Batch().IsBusy()) << "the long file should still be converting";
    EXPECT_FALSE(seenA.contains("100%")) << seenA.join(' ').toStdString();
    EXPECT_LT(a.ProgressBar()->value(), 1000);
    EXPECT_LT(ConverterProgress::Read(a.Batch().ProgressFilePath()), 1000);
    convertA->click(); // stop
    ASSERT_TRUE(testsupport::waitFor([&] { return !a.Batch().IsBusy(); }, 20000));
    EXPECT_EQ(a.FileList().Status(0), "已停止");
}
