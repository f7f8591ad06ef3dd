#pragma once
#include <QAccessible>
#include <QLabel>

namespace zm {

// A clickable picture over a skinned window's background, or a clickable caption. It shows no
// picture in its normal state (the background beneath shows through) unless the owner gives it
// one; the owner sets the hover and press pictures in answer to hovered() and pressed().
// clicked() follows a release over the control, Enter or Space while it has the keyboard
// focus (Tab reaches it), and a screen reader's press. Screen readers know it by its accessible
// name, else its caption, else its tool tip, in the role it is given (a push button unless
// said otherwise).
class HotSpot final : public QLabel
{
    Q_OBJECT
public:
    HotSpot(QWidget *parent, const QRect &geometry, const QString &toolTip = QString());

    void setPicture(const QPixmap &picture);
    void clearPicture();
    bool hasPicture() const { return m_hasPicture; }

    void setAccessibleRole(QAccessible::Role role) { m_role = role; }
    QAccessible::Role accessibleRole() const { return m_role; }
    // What a screen reader calls it.
    QString spokenName() const;

    // Acts as a click does, when enabled: for the keyboard and screen readers.
    void activate();
    // True while clicked() is being handled for the keyboard or a screen reader, not the mouse
    // (a popup then opens at the control, not at the mouse pointer).
    bool activatedByKeyboard() const { return m_byKeyboard; }

signals:
    void hovered();
    void pressed();
    void clicked();

protected:
    void mouseMoveEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_hasPicture = false;
    bool m_byKeyboard = false;
    QAccessible::Role m_role = QAccessible::PushButton;
};

} // namespace zm
