#pragma once
#include <QColor>
#include <QPointer>
#include <QWidget>

namespace batch {

// The keyboard focus mark of a skinned window: a rounded ring in the skin's colour with a white
// inner line, so that it shows on light panels and on dark or blue bars alike, around the
// control that has the focus. It appears once the keyboard is used in the window and goes at a
// mouse press, so the window looks as drawn to someone using the mouse. It lies over the
// controls, lets every mouse event through, and follows its control when that moves or goes.
class FocusMark : public QWidget
{
    Q_OBJECT
public:
    // How the ring looks in one program's windows.
    struct Style {
        QColor colour; // of the ring
        int margin;    // gap between a control and the ring
        int width;     // of the ring
    };

    // Follows the focus among the children of `window`, on which it lies.
    FocusMark(QWidget *window, const Style &style);
    ~FocusMark() override;

    // The control around which the mark is shown; null while it is hidden.
    QWidget *target() const { return isVisibleTo(parentWidget()) ? m_target.data() : nullptr; }
    const Style &style() const { return m_style; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void follow();
    // The child of the window that holds `focus` (a combo box's own children count as it).
    QWidget *controlOf(QWidget *focus) const;

    QWidget *m_window;
    Style m_style;
    QPointer<QWidget> m_target;
    bool m_keyboard = false;
};

} // namespace batch
