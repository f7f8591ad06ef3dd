// The small marks of the audio extractor's skin: the pointer, the badges of the format list and
// the check mark of the popup menus.
#include "zelmora_marks.h"

#include "canvas.h"
#include "icons.h"
#include "zelmora_palette.h"

#include <QPainterPath>

namespace skin::zelmora {

void paintCursor(QPainter &p)
{
    // A pointing hand; the tip of the index finger is the hot spot (12, 2).
    QPainterPath hand;
    hand.setFillRule(Qt::WindingFill);
    hand.addRoundedRect(QRectF(9.5, 1.5, 5, 17), 2.5, 2.5);
    hand.addRoundedRect(QRectF(14.5, 10.5, 4.5, 10), 2.25, 2.25);
    hand.addRoundedRect(QRectF(19, 11.5, 4.5, 9), 2.25, 2.25);
    hand.addRoundedRect(QRectF(23.5, 13, 4, 8), 2, 2);
    hand.addRoundedRect(QRectF(9.5, 15, 18, 14.5), 5, 5);
    QPainterPath thumb;
    thumb.addRoundedRect(QRectF(-2.5, -6.5, 5, 13), 2.5, 2.5);
    QTransform t;
    t.translate(7.6, 20.5);
    t.rotate(-38);
    hand.addPath(t.map(thumb));
    const QPainterPath outline = hand.simplified();
    p.setPen(QPen(Qt::black, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::white);
    p.drawPath(outline);
    p.setPen(QPen(Qt::black, 1.1, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(14.5, 14.5), QPointF(14.5, 18.5));
    p.drawLine(QPointF(19, 14.5), QPointF(19, 18.5));
    p.drawLine(QPointF(23.5, 15.5), QPointF(23.5, 18.5));
}

// The badge beside an entry of the format list (16 x 16): a rounded tile whose colour tells
// the kind of format, with a white mark. Lossy formats get the accent and a note, lossless ones
// green and a sound wave, the speech codec amber and a speech bubble.
void paintFormatBadge(QPainter &p, FormatKind kind)
{
    const QRect r(0, 0, 16, 16);
    QColor light, dark;
    switch (kind) {
    case FormatKind::Lossy:
        light = QColor(0x9a, 0x8c, 0xff), dark = kAccentDark;
        break;
    case FormatKind::Lossless:
        light = QColor(0x4c, 0xd3, 0xa0), dark = QColor(0x16, 0x8f, 0x62);
        break;
    case FormatKind::Speech:
        light = QColor(0xf7, 0xc0, 0x5c), dark = QColor(0xd5, 0x86, 0x16);
        break;
    }
    QLinearGradient g(r.topLeft(), r.bottomRight());
    g.setColorAt(0, light);
    g.setColorAt(1, dark);
    fillRound(p, r.adjusted(1, 1, -1, -1), 3.5, g);
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    switch (kind) {
    case FormatKind::Lossy: {
        // A quaver: a tilted head, its stem and a flag.
        p.save();
        p.translate(6.1, 11.2);
        p.rotate(-20);
        p.drawEllipse(QRectF(-2.3, -1.7, 4.6, 3.4));
        p.restore();
        p.setPen(QPen(Qt::white, 1.3, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        QPainterPath flag(QPointF(7.9, 11.0));
        flag.lineTo(7.9, 3.6);
        flag.cubicTo(QPointF(8.6, 5.6), QPointF(11.6, 5.6), QPointF(11.0, 8.6));
        p.drawPath(flag);
        break;
    }
    case FormatKind::Lossless:
        icons::waveBars(p, QRectF(3.5, 4, 9, 8), 4, Qt::white, 0.8);
        break;
    case FormatKind::Speech: {
        QPainterPath bubble;
        bubble.addRoundedRect(QRectF(3.5, 3.8, 9, 6.6), 2.2, 2.2);
        QPainterPath tail(QPointF(5.4, 9.6));
        tail.lineTo(5.0, 12.6);
        tail.lineTo(8.2, 9.6);
        tail.closeSubpath();
        p.drawPath(bubble.united(tail));
        break;
    }
    }
    p.restore();
}

// The mark of the checked item of a popup menu (16 x 16, see-through around it).
void paintCheck(QPainter &p)
{
    p.setPen(QPen(kAccentDark, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath tick(QPointF(3.8, 8.4));
    tick.lineTo(6.8, 11.4);
    tick.lineTo(12.2, 4.9);
    p.drawPath(tick);
}

} // namespace skin::zelmora
