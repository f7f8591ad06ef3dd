#include "engine/batchdriver.h"
#include "engine/commandline.h"
#include "engine/progressparser.h"
#include "queue/getfile.h"

#include <QProcess>
#include <gtest/gtest.h>

using namespace zm;

namespace {

CommandInputs inputs(int format, const QString &input = QStringLiteral("/Videos/clip.part1.flv"))
{
    CommandInputs in;
    in.appDir = QStringLiteral("/App");
    in.inputPath = input;
    in.outputDir = QStringLiteral("/App/output");
    in.formatIndex = format;
    return in;
}

} // namespace

TEST(CommandLine, WorkedExamples)
{
    CommandInputs mp3 = inputs(0);
    EXPECT_EQ(
        BuildCommandLine(mp3),
        QStringLiteral("/App/data/conv -i \"/Videos/clip.part1.flv\" -y -vn -ab 192k -ar 44100 -ac 2 "
                       "-map_meta_data \"/Videos/clip.part1.flv\":\"/App/output/clip.mp3\" \"/App/output/clip.mp3\""));
    CommandInputs wav = inputs(3, QStringLiteral("/Videos/talk.flv"));
    wav.cutterOn = true;
    wav.cutFrom = 30;
    wav.cutTo = 60;
    EXPECT_EQ(BuildCommandLine(wav),
              QStringLiteral("/App/data/conv -i \"/Videos/talk.flv\" -ss 30 -t 60 -y -vn -acodec pcm_s16le "
                             "\"/App/output/talk.wav\""));
}

TEST(CommandLine, EveryFormatWithAndWithoutCutter)
{
    const QString P = QStringLiteral("\"/v/a.flv\"");
    struct Row {
        int format;
        bool cutter;
        QString tail; // after "-i P" (and the cut options)
    };
    const QString meta = P + QStringLiteral(":\"/o/a%1\" \"/o/a%1\"");
    const Row rows[] = {
        {0, false, QStringLiteral(" -y -vn -ab 56k -ar 12050 -ac 1 -map_meta_data ") + meta.arg(".mp3")},
        {0, true, QStringLiteral(" -y -vn -ab 56k -ar 12050 -ac 1 -map_meta_data ") + meta.arg(".mp3")},
        {1, false, QStringLiteral(" -y -vn -acodec wmav1 -map_meta_data ") + meta.arg(".wma")},
        {1, true, QStringLiteral(" -y -vn -acodec wmav1  -map_meta_data ") + meta.arg(".wma")},
        {2, false, QStringLiteral(" -y -vn -ac 2 -map_meta_data ") + meta.arg(".ogg")},
        {2, true, QStringLiteral(" -y -vn -ac 2  -map_meta_data ") + meta.arg(".ogg")},
        {3, false, QStringLiteral(" -y -vn -acodec pcm_s16le \"/o/a.wav\"")},
        {4, false, QStringLiteral(" -y -vn \"/o/a.flac\"")},
        {5, true, QStringLiteral(" -y -vn \"/o/a.ac3\"")},
        {6, false, QStringLiteral(" -y -vn \"/o/a.aac\"")},
        {7, false, QStringLiteral(" -y -vn -ar 8000 -ab 7.4k -ac 1 \"/o/a.amr\"")},
        {7, true, QStringLiteral(" -y -vn -ar 8000 -ab 7.4k -ac 1 \"/o/a.amr\"")},
        {8, false, QStringLiteral(" -y -vn -map_meta_data ") + meta.arg(".m4a")},
        {8, true, QStringLiteral(" -y -vn -map_meta_data ") + meta.arg(".m4a")},
        {9, false, QStringLiteral(" -y -vn -map_meta_data ") + meta.arg(".opus")},
        {9, true, QStringLiteral(" -y -vn -map_meta_data ") + meta.arg(".opus")},
    };
    for (const Row &r : rows) {
        CommandInputs in;
        in.appDir = QStringLiteral("/App");
        in.inputPath = QStringLiteral("/v/a.flv");
        in.outputDir = QStringLiteral("/o");
        in.formatIndex = r.format;
        in.bitrate = QStringLiteral("56");
        in.sampleRate = QStringLiteral("12050");
        in.channelIndex = 0;
        in.cutterOn = r.cutter;
        in.cutFrom = 5;
        in.cutTo = 3; // passed unchanged, not reduced by From
        const QString cut = r.cutter ? QStringLiteral(" -ss 5 -t 3") : QString();
        EXPECT_EQ(BuildCommandLine(in), QStringLiteral("/App/data/conv -i ") + P + cut + r.tail)
            << "format " << r.format << " cutter " << r.cutter;
    }
}

