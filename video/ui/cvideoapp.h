#pragma once

#include <QStringList>

namespace vidrune {

// The application object: runs the main dialog modally; the program ends with it.
class CvideoApp
{
public:
    // `files`: added to the list before the dialog shows, as the Add button adds them.
    int Run(const QStringList &files = {});
};

} // namespace vidrune
