// Album grouping and the loudness options on the converter's command line, headless.
#include "engine/albums.h"
#include "engine/commandline.h"

#include <QProcess>
#include <gtest/gtest.h>

using namespace zm;

TEST(Albums, GroupedByOutputFolderAndTagOrSourceFolder)
{
    struct Case {
        const char *what;
        QList<AlbumMember> members;
        QList<QList<int>> albums;
    };
    const QString out = QStringLiteral("/out");
    const Case cases[] = {
        {"one tag, one folder: one album",
         {{"/a/1.flac", out, "Blue"}, {"/b/2.flac", out, "Blue"}, {"/c/3.flac", out, "Blue"}},
         {{0, 1, 2}}},
        {"one tag, two output folders: two albums",
         {{"/a/1.flac", out, "Blue"}, {"/a/2.flac", QStringLiteral("/out/x"), "Blue"}},
         {{0}, {1}}},
        {"two tags in one folder: two albums, in the order of their first files",
         {{"/a/1.flac", out, "Red"}, {"/a/2.flac", out, "Blue"}, {"/a/3.flac", out, "Red"}},
         {{0, 2}, {1}}},
        {"no tags: by the folder the files come from",
         {{"/a/1.wav", out, ""}, {"/b/2.wav", out, ""}, {"/a/3.wav", out, ""}},
         {{0, 2}, {1}}},
        {"a tagged file and an untagged one in one folder are not one album",
         {{"/a/1.flac", out, "Blue"}, {"/a/2.flac", out, ""}},
         {{0}, {1}}},
        {"the same folder written differently, blanks around a tag",
         {{"/a/1.flac", QStringLiteral("/out/"), " Blue"}, {"/a/./2.flac", QStringLiteral("/out//"), "Blue "}},
         {{0, 1}}},
        {"tags differ in case: two albums", {{"/a/1.flac", out, "blue"}, {"/a/2.flac", out, "Blue"}}, {{0}, {1}}},
        {"nothing", {}, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(groupAlbums(c.members), c.albums);
    }
}

TEST(Albums, MeasurementNamesDependOnTheOutputKeyOnly)
{
    const QString a = measurementFileName(QStringLiteral("Artist/Album/01.mp3"));
    EXPECT_TRUE(a.endsWith(QLatin1String(".json")));
    EXPECT_EQ(a, measurementFileName(QStringLiteral("Artist/Album/01.mp3")));
    EXPECT_NE(a, measurementFileName(QStringLiteral("Artist/Album/02.mp3")));
    EXPECT_FALSE(a.contains(QLatin1Char('/')));
}

TEST(Albums, FormatsThatCarryGainTags)
{
    const bool carries[] = {true, true, true, false, true, false, false, false, true, true};
    for (int f = 0; f < int(std::size(carries)); ++f)
        EXPECT_EQ(formatCarriesGainTags(f), carries[f]) << formatItems().value(f).toStdString();
}

TEST(LoudnessCommandLine, OptionsGoJustBeforeTheOutputOfEveryFormat)
{
    struct Case {
        ReplayGain gain;
        std::optional<double> normalize;
        QString measurement;
        QStringList expected;
        QStringList albumFrom = {};
        bool measureOnly = false;
    };
    const QStringList album{QStringLiteral("/state/a 1.json"), QStringLiteral("/state/b\"2.json")};
    const Case cases[] = {
        {ReplayGain::Off, std::nullopt, {}, {}},
        {ReplayGain::Track, std::nullopt, {}, {"-replaygain", "track"}},
        {ReplayGain::Album,
         std::nullopt,
         QStringLiteral("/state/j 1.loudness/ab\"c.json"),
         {"-replaygain", "track", "-loudness-out", "/state/j 1.loudness/ab\"c.json"}},
        {ReplayGain::Off, -16.0, {}, {"-loudnorm", "-16"}},
        {ReplayGain::Off, -23.5, {}, {"-loudnorm", "-23.5"}},
        {ReplayGain::Track, -14.0, {}, {"-loudnorm", "-14", "-replaygain", "track"}},
        // Album normalisation: the album's measurements give the gain, after the target.
        {ReplayGain::Album,
         -16.0,
         QStringLiteral("/state/t.json"),
         {"-loudnorm", "-16", "-album-from", album[0], "-album-from", album[1], "-replaygain", "track", "-loudness-out",
          "/state/t.json"},
         album},
        {ReplayGain::Off, -18.0, {}, {"-loudnorm", "-18", "-album-from", album[0]}, {album[0]}},
        // Without a target the measurements are not asked for.
        {ReplayGain::Track, std::nullopt, {}, {"-replaygain", "track"}, album},
        // The measuring run: nothing but the measurement, whatever else is chosen.
        {ReplayGain::Album,
         -16.0,
         QStringLiteral("/state/pre 1.json"),
         {"-measure-only", "-loudness-out", "/state/pre 1.json"},
         {},
         true},
    };
    for (int format = 0; format < formatItems().size(); ++format) {
        for (const Case &c : cases) {
            CommandInputs in;
            in.appDir = QStringLiteral("/App");
            in.inputPath = QStringLiteral("/in/song one.flac");
            in.outputDir = QStringLiteral("/out");
            in.formatIndex = format;
            in.cutterOn = format % 2 == 1;
            in.cutTo = 30;
            const QString output = outputPathFor(in);
            const QStringList plain = BuildArguments(in, output);
            const QString plainLine = BuildCommandLine(in, output);
            in.replayGain = c.gain;
            in.normalize = c.normalize;
            in.loudnessOut = c.measurement;
            in.albumFrom = c.albumFrom;
            in.measureOnly = c.measureOnly;
            const QStringList args = BuildArguments(in, output);
            SCOPED_TRACE(args.join(QLatin1Char(' ')).toStdString());
            EXPECT_EQ(loudnessArguments(in), c.expected);
            // The plain arguments with the loudness options put in before the output, and the
            // text splits into exactly that list.
            QStringList expected = plain;
            expected.removeLast();
            expected << c.expected << output;
            EXPECT_EQ(args, expected);
            EXPECT_EQ(QProcess::splitCommand(BuildCommandLine(in, output)), args);
            if (c.expected.isEmpty()) {
                EXPECT_EQ(BuildCommandLine(in, output), plainLine);
            }
        }
    }
}
