#include "ui/videoskin.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>

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

QIcon ProgramIcon()
{
    QIcon icon;
    const QIcon themed = QIcon::fromTheme(QStringLiteral("net.zelmora.Vidrune"));
    QImage picture(QStringLiteral(":/video/icon@2x.png"));
    if (picture.isNull())
        picture = QImage(IconPath());
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap = themed.pixmap(QSize(size, size));
        if (pixmap.isNull() || pixmap.width() < size) {
            if (picture.isNull())
                continue;
            pixmap = QPixmap::fromImage(
                picture.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        }
        icon.addPixmap(pixmap);
    }
    return icon;
}

batch::FocusMark::Style FocusMarkStyle()
{
    return {QColor(0x1f, 0x6f, 0xeb), 3, 2};
}

} // namespace VideoSkin

} // namespace vidrune
