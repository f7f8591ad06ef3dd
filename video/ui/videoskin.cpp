#include "videoskin.h"

#include <QFile>

namespace VideoSkin {

QPixmap Bitmap(int id)
{
    const QString path = QStringLiteral(":/video/bmp%1.png").arg(id);
    QPixmap pixmap;
    if (QFile::exists(path))
        pixmap.load(path);
    return pixmap;
}

QString IconPath()
{
    return QStringLiteral(":/video/icon.png");
}

} // namespace VideoSkin
