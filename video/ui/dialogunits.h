#pragma once

#include <QRect>

namespace vidrune {

// Dialog units to pixels, one rule for every control of both templates: each edge of a
// rectangle is converted on its own as px = (dlu * 7 + 2) / 4 (base units of 7 x 14 pixels:
// the dialog font drawn at 12 px), and width and height are the differences of the edges.
namespace DialogUnits {

constexpr int Pixels(int dlu)
{
    return (dlu * 7 + 2) / 4;
}

inline QRect Rect(int x, int y, int w, int h)
{
    return QRect(Pixels(x), Pixels(y), Pixels(x + w) - Pixels(x), Pixels(y + h) - Pixels(y));
}

// The dialog font's size: "MS Shell Dlg", 9 points.
inline constexpr int FontPixels = 12;

// A closed drop-down list is one line high (the template gives the opened list's height).
inline constexpr int ClosedListHeight = 22;

// Client areas are the sizes of the background bitmaps, drawn 1:1.
inline constexpr int MainWidth = 796;
inline constexpr int MainHeight = 454;
inline constexpr int AboutWidth = 453;
inline constexpr int AboutHeight = 220;

} // namespace DialogUnits

} // namespace vidrune
