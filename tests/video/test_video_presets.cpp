// Output presets, option texts, output naming, open-file filters and the file list model.
#include "core/commandline.h"
#include "logic/filefilters.h"
#include "logic/filelistmodel.h"
#include "logic/outputnaming.h"
#include "logic/presets.h"
#include "video/videotestutil.h"

#include <QAbstractItemModelTester>
#include <QSet>
#include <gtest/gtest.h>

using namespace vidrune;

namespace {

// The entry lists as the dialog must offer them.
const QStringList vr7{"80 kbps",  "120 kbps", "160 kbps", "192 kbps",
                      "256 kbps", "320 kbps", "512 kbps"};
const QStringList vr11 = vr7 + QStringList{"768 kbps", "1.0 Mbps", "1.5 Mbps", "2.0 Mbps"};
const QStringList vr14 = vr11 + QStringList{"2.5 Mbps", "3.0 Mbps", "4.0 Mbps"};
const QStringList fs3{"128x96", "176x144", "352x288"};
const QStringList fs22{"128x96",      "160x120",     "176x120", "176x144", "192x144", "208x176",
                       "220x176",     "224x176",     "240x180", "320x220", "320x240", "352x240",
                       "352x288",     "400x240",     "480x272", "480x360", "640x360", "640x480",
                       "720x480 DVD", "720x576 DVD", "848x480", "1280x720"};
const QStringList fr12{"5.0 fps",  "6.0 fps",  "8.0 fps",    "10.0 fps", "12.0 fps",   "14.985 fps",
                       "15.0 fps", "20.0 fps", "23.976 fps", "25.0 fps", "29.976 fps", "30.0 fps"};
const QStringList as3{"Auto", "4:3", "16:9"};
const QStringList amr8{"4.75 kbps", "5.15 kbps", "5.90 kbps", "6.70 kbps",
                       "7.40 kbps", "7.95 kbps", "10.2 kbps", "12.2 kbps"};
const QStringList ab9{"32 kbps", "48 kbps",  "56 kbps",  "64 kbps", "80 kbps",
                      "96 kbps", "112 kbps", "128 kbps", "160 kbps"};
const QStringList ab13 = ab9 + QStringList{"192 kbps", "224 kbps", "256 kbps", "320 kbps"};
const QStringList sr1{"8000 Hz"};
const QStringList sr2{"22050 Hz", "44100 Hz"};
const QStringList sr4a{"8000 Hz", "32000 Hz", "44100 Hz", "48000 Hz"};
const QStringList sr4b{"22050 Hz", "32000 Hz", "44100 Hz", "48000 Hz"};
const QStringList sr6{"8000 Hz", "16000 Hz", "22050 Hz", "32000 Hz", "44100 Hz", "48000 Hz"};
const QStringList ch1{"1 Channel Mono"};
const QStringList ch2{"1 Channel Mono", "2 Channels Stereo"};

struct Expect {
    QStringList entries;
    int selected;
};

VideoSettings MakeSettings(const QString &folder = QStringLiteral("/opt/app"))
{
    VideoSettings s([folder] { return folder; });
    s.Initialise();
    return s;
}

void ChooseFormat(VideoSettings &s, const QString &format)
{
    s.Select(FormatList, static_cast<int>(s.List(FormatList).entries.indexOf(format)));
    ASSERT_EQ(s.List(FormatList).CurrentText(), format);
}

void Choose(VideoSettings &s, int list, const QString &entry)
{
    const int index = static_cast<int>(s.List(list).entries.indexOf(entry));
    ASSERT_GE(index, 0) << entry.toStdString();
    s.Select(list, index);
}

std::string Describe(int list, const QString &format)
{
    return "list " + std::to_string(list) + " format " + format.toStdString();
}

} // namespace

