#pragma once
#include <QColor>
#include <QPointer>
#include <QWidget>

namespace zm {

// The keyboard focus mark of a skinned window: a rounded ring in the skin's violet with a white
// inner line, so that it shows on the white panels and on the dark title and button bars
// alike, around the control that has the focus. It appears once the keyboard is used in the
// window and goes at a mouse press, so the window looks as drawn to someone using the mouse. It
// lies over the controls and lets every mouse event through.
class FocusMark final : public QWidget
{
    Q_OBJECT
public:
    // Follows the focus among the children of `window`, on which it lies.
    explicit FocusMark(QWidget *window);
    ~FocusMark() override;

    // The control around which the mark is shown; null while it is hidden.
    QWidget *target() const { return isVisibleTo(parentWidget()) ? m_target.data() : nullptr; }

    // Gap between a control and the ring, and the ring's width.
    static constexpr int kMargin = 2;
    static constexpr int kWidth = 2;
    static const QColor kColour;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void follow();
    // The child of the window that holds `focus` (a combo box's own children count as it).
    QWidget *controlOf(QWidget *focus) const;

    QWidget *m_window;
    QPointer<QWidget> m_target;
    bool m_keyboard = false;
};

} // namespace zm
