#include "appicons.h"

#include "canvas.h"
#include "video_art.h"
#include "zelmora_art.h"

#include <QDir>
#include <QImage>
#include <QPainter>

namespace skin {

namespace {

// The icon painters work on a 256-unit canvas; smaller sizes scale the painter, so every edge
// is antialiased at the target size.
QImage drawIcon(void (*paint)(QPainter &), int px)
{
    QImage img(px, px, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.scale(px / 256.0, px / 256.0);
    paint(p);
    p.end();
    return img;
}

} // namespace

QStringList writeAppIcons(const QString &dir)
{
    const struct {
        const char *name;
        void (*paint)(QPainter &);
    } apps[] = {{kZelmoraIconName, zelmora::paintAppIcon}, {kVidruneIconName, video::paintAppIcon}};

    QStringList written;
    for (int px : kAppIconSizes) {
        const QString sub = QStringLiteral("hicolor/%1x%1/apps").arg(px);
        if (!QDir(dir).mkpath(sub))
            return {};
        for (const auto &app : apps) {
            const QString rel = sub + QLatin1Char('/') + QLatin1String(app.name);
            if (!save(drawIcon(app.paint, px), dir, rel, 1))
                return {};
            written << rel + QStringLiteral(".png");
        }
    }
    return written;
}

} // namespace skin
