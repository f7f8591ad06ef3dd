#pragma once
#include "engine/commandline.h"

#include <QList>
#include <QString>

#include <optional>

namespace zm {

// Options, "Loudness": Off (the default), "Tag Only (track and album)" (ReplayGain 2.0 track
// tags, and album tags once an album's last file is done), "Normalise to" a loudness (each file
// on its own), or "Normalise Albums to" a loudness (every file of an album the album's one gain,
// with track and album tags of the sound as written). Kept as `Loudness=` under `[Batch]` in
// zelmora.conf: "off", "tags", the target in LUFS ("-16"), or "album:" and the target
// ("album:-16").
struct LoudnessChoice {
    bool tags = false;
    std::optional<double> normalize; // LUFS
    bool albums = false;             // with a target: the album's gain for each of its files
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

// What the batch gets for a choice: album ReplayGain tags for "Tag Only" and "Normalise Albums"
// (which the batch takes, with a target, as album normalisation), a target for either
// "Normalise".
inline ReplayGain replayGainFor(const LoudnessChoice &choice)
{
    return choice.tags || (choice.albums && choice.normalize) ? ReplayGain::Album : ReplayGain::Off;
}

} // namespace zm
