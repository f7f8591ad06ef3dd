#pragma once

#include "core/commandline.h"

#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <optional>

namespace vidrune {

// Control ids of the ten setting lists of the main dialog.
enum SettingList : int {
    FormatList = 1009,
    VideoCodecList = 1010,
    VideoBitRateList = 1011,
    FrameSizeList = 1012,
    FrameRateList = 1013,
    AspectList = 1014,
    AudioCodecList = 1015,
    AudioBitRateList = 1016,
    SampleRateList = 1017,
    ChannelsList = 1018,
};
inline constexpr int FirstSettingList = FormatList;
inline constexpr int SettingListCount = 10;

// The entries of one drop-down list and its selected index (-1: nothing selected).
struct ChoiceList {
    QStringList entries;
    int current = -1;

    QString CurrentText() const;
    void Fill(const QStringList &items, int selected);
    void Clear();
    bool operator==(const ChoiceList &) const = default;
};

namespace Presets {

// Named entry lists.
const QStringList &VR7();
const QStringList &VR11();
const QStringList &VR14();
const QStringList &FS3();
const QStringList &FS22();
const QStringList &FR12();
const QStringList &AS3();
const QStringList &AMR8();
const QStringList &AB9();
const QStringList &AB13();
const QStringList &SR1();
const QStringList &SR2();
const QStringList &SR4A();
const QStringList &SR4B();
const QStringList &SR6();
const QStringList &CH1();
const QStringList &CH2();

// "3gp", "3gpp2", "mp4", "avi", "flv".
const QStringList &Formats();

// The nine lists 1010..1018 of a format with their default selections; empty for an unknown
// format.
struct FormatPreset {
    std::array<ChoiceList, 9> lists; // index 0 = list 1010
};
std::optional<FormatPreset> ForFormat(const QString &format);

// Option text of an entry of a list (1010..1018, except 1014 which has none), exactly as it
// goes on the command line; the H.264 text embeds `appFolder`.
std::optional<QString> OptionText(int list, const QString &entry, const QString &appFolder);

// File extension of an output format ("3gpp2" gives "3g2").
QString ExtensionOf(const QString &format);

} // namespace Presets

// The ten setting lists and the eight option slots, with the handlers run on a selection
// change. The dialog mirrors this state in its drop-down lists.
class VideoSettings
{
public:
    using FolderProvider = std::function<QString()>;
    // `appFolder` is asked each time the H.264 option is formed.
    explicit VideoSettings(FolderProvider appFolder);

    const ChoiceList &List(int id) const;

    // Start-up: format list filled and "3gp" chosen, its preset applied, then RefreshOptions
    // over all eight slots.
    void Initialise();

    // A user selection in list `id`: the entry becomes current and that list's handler runs.
    void Select(int id, int index);

    void OnFormatChange();
    void OnVideoCodecChange();
    void OnVideoBitRateChange();
    void OnFrameSizeChange();
    void OnFrameRateChange();
    void OnAudioCodecChange();
    void OnAudioBitRateChange();
    void OnSampleRateChange();
    void OnChannelsChange();

    void ApplyFormatPreset(const QString &format);
    void ApplyAudioCodecRules();
    // The handlers of 1010, 1011, 1012, 1013, [1015,] 1016, 1017, 1018 in this order; the
    // convert button leaves out the audio codec so the user's audio lists stay as they are.
    void RefreshOptions(bool withAudioCodec);

    const OptionSlots &Slots() const { return m_slots; }
    QString Extension() const;

private:
    ChoiceList &MutableList(int id);
    void SetSlot(int id, QString &slot);

    FolderProvider m_appFolder;
    std::array<ChoiceList, SettingListCount> m_lists;
    OptionSlots m_slots;
};

} // namespace vidrune
