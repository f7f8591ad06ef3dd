#pragma once
#include <QCursor>
#include <QIcon>
#include <QPixmap>
#include <QString>

class QWidget;
class QApplication;
class QKeyEvent;

namespace zm {

// A picture of the skin (":/skin/<name>"), the sharper "@2x" drawing on high-density screens.
// A null pixmap when the skin lacks it.
QPixmap skinPixmap(const QString &name);

// The 1x background image of a window, or a plain drawn stand-in of `size` when the skin
// has none, so the window stays usable.
QImage skinBackground(const QString &name, QSize size);

// Magenta pixels of the background become see-through: the window keeps only the rest.
void ApplySkinColourKey(QWidget *window, const QImage &background1x);

// Places a window so that it opens centred on its screen (the primary one before it is shown),
// its top-left corner always on the screen.
void centreOnScreen(QWidget *window);

// Names `control` for screen readers by the caption the window's picture draws beside it: its
// accessible name, and a hidden label whose buddy it is (a list says its chosen entry as its
// name on this platform; the label relation is how a screen reader learns what it is for).
void nameForScreenReaders(QWidget *control, const QString &caption);

// Return or the keypad's Enter, with no other modifier: the key that presses a focused button
// or the default button of a window.
bool isEnterKey(const QKeyEvent *event);

// The program's icon in the sizes window managers, task bars and notifications pick from: the
// icon theme's (an installed copy), and the skin's picture drawn smoothly at 16 to 256 pixels.
QIcon programIcon();

// The pointer shown over clickable pictures.
QCursor skinCursor();

// Look of the standard controls (lists, boxes, check box) on the skinned windows.
void SkinH_Attach(QApplication *app);
void SkinH_Detach(QApplication *app);

// Fonts are given in pixels, so they keep their designed size on every screen.
QFont skinFont(int pixelSize, bool bold = false);

} // namespace zm