TEST(Presets, EveryFormatPresetWithItsDefaults)
{
    // Lists 1010..1018 straight from the format preset, before the audio-codec rules.
    const QMap<QString, QList<Expect>> table{
        {"3gp",
         {{{"H.263", "mpeg4"}, 0},
          {vr7, 4},
          {fs3, 1},
          {fr12, 5},
          {as3, 0},
          {{"AMR_NB", "AAC"}, 0},
          {amr8, 7},
          {sr1, 0},
          {ch1, 0}}},
        {"3gpp2",
         {{{"H.264", "mpeg4"}, 0},
          {vr11, 6},
          {fs22, 10},
          {fr12, 5},
          {as3, 0},
          {{"AAC", "AMR_NB"}, 0},
          {ab9, 6},
          {sr4a, 0},
          {ch2, 0}}},
        {"mp4",
         {{{"H.264", "mpeg4"}, 1},
          {vr14, 6},
          {fs22, 10},
          {fr12, 8},
          {as3, 0},
          {{"AAC"}, 0},
          {ab9, 6},
          {sr4b, 2},
          {ch2, 1}}},
        {"avi",
         {{{"mpeg4", "H.264", "Xvid(mpeg4)"}, 0},
          {vr14, 6},
          {fs22, 10},
          {fr12, 8},
          {as3, 0},
          {{"MP3", "MP2", "pcm_s16le"}, 1},
          {ab9, 7},
          {sr6, 2},
          {ch2, 1}}},
        {"flv",
         {{{"FLV"}, 0},
          {vr7, 4},
          {fs22, 10},
          {fr12, 5},
          {as3, 0},
          {{"MP3"}, 0},
          {ab13, 7},
          {sr2, 1},
          {ch2, 1}}},
    };
    ASSERT_EQ(Presets::Formats(), (QStringList{"3gp", "3gpp2", "mp4", "avi", "flv"}));
    for (auto it = table.begin(); it != table.end(); ++it) {
        const auto preset = Presets::ForFormat(it.key());
        ASSERT_TRUE(preset.has_value()) << it.key().toStdString();
        for (int i = 0; i < 9; ++i) {
            const ChoiceList &got = preset->lists[static_cast<std::size_t>(i)];
            EXPECT_EQ(got.entries, it.value().at(i).entries) << Describe(1010 + i, it.key());
            EXPECT_EQ(got.current, it.value().at(i).selected) << Describe(1010 + i, it.key());
        }
    }
    EXPECT_FALSE(Presets::ForFormat("mkv").has_value());
    EXPECT_FALSE(Presets::ForFormat("3GP").has_value()) << "formats compare exactly";
}

TEST(Presets, AudioListsAfterTheCodecRulesPerFormat)
{
    struct Row {
        QString format;
        QString codec;
        Expect bitRate, sampleRate, channels;
    };
    const QList<Row> rows{
        {"3gp", "AMR_NB", {amr8, 7}, {sr1, 0}, {ch1, 0}},
        {"3gpp2", "AAC", {ab9, 6}, {sr6, 4}, {ch2, 1}},
        {"mp4", "AAC", {ab9, 6}, {sr6, 4}, {ch2, 1}},
        {"avi", "MP2", {ab9, 7}, {sr6, 2}, {ch2, 1}},
        {"flv", "MP3", {ab13, 7}, {sr2, 1}, {ch2, 1}},
    };
    // Reach each format from every other one, so nothing left over from before shows.
    for (const Row &from : rows) {
        for (const Row &r : rows) {
            VideoSettings s = MakeSettings();
            ChooseFormat(s, from.format);
            ChooseFormat(s, r.format);
            const std::string where = (from.format + " -> " + r.format).toStdString();
            EXPECT_EQ(s.List(AudioCodecList).CurrentText(), r.codec) << where;
            EXPECT_EQ(s.List(AudioBitRateList).entries, r.bitRate.entries) << where;
            EXPECT_EQ(s.List(AudioBitRateList).current, r.bitRate.selected) << where;
            EXPECT_EQ(s.List(SampleRateList).entries, r.sampleRate.entries) << where;
            EXPECT_EQ(s.List(SampleRateList).current, r.sampleRate.selected) << where;
            EXPECT_EQ(s.List(ChannelsList).entries, r.channels.entries) << where;
            EXPECT_EQ(s.List(ChannelsList).current, r.channels.selected) << where;
        }
    }
}

