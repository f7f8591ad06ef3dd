#include "ui/videoskin.h"

#include <QFile>
#include <QGuiApplication>

namespace vidrune {

namespace VideoSkin {

QPixmap Bitmap(int id)
{
    const QString path = QStringLiteral(":/video/bmp%1.png").arg(id);
    const QString path2x = QStringLiteral(":/video/bmp%1@2x.png").arg(id);
    QPixmap pixmap;
    // Sharp on high-density screens: the @2x picture at a device pixel ratio of 2.
    if (qApp && qApp->devicePixelRatio() > 1.0 && QFile::exists(path2x) && pixmap.load(path2x)) {
        pixmap.setDevicePixelRatio(2.0);
        return pixmap;
    }
    if (QFile::exists(path))
        pixmap.load(path);
    return pixmap;
}

QString IconPath()
{
    return QStringLiteral(":/video/icon.png");
}

} // namespace VideoSkin

} // namespace vidrune
