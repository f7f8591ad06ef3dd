#include "engine/desktopopener.h"

namespace zm {

QString openFailedText(const QString &pathOrUrl)
{
    return QStringLiteral("Zelmora could not open\n\n%1\n\nNo program on this computer opened it. The path can be "
                          "copied from here.")
        .arg(pathOrUrl);
}

} // namespace zm
