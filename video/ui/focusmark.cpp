#include "ui/focusmark.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QPainterPath>

namespace vidrune {

const QColor FocusMark::Accent(0x1f, 0x6f, 0xeb);

FocusMark::FocusMark(QWidget *window) : QWidget(window), m_window(window)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
    hide();
    qApp->installEventFilter(this);
    connect(qApp, &QApplication::focusChanged, this, &FocusMark::Follow);
}

FocusMark::~FocusMark()
{
    qApp->removeEventFilter(this);
}

QWidget *FocusMark::ControlOf(QWidget *focus) const
{
    QWidget *control = focus;
    while (control && control->parentWidget() != m_window)
        control = control->parentWidget();
    return control == this ? nullptr : control;
}

bool FocusMark::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::KeyPress || type == QEvent::MouseButtonPress) {
        auto *widget = qobject_cast<QWidget *>(watched);
        if (widget && widget->window() == m_window) {
            const bool keyboard = type == QEvent::KeyPress;
            if (keyboard != m_keyboard) {
                m_keyboard = keyboard;
                Follow();
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FocusMark::Follow()
{
    QWidget *focus = QApplication::focusWidget();
    QWidget *control = focus && focus->window() == m_window ? ControlOf(focus) : nullptr;
    if (!m_keyboard || !control || !control->isVisible()) {
        m_target = nullptr;
        hide();
        return;
    }
    m_target = control;
    const int out = Margin + Width;
    setGeometry(control->geometry().adjusted(-out, -out, out, out));
    raise();
    show();
    update();
}

void FocusMark::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF ring =
        QRectF(rect()).adjusted(Width / 2.0, Width / 2.0, -Width / 2.0, -Width / 2.0);
    painter.setPen(QPen(Accent, Width));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(ring, 4, 4);
    painter.setPen(QPen(Qt::white, 1));
    painter.drawRoundedRect(
        ring.adjusted(Width / 2.0 + 0.5, Width / 2.0 + 0.5, -Width / 2.0 - 0.5, -Width / 2.0 - 0.5),
        3, 3);
}

} // namespace vidrune
