#include "ui/ccontrolbutton.h"

#include <QMouseEvent>
#include <QPainter>

namespace vidrune {

namespace {

QImage Load(int id)
{
    // Pixel operations work on the picture's own pixels, at its own size.
    QImage image(QStringLiteral(":/video/bmp%1.png").arg(id));
    return image.isNull() ? image : image.convertToFormat(QImage::Format_RGB32);
}

QImage Opaque(QImage image)
{
    return image.isNull() ? image : std::move(image).convertToFormat(QImage::Format_RGB32);
}

} // namespace

CControlButton::CControlButton(const QString &text, QWidget *parent) : QPushButton(text, parent)
{
    setMouseTracking(true);
    // Reached by Tab when shown; the owner's FocusMark shows where the focus is.
    setFocusPolicy(Qt::TabFocus);
    m_hoverTimer.setSingleShot(true);
    m_hoverTimer.setInterval(HoverTimeMs);
    connect(&m_hoverTimer, &QTimer::timeout, this, &CControlButton::OnMouseHover);
}

void CControlButton::LoadImages(int hover, int normal, int pressed, int fourth)
{
    SetImages(Load(hover), Load(normal), Load(pressed), Load(fourth));
}

void CControlButton::SetImages(QImage hover, QImage normal, QImage pressed, QImage fourth)
{
    hoverImage = Opaque(std::move(hover));
    normalImage = Opaque(std::move(normal));
    pressedImage = Opaque(std::move(pressed));
    fourthImage = Opaque(std::move(fourth));
    update();
}

void CControlButton::SetBackground(int background, int mask)
{
    SetBackground(Load(background), Load(mask));
}

void CControlButton::SetBackground(QImage background, QImage mask)
{
    backgroundImage = Opaque(std::move(background));
    useBackground = true;
    maskImage = Opaque(std::move(mask));
    useMask = true;
    // The button's rectangle in the owner's client coordinates.
    backgroundRect = geometry();
    update();
}

void CControlButton::DrawItem(QImage &target, bool pressed) const
{
    const QImage &base = pressed ? pressedImage : (hovering ? hoverImage : normalImage);
    QPainter painter(&target);
    if (useMask) {
        if (useBackground && !backgroundImage.isNull()) {
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.drawImage(QPoint(0, 0), backgroundImage,
                              QRect(backgroundRect.topLeft(), target.size()));
        }
        // MERGEPAINT: inverted source OR destination.
        painter.setCompositionMode(QPainter::RasterOp_NotSourceOrDestination);
        painter.drawImage(QPoint(0, 0), maskImage);
        // SRCAND: source AND destination.
        painter.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
        painter.drawImage(QPoint(0, 0), base);
    } else {
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(QPoint(0, 0), base);
    }
}

QImage CControlButton::Render() const
{
    QImage image(size(), QImage::Format_RGB32);
    image.fill(palette().color(QPalette::Button));
    DrawItem(image, false);
    if (isDown())
        DrawItem(image, true); // the pressed image over the base image
    return image;
}

void CControlButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), Render());
}

void CControlButton::OnMouseMove()
{
    if (!tracking) {
        tracking = true; // leave and hover notices requested
        m_hoverTimer.start();
    } else if (m_hoverTimer.isActive()) {
        m_hoverTimer.start(); // the mouse has not rested yet
    }
}

void CControlButton::OnMouseHover()
{
    hovering = true;
    update();
}

void CControlButton::OnMouseLeave()
{
    m_hoverTimer.stop();
    hovering = false;
    tracking = false;
    update();
}

void CControlButton::mouseMoveEvent(QMouseEvent *event)
{
    if (rect().contains(event->position().toPoint()))
        OnMouseMove();
    QPushButton::mouseMoveEvent(event);
}

void CControlButton::leaveEvent(QEvent *event)
{
    OnMouseLeave();
    QPushButton::leaveEvent(event);
}

} // namespace vidrune
