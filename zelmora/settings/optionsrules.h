#pragma once
#include "engine/programsettings.h"

#include <QString>
#include <array>

namespace zm {

// The hours boxes take this many digits, so the longest time the window can show is
// 999:59:59; options.ini holds no time beyond it.
inline constexpr int kHoursDigits = 3;
inline constexpr qint32 kMaxCutSeconds = 999 * 3600 + 59 * 60 + 59;

// The six time boxes of the options window, in tab order.
enum TimeBox { FromH = 0, FromM, FromS, ToH, ToM, ToS };

struct OptionsForm {
    int soundIndex = 0;  // cmbSR: 0 "ON", 1 "OFF"
    bool cutter = false; // chkMC
    std::array<QString, 6> times{QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0"),
                                 QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0")};
};

struct OptionsVerdict {
    bool accepted = false;
    QString message;            // shown with the title "Min" when not accepted
    int focusBox = -1;          // TimeBox to focus when not accepted
    bool cutterChecked = false; // chkMC after OK (unchecked when all six boxes are 0)
    ProgramSettings values;     // what OK stores
};

// OK of the options window: minutes and seconds above 59 are refused (From minutes, To
// minutes, From seconds, To seconds, first one wins); otherwise the settings to store.
OptionsVerdict judgeOptions(const OptionsForm &form);

// "Cut: from 0:00:01 for 0:00:03" while the cutter is on, empty while it is off.
QString cutIndicatorText(const ProgramSettings &s);

// Hours, minutes, seconds as the boxes show them for a stored number of seconds.
std::array<QString, 3> timeBoxTexts(qint32 seconds);

// The form as the window shows it when opened with these settings.
OptionsForm formFromSettings(const ProgramSettings &s);

} // namespace zm
