// The whole chain with the real converter: media made by the ffmpeg tool, one batch through
// the batch driver to every output format, and M4A and Opus from the window two at a time, the
// outputs checked with ffprobe.
#include "engine/batchdriver.h"
#include "engine/dosoutputs.h"
#include "engine/seams.h"
#include "probe/durationprobe.h"
#include "queue/queuemodel.h"
#include "support/files.h"
#include "support/loudness.h"
#include "support/media.h"
#include "support/probe.h"
#include "support/process.h"
#include "zelmora/windowutil.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using namespace zm;

namespace {

class NoBoxes final : public MessageBoxes
{
public:
    void show(MsgIcon, const QString &, const QString &text) override { texts << text; }
    bool ask(const QString &, const QString &) override { return false; }
    QStringList texts;
};

// A 2 s clip: a test picture (mpeg4) and a 440 Hz tone (stereo AAC at 44.1 kHz).
bool makeClip(const QString &path, const QStringList &extra = {})
{
    return testsupport::makeMedia(path, testsupport::clipArgs(2, true, true, QStringLiteral("160x120"), 15)
                                            + QStringList{QStringLiteral("-c:v"), QStringLiteral("mpeg4"),
                                                          QStringLiteral("-c:a"), QStringLiteral("aac")}
                                            + extra);
}

// The first audio stream as ffprobe sees it, with the title from the container or, as Ogg
// keeps its tags, from the stream.
struct Probe {
    QString codec, title;
    int rate = 0, channels = 0;
    double duration = 0;
};

Probe probe(const QString &file)
{
    const testsupport::Probe p = testsupport::probe(file);
    Probe r;
    r.duration = p.duration;
    r.title = p.tags.value(QStringLiteral("title"));
    if (const testsupport::StreamInfo *a = p.audio()) {
        r.codec = a->codec;
        r.rate = a->sampleRate;
        r.channels = a->channels;
        if (r.title.isEmpty())
            r.title = a->tags.value(QStringLiteral("title"));
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
        driver =
            std::make_unique<BatchDriver>(queue, dos, settings, appDir, BatchDriver::Seams{&boxes, nullptr, nullptr},
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
    ASSERT_TRUE(makeClip(input));

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
    const Row rows[] = {{".mp3", "mp3", 22050, 1},   {".wma", "wmav1", 0, 0},    {".ogg", "", 0, 2},
                        {".wav", "pcm_s16le", 0, 0}, {".flac", "flac", 0, 0},    {".ac3", "ac3", 0, 0},
                        {".aac", "aac", 0, 0},       {".amr", "amr_nb", 8000, 1}};
    for (const Row &r : rows) {
        const QString file = out + QStringLiteral("/Clip \"one\" & two") + QString::fromLatin1(r.ext);
        const Probe p = probe(file);
        EXPECT_FALSE(p.codec.isEmpty()) << r.ext;
        if (*r.codec) {
            EXPECT_EQ(p.codec, QString::fromLatin1(r.codec)) << r.ext;
        }
        if (r.rate) {
            EXPECT_EQ(p.rate, r.rate) << r.ext;
        }
        if (r.channels) {
            EXPECT_EQ(p.channels, r.channels) << r.ext;
        }
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
    ASSERT_TRUE(
        testsupport::makeMedia(input, testsupport::clipArgs(3, false, true, QStringLiteral("320x240"), 25, 44100, 1)
                                          + QStringList{QStringLiteral("-c:a"), QStringLiteral("mp3")}));
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

namespace {

// Converts two inputs of one base name from the window, two at a time, into the format at
// `entry` of the format list, and checks both outputs.
void convertFromTheWindow(const char *entry, const char *extension, const char *codec, int rate)
{
    zmtest::Harness h(false);
    ASSERT_TRUE(QFile::copy(QStringLiteral(CONV_PATH), h.app.conv()));
    QDir(h.app.path).mkpath(QStringLiteral("in/a"));
    QDir(h.app.path).mkpath(QStringLiteral("in/b"));
    const QStringList inputs{h.app.path + QStringLiteral("/in/a/Song \"one\".mp4"),
                             h.app.path + QStringLiteral("/in/b/Song \"one\".mkv")};
    for (const QString &in : inputs)
        ASSERT_TRUE(makeClip(in, {QStringLiteral("-metadata"), QStringLiteral("title=Ode \u00e0 la joie")}));

    // The converter runs first on its own, through the same command line the window builds.
    CommandInputs ci;
    ci.appDir = h.app.path;
    ci.inputPath = inputs[0];
    ci.outputDir = h.app.path + QStringLiteral("/probe");
    ci.formatIndex = static_cast<int>(formatItems().indexOf(QString::fromLatin1(entry)));
    ASSERT_GE(ci.formatIndex, 8);
    QDir().mkpath(ci.outputDir);
    const QStringList args = QProcess::splitCommand(BuildCommandLine(ci));
    const testsupport::RunResult conv = testsupport::run(args.first(), args.mid(1));
    ASSERT_FALSE(conv.timedOut);
    const QString said = QString::fromUtf8(conv.out + conv.err);
    ASSERT_EQ(conv.exitCode, 0) << said.toStdString();

    h.open();
    h.window->txtAction()->setText(QStringLiteral("menuJobs2"));
    h.window->cmbOF()->setCurrentIndex(ci.formatIndex);
    h.window->txtPath()->setText(h.app.path + QStringLiteral("/out put"));
    for (const QString &in : inputs)
        h.window->AddQueueEntry(in);
    h.onDialog = [](QDialog &) { ADD_FAILURE() << "a failure was reported"; };
    ASSERT_TRUE(h.runBatch(240000));
    EXPECT_TRUE(h.boxes.boxes.empty());
    EXPECT_TRUE(h.window->batch().failures().isEmpty());
    EXPECT_EQ(h.window->lblPB()->text(), QStringLiteral("Done."));
    for (const QString &name : {QStringLiteral("Song \"one\""), QStringLiteral("Song \"one\" (2)")}) {
        const QString file = h.app.path + QStringLiteral("/out put/") + name + QString::fromLatin1(extension);
        const Probe p = probe(file);
        EXPECT_EQ(p.codec, QString::fromLatin1(codec)) << file.toStdString();
        EXPECT_EQ(p.rate, rate) << file.toStdString();
        EXPECT_EQ(p.channels, 2) << file.toStdString();
        EXPECT_NEAR(p.duration, 2.0, 0.3) << file.toStdString();
        EXPECT_EQ(p.title, QStringLiteral("Ode \u00e0 la joie")) << "the tags came along: " << file.toStdString();
    }
}

} // namespace

TEST(EndToEnd, M4aFromTheWindowTwoAtATime)
{
    convertFromTheWindow("M4A", ".m4a", "aac", 44100);
}

TEST(EndToEnd, OpusFromTheWindowTwoAtATime)
{
    convertFromTheWindow("OPUS", ".opus", "opus", 48000);
}

// The window is killed (SIGKILL) mid-batch with the real converter, and started again: it
// offers to continue, converts only what was left, gives no name a " (2)", and every output is
// whole. Whatever the converter that ran at the kill was doing (it is not the window's child any
// more and may still finish its file), its output is complete or absent.
TEST(EndToEnd, KilledWindowContinuesWhereItStopped)
{
    zmtest::Harness h(false);
    ASSERT_TRUE(QFile::copy(QStringLiteral(CONV_PATH), h.app.conv()));
    constexpr int kFiles = 10;
    QStringList inputs;
    for (int i = 1; i <= kFiles; ++i) {
        inputs << h.app.path + QStringLiteral("/in/%1 Track.mp4").arg(i, 2, 10, QLatin1Char('0'));
        ASSERT_TRUE(testsupport::makeMedia(inputs.last(), testsupport::clipArgs(6, false, true)));
    }
    const QString out = h.app.path + QStringLiteral("/output");
    auto named = [&] {
        QStringList names = QDir(out).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
        return names;
    };

    QProcess peer;
    peer.setProgram(QStringLiteral(WINDOW_PEER_PATH));
    peer.setArguments(QStringList{h.app.path} + inputs);
    peer.setProcessChannelMode(QProcess::ForwardedChannels);
    peer.start();
    ASSERT_TRUE(peer.waitForStarted());
    ASSERT_TRUE(testsupport::waitFor([&] { return named().size() >= 3 || peer.state() != QProcess::Running; }, 120000));
    ASSERT_EQ(peer.state(), QProcess::Running) << "the batch ended before it could be killed";
    peer.kill(); // SIGKILL
    ASSERT_TRUE(peer.waitForFinished());
    const QStringList doneAtKill = named();
    ASSERT_LT(doneAtKill.size(), kFiles);

    h.open();
    h.answerUnfinished(QStringLiteral("Continue"));
    QStringList started;
    QObject::connect(&h.window->batch(), &BatchDriver::fileStarted,
                     [&](const QString &input, const QString &) { started << QFileInfo(input).completeBaseName(); });
    QEventLoop loop;
    bool finished = false;
    QObject::connect(&h.window->batch(), &BatchDriver::batchFinished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    h.window->offerUnfinishedBatch();
    ASSERT_EQ(h.unfinishedAsked.size(), 1);
    const int left = h.unfinishedAsked.first().section(QLatin1Char(' '), 6, 6).toInt();
    EXPECT_EQ(h.unfinishedAsked.first(),
              QStringLiteral("The last batch did not finish: %1 files were left. Continue?").arg(left));
    // The files converted before the kill left the queue; the one converting may still be in it.
    EXPECT_GE(left, kFiles - int(doneAtKill.size()));
    EXPECT_LE(left, kFiles - int(doneAtKill.size()) + 1);
    if (!finished) {
        QTimer::singleShot(240000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    ASSERT_TRUE(finished);
    EXPECT_TRUE(h.existingAsked.isEmpty()) << "its own outputs are no surprise";
    for (const QString &done : doneAtKill)
        EXPECT_FALSE(started.contains(QFileInfo(done).completeBaseName())) << "converted twice: " << done.toStdString();
    EXPECT_LE(started.size(), left);
    QStringList expected;
    for (const QString &in : inputs)
        expected << QFileInfo(in).completeBaseName() + QStringLiteral(".wma");
    expected.sort();
    EXPECT_EQ(named(), expected) << "no (2), no debris";
    for (const QString &name : named())
        EXPECT_NEAR(probe(out + QLatin1Char('/') + name).duration, 6.0, 0.2) << name.toStdString();
    EXPECT_FALSE(QFileInfo::exists(h.window->keeper().path()));
}

int main(int argc, char **argv)
{
    // Listing the tests needs no display (the build lists them to register each one).
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    QApplication app(argc, argv);
    // Converter logs go to a folder of the test run, not the user's state folder.
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", state.path().toUtf8());
    return RUN_ALL_TESTS();
}

namespace {

// A portable copy of the program with the real converter, and an album of three 3-second tracks
// at about -30, -20 and -10 dBFS.
struct AlbumFixture {
    QTemporaryDir dir;
    QString app = dir.path() + QStringLiteral("/app");
    QStringList tracks;
    AlbumFixture()
    {
        QDir().mkpath(app + QStringLiteral("/data"));
        if (!QFile::copy(QStringLiteral(CONV_PATH), app + QStringLiteral("/data/conv")))
            return;
        const QString folder = dir.path() + QStringLiteral("/album");
        QDir().mkpath(folder);
        int n = 0;
        for (const double amplitude : {0.0316, 0.1, 0.316}) {
            const QString path = folder + QStringLiteral("/%1 track.flac").arg(++n);
            if (!testsupport::makeMedia(path, {"-f", "lavfi", "-i",
                                               QStringLiteral("anoisesrc=d=3:c=pink:a=%1").arg(amplitude), "-ac", "2",
                                               "-metadata", "album=Window Album"}))
                return;
            tracks << path;
        }
    }
};

double gainOf(const QString &text)
{
    return text.split(QLatin1Char(' ')).value(0).toDouble();
}

} // namespace

TEST(EndToEnd, LoudnessFromTheWindowsBatch)
{
    AlbumFixture album;
    ASSERT_EQ(album.tracks.size(), 3);
    const QTemporaryDir &dir = album.dir;
    const QString &app = album.app;
    const QStringList &tracks = album.tracks;
    struct Row {
        const char *name;
        ReplayGain gain;
        std::optional<double> normalize;
    };
    const Row rows[] = {{"tag only, two at once", ReplayGain::Album, std::nullopt},
                        {"normalise to -16 LUFS", ReplayGain::Off, -16.0}};
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        const QString out = dir.path() + QStringLiteral("/out/") + QLatin1String(r.name);
        const QString measurements = dir.path() + QStringLiteral("/state/loudness");
        Batch b(app);
        Selections s;
        s.formatIndex = 0; // MP3
        s.outputDir = out;
        b.perFile << s;
        for (const QString &t : tracks)
            b.queue.AddQueueEntry(t);
        b.driver->setJobs(2);
        b.driver->setLoudness(r.gain, r.normalize);
        b.driver->setAlbumTagReader(probeAlbumTag);
        b.driver->setMeasurementFolder(measurements);
        ASSERT_TRUE(b.go());
        EXPECT_TRUE(b.driver->failures().isEmpty());
        QStringList outputs;
        for (int i = 1; i <= 3; ++i)
            outputs << out + QStringLiteral("/%1 track.mp3").arg(i);
        const auto scan = testsupport::loudgainScan(outputs);
        ASSERT_EQ(scan.size(), 4) << "three tracks and the album";
        for (const QString &o : outputs) {
            const testsupport::Probe p = testsupport::probe(o);
            SCOPED_TRACE(o.toStdString());
            if (r.normalize) {
                EXPECT_NEAR(scan.value(QFileInfo(o).fileName()).loudness, *r.normalize, 0.5);
                EXPECT_FALSE(p.tags.contains("replaygain_album_gain")) << "no tags asked for";
            } else {
                EXPECT_NEAR(gainOf(p.tags.value("replaygain_album_gain")), scan.value("Album").gain, 0.1);
                EXPECT_NEAR(gainOf(p.tags.value("replaygain_track_gain")), scan.value(QFileInfo(o).fileName()).gain,
                            0.1);
            }
        }
        EXPECT_TRUE(QDir(measurements).entryList(QDir::Files).isEmpty()) << "measurements removed";
    }
}

// Normalise Albums from the window's batch with one and three jobs: every track raised or lowered
// by the album's one gain, the album on the target, the album tags those of the sound written,
// and no measurement left. An album with a file that cannot be measured is not converted at all.
TEST(EndToEnd, AlbumNormaliseFromTheWindowsBatch)
{
    AlbumFixture album;
    ASSERT_EQ(album.tracks.size(), 3);
    const QTemporaryDir &dir = album.dir;
    const QString &app = album.app;
    const QStringList &tracks = album.tracks;
    QList<double> before;
    for (const QString &t : tracks)
        before << testsupport::ebur128({t}).integrated;
    const QString broken = dir.path() + QStringLiteral("/album/4 broken.flac");
    struct Row {
        const char *name;
        int jobs;
        bool withBroken;
    };
    const Row rows[] = {{"one job", 1, false}, {"three jobs", 3, false}, {"a file not sound", 3, true}};
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        QFile::remove(broken);
        if (r.withBroken) {
            ASSERT_TRUE(testsupport::touch(broken, QByteArray("not sound at all")));
        }
        const QString out = dir.path() + QStringLiteral("/out/") + QLatin1String(r.name);
        const QString measurements = dir.path() + QStringLiteral("/state/loudness");
        Batch b(app);
        Selections s;
        s.formatIndex = 4; // FLAC
        s.outputDir = out;
        b.perFile << s;
        for (const QString &t : tracks)
            b.queue.AddQueueEntry(t);
        if (r.withBroken)
            b.queue.AddQueueEntry(broken);
        b.driver->setJobs(r.jobs);
        b.driver->setLoudness(ReplayGain::Album, -16.0);
        // Without the tag reader the album is the folder, the broken file with it.
        if (!r.withBroken)
            b.driver->setAlbumTagReader(probeAlbumTag);
        b.driver->setMeasurementFolder(measurements);
        ASSERT_TRUE(b.go());
        EXPECT_TRUE(QDir(measurements).entryList(QDir::Files).isEmpty()) << "measurements removed";
        if (r.withBroken) {
            ASSERT_EQ(b.driver->failures().size(), 4);
            for (const FailedFile &f : b.driver->failures()) {
                EXPECT_TRUE(f.reason.contains(QLatin1String("could not be measured"))) << f.reason.toStdString();
                EXPECT_TRUE(f.reason.contains(QLatin1String("4 broken.flac"))) << f.reason.toStdString();
            }
            EXPECT_TRUE(QDir(out).entryList(QDir::Files | QDir::Hidden).isEmpty()) << "no output of the album";
            continue;
        }
        EXPECT_TRUE(b.driver->failures().isEmpty());
        QStringList outputs;
        for (int i = 1; i <= 3; ++i)
            outputs << out + QStringLiteral("/%1 track.flac").arg(i);
        QList<double> gains;
        for (qsizetype i = 0; i < outputs.size(); ++i) {
            const auto [loudness, peak] = testsupport::ebur128({outputs.at(i)});
            gains << loudness - before.at(i);
            EXPECT_LE(peak, -1.0) << outputs.at(i).toStdString();
        }
        EXPECT_NEAR(gains.at(1), gains.at(0), 0.1);
        EXPECT_NEAR(gains.at(2), gains.at(0), 0.1);
        EXPECT_NEAR(testsupport::ebur128(outputs).integrated, -16.0, 0.5);
        const auto scan = testsupport::loudgainScan(outputs);
        ASSERT_EQ(scan.size(), 4) << "three tracks and the album";
        for (const QString &o : outputs)
            EXPECT_NEAR(gainOf(testsupport::probe(o).tags.value("replaygain_album_gain")), scan.value("Album").gain,
                        0.1)
                << o.toStdString();
    }
}