TEST(CommandLine, SelectorsOnlyMatterForMp3)
{
    ASSERT_EQ(formatItems().size(), 10);
    for (int f = 1; f < formatItems().size(); ++f) {
        CommandInputs a = inputs(f), b = inputs(f);
        b.bitrate = QStringLiteral("32");
        b.sampleRate = QStringLiteral("8000");
        b.channelIndex = 0;
        EXPECT_EQ(BuildCommandLine(a), BuildCommandLine(b)) << f;
    }
    CommandInputs a = inputs(0), b = inputs(0);
    b.channelIndex = 0;
    EXPECT_NE(BuildCommandLine(a), BuildCommandLine(b));
}

TEST(CommandLine, OutputNamesAndFolders)
{
    struct Row {
        QString input, folder, expected;
    };
    const Row rows[] = {
        {QStringLiteral("/Videos/clip.part1.flv"), QStringLiteral("/out"), QStringLiteral("/out/clip.wav")},
        {QStringLiteral("/Videos/clip.part1.flv"), QStringLiteral("/out/"), QStringLiteral("/out/clip.wav")},
        {QStringLiteral("/v/.hidden"), QStringLiteral("/out"), QStringLiteral("/out/.wav")},
        {QStringLiteral("/a.b/clip"), QStringLiteral("/out"), QStringLiteral("/out/clip.wav")},
        {QStringLiteral("/v/a.b.flv"), QStringLiteral("/o"), QStringLiteral("/o/a.wav")},
        {QStringLiteral("/w/a.c.mp4"), QStringLiteral("/o"), QStringLiteral("/o/a.wav")},
        {QStringLiteral("/v/My Clip (1).flv"), QStringLiteral("/My Music"),
         QStringLiteral("/My Music/My Clip (1).wav")},
    };
    for (const Row &r : rows) {
        CommandInputs in = inputs(3, r.input);
        in.outputDir = r.folder;
        EXPECT_EQ(outputPathFor(in), r.expected) << r.input.toStdString();
    }
}

TEST(CommandLine, AwkwardPathsSurviveTheSplit)
{
    // The runner splits the line like this; every path must come back whole.
    const QString input = QStringLiteral("/v/it's \"quoted\" $HOME; a&b ünï.flv");
    CommandInputs in = inputs(0, input);
    in.appDir = QStringLiteral("/opt/My Apps/zel");
    in.outputDir = QStringLiteral("/o u t");
    const QStringList args = QProcess::splitCommand(BuildCommandLine(in));
    ASSERT_GE(args.size(), 4);
    EXPECT_EQ(args[0], QStringLiteral("/opt/My Apps/zel/data/conv"));
    EXPECT_EQ(args[1], QStringLiteral("-i"));
    EXPECT_EQ(args[2], input);
    const QString out = QStringLiteral("/o u t/it's \"quoted\" $HOME; a&b ünï.mp3");
    EXPECT_EQ(args.last(), out);
    EXPECT_EQ(args[args.size() - 2], input + QLatin1Char(':') + out);
}