TEST(Presets, EveryOptionText)
{
    struct Row {
        int list;
        const char *entry;
        const char *option;
    };
    const Row rows[] = {
        {1010, "mpeg4", "-vcodec  mpeg4"},
        {1010, "Xvid(mpeg4)", "-vcodec libxvid -aspect 4:3"},
        {1010, "H.263", "-vcodec h263"},
        {1010, "FLV", "-vcodec flv"},
        {1010, "H.264", "-fpre \"/opt/app/h264.dat\" -vcodec libx264"},
        {1011, "80 kbps", "-b 80k"},
        {1011, "120 kbps", "-b 120k"},
        {1011, "160 kbps", "-b 160k"},
        {1011, "192 kbps", "-b 192k"},
        {1011, "256 kbps", "-b 256k"},
        {1011, "320 kbps", "-b 320k"},
        {1011, "512 kbps", "-b 512k"},
        {1011, "768 kbps", "-b 768k"},
        {1011, "1.0 Mbps", "-b 1000k"},
        {1011, "1.5 Mbps", "-b 1500k"},
        {1011, "2.0 Mbps", "-b 2000k"},
        {1011, "2.5 Mbps", "-b 2500k"},
        {1011, "3.0 Mbps", "-b 3000k"},
        {1011, "4.0 Mbps", "-b 4000k"},
        {1012, "128x96", "-s 128x96"},
        {1012, "160x120", "-s 160x120"},
        {1012, "176x120", "-s 176x120 "},
        {1012, "176x144", "-s 176x144 "},
        {1012, "192x144", "-s 192x144"},
        {1012, "208x176", "-s 208x176"},
        {1012, "220x176", "-s 220x176"},
        {1012, "224x176", "-s 224x176"},
        {1012, "240x180", "-s 240x180"},
        {1012, "320x220", "-s 320x220"},
        {1012, "320x240", "-s 320x240 "},
        {1012, "352x240", "-s 352x240"},
        {1012, "352x288", "-s 352x288 "},
        {1012, "400x240", "-s 400x240"},
        {1012, "480x272", "-s 480x272"},
        {1012, "480x360", "-s 480x360"},
        {1012, "640x360", "-s 640x360"},
        {1012, "640x480", "-s 640x480 "},
        {1012, "720x480 DVD", "-s 720x480 "},
        {1012, "720x576 DVD", "-s 720x576 "},
        {1012, "848x480", "-s 848x480 "},
        {1012, "1280x720", "-s 1280x720 "},
        {1013, "5.0 fps", "-r 5"},
        {1013, "6.0 fps", "-r 6"},
        {1013, "8.0 fps", "-r 8"},
        {1013, "10.0 fps", "-r 10"},
        {1013, "12.0 fps", "-r 12"},
        {1013, "14.985 fps", "-r 14.985"},
        {1013, "15.0 fps", "-r 15"},
        {1013, "20.0 fps", "-r 20"},
        {1013, "23.976 fps", "-r 23.976"},
        {1013, "25.0 fps", "-r 25"},
        {1013, "29.976 fps", "-r 29.976"},
        {1013, "30.0 fps", "-r 30"},
        {1015, "MP3", "-acodec libmp3lame"},
        {1015, "MP2", "-acodec mp2"},
        {1015, "pcm_s16le", "-acodec pcm_s16le"},
        {1015, "AAC", "-strict experimental -acodec aac"},
        {1015, "AMR_NB", "-acodec libopencore_amrnb"},
        {1016, "4.75 kbps", "-ab 4.75k"},
        {1016, "5.15 kbps", "-ab 5.15k"},
        {1016, "5.90 kbps", "-ab 5.9k"},
        {1016, "6.70 kbps", "-ab 6.7k"},
        {1016, "7.40 kbps", "-ab 7.4k"},
        {1016, "7.95 kbps", "-ab 7.95k"},
        {1016, "10.2 kbps", "-ab 10.2k"},
        {1016, "12.2 kbps", "-ab 12.2k"},
        {1016, "32 kbps", "-ab 32k"},
        {1016, "48 kbps", "-ab 48k"},
        {1016, "56 kbps", "-ab 56k"},
        {1016, "64 kbps", "-ab 64k"},
        {1016, "80 kbps", "-ab 80k"},
        {1016, "96 kbps", "-ab 96k"},
        {1016, "112 kbps", "-ab 112k"},
        {1016, "128 kbps", "-ab 128k"},
        {1016, "160 kbps", "-ab 160k"},
        {1016, "192 kbps", "-ab 192k"},
        {1016, "224 kbps", "-ab 224k"},
        {1016, "256 kbps", "-ab 256k"},
        {1016, "320 kbps", "-ab 320k"},
        {1017, "8000 Hz", "-ar 8000"},
        {1017, "16000 Hz", "-ar 16000"},
        {1017, "22050 Hz", "-ar 22050"},
        {1017, "32000 Hz", "-ar 32000"},
        {1017, "44100 Hz", "-ar 44100"},
        {1017, "48000 Hz", "-ar 48000"},
        {1018, "1 Channel Mono", "-ac 1"},
        {1018, "2 Channels Stereo", "-ac 2"},
    };
    QSet<QString> covered;
    for (const Row &r : rows) {
        const auto text = Presets::OptionText(r.list, r.entry, "/opt/app");
        ASSERT_TRUE(text.has_value()) << r.list << " " << r.entry;
        EXPECT_EQ(*text, QString::fromUtf8(r.option)) << r.list << " " << r.entry;
        covered.insert(QString::number(r.list) + "|" + r.entry);
    }
    // Every entry any format offers has its option text (the aspect has none at all).
    for (const QString &format : Presets::Formats()) {
        VideoSettings s = MakeSettings();
        ChooseFormat(s, format);
        for (int list = VideoCodecList; list <= ChannelsList; ++list) {
            for (const QString &entry : s.List(list).entries) {
                if (list == AspectList) {
                    EXPECT_FALSE(Presets::OptionText(list, entry, "/x").has_value());
                    continue;
                }
                EXPECT_TRUE(covered.contains(QString::number(list) + "|" + entry))
                    << list << " " << entry.toStdString();
            }
        }
    }
    // Entries are compared exactly.
    EXPECT_FALSE(Presets::OptionText(1010, "h.264", "/x").has_value());
    EXPECT_FALSE(Presets::OptionText(1016, "12.2 kbps ", "/x").has_value());
    EXPECT_FALSE(Presets::OptionText(1013, "29.97 fps", "/x").has_value());
}

