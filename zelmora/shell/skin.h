#pragma once
#include <QCursor>
#include <QPixmap>
#include <QString>

class QWidget;
class QApplication;

namespace zm {

// A picture of the skin (":/skin/<name>"), the sharper "@2x" drawing on high-density screens.
// A null pixmap when the skin lacks it.
QPixmap skinPixmap(const QString &name);

// The 1x background image of a window, or a plain drawn stand-in of `size` when the skin
// has none, so the window stays usable.
QImage skinBackground(const QString &name, QSize size);

// Magenta pixels of the background become see-through: the window keeps only the rest.
void ApplySkinColourKey(QWidget *window, const QImage &background1x);

// Places a window so that it opens centred on its screen (the primary one before it is shown).
void centreOnScreen(QWidget *window);

// The pointer shown over clickable pictures.
QCursor skinCursor();

// Look of the standard controls (lists, boxes, check box) on the skinned windows.
void SkinH_Attach(QApplication *app);
void SkinH_Detach(QApplication *app);

// Fonts are given in pixels, so they keep their designed size on every screen.
QFont skinFont(int pixelSize, bool bold = false);

} // namespace zm
