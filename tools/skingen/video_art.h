// The skin of the video dialog: its background, the About button, the
// minimise and close pictures with their masks, the About background and
// the icon. Bitmaps are named by their resource ids (bmp137.png ...).
#pragma once

#include <QPainter>
#include <QRect>
#include <QString>
#include <QStringList>

namespace skin::video {

// Dialog units to pixels: every edge of a control's rectangle (left, top,
// right = left + width, bottom = top + height) is converted on its own with
// px = (dlu * 7 + 2) / 4 (integer division, i.e. rounded to nearest), which
// is the dialog font at 12 px with base units of 7 x 14 pixels.
int dluToPx(int dlu);
QRect dluRect(int x, int y, int w, int h);

QStringList generate(const QString &dir);

// The application icon on its 256 x 256 design canvas (the window icon's picture).
void paintAppIcon(QPainter &p);

} // namespace skin::video
