#pragma once
#include "shared/launcharguments.h"

namespace zm {

// The command line of `zelmora [FILE|FOLDER...]` (a file manager's "Open With" and a drop on the
// launcher pass their files the same way), read by batch::LaunchArguments. Regular files join
// the queue as they are, folders bring every file below them as Add Folder finds them, in the
// order given.
const batch::LaunchRules &launchRules();

} // namespace zm
