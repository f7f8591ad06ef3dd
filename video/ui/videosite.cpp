#include "ui/videosite.h"

#include <QtGlobal>

namespace vidrune {

namespace VideoSite {

QUrl PageUrl()
{
    const QString custom = qEnvironmentVariable(PageEnvironment);
    if (!custom.isEmpty()) {
        QUrl url = QUrl::fromUserInput(custom);
        if (url.isValid())
            return url;
    }
    return QUrl(QString::fromLatin1(DefaultPage));
}

bool BrowserDisabled()
{
    const QByteArray value = qgetenv(NoBrowserEnvironment);
    return !value.isEmpty() && value != "0";
}

} // namespace VideoSite

} // namespace vidrune