TEST(CommandLine, TheArgumentListIsTheSplitText)
{
    // The converter starts from BuildArguments, the logs show BuildCommandLine: for every format,
    // with and without the cutter, with awkward folders and names, they are the same command.
    struct Place {
        const char *name;
        QString appDir, input, outputDir;
    };
    const Place places[] = {
        {"plain", QStringLiteral("/App"), QStringLiteral("/Videos/clip.part1.flv"), QStringLiteral("/App/output")},
        {"blanks and quotes", QStringLiteral("/opt/My \"Apps\"/zel"),
         QStringLiteral("/v/it's \"q\" $HOME; a&b ünï.flv"), QStringLiteral("/o u t/")},
        {"tab and colon", QStringLiteral("/a\tb"), QStringLiteral("/v/x:y\tz.flv"), QStringLiteral("/o:p")},
        {"a name that starts with a dot", QStringLiteral("/App"), QStringLiteral("/v/.hidden.flv"),
         QStringLiteral("/o")},
    };
    for (const Place &p : places) {
        for (int format = 0; format < int(formatItems().size()); ++format) {
            for (const bool cutter : {false, true}) {
                CommandInputs in = inputs(format, p.input);
                in.appDir = p.appDir;
                in.outputDir = p.outputDir;
                in.cutterOn = cutter;
                in.cutFrom = 30;
                in.cutTo = 60;
                in.channelIndex = 0;
                in.bitrate = QStringLiteral("320");
                const QString out = outputPathFor(in);
                const QStringList args = BuildArguments(in, out);
                EXPECT_EQ(args, QProcess::splitCommand(BuildCommandLine(in, out)))
                    << p.name << " " << format << " " << cutter;
                ASSERT_GE(args.size(), 4);
                EXPECT_EQ(args.first(), p.appDir + QStringLiteral("/data/conv"));
                EXPECT_EQ(args.last(), out);
            }
        }
    }
    EXPECT_TRUE(BuildArguments(inputs(10), QStringLiteral("/o/x")).isEmpty());
}

TEST(CommandLine, UnknownFormatGivesNoLine)
{
    EXPECT_TRUE(BuildCommandLine(inputs(10)).isEmpty());
    EXPECT_TRUE(BuildCommandLine(inputs(-1)).isEmpty());
    EXPECT_TRUE(formatExtension(10).isEmpty());
}

TEST(CommandLine, NumberedPaths)
{
    EXPECT_EQ(numberedPath(QStringLiteral("/o/clip.mp3"), 2), QStringLiteral("/o/clip (2).mp3"));
    EXPECT_EQ(numberedPath(QStringLiteral("/o.d/clip"), 3), QStringLiteral("/o.d/clip (3)"));
    EXPECT_EQ(numberedPath(QStringLiteral("/o/.mp3"), 2), QStringLiteral("/o/ (2).mp3"));
}

TEST(GetFile, NamesAndBaseNames)
{
    struct Row {
        QString path, name, base;
    };
    const Row rows[] = {
        {QString(), QString(), QString()},
        {QStringLiteral("/Videos/clip.part1.flv"), QStringLiteral("clip.part1.flv"), QStringLiteral("clip")},
        {QStringLiteral("/v/my.clip.flv"), QStringLiteral("my.clip.flv"), QStringLiteral("my")},
        {QStringLiteral("/v/readme"), QStringLiteral("readme"), QStringLiteral("readme")},
        {QStringLiteral("/a.b/clip"), QStringLiteral("clip"), QStringLiteral("clip")},
        {QStringLiteral("/v/.hidden"), QStringLiteral(".hidden"), QString()},
        {QStringLiteral("noslash.wav"), QStringLiteral("noslash.wav"), QStringLiteral("noslash")},
        {QStringLiteral("/trailing/"), QString(), QString()},
    };
    for (const Row &r : rows) {
        EXPECT_EQ(GetFileName(r.path), r.name) << r.path.toStdString();
        EXPECT_EQ(GetBaseName(r.path), r.base) << r.path.toStdString();
    }
}

TEST(Progress, Captions)
{
    struct Row {
        double f;
        const char *caption;
    };
    const Row rows[] = {{1.0 / 3, "33.3%"},   {3.0 / 40, "7.5%"}, {9.0 / 10, "90%"},        {0, "0%"},
                        {1.0 / 400, "0.25%"}, {2.0 / 3, "66.6%"}, {9999.0 / 10000, "99.9%"}};
    for (const Row &r : rows)
        EXPECT_EQ(percentCaption(r.f), QString::fromLatin1(r.caption)) << r.f;
}

