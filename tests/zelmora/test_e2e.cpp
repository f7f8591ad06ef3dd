// The whole chain with the real converter: media made by the ffmpeg tool, one batch through
// the batch driver to every output format, the outputs checked with ffprobe.
#include "engine/batchdriver.h"
#include "engine/dosoutputs.h"
#include "engine/seams.h"
#include "queue/queuemodel.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using namespace zm;

namespace {

class NoBoxes final : public MessageBoxes {
public:
    void show(MsgIcon, const QString &, const QString &text) override { texts << text; }
    bool ask(const QString &, const QString &) override { return false; }
    QStringList texts;
};

bool run(const QString &program, const QStringList &args, QByteArray *out = nullptr)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(120000))
        return false;
    if (out)
        *out = p.readAllStandardOutput();
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

struct Probe {
    QString format, codec;
    int rate = 0, channels = 0;
    double duration = 0;
};

Probe probe(const QString &file)
{
    QByteArray json;
    Probe r;
    if (!run(QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-print_format"),
                                         QStringLiteral("json"), QStringLiteral("-show_format"),
                                         QStringLiteral("-show_streams"), file},
             &json))
        return r;
    const QJsonObject root = QJsonDocument::fromJson(json).object();
    const QJsonObject fmt = root.value(QStringLiteral("format")).toObject();
    r.format = fmt.value(QStringLiteral("format_name")).toString();
    r.duration = fmt.value(QStringLiteral("duration")).toString().toDouble();
    for (const QJsonValue &v : root.value(QStringLiteral("streams")).toArray()) {
        const QJsonObject s = v.toObject();
        if (s.value(QStringLiteral("codec_type")).toString() != QLatin1String("audio"))
            continue;
        r.codec = s.value(QStringLiteral("codec_name")).toString();
        r.rate = s.value(QStringLiteral("sample_rate")).toString().toInt();
        r.channels = s.value(QStringLiteral("channels")).toInt();
    }
    return r;
}

struct Batch {
    QueueModel queue;
    NoBoxes boxes;
    DOSOutputs dos{&boxes};
    ProgramSettings settings;
    QList<Selections> perFile;
    int started = 0;
    std::unique_ptr<BatchDriver> driver;

    Batch(const QString &appDir)
    {
        driver = std::make_unique<BatchDriver>(queue, dos, settings, appDir, BatchDriver::Seams{&boxes, nullptr, nullptr},
                                               [this] { return perFile.value(started, perFile.last()); });
        QObject::connect(driver.get(), &BatchDriver::fileStarted, [this] { ++started; });
    }
    bool go()
    {
        QEventLoop loop;
        QObject::connect(driver.get(), &BatchDriver::batchFinished, &loop, &QEventLoop::quit);
        QTimer::singleShot(300000, &loop, &QEventLoop::quit);
        driver->imgStart_Click();
        loop.exec();
        return !driver->isRunning();
    }
};

} // namespace

TEST(EndToEnd, EveryFormatThroughTheRealConverter)
{
    QTemporaryDir dir;
    const QString app = dir.path() + QStringLiteral("/My App");
    QDir().mkpath(app + QStringLiteral("/data"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(CONV_PATH), app + QStringLiteral("/data/conv")));
    const QString input = dir.path() + QStringLiteral("/Clip \"one\" & two.mp4");
    ASSERT_TRUE(run(QStringLiteral("ffmpeg"),
                    {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("lavfi"),
                     QStringLiteral("-i"), QStringLiteral("testsrc=size=160x120:rate=15:duration=2"), QStringLiteral("-f"),
                     QStringLiteral("lavfi"), QStringLiteral("-i"),
                     QStringLiteral("sine=frequency=440:sample_rate=44100:duration=2"), QStringLiteral("-ac"),
                     QStringLiteral("2"), QStringLiteral("-c:v"), QStringLiteral("mpeg4"), QStringLiteral("-c:a"),
                     QStringLiteral("aac"), QStringLiteral("-shortest"), QStringLiteral("-y"), input}));

    const QString out = dir.path() + QStringLiteral("/out put");
    Batch b(app);
    for (int f = 0; f < 8; ++f) {
        Selections s;
        s.formatIndex = f;
        s.bitrate = QStringLiteral("128");
        s.sampleRate = QStringLiteral("22050");
        s.channelIndex = 0; // Mono
        s.outputDir = out;
        b.perFile << s;
        b.queue.AddQueueEntry(input);
    }
    ASSERT_TRUE(b.go());
    EXPECT_EQ(b.started, 8);
    EXPECT_TRUE(b.boxes.texts.isEmpty()) << b.boxes.texts.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(b.driver->failures().isEmpty());

    struct Row {
        const char *ext;
        const char *codec; // empty: the converter's choice
        int rate;          // 0: any
        int channels;
    };
    const Row rows[] = {{".mp3", "mp3", 22050, 1}, {".wma", "wmav1", 0, 0},  {".ogg", "", 0, 2},
                        {".wav", "pcm_s16le", 0, 0}, {".flac", "flac", 0, 0}, {".ac3", "ac3", 0, 0},
                        {".aac", "aac", 0, 0},       {".amr", "amr_nb", 8000, 1}};
    for (const Row &r : rows) {
        const QString file = out + QStringLiteral("/Clip \"one\" & two") + QString::fromLatin1(r.ext);
        const Probe p = probe(file);
        EXPECT_FALSE(p.codec.isEmpty()) << r.ext;
        if (*r.codec)
            EXPECT_EQ(p.codec, QString::fromLatin1(r.codec)) << r.ext;
        if (r.rate)
            EXPECT_EQ(p.rate, r.rate) << r.ext;
        if (r.channels)
            EXPECT_EQ(p.channels, r.channels) << r.ext;
        EXPECT_NEAR(p.duration, 2.0, 0.3) << r.ext;
    }
}

TEST(EndToEnd, CutterGivesTheCutLength)
{
    QTemporaryDir dir;
    const QString app = dir.path();
    QDir().mkpath(app + QStringLiteral("/data"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(CONV_PATH), app + QStringLiteral("/data/conv")));
    const QString input = dir.path() + QStringLiteral("/talk.flv");
    ASSERT_TRUE(run(QStringLiteral("ffmpeg"),
                    {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("lavfi"),
                     QStringLiteral("-i"), QStringLiteral("sine=frequency=300:sample_rate=44100:duration=3"),
                     QStringLiteral("-c:a"), QStringLiteral("mp3"), QStringLiteral("-y"), input}));
    Batch b(app);
    b.settings = {1, 1, 1, 1};
    Selections s;
    s.formatIndex = 3;
    s.outputDir = app + QStringLiteral("/output/");
    b.perFile << s;
    b.queue.AddQueueEntry(input);
    QStringList captions;
    QObject::connect(b.driver.get(), &BatchDriver::progressChanged, [&](float, const QString &c) { captions << c; });
    ASSERT_TRUE(b.go());
    EXPECT_TRUE(b.driver->failures().isEmpty());
    const Probe p = probe(app + QStringLiteral("/output/talk.wav"));
    EXPECT_EQ(p.codec, QStringLiteral("pcm_s16le"));
    EXPECT_NEAR(p.duration, 1.0, 0.1);
    ASSERT_FALSE(captions.isEmpty());
    EXPECT_EQ(captions.last(), QStringLiteral("Done."));
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // Converter logs go to a folder of the test run, not the user's state folder.
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", state.path().toUtf8());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