TEST(Presets, StartUpSlotsAndThe3gpCommandLine)
{
    VideoSettings s = MakeSettings();
    const OptionSlots &o = s.Slots();
    const QStringList inOrder{o.videoCodecOption,   o.videoBitRateOption, o.frameSizeOption,
                              o.frameRateOption,    o.audioCodecOption,   o.sampleRateOption,
                              o.audioBitRateOption, o.channelsOption};
    EXPECT_EQ(inOrder,
              (QStringList{"-vcodec h263", "-b 256k", "-s 176x144 ", "-r 14.985",
                           "-acodec libopencore_amrnb", "-ar 8000", "-ab 12.2k", "-ac 1"}));
    const QString input = "/v/a.flv";
    const QString output = OutputNaming::Join("/out", OutputNaming::BaseName(input), s.Extension());
    EXPECT_EQ(ConverterCommand::Build(input, o, output),
              QStringLiteral("vv -i \"/v/a.flv\" -y -vcodec h263 -b 256k -s 176x144  -r 14.985 "
                             "-acodec libopencore_amrnb -ar 8000 -ab 12.2k -ac 1 "
                             "\"/out/a.3gp\""));
}

TEST(Presets, AudioCodecSequences)
{
    struct Step {
        int list;
        QString entry;
        Expect bitRate, sampleRate, channels;
    };
    struct Sequence {
        QString format;
        QList<Step> steps;
    };
    const QList<Sequence> sequences{
        {"avi",
         {{AudioCodecList, "MP3", {ab13, 7}, {sr6, 2}, {ch2, 1}},
          {AudioCodecList, "MP2", {ab9, 7}, {sr6, 2}, {ch2, 1}},
          {AudioCodecList, "pcm_s16le", {ab13, 7}, {sr6, 2}, {ch2, 1}}}},
        {"3gpp2",
         {{AudioCodecList, "AMR_NB", {amr8, 7}, {sr1, 0}, {ch1, 0}},
          {AudioCodecList, "AAC", {ab9, 6}, {sr6, 4}, {ch2, 1}}}},
        {"3gp",
         {{AudioCodecList, "AAC", {ab9, 6}, {sr6, 4}, {ch2, 1}},
          {AudioCodecList, "AMR_NB", {amr8, 7}, {sr1, 0}, {ch1, 0}}}},
    };
    for (const Sequence &seq : sequences) {
        VideoSettings s = MakeSettings();
        ChooseFormat(s, seq.format);
        for (const Step &st : seq.steps) {
            Choose(s, st.list, st.entry);
            const std::string where = (seq.format + " " + st.entry).toStdString();
            EXPECT_EQ(s.List(AudioBitRateList).entries, st.bitRate.entries) << where;
            EXPECT_EQ(s.List(AudioBitRateList).current, st.bitRate.selected) << where;
            EXPECT_EQ(s.List(SampleRateList).entries, st.sampleRate.entries) << where;
            EXPECT_EQ(s.List(SampleRateList).current, st.sampleRate.selected) << where;
            EXPECT_EQ(s.List(ChannelsList).entries, st.channels.entries) << where;
            EXPECT_EQ(s.List(ChannelsList).current, st.channels.selected) << where;
        }
    }
}

