#pragma once

#include <QPixmap>
#include <QString>

namespace vidrune {

// Bitmaps of the dialogs by resource id (":/video/bmp<id>.png"); a missing bitmap gives a null
// pixmap and the caller draws a plain fallback.
namespace VideoSkin {
QPixmap Bitmap(int id);
QString IconPath();
} // namespace VideoSkin

} // namespace vidrune
