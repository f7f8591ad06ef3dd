#pragma once

#include <QRect>

// Dialog units to pixels, one rule for every control of a template: the dialog font's average
// character width and height (base units) as x = dlu * baseX / 4, y = dlu * baseY / 8, rounded.
struct DialogUnits {
    int baseX;
    int baseY;

    constexpr int X(int dlu) const { return (dlu * baseX * 2 + 4) / 8; }
    constexpr int Y(int dlu) const { return (dlu * baseY + 4) / 8; }
    QRect Rect(int x, int y, int w, int h) const
    {
        return QRect(X(x), Y(y), X(x + w) - X(x), Y(y + h) - Y(y));
    }
};

// Template 102 ("MS Shell Dlg", 9 points): 455 x 260 units give the 796 x 455 client area
// that background bitmap 137 was drawn for.
inline constexpr DialogUnits MainDialogUnits{7, 14};