TEST(Presets, CodecChangeLeavesAudioSlotsUntilTheNextRefresh)
{
    VideoSettings s = MakeSettings();
    ChooseFormat(s, "3gpp2");
    Choose(s, SampleRateList, "22050 Hz");
    EXPECT_EQ(s.Slots().sampleRateOption, "-ar 22050");
    Choose(s, AudioCodecList, "AAC");
    EXPECT_EQ(s.List(SampleRateList).CurrentText(), "44100 Hz");
    EXPECT_EQ(s.Slots().sampleRateOption, "-ar 22050") << "the codec handler does not set 1017";
    EXPECT_EQ(s.Slots().audioCodecOption, "-strict experimental -acodec aac");
    s.RefreshOptions(false); // the convert button
    EXPECT_EQ(s.Slots().sampleRateOption, "-ar 44100");
}

TEST(Presets, AspectNeverReachesTheCommandLine)
{
    for (const QString &format : Presets::Formats()) {
        VideoSettings s = MakeSettings();
        ChooseFormat(s, format);
        const QString before = ConverterCommand::Build("/i.avi", s.Slots(), "/o.x");
        for (const QString &aspect : as3) {
            Choose(s, AspectList, aspect);
            s.RefreshOptions(false);
            EXPECT_EQ(ConverterCommand::Build("/i.avi", s.Slots(), "/o.x"), before)
                << format.toStdString() << " " << aspect.toStdString();
        }
    }
}

TEST(Presets, H264OptionNamesThePresetFileInTheCurrentApplicationFolder)
{
    QString folder = "/opt/Tools";
    VideoSettings s([&folder] { return folder; });
    s.Initialise();
    ChooseFormat(s, "mp4");
    Choose(s, VideoCodecList, "H.264");
    EXPECT_EQ(s.Slots().videoCodecOption, "-fpre \"/opt/Tools/h264.dat\" -vcodec libx264");
    folder = "/home/u/my \"apps\"";
    s.RefreshOptions(false);
    EXPECT_EQ(s.Slots().videoCodecOption,
              "-fpre \"/home/u/my \"\"\"apps\"\"\"/h264.dat\" -vcodec libx264");
    Choose(s, VideoCodecList, "mpeg4");
    EXPECT_EQ(s.Slots().videoCodecOption, "-vcodec  mpeg4");
}

TEST(Presets, ExtensionsOfTheFormats)
{
    const QList<QPair<QString, QString>> rows{
        {"3gp", "3gp"}, {"3gpp2", "3g2"}, {"mp4", "mp4"}, {"avi", "avi"}, {"flv", "flv"}};
    for (const auto &[format, ext] : rows) {
        VideoSettings s = MakeSettings();
        ChooseFormat(s, format);
        EXPECT_EQ(s.Extension(), ext);
    }
}

TEST(OutputNaming, BaseNames)
{
    const QList<QPair<QString, QString>> rows{
        {"/v/clip.flv", "clip"},           {"/v1.0/clip", "clip"}, {"/v1.0/clip.avi", "clip"},
        {"/v/clip.part.mp4", "clip.part"}, {"/v/.hidden", ""},     {"clip.mp4", "clip"},
        {"/v/视频 一.rmvb", "视频 一"},    {"/v/noext", "noext"},
    };
    for (const auto &[path, base] : rows)
        EXPECT_EQ(OutputNaming::BaseName(path), base) << path.toStdString();
}

TEST(OutputNaming, JoinedPaths)
{
    struct Row {
        QString folder, base, ext, prefix, path;
    };
    const QList<Row> rows{
        {"/out", "clip", "3g2", "", "/out/clip.3g2"},
        {"/out/", "clip", "mp4", "", "/out/clip.mp4"},
        {"/", "clip", "avi", "", "/clip.avi"},
        {"/v", "clip", "mp4", "新", "/v/新clip.mp4"},
        {"/out", "clip", "mp4", "重命名", "/out/重命名clip.mp4"},
    };
    for (const Row &r : rows)
        EXPECT_EQ(OutputNaming::Join(r.folder, r.base, r.ext, r.prefix), r.path);
}

