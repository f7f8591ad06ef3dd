// Line icons drawn on a 24-unit grid inside a square box, and the small
// window glyphs (help, minimise, close, drop arrow, folder).
#pragma once

#include <QColor>
#include <QPainter>
#include <QRectF>

namespace skin::icons {

// Toolbar and button icons; `box` is a square (24 design px for the toolbar).
void addFile(QPainter &p, const QRectF &box, const QColor &c, const QColor &badge);
void addFolder(QPainter &p, const QRectF &box, const QColor &c, const QColor &badge);
void trash(QPainter &p, const QRectF &box, const QColor &c);
void sliders(QPainter &p, const QRectF &box, const QColor &c, const QColor &knobFill);
void help(QPainter &p, const QRectF &box, const QColor &c);
void power(QPainter &p, const QRectF &box, const QColor &c);
void convert(QPainter &p, const QRectF &box, const QColor &c);
void folder(QPainter &p, const QRectF &box, const QColor &c);
void envelope(QPainter &p, const QRectF &box, const QColor &c);
void clock(QPainter &p, const QRectF &box, const QColor &c);
void info(QPainter &p, const QRectF &box, const QColor &c);

// Small glyphs centred in `r`.
void cross(QPainter &p, const QRectF &r, qreal arm, qreal width, const QColor &c);
void minus(QPainter &p, const QRectF &r, qreal arm, qreal width, const QColor &c);
void question(QPainter &p, const QRectF &r, const QColor &c, bool ring);
void chevronDown(QPainter &p, const QRectF &r, qreal arm, qreal width, const QColor &c);

// Application marks.
void waveBars(QPainter &p, const QRectF &r, int bars, const QBrush &brush, qreal gapRatio = 0.6);
void filmPlay(QPainter &p, const QRectF &r, const QColor &c);

} // namespace skin::icons
