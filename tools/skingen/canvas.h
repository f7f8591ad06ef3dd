// Drawing helpers shared by both skins: rendering at a scale, cropping hot
// spots, crisp boxes and lines, text, the magenta colour key and file output.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QString>

#include <functional>

namespace skin {

using PaintFn = std::function<void(QPainter &)>;

// Renders `paint` (which works in design pixels) into an image of
// logical size x scale device pixels, on a transparent canvas.
QImage render(QSize logical, int scale, const PaintFn &paint);

// Cuts the design-pixel rectangle `r` out of an image rendered at `scale`.
QImage crop(const QImage &full, const QRect &r, int scale);

// Writes `img` as <dir>/<name>.png (scale 1) or <dir>/<name>@2x.png (scale 2).
// Images without transparency are stored as plain RGB.
bool save(const QImage &img, const QString &dir, const QString &name, int scale);
QString fileName(const QString &name, int scale);

// Fonts: Latin text in DejaVu Sans, Chinese text in Noto Sans CJK SC,
// both set in pixels so the designed sizes hold.
QFont latinFont(qreal px, bool bold = false);
QFont cjkFont(qreal px, bool bold = false);

void text(QPainter &p, const QRectF &r, int flags, const QString &s, const QFont &f,
          const QColor &c);

// A box whose 1-px border lies exactly on the outermost pixels of the
// integer rectangle `r` (design pixels), with rounded corners.
void box(QPainter &p, const QRect &r, qreal radius, const QBrush &fill, const QColor &border);
// Filled rounded rectangle covering the integer rectangle `r` exactly.
void fillRound(QPainter &p, const QRect &r, qreal radius, const QBrush &fill);
// Horizontal / vertical 1-px lines on whole pixels.
void hline(QPainter &p, int x0, int x1, int y, const QColor &c);
void vline(QPainter &p, int x, int y0, int y1, const QColor &c);

QLinearGradient vgrad(qreal y0, qreal y1, const QColor &top, const QColor &bottom);

// Colour key of the borderless windows: everything outside the rounded
// client rectangle (and the clipped strip beyond the client area) becomes
// exactly RGB(255,0,255), with hard edges; the outermost ring of client
// pixels becomes `border`. The key region at scale 2 is exactly the scale 1
// region doubled, so a mask built from either picture is the same.
void applyColourKey(QImage &img, QSize client, int radius, int scale, const QColor &border);
// True when the design pixel (x, y) of a client of size `client` with
// corner radius `radius` lies inside the window shape.
bool insideShape(int x, int y, QSize client, int radius);

inline const QColor kKey(255, 0, 255);

// The application icon's rounded tile (224 px at 16,16 of a 256 canvas): a soft shadow in
// `shadow`, a diagonal gradient light -> mid -> dark and a gloss over the upper half.
void appIconTile(QPainter &p, const QColor &shadow, const QColor &light, const QColor &mid,
                 const QColor &dark);

} // namespace skin
