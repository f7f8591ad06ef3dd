#pragma once

#include <QPointer>
#include <QWidget>

namespace vidrune {

// The keyboard focus mark of a skinned dialog: a rounded ring in the skin's accent colour, with
// a white inner line so it also shows on the blue title band, drawn around the control that
// has the focus. It appears once the keyboard is used in the window and goes on a mouse press,
// so the dialog looks as drawn to someone using the mouse. The mark lies over the controls
// and lets every mouse event through.
class FocusMark final : public QWidget
{
    Q_OBJECT
public:
    // Follows the focus among the children of `window`, on which it lies.
    explicit FocusMark(QWidget *window);
    ~FocusMark() override;

    // The control around which the mark is shown; null while it is hidden.
    QWidget *Target() const { return isVisibleTo(parentWidget()) ? m_target.data() : nullptr; }

    // Gap between a control and the ring, and the ring's width.
    static constexpr int Margin = 3;
    static constexpr int Width = 2;
    static const QColor Accent;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void Follow();
    // The child of the window that holds `focus` (a combo box's own children count as it).
    QWidget *ControlOf(QWidget *focus) const;

    QWidget *m_window;
    QPointer<QWidget> m_target;
    bool m_keyboard = false;
};

} // namespace vidrune
