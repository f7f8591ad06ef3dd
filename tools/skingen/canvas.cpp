#include "canvas.h"

#include <QDir>
#include <QPainterPath>

namespace skin {

QImage render(QSize logical, int scale, const PaintFn &paint)
{
    QImage img(logical * scale, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.scale(scale, scale);
    paint(p);
    p.end();
    return img;
}

QImage crop(const QImage &full, const QRect &r, int scale)
{
    return full.copy(QRect(r.topLeft() * scale, r.size() * scale));
}

QString fileName(const QString &name, int scale)
{
    return scale == 1 ? name + QStringLiteral(".png")
                      : name + QStringLiteral("@%1x.png").arg(scale);
}

bool save(const QImage &img, const QString &dir, const QString &name, int scale)
{
    QImage out = img.hasAlphaChannel() ? img.convertToFormat(QImage::Format_ARGB32) : img;
    if (out.hasAlphaChannel()) {
        bool opaque = true;
        for (int y = 0; y < out.height() && opaque; ++y) {
            const auto *line = reinterpret_cast<const QRgb *>(out.constScanLine(y));
            for (int x = 0; x < out.width(); ++x)
                if (qAlpha(line[x]) != 255) {
                    opaque = false;
                    break;
                }
        }
        if (opaque)
            out = out.convertToFormat(QImage::Format_RGB32);
    }
    const QString path = QDir(dir).filePath(fileName(name, scale));
    // Level 9 compression keeps the committed files small; no gamma or time
    // chunks are written, so the output is the same on every run.
    return out.save(path, "PNG", 0);
}

QFont latinFont(qreal px, bool bold)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(qRound(px));
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferFullHinting);
    return f;
}

QFont cjkFont(qreal px, bool bold)
{
    QFont f(QStringLiteral("Noto Sans CJK SC"));
    f.setPixelSize(qRound(px));
    f.setBold(bold);
    return f;
}

void text(QPainter &p, const QRectF &r, int flags, const QString &s, const QFont &f,
          const QColor &c)
{
    p.save();
    p.setFont(f);
    p.setPen(c);
    p.drawText(r, flags, s);
    p.restore();
}

void box(QPainter &p, const QRect &r, qreal radius, const QBrush &fill, const QColor &border)
{
    p.save();
    QPainterPath path;
    path.addRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    p.setPen(QPen(border, 1.0));
    p.setBrush(fill);
    p.drawPath(path);
    p.restore();
}

void fillRound(QPainter &p, const QRect &r, qreal radius, const QBrush &fill)
{
    p.save();
    QPainterPath path;
    path.addRoundedRect(QRectF(r), radius, radius);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawPath(path);
    p.restore();
}

void hline(QPainter &p, int x0, int x1, int y, const QColor &c)
{
    p.fillRect(QRectF(x0, y, x1 - x0 + 1, 1), c);
}

void vline(QPainter &p, int x, int y0, int y1, const QColor &c)
{
    p.fillRect(QRectF(x, y0, 1, y1 - y0 + 1), c);
}

QLinearGradient vgrad(qreal y0, qreal y1, const QColor &top, const QColor &bottom)
{
    QLinearGradient g(0, y0, 0, y1);
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    return g;
}

bool insideShape(int x, int y, QSize client, int radius)
{
    if (x < 0 || y < 0 || x >= client.width() || y >= client.height())
        return false;
    // Pixel centres inside the quarter circles of the corners count.
    const double cx = x + 0.5, cy = y + 0.5;
    const double r = radius;
    double ox = 0, oy = 0;
    if (cx < r)
        ox = r - cx;
    else if (cx > client.width() - r)
        ox = cx - (client.width() - r);
    if (cy < r)
        oy = r - cy;
    else if (cy > client.height() - r)
        oy = cy - (client.height() - r);
    if (ox == 0 || oy == 0)
        return true;
    return ox * ox + oy * oy <= r * r;
}

void applyColourKey(QImage &img, QSize client, int radius, int scale, const QColor &border)
{
    img = img.convertToFormat(QImage::Format_ARGB32);
    const QSize logical = img.size() / scale;
    const QRgb key = kKey.rgb();
    for (int y = 0; y < logical.height(); ++y) {
        for (int x = 0; x < logical.width(); ++x) {
            const bool in = insideShape(x, y, client, radius);
            bool ring = false;
            if (in) {
                for (int dy = -1; dy <= 1 && !ring; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        if (!insideShape(x + dx, y + dy, client, radius)) {
                            ring = true;
                            break;
                        }
            }
            for (int sy = 0; sy < scale; ++sy) {
                auto *line = reinterpret_cast<QRgb *>(img.scanLine(y * scale + sy));
                for (int sx = 0; sx < scale; ++sx) {
                    QRgb &px = line[x * scale + sx];
                    if (!in) {
                        px = key;
                    } else if (ring) {
                        px = border.rgb();
                    } else {
                        // Flatten onto white so no pixel stays translucent, and
                        // never leave a pixel that happens to equal the key.
                        const int a = qAlpha(px);
                        int r = qRed(px), g = qGreen(px), b = qBlue(px);
                        if (a < 255) {
                            r = (r * a + 255 * (255 - a)) / 255;
                            g = (g * a + 255 * (255 - a)) / 255;
                            b = (b * a + 255 * (255 - a)) / 255;
                        }
                        if (r == 255 && g == 0 && b == 255)
                            g = 1;
                        px = qRgb(r, g, b);
                    }
                }
            }
        }
    }
    img = img.convertToFormat(QImage::Format_RGB32);
}

void appIconTile(QPainter &p, const QColor &shadow, const QColor &light, const QColor &mid,
                 const QColor &dark)
{
    const QRectF r(16, 16, 224, 224);
    p.save();
    for (int i = 0; i < 8; ++i)
        fillRound(p, r.translated(0, 3 + i * 0.5).adjusted(-i * 0.5, 0, i * 0.5, i * 0.5).toRect(),
                  52, shadow);
    QLinearGradient g(r.topLeft(), r.bottomRight());
    g.setColorAt(0, light);
    g.setColorAt(0.55, mid);
    g.setColorAt(1, dark);
    QPainterPath tile;
    tile.addRoundedRect(r, 52, 52);
    p.fillPath(tile, g);
    QLinearGradient gloss(0, r.top(), 0, r.center().y());
    gloss.setColorAt(0, QColor(255, 255, 255, 60));
    gloss.setColorAt(1, QColor(255, 255, 255, 0));
    // The gloss is the upper half of the tile itself (a path, not a clip, so that the scalable
    // icon, whose writer knows no clipping, draws it the same).
    QPainterPath upper;
    upper.addRect(QRectF(r.left(), r.top(), r.width(), r.height() / 2));
    p.fillPath(tile.intersected(upper), gloss);
    p.restore();
}

} // namespace skin
