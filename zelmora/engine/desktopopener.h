#pragma once
#include "shared/desktopopener.h"

#include <QString>

namespace zm {

// Opening paths and addresses is the suite's (batch::DesktopOpener); the box is zelmora's.
using batch::DesktopOpener;

// What the message box says when opening `pathOrUrl` failed: the path on a line of its own, to
// be copied from the box.
QString openFailedText(const QString &pathOrUrl);

} // namespace zm
