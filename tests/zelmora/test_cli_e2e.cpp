// zelmora-cli with the real converter: a folder of generated media into every format, with the
// window's command lines and the same bytes conv makes from them; and a stop by SIGINT in the
// middle of a batch, after which no partial file is left.
#include "engine/commandline.h"
#include "support/files.h"
#include "support/media.h"
#include "support/probe.h"
#include "support/process.h"
#include "zelmora/portable_cli.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

using namespace zm;

namespace {

// The decoded sound of a file, as a digest.
QByteArray soundDigest(const QString &path)
{
    return testsupport::run(QStringLiteral("ffmpeg"), {"-v", "error", "-i", path, "-map", "0:a", "-f", "md5", "-"}).out;
}

QList<QJsonObject> events(const QByteArray &out, const QString &name)
{
    QList<QJsonObject> found;
    for (const QByteArray &line : out.split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o.value(QStringLiteral("event")).toString() == name)
            found << o;
    }
    return found;
}

} // namespace

TEST(CliEndToEnd, EveryFormatWithTheWindowsCommandLinesAndBytes)
{
    PortableCli app;
    const QString media = app.path + QStringLiteral("/media");
    QDir().mkpath(media + QStringLiteral("/more"));
    ASSERT_TRUE(testsupport::makeMedia(media + QStringLiteral("/clip.mp4"),
                                       testsupport::clipArgs(1, true, true, QStringLiteral("160x120"), 15)
                                           + QStringList{"-c:v", "mpeg4", "-c:a", "aac"}));
    ASSERT_TRUE(
        testsupport::makeMedia(media + QStringLiteral("/more/tone.wav"), testsupport::clipArgs(1, false, true)));
    ASSERT_TRUE(testsupport::makeMedia(media + QStringLiteral("/more/song.mp3"),
                                       testsupport::clipArgs(1, false, true) + QStringList{"-metadata", "title=Song"}));
    struct Row {
        const char *format;
        const char *codec;
        bool randomSerial;
    };
    const Row rows[] = {{"mp3", "mp3", false},       {"wma", "wmav1", false},  {"ogg", "vorbis", true},
                        {"wav", "pcm_s16le", false}, {"flac", "flac", false},  {"ac3", "ac3", false},
                        {"aac", "aac", false},       {"amr", "amr_nb", false}, {"m4a", "aac", false},
                        {"opus", "opus", true}};
    for (int format = 0; format < int(std::size(rows)); ++format) {
        const Row &r = rows[format];
        SCOPED_TRACE(r.format);
        const QString out = app.path + QStringLiteral("/out/") + QLatin1String(r.format);
        const testsupport::RunResult run =
            testsupport::run(app.cli, {"--json", "-f", r.format, "-b", "96", "-o", out, media}, 120000, app.env);
        ASSERT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
        const QList<QJsonObject> started = events(run.out, QStringLiteral("started"));
        ASSERT_EQ(started.size(), 3);
        for (const QJsonObject &s : started) {
            CommandInputs in;
            in.appDir = app.path;
            in.inputPath = s.value("input").toString();
            in.outputDir = out;
            in.formatIndex = format;
            in.bitrate = QStringLiteral("96");
            const QString output = outputPathFor(in);
            EXPECT_EQ(s.value("output").toString(), output);
            EXPECT_EQ(s.value("command").toString(), BuildCommandLine(in, output)) << "the window's line";
            const testsupport::Probe p = testsupport::probe(output);
            ASSERT_NE(p.audio(), nullptr) << output.toStdString();
            EXPECT_EQ(p.audio()->codec, QLatin1String(r.codec));
            // The window's converter with the window's arguments makes the same file (looked at for
            // the video clip, the one that goes through the most).
            if (!in.inputPath.endsWith(QLatin1String("clip.mp4")))
                continue;
            const QString again = app.path + QStringLiteral("/again/") + QLatin1String(r.format) + QStringLiteral("/")
                                  + QFileInfo(output).fileName();
            QDir().mkpath(QFileInfo(again).path());
            QStringList args = BuildArguments(in, again);
            const QString conv = args.takeFirst();
            const testsupport::RunResult direct = testsupport::run(conv, args, 60000, app.env);
            ASSERT_TRUE(direct.ok()) << direct.err.toStdString();
            if (r.randomSerial) {
                // An Ogg stream has a random serial number: the same sound, not the same bytes.
                const QByteArray digest = soundDigest(output);
                EXPECT_FALSE(digest.isEmpty());
                EXPECT_EQ(digest, soundDigest(again)) << output.toStdString();
            } else {
                EXPECT_EQ(testsupport::readFile(output), testsupport::readFile(again)) << output.toStdString();
            }
        }
        EXPECT_TRUE(events(run.out, QStringLiteral("done")).value(0).value("converted").toInt() == 3);
    }
}

TEST(CliEndToEnd, InterruptedMidBatchLeavesNoPartialFile)
{
    PortableCli app;
    // Ten minutes of a quiet tone: quick to make, seconds to encode.
    QStringList inputs;
    for (const char *name : {"long1.wav", "long2.wav", "long3.wav"}) {
        const QString p = app.path + QStringLiteral("/in/") + QLatin1String(name);
        QDir().mkpath(QFileInfo(p).path());
        ASSERT_TRUE(testsupport::makeMedia(
            p, {"-f", "lavfi", "-i", "sine=frequency=220:sample_rate=8000:duration=600", "-ac", "1"}));
        inputs << p;
    }
    const QString out = app.path + QStringLiteral("/out");
    QProcess cli;
    cli.setProcessEnvironment(app.env);
    cli.start(app.cli, QStringList{"--json", "-j", "2", "-f", "mp3", "-b", "320", "-o", out} + inputs);
    ASSERT_TRUE(cli.waitForStarted());
    QByteArray seen;
    // Stop once both converters are under way.
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            seen += cli.readAllStandardOutput();
            return events(seen, QStringLiteral("progress")).size() >= 2 || cli.state() != QProcess::Running;
        },
        60000));
    ASSERT_EQ(cli.state(), QProcess::Running) << "the conversions ended before the stop";
    ::kill(pid_t(cli.processId()), SIGINT);
    ASSERT_TRUE(cli.waitForFinished(20000));
    seen += cli.readAllStandardOutput();
    EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(cli.exitCode(), 130);
    EXPECT_EQ(events(seen, QStringLiteral("started")).size(), 2) << "no file starts after the stop";
    for (const QJsonObject &f : events(seen, QStringLiteral("finished")))
        EXPECT_EQ(f.value("outcome").toString(), QStringLiteral("stopped"));
    EXPECT_TRUE(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).isEmpty())
        << "nothing partial, named or hidden";
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
