#pragma once
#include <QLabel>

namespace zm {

// A clickable picture over a skinned window's background. It shows no picture in its normal
// state (the background beneath shows through) unless the owner gives it one; the owner sets
// the hover and press pictures in answer to hovered() and pressed(). clicked() follows a
// release over the control.
class HotSpot final : public QLabel {
    Q_OBJECT
public:
    HotSpot(QWidget *parent, const QRect &geometry, const QString &toolTip = QString());

    void setPicture(const QPixmap &picture);
    void clearPicture();
    bool hasPicture() const { return m_hasPicture; }

signals:
    void hovered();
    void pressed();
    void clicked();

protected:
    void mouseMoveEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    bool m_hasPicture = false;
};

} // namespace zm
