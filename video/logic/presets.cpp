#include "logic/presets.h"

#include <utility>
#include <vector>

namespace vidrune {

QString ChoiceList::CurrentText() const
{
    return current >= 0 && current < entries.size() ? entries.at(current) : QString();
}

void ChoiceList::Fill(const QStringList &items, int selected)
{
    entries = items;
    current = selected >= 0 && selected < entries.size() ? selected : -1;
}

void ChoiceList::Clear()
{
    entries.clear();
    current = -1;
}

namespace Presets {

namespace {
QStringList Join(const QStringList &a, const QStringList &b)
{
    return a + b;
}
} // namespace

const QStringList &VR7()
{
    static const QStringList l{"80 kbps",  "120 kbps", "160 kbps", "192 kbps",
                               "256 kbps", "320 kbps", "512 kbps"};
    return l;
}
const QStringList &VR11()
{
    static const QStringList l = Join(VR7(), {"768 kbps", "1.0 Mbps", "1.5 Mbps", "2.0 Mbps"});
    return l;
}
const QStringList &VR14()
{
    static const QStringList l = Join(VR11(), {"2.5 Mbps", "3.0 Mbps", "4.0 Mbps"});
    return l;
}
const QStringList &FS3()
{
    static const QStringList l{"128x96", "176x144", "352x288"};
    return l;
}
const QStringList &FS22()
{
    static const QStringList l{"128x96",  "160x120", "176x120", "176x144",     "192x144",
                               "208x176", "220x176", "224x176", "240x180",     "320x220",
                               "320x240", "352x240", "352x288", "400x240",     "480x272",
                               "480x360", "640x360", "640x480", "720x480 DVD", "720x576 DVD",
                               "848x480", "1280x720"};
    return l;
}
const QStringList &FR12()
{
    static const QStringList l{"5.0 fps",    "6.0 fps",    "8.0 fps",    "10.0 fps",
                               "12.0 fps",   "14.985 fps", "15.0 fps",   "20.0 fps",
                               "23.976 fps", "25.0 fps",   "29.976 fps", "30.0 fps"};
    return l;
}
const QStringList &AS3()
{
    static const QStringList l{"Auto", "4:3", "16:9"};
    return l;
}
const QStringList &AMR8()
{
    static const QStringList l{"4.75 kbps", "5.15 kbps", "5.90 kbps", "6.70 kbps",
                               "7.40 kbps", "7.95 kbps", "10.2 kbps", "12.2 kbps"};
    return l;
}
const QStringList &AB9()
{
    static const QStringList l{"32 kbps", "48 kbps",  "56 kbps",  "64 kbps", "80 kbps",
                               "96 kbps", "112 kbps", "128 kbps", "160 kbps"};
    return l;
}
const QStringList &AB13()
{
    static const QStringList l = Join(AB9(), {"192 kbps", "224 kbps", "256 kbps", "320 kbps"});
    return l;
}
const QStringList &SR1()
{
    static const QStringList l{"8000 Hz"};
    return l;
}
const QStringList &SR2()
{
    static const QStringList l{"22050 Hz", "44100 Hz"};
    return l;
}
const QStringList &SR4A()
{
    static const QStringList l{"8000 Hz", "32000 Hz", "44100 Hz", "48000 Hz"};
    return l;
}
const QStringList &SR4B()
{
    static const QStringList l{"22050 Hz", "32000 Hz", "44100 Hz", "48000 Hz"};
    return l;
}
const QStringList &SR6()
{
    static const QStringList l{"8000 Hz",  "16000 Hz", "22050 Hz",
                               "32000 Hz", "44100 Hz", "48000 Hz"};
    return l;
}
const QStringList &CH1()
{
    static const QStringList l{"1 Channel Mono"};
    return l;
}
const QStringList &CH2()
{
    static const QStringList l{"1 Channel Mono", "2 Channels Stereo"};
    return l;
}

const QStringList &Formats()
{
    static const QStringList l{"3gp", "3gpp2", "mp4", "avi", "flv"};
    return l;
}

std::optional<FormatPreset> ForFormat(const QString &format)
{
    struct Row {
        QStringList list;
        int selected;
    };
    auto make = [](std::initializer_list<Row> rows) {
        FormatPreset preset;
        std::size_t i = 0;
        for (const Row &r : rows)
            preset.lists[i++].Fill(r.list, r.selected);
        return preset;
    };
    if (format == QLatin1String("3gp"))
        return make({{{"H.263", "mpeg4"}, 0},
                     {VR7(), 4},
                     {FS3(), 1},
                     {FR12(), 5},
                     {AS3(), 0},
                     {{"AMR_NB", "AAC"}, 0},
                     {AMR8(), 7},
                     {SR1(), 0},
                     {CH1(), 0}});
    if (format == QLatin1String("3gpp2"))
        return make({{{"H.264", "mpeg4"}, 0},
                     {VR11(), 6},
                     {FS22(), 10},
                     {FR12(), 5},
                     {AS3(), 0},
                     {{"AAC", "AMR_NB"}, 0},
                     {AB9(), 6},
                     {SR4A(), 0},
                     {CH2(), 0}});
    if (format == QLatin1String("mp4"))
        return make({{{"H.264", "mpeg4"}, 1},
                     {VR14(), 6},
                     {FS22(), 10},
                     {FR12(), 8},
                     {AS3(), 0},
                     {{"AAC"}, 0},
                     {AB9(), 6},
                     {SR4B(), 2},
                     {CH2(), 1}});
    if (format == QLatin1String("avi"))
        return make({{{"mpeg4", "H.264", "Xvid(mpeg4)"}, 0},
                     {VR14(), 6},
                     {FS22(), 10},
                     {FR12(), 8},
                     {AS3(), 0},
                     {{"MP3", "MP2", "pcm_s16le"}, 1},
                     {AB9(), 7},
                     {SR6(), 2},
                     {CH2(), 1}});
    if (format == QLatin1String("flv"))
        return make({{{"FLV"}, 0},
                     {VR7(), 4},
                     {FS22(), 10},
                     {FR12(), 5},
                     {AS3(), 0},
                     {{"MP3"}, 0},
                     {AB13(), 7},
                     {SR2(), 1},
                     {CH2(), 1}});
    return std::nullopt;
}

namespace {

using OptionTable = std::vector<std::pair<QString, QString>>;

const OptionTable &TableOf(int list)
{
    static const OptionTable videoCodec{
        {"mpeg4", "-vcodec  mpeg4"},
        {"Xvid(mpeg4)", "-vcodec libxvid -aspect 4:3"},
        {"H.263", "-vcodec h263"},
        {"FLV", "-vcodec flv"},
        {"H.264", "-fpre \"%1/h264.dat\" -vcodec libx264"},
    };
    static const OptionTable videoBitRate{
        {"80 kbps", "-b 80k"},    {"120 kbps", "-b 120k"},  {"160 kbps", "-b 160k"},
        {"192 kbps", "-b 192k"},  {"256 kbps", "-b 256k"},  {"320 kbps", "-b 320k"},
        {"512 kbps", "-b 512k"},  {"768 kbps", "-b 768k"},  {"1.0 Mbps", "-b 1000k"},
        {"1.5 Mbps", "-b 1500k"}, {"2.0 Mbps", "-b 2000k"}, {"2.5 Mbps", "-b 2500k"},
        {"3.0 Mbps", "-b 3000k"}, {"4.0 Mbps", "-b 4000k"},
    };
    static const OptionTable frameSize{
        {"128x96", "-s 128x96"},        {"160x120", "-s 160x120"},
        {"192x144", "-s 192x144"},      {"208x176", "-s 208x176"},
        {"220x176", "-s 220x176"},      {"224x176", "-s 224x176"},
        {"240x180", "-s 240x180"},      {"320x220", "-s 320x220"},
        {"352x240", "-s 352x240"},      {"400x240", "-s 400x240"},
        {"480x272", "-s 480x272"},      {"480x360", "-s 480x360"},
        {"640x360", "-s 640x360"},      {"176x120", "-s 176x120 "},
        {"176x144", "-s 176x144 "},     {"320x240", "-s 320x240 "},
        {"352x288", "-s 352x288 "},     {"640x480", "-s 640x480 "},
        {"848x480", "-s 848x480 "},     {"1280x720", "-s 1280x720 "},
        {"720x480 DVD", "-s 720x480 "}, {"720x576 DVD", "-s 720x576 "},
    };
    static const OptionTable frameRate{
        {"5.0 fps", "-r 5"},         {"6.0 fps", "-r 6"},         {"8.0 fps", "-r 8"},
        {"10.0 fps", "-r 10"},       {"12.0 fps", "-r 12"},       {"15.0 fps", "-r 15"},
        {"20.0 fps", "-r 20"},       {"25.0 fps", "-r 25"},       {"30.0 fps", "-r 30"},
        {"14.985 fps", "-r 14.985"}, {"23.976 fps", "-r 23.976"}, {"29.976 fps", "-r 29.976"},
    };
    static const OptionTable audioCodec{
        {"MP3", "-acodec libmp3lame"},           {"MP2", "-acodec mp2"},
        {"pcm_s16le", "-acodec pcm_s16le"},      {"AAC", "-strict experimental -acodec aac"},
        {"AMR_NB", "-acodec libopencore_amrnb"},
    };
    static const OptionTable audioBitRate{
        {"4.75 kbps", "-ab 4.75k"}, {"5.15 kbps", "-ab 5.15k"}, {"5.90 kbps", "-ab 5.9k"},
        {"6.70 kbps", "-ab 6.7k"},  {"7.40 kbps", "-ab 7.4k"},  {"7.95 kbps", "-ab 7.95k"},
        {"10.2 kbps", "-ab 10.2k"}, {"12.2 kbps", "-ab 12.2k"}, {"32 kbps", "-ab 32k"},
        {"48 kbps", "-ab 48k"},     {"56 kbps", "-ab 56k"},     {"64 kbps", "-ab 64k"},
        {"80 kbps", "-ab 80k"},     {"96 kbps", "-ab 96k"},     {"112 kbps", "-ab 112k"},
        {"128 kbps", "-ab 128k"},   {"160 kbps", "-ab 160k"},   {"192 kbps", "-ab 192k"},
        {"224 kbps", "-ab 224k"},   {"256 kbps", "-ab 256k"},   {"320 kbps", "-ab 320k"},
    };
    static const OptionTable sampleRate{
        {"8000 Hz", "-ar 8000"},   {"16000 Hz", "-ar 16000"}, {"22050 Hz", "-ar 22050"},
        {"32000 Hz", "-ar 32000"}, {"44100 Hz", "-ar 44100"}, {"48000 Hz", "-ar 48000"},
    };
    static const OptionTable channels{
        {"1 Channel Mono", "-ac 1"},
        {"2 Channels Stereo", "-ac 2"},
    };
    static const OptionTable none;
    switch (list) {
    case VideoCodecList:
        return videoCodec;
    case VideoBitRateList:
        return videoBitRate;
    case FrameSizeList:
        return frameSize;
    case FrameRateList:
        return frameRate;
    case AudioCodecList:
        return audioCodec;
    case AudioBitRateList:
        return audioBitRate;
    case SampleRateList:
        return sampleRate;
    case ChannelsList:
        return channels;
    default:
        return none;
    }
}

} // namespace

std::optional<QString> OptionText(int list, const QString &entry, const QString &appFolder)
{
    for (const auto &[name, text] : TableOf(list)) {
        if (name == entry) {
            if (list == VideoCodecList && name == QLatin1String("H.264"))
                return text.arg(ConverterCommand::QuotedText(appFolder));
            return text;
        }
    }
    return std::nullopt;
}

QString ExtensionOf(const QString &format)
{
    return format == QLatin1String("3gpp2") ? QStringLiteral("3g2") : format;
}

} // namespace Presets

VideoSettings::VideoSettings(FolderProvider appFolder) : m_appFolder(std::move(appFolder)) {}

const ChoiceList &VideoSettings::List(int id) const
{
    return m_lists.at(static_cast<std::size_t>(id - FirstSettingList));
}

ChoiceList &VideoSettings::MutableList(int id)
{
    return m_lists.at(static_cast<std::size_t>(id - FirstSettingList));
}

void VideoSettings::Initialise()
{
    MutableList(FormatList).Fill(Presets::Formats(), 0);
    // The other lists are still empty, so nothing is cleared first.
    ApplyFormatPreset(List(FormatList).CurrentText());
    RefreshOptions(true);
}

void VideoSettings::Select(int id, int index)
{
    ChoiceList &list = MutableList(id);
    if (index < 0 || index >= list.entries.size())
        return;
    list.current = index;
    switch (id) {
    case FormatList:
        OnFormatChange();
        break;
    case VideoCodecList:
        OnVideoCodecChange();
        break;
    case VideoBitRateList:
        OnVideoBitRateChange();
        break;
    case FrameSizeList:
        OnFrameSizeChange();
        break;
    case FrameRateList:
        OnFrameRateChange();
        break;
    case AspectList:
        break; // the aspect stands for no option
    case AudioCodecList:
        OnAudioCodecChange();
        break;
    case AudioBitRateList:
        OnAudioBitRateChange();
        break;
    case SampleRateList:
        OnSampleRateChange();
        break;
    case ChannelsList:
        OnChannelsChange();
        break;
    default:
        break;
    }
}

void VideoSettings::OnFormatChange()
{
    const QString format = List(FormatList).CurrentText();
    for (int id = VideoCodecList; id <= ChannelsList; ++id)
        MutableList(id).Clear();
    ApplyFormatPreset(format);
    RefreshOptions(true);
}

void VideoSettings::SetSlot(int id, QString &slot)
{
    const QString entry = List(id).CurrentText();
    if (entry.isEmpty())
        return;
    const QString folder = id == VideoCodecList ? m_appFolder() : QString();
    if (auto text = Presets::OptionText(id, entry, folder))
        slot = *text;
}

void VideoSettings::OnVideoCodecChange()
{
    SetSlot(VideoCodecList, m_slots.videoCodecOption);
}
void VideoSettings::OnVideoBitRateChange()
{
    SetSlot(VideoBitRateList, m_slots.videoBitRateOption);
}
void VideoSettings::OnFrameSizeChange()
{
    SetSlot(FrameSizeList, m_slots.frameSizeOption);
}
void VideoSettings::OnFrameRateChange()
{
    SetSlot(FrameRateList, m_slots.frameRateOption);
}
void VideoSettings::OnAudioCodecChange()
{
    ApplyAudioCodecRules();
    SetSlot(AudioCodecList, m_slots.audioCodecOption);
}
void VideoSettings::OnAudioBitRateChange()
{
    SetSlot(AudioBitRateList, m_slots.audioBitRateOption);
}
void VideoSettings::OnSampleRateChange()
{
    SetSlot(SampleRateList, m_slots.sampleRateOption);
}
void VideoSettings::OnChannelsChange()
{
    SetSlot(ChannelsList, m_slots.channelsOption);
}

void VideoSettings::ApplyFormatPreset(const QString &format)
{
    const auto preset = Presets::ForFormat(format);
    if (!preset)
        return;
    for (int i = 0; i < 9; ++i)
        MutableList(VideoCodecList + i) = preset->lists[static_cast<std::size_t>(i)];
}

void VideoSettings::ApplyAudioCodecRules()
{
    const QString format = List(FormatList).CurrentText();
    const QString codec = List(AudioCodecList).CurrentText();
    if (format == QLatin1String("avi"))
        MutableList(AudioBitRateList).Fill(Presets::AB13(), 7);
    if (codec == QLatin1String("AMR_NB")) {
        MutableList(AudioBitRateList).Fill(Presets::AMR8(), 7);
        MutableList(SampleRateList).Fill(Presets::SR1(), 0);
        MutableList(ChannelsList).Fill(Presets::CH1(), 0);
    } else if (codec == QLatin1String("AAC")) {
        MutableList(AudioBitRateList).Fill(Presets::AB9(), 6);
        MutableList(SampleRateList).Fill(Presets::SR6(), 4);
        MutableList(ChannelsList).Fill(Presets::CH2(), 1);
    } else if (codec == QLatin1String("MP2")) {
        MutableList(AudioBitRateList).Fill(Presets::AB9(), 7);
    }
}

void VideoSettings::RefreshOptions(bool withAudioCodec)
{
    OnVideoCodecChange();
    OnVideoBitRateChange();
    OnFrameSizeChange();
    OnFrameRateChange();
    if (withAudioCodec)
        OnAudioCodecChange();
    OnAudioBitRateChange();
    OnSampleRateChange();
    OnChannelsChange();
}

QString VideoSettings::Extension() const
{
    return Presets::ExtensionOf(List(FormatList).CurrentText());
}

} // namespace vidrune
