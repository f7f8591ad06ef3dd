#pragma once

#include "shared/launcharguments.h"

namespace vidrune {

// The command line of `vidrune [FILE...]` (the file manager's "Open With" passes the chosen
// files the same way), read by batch::LaunchArguments. Every regular file named is added to the
// list as the Add button adds the files of a multiple choice; folders are skipped as other
// names that are not regular files.
const batch::LaunchRules &LaunchRules();

} // namespace vidrune
