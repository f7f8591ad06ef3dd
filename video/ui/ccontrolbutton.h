#pragma once

#include <QImage>
#include <QPushButton>
#include <QRect>
#include <QTimer>

namespace vidrune {

// A push button painted entirely from bitmaps: the normal image, the hover image while the
// mouse rests on it, and the pressed image while it is held down. With a mask, each image is
// combined over the piece of the owner's background that lies behind the button (mask black
// where the image shows, white where the background shows), so the button can have any shape.
class CControlButton final : public QPushButton
{
    Q_OBJECT
public:
    explicit CControlButton(const QString &text, QWidget *parent = nullptr);

    // Bitmap resource ids, in the order hover, normal, pressed, fourth.
    void LoadImages(int hover, int normal, int pressed, int fourth);
    void SetImages(QImage hover, QImage normal, QImage pressed, QImage fourth);
    // Background picture and mask by resource id; the button's rectangle in the owner's
    // client coordinates picks the piece of the background behind it.
    void SetBackground(int background, int mask);
    void SetBackground(QImage background, QImage mask);

    // The picture of the button in its current state (what paintEvent draws).
    QImage Render() const;

    // Hover tracking: a move asks for hover and leave notices once; the hover notice comes
    // when the mouse has rested for HoverTimeMs.
    void OnMouseMove();
    void OnMouseHover();
    void OnMouseLeave();

    bool Hovering() const { return hovering; }
    bool Tracking() const { return tracking; }
    bool UsesMask() const { return useMask; }
    QRect BackgroundRect() const { return backgroundRect; }

    static constexpr int HoverTimeMs = 1;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void DrawItem(QImage &target, bool pressed) const;

    bool hovering = false;
    bool tracking = false;
    QImage normalImage;
    QImage pressedImage;
    QImage fourthImage; // loaded, never drawn
    QImage hoverImage;
    QImage maskImage;
    QImage backgroundImage;
    bool useMask = false;
    bool useBackground = false;
    QRect backgroundRect;
    QTimer m_hoverTimer;
};

} // namespace vidrune
