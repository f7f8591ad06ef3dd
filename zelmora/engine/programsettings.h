#pragma once
#include <QtGlobal>

namespace zm {

// The program-wide settings: zero at process start, loaded from options.ini at start-up and
// changed by the options window.
struct ProgramSettings {
    qint16 gSoundReminder = 0; // 0 play the finish sound, 1 do not
    qint16 gCutterOn = 0;      // Music Cutter off 0, on 1
    qint32 gCutFrom = 0;       // start of the cut, seconds
    qint32 gCutTo = 0;         // length of the cut, seconds
    bool operator==(const ProgramSettings &) const = default;
};

// Whether the Music Cutter cuts: the batch and the options window both ask this.
inline bool cutterOn(const ProgramSettings &s)
{
    return s.gCutterOn == 1;
}

} // namespace zm
