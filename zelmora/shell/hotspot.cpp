#include "hotspot.h"

#include <QMouseEvent>

namespace zm {

HotSpot::HotSpot(QWidget *parent, const QRect &geometry, const QString &toolTip) : QLabel(parent)
{
    setGeometry(geometry);
    setScaledContents(true);
    setMouseTracking(true);
    setAttribute(Qt::WA_TranslucentBackground);
    if (!toolTip.isEmpty())
        setToolTip(toolTip);
}

void HotSpot::setPicture(const QPixmap &picture)
{
    if (picture.isNull()) {
        clearPicture();
        return;
    }
    setPixmap(picture);
    m_hasPicture = true;
}

void HotSpot::clearPicture()
{
    if (!m_hasPicture)
        return;
    clear();
    m_hasPicture = false;
}

void HotSpot::mouseMoveEvent(QMouseEvent *event)
{
    emit hovered();
    event->accept();
}

void HotSpot::enterEvent(QEnterEvent *event)
{
    // Qt still delivers the entering of a disabled widget; a locked hot spot stays plain.
    if (isEnabled())
        emit hovered();
    QLabel::enterEvent(event);
}

void HotSpot::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit pressed();
    event->accept();
}

void HotSpot::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

} // namespace zm