TEST(Progress, Chunks)
{
    struct Row {
        const char *name;
        qint32 totalBefore;
        bool cutter;
        qint32 cutTo;
        QString chunk;
        qint32 totalAfter;
        bool shows;
        float width;
        const char *caption;
    };
    const Row rows[] = {
        {"duration line", 0, false, 0, QStringLiteral("  Duration: 00:03:25.12, start: 0.000000, bitrate: 128 kb/s\n"),
         205, false, 0, ""},
        {"progress line", 205, false, 0, QStringLiteral("size= 123kB time=102.50 bitrate= 128.0kbits/s"), 205, true,
         5415.0f * 102 / 205, "49.7%"},
        {"time at total", 205, false, 0, QStringLiteral("time=205.00 "), 205, true, 5415, "100%"},
        {"time beyond total", 205, false, 0, QStringLiteral("time=300.00 "), 205, true, 5415, "100%"},
        {"no total yet", 0, false, 0, QStringLiteral("time=3.00 "), 0, true, 5415, "100%"},
        {"both in one chunk", 0, false, 0, QStringLiteral("Duration: 00:00:40.00, x\ntime=3.00 bitrate"), 40, true,
         5415.0f * 3 / 40, "7.5%"},
        {"second duration ignored", 40, false, 0, QStringLiteral("Duration: 00:10:00.00, "), 40, false, 0, ""},
        {"N/A duration", 0, false, 0, QStringLiteral("Duration: N/A, start"), 0, false, 0, ""},
        {"cut marker", 0, false, 0, QStringLiteral("blah Durat"), 0, false, 0, ""},
        {"value cut to two parts", 0, false, 0, QStringLiteral("Duration: 00:0"), 0, false, 0, ""},
        {"value cut in the seconds", 0, false, 0, QStringLiteral("Duration: 00:03:2"), 182, false, 0, ""},
        {"marker at the very end", 0, false, 0, QStringLiteral("x Duration: "), 0, false, 0, ""},
        {"several progress lines", 100, false, 0, QStringLiteral("time=12.34 bitrate=1\rsize=2 time=13.56 bitrate=1\r"),
         100, true, 5415.0f * 12 / 100, "12%"},
        {"time marker at the end", 100, false, 0, QStringLiteral("bitrate=1 time="), 100, false, 0, ""},
        {"empty time value", 100, false, 0, QStringLiteral("time= 1"), 100, true, 0, "0%"},
        {"hh:mm:ss time reads hours", 100, false, 0, QStringLiteral("time=00:01:30.00 "), 100, true, 0, "0%"},
        {"half rounds to even", 100, false, 0, QStringLiteral("time=2.5 "), 100, true, 5415.0f * 2 / 100, "2%"},
        {"cutter gives the total", 0, true, 60, QStringLiteral("Duration: 00:03:25.12, time=30.00 "), 60, true,
         5415.0f / 2, "50%"},
        {"cutter with To 0", 0, true, 0, QStringLiteral("time=1.00 "), 0, true, 5415, "100%"},
        {"letter case matters", 0, false, 0, QStringLiteral("duration: 00:00:10.00, TIME=3 "), 0, false, 0, ""},
        {"thirds", 3, false, 0, QStringLiteral("time=1.0 "), 3, true, 5415.0f / 3, "33.3%"},
    };
    for (const Row &r : rows) {
        qint32 total = r.totalBefore;
        const auto d = parseProgressChunk(r.chunk, total, r.cutter, r.cutTo);
        EXPECT_EQ(total, r.totalAfter) << r.name;
        ASSERT_EQ(d.has_value(), r.shows) << r.name;
        if (d) {
            EXPECT_FLOAT_EQ(d->widthTwips, r.width) << r.name;
            EXPECT_EQ(d->caption, QString::fromLatin1(r.caption)) << r.name;
        }
    }
}

TEST(Batch, LastOutputLine)
{
    EXPECT_EQ(lastOutputLine(QStringLiteral("a\r\nconv: bad option '-q'\r\n\r\n")),
              QStringLiteral("conv: bad option '-q'"));
    EXPECT_EQ(lastOutputLine(QStringLiteral("size=1 time=1.0\rsize=2 time=2.0\r")), QStringLiteral("size=2 time=2.0"));
    EXPECT_EQ(lastOutputLine(QString()), QString());
}
