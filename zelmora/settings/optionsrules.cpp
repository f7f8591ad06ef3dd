#include "settings/optionsrules.h"

#include "settings/settingsfiles.h"

#include <cmath>
#include <limits>

namespace zm {

namespace {

qint32 toSeconds(double v)
{
    const double r = std::nearbyint(v);
    if (!(r > double(std::numeric_limits<qint32>::min())))
        return std::numeric_limits<qint32>::min();
    if (r >= double(std::numeric_limits<qint32>::max()))
        return std::numeric_limits<qint32>::max();
    return qint32(r);
}

qint64 floorDiv(qint64 a, qint64 b)
{
    qint64 q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

} // namespace

OptionsVerdict judgeOptions(const OptionsForm &form)
{
    OptionsVerdict v;
    std::array<double, 6> val{};
    for (int i = 0; i < 6; ++i)
        val[i] = leadingValue(form.times[i]);

    struct Check {
        TimeBox box;
        const char *message;
    };
    static const Check checks[] = {{FromM, "Minutes must less than 60"},
                                   {ToM, "Minutes must less than 60"},
                                   {FromS, "Seconds must less than 60"},
                                   {ToS, "Seconds must less than 60"}};
    for (const Check &c : checks) {
        if (val[c.box] > 59) {
            v.message = QString::fromLatin1(c.message);
            v.focusBox = c.box;
            return v;
        }
    }

    bool allZero = true;
    for (double d : val)
        allZero = allZero && d == 0;
    v.accepted = true;
    v.cutterChecked = form.cutter && !allZero;
    v.values.gSoundReminder = qint16(form.soundIndex);
    v.values.gCutterOn = v.cutterChecked ? 1 : 0;
    v.values.gCutFrom = toSeconds(val[FromH] * 3600 + val[FromM] * 60 + val[FromS]);
    v.values.gCutTo = toSeconds(val[ToH] * 3600 + val[ToM] * 60 + val[ToS]);
    return v;
}

QString cutIndicatorText(const ProgramSettings &s)
{
    if (!cutterOn(s))
        return QString();
    auto hms = [](qint32 seconds) {
        const auto t = timeBoxTexts(seconds);
        return t[0] + QLatin1Char(':') + t[1].rightJustified(2, QLatin1Char('0')) + QLatin1Char(':')
               + t[2].rightJustified(2, QLatin1Char('0'));
    };
    return QStringLiteral("Cut: from ") + hms(s.gCutFrom) + QStringLiteral(" for ") + hms(s.gCutTo);
}

std::array<QString, 3> timeBoxTexts(qint32 seconds)
{
    const qint64 s = seconds;
    const qint64 h = floorDiv(s, 3600);
    const qint64 m = floorDiv(s - h * 3600, 60);
    const qint64 rest = s - h * 3600 - m * 60;
    return {QString::number(h), QString::number(m), QString::number(rest)};
}

OptionsForm formFromSettings(const ProgramSettings &s)
{
    OptionsForm f;
    f.soundIndex = s.gSoundReminder;
    f.cutter = cutterOn(s);
    if (f.cutter) {
        const auto from = timeBoxTexts(s.gCutFrom);
        const auto to = timeBoxTexts(s.gCutTo);
        for (int i = 0; i < 3; ++i) {
            f.times[i] = from[i];
            f.times[3 + i] = to[i];
        }
    }
    return f;
}

} // namespace zm
