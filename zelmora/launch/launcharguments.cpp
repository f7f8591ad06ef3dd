#include "launch/launcharguments.h"

namespace zm {

const batch::LaunchRules &launchRules()
{
    static const batch::LaunchRules rules{QStringLiteral("zelmora"), QStringLiteral("Zelmora"), true,
                                          QStringLiteral("Opens the Zelmora window with the FILEs, and the files below "
                                                         "each FOLDER, in its queue.\nWhen Zelmora is already running "
                                                         "they join the queue of its window.\n")};
    return rules;
}

} // namespace zm
