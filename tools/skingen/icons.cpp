#include "icons.h"

#include "canvas.h"

#include <QPainterPath>

#include <cmath>

namespace skin::icons {
namespace {

// Maps the 24-unit grid onto `box` for the lifetime of the object.
class Grid
{
public:
    Grid(QPainter &p, const QRectF &box) : m_p(p)
    {
        m_p.save();
        m_p.translate(box.topLeft());
        m_p.scale(box.width() / 24.0, box.height() / 24.0);
    }
    ~Grid() { m_p.restore(); }

private:
    QPainter &m_p;
};

QPen line(const QColor &c, qreal w = 1.8)
{
    return QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void plusBadge(QPainter &p, QPointF centre, const QColor &badge)
{
    p.setPen(Qt::NoPen);
    p.setBrush(badge);
    p.drawEllipse(centre, 5.4, 5.4);
    p.setPen(line(Qt::white, 1.7));
    p.drawLine(centre + QPointF(-2.6, 0), centre + QPointF(2.6, 0));
    p.drawLine(centre + QPointF(0, -2.6), centre + QPointF(0, 2.6));
}

} // namespace

void addFile(QPainter &p, const QRectF &box, const QColor &c, const QColor &badge)
{
    Grid g(p, box);
    QPainterPath page;
    page.moveTo(14, 2.5);
    page.lineTo(5.5, 2.5);
    page.quadTo(4, 2.5, 4, 4);
    page.lineTo(4, 20);
    page.quadTo(4, 21.5, 5.5, 21.5);
    page.lineTo(12, 21.5);
    page.moveTo(14, 2.5);
    page.lineTo(19.5, 8);
    page.lineTo(19.5, 11.5);
    p.setBrush(Qt::NoBrush);
    p.setPen(line(c));
    p.drawPath(page);
    QPainterPath fold;
    fold.moveTo(14, 2.5);
    fold.lineTo(14, 8);
    fold.lineTo(19.5, 8);
    p.drawPath(fold);
    p.drawLine(QPointF(7.5, 12), QPointF(12.5, 12));
    p.drawLine(QPointF(7.5, 16), QPointF(10.5, 16));
    plusBadge(p, QPointF(17.5, 17.5), badge);
}

void addFolder(QPainter &p, const QRectF &box, const QColor &c, const QColor &badge)
{
    Grid g(p, box);
    QPainterPath f;
    f.moveTo(12, 19.5);
    f.lineTo(4, 19.5);
    f.quadTo(2.5, 19.5, 2.5, 18);
    f.lineTo(2.5, 5.5);
    f.quadTo(2.5, 4, 4, 4);
    f.lineTo(8.8, 4);
    f.lineTo(11, 6.5);
    f.lineTo(19.5, 6.5);
    f.quadTo(21, 6.5, 21, 8);
    f.lineTo(21, 11.5);
    p.setBrush(Qt::NoBrush);
    p.setPen(line(c));
    p.drawPath(f);
    p.drawLine(QPointF(2.5, 9.5), QPointF(14, 9.5));
    plusBadge(p, QPointF(17.5, 17.5), badge);
}

void trash(QPainter &p, const QRectF &box, const QColor &c)
{
    Grid g(p, box);
    p.setBrush(Qt::NoBrush);
    p.setPen(line(c));
    p.drawLine(QPointF(3.5, 6), QPointF(20.5, 6));
    QPainterPath lid;
    lid.moveTo(9, 6);
    lid.lineTo(9, 3.8);
    lid.quadTo(9, 2.8, 10, 2.8);
    lid.lineTo(14, 2.8);
    lid.quadTo(15, 2.8, 15, 3.8);
    lid.lineTo(15, 6);
    p.drawPath(lid);
    QPainterPath can;
    can.moveTo(5.5, 6);
    can.lineTo(6.6, 19.8);
    can.quadTo(6.8, 21.3, 8.3, 21.3);
    can.lineTo(15.7, 21.3);
    can.quadTo(17.2, 21.3, 17.4, 19.8);
    can.lineTo(18.5, 6);
    p.drawPath(can);
    p.drawLine(QPointF(10, 10), QPointF(10, 17));
    p.drawLine(QPointF(14, 10), QPointF(14, 17));
}

void sliders(QPainter &p, const QRectF &box, const QColor &c, const QColor &knobFill)
{
    Grid g(p, box);
    p.setPen(line(c));
    const qreal ys[3] = {5.5, 12, 18.5};
    const qreal ks[3] = {15.5, 8, 13.5};
    for (int i = 0; i < 3; ++i) {
        p.setBrush(Qt::NoBrush);
        p.drawLine(QPointF(3, ys[i]), QPointF(ks[i] - 2.6, ys[i]));
        p.drawLine(QPointF(ks[i] + 2.6, ys[i]), QPointF(21, ys[i]));
        p.setBrush(knobFill);
        p.drawEllipse(QPointF(ks[i], ys[i]), 2.6, 2.6);
    }
}

void help(QPainter &p, const QRectF &box, const QColor &c)
{
    Grid g(p, box);
    p.setBrush(Qt::NoBrush);
    p.setPen(line(c));
    p.drawEllipse(QPointF(12, 12), 9.3, 9.3);
    QPainterPath q;
    q.moveTo(9.2, 9.4);
    q.cubicTo(9.2, 6.2, 14.8, 6.0, 14.8, 9.3);
    q.cubicTo(14.8, 11.6, 12, 11.6, 12, 14.0);
    p.drawPath(q);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(QPointF(12, 17.3), 1.25, 1.25);
}

void power(QPainter &p, const QRectF &box, const QColor &c)
{
    Grid g(p, box);
    p.setBrush(Qt::NoBrush);
    p.setPen(line(c));
    QRectF arc(3.5, 4.5, 17, 17);
    p.drawArc(arc, 55 * 16, -290 * 16); // open at the top
    p.drawLine(QPointF(12, 2.5), QPointF(12, 11.5));
}

void convert(QPainter &p, const QRectF &box, const QColor &c)
{
    Grid g(p, box);
    p.setBrush(Qt::NoBrush);
    p.setPen(line(c, 2.0));
    // Two curved arrows chasing each other round a circle.
    const QRectF arc(4, 4, 16, 16);
    p.drawArc(arc, 205 * 16, -135 * 16);
    p.drawArc(arc, 25 * 16, -135 * 16);
    auto head = [&](qreal angleDeg) {
        const qreal a = angleDeg * M_PI / 180.0;
        const QPointF at(12 + 8 * std::cos(a), 12 - 8 * std::sin(a));
        const QPointF t(std::sin(a), std::cos(a)); // clockwise direction
        const QPointF n(-t.y(), t.x());
        QPainterPath h;
        h.moveTo(at + t * 3.2);
        h.lineTo(at - t * 1.0 + n * 3.1);
        h.lineTo(at - t * 1.0 - n * 3.1);
        h.closeSubpath();
        p.save();
        p.setPen(QPen(c, 0.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(c);
        p.drawPath(h);
        p.restore();
    };
    head(70);
    head(250);
}

void folder(QPainter &p, const QRectF &box, const QColor &c)
{
    Grid g(p, box);
    QPainterPath f;
    f.moveTo(2.5, 18);
    f.lineTo(2.5, 5.5);
    f.quadTo(2.5, 4, 4, 4);
    f.lineTo(8.8, 4);
    f.lineTo(11, 6.5);
    f.lineTo(19.5, 6.5);
    f.quadTo(21, 6.5, 21, 8);
    f.lineTo(21, 18);
    f.quadTo(21, 19.5, 19.5, 19.5);
    f.lineTo(4, 19.5);
    f.quadTo(2.5, 19.5, 2.5, 18);
    p.setBrush(Qt::NoBrush);
    p.setPen(line(c, 2.0));
    p.drawPath(f);
    p.drawLine(QPointF(2.5, 9.5), QPointF(21, 9.5));
}

void envelope(QPainter &p, const QRectF &box, const QColor &c)
{
    Grid g(p, box);
    p.setBrush(Qt::NoBrush);
    p.setPen(line(c));
    p.drawRoundedRect(QRectF(2.5, 5, 19, 14), 2, 2);
    QPainterPath v;
    v.moveTo(3.5, 6.5);
    v.lineTo(12, 13);
    v.lineTo(20.5, 6.5);
    p.drawPath(v);
}

void clock(QPainter &p, const QRectF &box, const QColor &c)
{
    Grid g(p, box);
    p.setBrush(Qt::NoBrush);
    p.setPen(line(c));
    p.drawEllipse(QPointF(12, 12), 9, 9);
    QPainterPath h;
    h.moveTo(12, 6.5);
    h.lineTo(12, 12);
    h.lineTo(15.5, 14.5);
    p.drawPath(h);
}

void info(QPainter &p, const QRectF &box, const QColor &c)
{
    Grid g(p, box);
    p.setBrush(Qt::NoBrush);
    p.setPen(line(c, 2.0));
    p.drawEllipse(QPointF(12, 12), 9.5, 9.5);
    p.drawLine(QPointF(12, 11), QPointF(12, 17));
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(QPointF(12, 7.4), 1.4, 1.4);
}

void cross(QPainter &p, const QRectF &r, qreal arm, qreal width, const QColor &c)
{
    p.save();
    p.setPen(QPen(c, width, Qt::SolidLine, Qt::RoundCap));
    const QPointF m = r.center();
    p.drawLine(m + QPointF(-arm, -arm), m + QPointF(arm, arm));
    p.drawLine(m + QPointF(-arm, arm), m + QPointF(arm, -arm));
    p.restore();
}

void minus(QPainter &p, const QRectF &r, qreal arm, qreal width, const QColor &c)
{
    p.save();
    const QPointF m = r.center();
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawRoundedRect(QRectF(m.x() - arm, m.y() - width / 2, 2 * arm, width), width / 2, width / 2);
    p.restore();
}

void question(QPainter &p, const QRectF &r, const QColor &c, bool ring)
{
    p.save();
    const QPointF m = r.center();
    const qreal s = r.width() / 15.0; // designed for a 15-px box
    if (ring) {
        p.setPen(QPen(c, 1.3 * s));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(m, 6.3 * s, 6.3 * s);
    }
    p.setPen(QPen(c, 1.5 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath q;
    q.moveTo(m + QPointF(-2.1, -1.6) * s);
    q.cubicTo(m + QPointF(-2.1, -4.4) * s, m + QPointF(2.4, -4.4) * s, m + QPointF(2.3, -1.7) * s);
    q.cubicTo(m + QPointF(2.2, 0.1) * s, m + QPointF(0, 0.1) * s, m + QPointF(0, 1.6) * s);
    p.setBrush(Qt::NoBrush);
    p.drawPath(q);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(m + QPointF(0, 3.6) * s, 0.95 * s, 0.95 * s);
    p.restore();
}

void chevronDown(QPainter &p, const QRectF &r, qreal arm, qreal width, const QColor &c)
{
    p.save();
    p.setPen(QPen(c, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    const QPointF m = r.center() + QPointF(0, arm * 0.25);
    QPainterPath v;
    v.moveTo(m + QPointF(-arm, -arm / 2));
    v.lineTo(m + QPointF(0, arm / 2));
    v.lineTo(m + QPointF(arm, -arm / 2));
    p.drawPath(v);
    p.restore();
}

void waveBars(QPainter &p, const QRectF &r, int bars, const QBrush &brush, qreal gapRatio)
{
    // Heights follow a smooth, slightly irregular envelope so the mark reads
    // as a sound wave rather than a bar chart.
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(brush);
    const qreal step = r.width() / bars;
    const qreal w = step * (1.0 - gapRatio * 0.5);
    for (int i = 0; i < bars; ++i) {
        const qreal t = (i + 0.5) / bars;
        const qreal env = std::sin(t * M_PI);
        const qreal wobble = 0.55 + 0.45 * std::fabs(std::sin(i * 1.7 + 0.6));
        const qreal h = std::max(w, r.height() * env * wobble);
        const qreal x = r.left() + i * step + (step - w) / 2;
        p.drawRoundedRect(QRectF(x, r.center().y() - h / 2, w, h), w / 2, w / 2);
    }
    p.restore();
}

void filmPlay(QPainter &p, const QRectF &r, const QColor &c)
{
    // A frame of film with sprocket holes and a play triangle.
    p.save();
    const qreal s = r.width() / 24.0;
    p.translate(r.topLeft());
    p.scale(s, s);
    p.setPen(QPen(c, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(2.5, 4, 19, 16), 2.5, 2.5);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    for (int i = 0; i < 4; ++i) {
        p.drawRoundedRect(QRectF(4.3, 6.2 + i * 3.2, 1.6, 1.6), 0.4, 0.4);
        p.drawRoundedRect(QRectF(18.1, 6.2 + i * 3.2, 1.6, 1.6), 0.4, 0.4);
    }
    QPainterPath tri;
    tri.moveTo(10, 8.5);
    tri.lineTo(15.5, 12);
    tri.lineTo(10, 15.5);
    tri.closeSubpath();
    p.setPen(QPen(c, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(tri);
    p.restore();
}

} // namespace skin::icons
