#include "logic/launcharguments.h"

namespace vidrune {

const batch::LaunchRules &LaunchRules()
{
    static const batch::LaunchRules rules{
        QStringLiteral("vidrune"), QStringLiteral("Vidrune"), false,
        QStringLiteral("Opens the video converter dialog with the FILEs in its list.\n")};
    return rules;
}

} // namespace vidrune
