#pragma once

#include "gui/focusmark.h"

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace vidrune {

// Bitmaps of the dialogs by resource id (":/video/bmp<id>.png"); a missing bitmap gives a null
// pixmap and the caller draws a plain fallback.
namespace VideoSkin {
QPixmap Bitmap(int id);
QString IconPath();
// The program's icon in the sizes window managers, task bars and notifications pick from: the
// icon theme's (an installed copy), and the skin's picture drawn smoothly at 16 to 256 pixels.
QIcon ProgramIcon();
// The dialogs' keyboard focus mark: the skin's accent blue (it shows on the blue title band
// through its white inner line), 3 pixels from the control.
batch::FocusMark::Style FocusMarkStyle();
} // namespace VideoSkin

} // namespace vidrune
