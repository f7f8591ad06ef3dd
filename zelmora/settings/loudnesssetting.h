#pragma once
#include "engine/commandline.h"

#include <QList>
#include <QString>

#include <optional>

namespace zm {

// Options, "Loudness": Off (the default), "Tag Only (track and album)" (ReplayGain 2.0 track
// tags, and album tags once an album's last file is done), or "Normalise to" a loudness. Kept as
// `Loudness=` under `[Batch]` in zelmora.conf: "off", "tags", or the target in LUFS ("-16").
struct LoudnessChoice {
    bool tags = false;
    std::optional<double> normalize; // LUFS
    friend bool operator==(const LoudnessChoice &, const LoudnessChoice &) = default;
};

// The targets of the "Normalise to" menu, in its order.
QList<double> normaliseTargets();
// "-16 LUFS".
QString normaliseCaption(double lufs);

QString loudnessSettingText(const LoudnessChoice &choice);
// Off for anything that is not one of the menu's choices (garbage, "-99", "tags,off").
LoudnessChoice loudnessChoiceFromText(const QString &text);

LoudnessChoice readLoudnessSetting(const QString &confPath);
// Keeps the other keys of the file (makes its folder); false when it could not be written.
bool writeLoudnessSetting(const QString &confPath, const LoudnessChoice &choice);

// What the batch gets for a choice: album ReplayGain tags for "Tag Only", a target for "Normalise".
inline ReplayGain replayGainFor(const LoudnessChoice &choice)
{
    return choice.tags ? ReplayGain::Album : ReplayGain::Off;
}

} // namespace zm
