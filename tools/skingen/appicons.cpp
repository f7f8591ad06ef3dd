#include "appicons.h"

#include "canvas.h"
#include "video_art.h"
#include "zelmora_art.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>

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

// The same drawing as a scalable picture on its 256-unit canvas.
bool writeSvg(void (*paint)(QPainter &), const QString &title, const QString &path)
{
    QBuffer buffer;
    QSvgGenerator svg;
    svg.setTitle(title);
    svg.setDescription(QStringLiteral("Application icon"));
    svg.setOutputDevice(&buffer);
    svg.setSize(QSize(256, 256));
    svg.setViewBox(QRect(0, 0, 256, 256));
    svg.setResolution(96);
    QPainter p;
    if (!p.begin(&svg))
        return false;
    p.setRenderHint(QPainter::Antialiasing);
    paint(p);
    p.end();
    QFile out(path);
    return out.open(QIODevice::WriteOnly | QIODevice::Truncate)
           && out.write(buffer.data()) == buffer.size();
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
    const QString scalable = QStringLiteral("hicolor/scalable/apps");
    if (!QDir(dir).mkpath(scalable))
        return {};
    for (const auto &app : apps) {
        const QString rel =
            scalable + QLatin1Char('/') + QLatin1String(app.name) + QStringLiteral(".svg");
        if (!writeSvg(app.paint, QLatin1String(app.name), QDir(dir).filePath(rel)))
            return {};
        written << rel;
    }
    return written;
}

} // namespace skin