TEST(OutputNaming, RenamedNameGetsANumberWhenTaken)
{
    struct Row {
        QStringList existing;
        QString expected;
    };
    const QList<Row> rows{
        {{}, "/out/重命名clip.mp4"},
        {{"/out/重命名clip.mp4"}, "/out/重命名clip (2).mp4"},
        {{"/out/重命名clip.mp4", "/out/重命名clip (2).mp4"}, "/out/重命名clip (3).mp4"},
        {{"/out/重命名clip (2).mp4"}, "/out/重命名clip.mp4"},
    };
    for (const Row &r : rows) {
        const auto exists = [&](const QString &p) { return r.existing.contains(p); };
        EXPECT_EQ(OutputNaming::RenamedPath("/out", "clip", "mp4", exists), r.expected);
    }
}

TEST(FileFilters, OpenFileFilterInQtForm)
{
    const QStringList filters = FileFilters::ToQtFilters(FileFilters::VideoEntries());
    ASSERT_EQ(filters.size(), 10);
    EXPECT_EQ(filters.at(0),
              " ALL Files (*.RM *.RMVB *.rm *.rmvb *.AVI *.avi *.WMV *.ASF *.wmv *.asf *.MPG "
              "*.mpg *.MPEG *.mpeg *.mp4 *.MP4 *.3GP *.3GPP2 *.3gp *.3g2 *.swf *.flv *.SWF "
              "*.FLV)");
    EXPECT_EQ(filters.at(1), " Real文件 (*.RM *.RMVB *.rm *.rmvb)");
    EXPECT_EQ(filters.at(3), " Windows媒体文件 (*.WMV *.ASF *.wmv *.asf)");
    EXPECT_EQ(filters.at(6), " 3gp文件 (*.3GP *.3GPP2 *.3gp *.3g2)");
    EXPECT_EQ(filters.at(7), " flash文件 (*.swf *.flv *.SWF *.FLV)");
    EXPECT_TRUE(filters.at(8).startsWith("所有视频文件 (*.mkv *.MKV *.webm *.WEBM *.mov *.MOV "));
    EXPECT_EQ(filters.at(9), "所有文件 (*)");
}

TEST(FileListModel, InsertRemoveAndStatusUnderTheModelTester)
{
    FileListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.InsertAt(0, "/a.avi");
    model.InsertAt(0, "/b.avi");
    EXPECT_EQ(model.Paths(), (QStringList{"/b.avi", "/a.avi"}));
    model.InsertAt(99, "/c.avi", "等待");
    EXPECT_EQ(model.Paths(), (QStringList{"/b.avi", "/a.avi", "/c.avi"}));
    EXPECT_EQ(model.Status(2), "等待");
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "文件名");
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "状态显示");
    model.SetStatus(1, "已完成");
    EXPECT_EQ(model.data(model.index(1, 1)).toString(), "已完成");
    EXPECT_FALSE(model.RemoveAt(-1));
    EXPECT_FALSE(model.RemoveAt(3));
    EXPECT_TRUE(model.RemoveAt(0));
    EXPECT_EQ(model.Paths(), (QStringList{"/a.avi", "/c.avi"}));
    model.Clear();
    EXPECT_EQ(model.Count(), 0);
}

TEST(FileListModel, MoveCarriesTheWholeRowUnderTheModelTester)
{
    FileListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    for (const char *p : {"/c", "/b", "/a"})
        model.InsertAt(0, p);
    model.SetStatus(0, "失败");
    model.SetDetail(0, "失败：input is not a media file");
    model.SetLog(0, "/logs/01 a.log");
    struct Step {
        int from, to;
        bool ok;
        QStringList paths;
        int carrier; // where "/a" is now
    } steps[] = {
        {0, 2, true, {"/b", "/c", "/a"}, 2},   {2, 1, true, {"/b", "/a", "/c"}, 1},
        {1, 1, true, {"/b", "/a", "/c"}, 1},   {1, 3, false, {"/b", "/a", "/c"}, 1},
        {-1, 0, false, {"/b", "/a", "/c"}, 1}, {1, 0, true, {"/a", "/b", "/c"}, 0},
    };
    for (const Step &s : steps) {
        EXPECT_EQ(model.Move(s.from, s.to), s.ok) << s.from << "->" << s.to;
        EXPECT_EQ(model.Paths(), s.paths) << s.from << "->" << s.to;
        EXPECT_EQ(model.Status(s.carrier), "失败");
        EXPECT_EQ(model.Detail(s.carrier), "失败：input is not a media file");
        EXPECT_EQ(model.Log(s.carrier), "/logs/01 a.log");
    }
}
