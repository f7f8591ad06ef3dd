// The toolkit itself: a wrong exit code, a missed cover or a misread rate here would make every
// suite that uses it check the wrong thing.
#include "support/media.h"
#include "support/probe.h"
#include "support/process.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace testsupport;

TEST(Run, ReportsHowTheProgramEnded)
{
    struct Case {
        const char *name;
        QString program;
        QStringList args;
        int timeoutMs;
        int exitCode;
        bool crashed, timedOut, ok;
    };
    const Case cases[] = {
        {"success", "true", {}, 10000, 0, false, false, true},
        {"exit code", "sh", {"-c", "exit 7"}, 10000, 7, false, false, false},
        {"signal", "sh", {"-c", "kill -KILL $$"}, 10000, -1, true, false, false},
        {"time limit", "sleep", {"30"}, 300, -1, false, true, false},
        {"no such program", "/nonexistent/program", {}, 10000, -1, false, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const RunResult r = run(c.program, c.args, c.timeoutMs);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_EQ(r.crashed, c.crashed);
        EXPECT_EQ(r.timedOut, c.timedOut);
        EXPECT_EQ(r.ok(), c.ok);
    }
}

TEST(Run, KeepsBothOutputsAndArgumentsVerbatim)
{
    const QString odd = "a b \"c\" $(d) é;";
    const RunResult r = run("sh", {"-c", "printf %s \"$1\"; printf err >&2", "sh", odd});
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(QString::fromUtf8(r.out), odd);
    EXPECT_EQ(r.err, "err");
}

TEST(Processes, AZombieIsGone)
{
    EXPECT_TRUE(processExists(getpid()));
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    // Unreaped, the child stays a zombie: it no longer runs.
    ASSERT_TRUE(waitFor([&] { return !processExists(child); }, 5000));
    EXPECT_FALSE(processExists(-1));
}

TEST(Media, ClipsProbeAsMade)
{
    QTemporaryDir dir;
    struct Case {
        const char *name;
        QStringList args;
        int audioRate, channels, width, videoStreams, audioStreams;
    };
    const Case cases[] = {
        {"clip.mp4", clipArgs(1, true, true, "160x120", 25, 48000, 2), 48000, 2, 160, 1, 1},
        {"tone.wav", clipArgs(1, false, true, "", 0, 8000, 1), 8000, 1, 0, 0, 1},
        {"six.flac", clipArgs(1, false, true, "", 0, 44100, 6), 44100, 6, 0, 0, 1},
        {"silent.mp4", clipArgs(1, true, false), 0, 0, 320, 1, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(c.name);
        ASSERT_TRUE(makeMedia(path, c.args));
        const Probe p = probe(path, true);
        ASSERT_TRUE(p.ok);
        EXPECT_NEAR(p.duration, 1.0, 0.1);
        EXPECT_EQ(p.count("video"), c.videoStreams);
        EXPECT_EQ(p.count("audio"), c.audioStreams);
        if (c.audioStreams) {
            EXPECT_EQ(p.audio()->sampleRate, c.audioRate);
            EXPECT_EQ(p.audio()->channels, c.channels);
        }
        if (c.videoStreams) {
            EXPECT_EQ(p.video()->width, c.width);
            EXPECT_EQ(p.video()->frames, 25);
            EXPECT_DOUBLE_EQ(p.video()->frameRate, 25.0);
        }
    }
    EXPECT_FALSE(makeMedia(dir.filePath("bad.wav"), {"-f", "lavfi", "-i", "nosuchsource"}));
    EXPECT_FALSE(probe(dir.filePath("missing.wav")).ok);
}

TEST(Media, CoverPicturesAndTagsAreSeen)
{
    QTemporaryDir dir;
    const QString cover = dir.filePath("cover.png");
    ASSERT_TRUE(makeMedia(cover, {"-f", "lavfi", "-i", "color=red:size=64x64", "-frames:v", "1"}));
    const QString song = dir.filePath("song.mp3");
    // clipArgs ends with output options, so further inputs go first.
    ASSERT_TRUE(makeMedia(song, QStringList{"-i", cover} + clipArgs(1, false, true)
                                    + QStringList{"-map", "1:a", "-map", "0:v", "-c:v", "png",
                                                  "-disposition:v", "attached_pic", "-metadata",
                                                  "Title=Song"}));
    const Probe p = probe(song);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.count("video"), 1);
    EXPECT_EQ(p.video(), nullptr); // a cover is not the video
    EXPECT_TRUE(p.streams.at(1).attachedPic);
    EXPECT_EQ(p.tags.value("title"), "Song");
}

TEST(Media, StreamDetailsAreRead)
{
    QTemporaryDir dir;
    // H.264 shown at 4:3 although stored at 16:9, with MP2 sound starting half a second late.
    const QString mkv = dir.filePath("late.mkv");
    ASSERT_TRUE(makeMedia(mkv, {"-f",         "lavfi",
                                "-i",         "testsrc2=size=320x180:rate=25:duration=1",
                                "-itsoffset", "0.5",
                                "-f",         "lavfi",
                                "-i",         "sine=duration=1",
                                "-c:v",       "libx264",
                                "-profile:v", "baseline",
                                "-aspect",    "4:3",
                                "-c:a",       "mp2",
                                "-b:a",       "128k"}));
    const Probe p = probe(mkv);
    ASSERT_TRUE(p.ok && p.video() && p.audio());
    EXPECT_EQ(p.video()->profile, "Constrained Baseline");
    EXPECT_NEAR(p.video()->displayAspect, 4.0 / 3, 0.001);
    EXPECT_NEAR(p.video()->startTime, 0, 0.05);
    EXPECT_NEAR(p.audio()->startTime, 0.5, 0.05);
    EXPECT_EQ(p.audio()->bitRate, 128000);
    EXPECT_EQ(p.audio()->displayAspect, 0);

    const QString avi = dir.filePath("tagged.avi");
    ASSERT_TRUE(
        makeMedia(avi, clipArgs(1, true, false) + QStringList{"-c:v", "mpeg4", "-vtag", "xvid"}));
    const Probe tagged = probe(avi);
    ASSERT_TRUE(tagged.video());
    EXPECT_EQ(tagged.video()->codecTag, "xvid");
}

TEST(Media, SameSamplesGiveTheSameMd5)
{
    QTemporaryDir dir;
    const QString wav = dir.filePath("a.wav"), flac = dir.filePath("a.flac"),
                  other = dir.filePath("b.wav");
    ASSERT_TRUE(makeMedia(wav, clipArgs(1, false, true) + QStringList{"-sample_fmt", "s16"}));
    ASSERT_TRUE(makeMedia(flac, {"-i", wav}));
    ASSERT_TRUE(makeMedia(other, clipArgs(1, false, true, "", 0, 22050)));
    const QString md5 = audioMd5(wav);
    EXPECT_EQ(md5.size(), 32);
    EXPECT_EQ(audioMd5(flac), md5);
    EXPECT_NE(audioMd5(other), md5);
    EXPECT_TRUE(audioMd5(dir.filePath("missing.wav")).isEmpty());
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
