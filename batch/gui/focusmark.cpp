#include "gui/focusmark.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>

namespace batch {

FocusMark::FocusMark(QWidget *window, const Style &style) : QWidget(window), m_window(window), m_style(style)
{
    setObjectName(QStringLiteral("focusMark"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
    hide();
    qApp->installEventFilter(this);
    connect(qApp, &QApplication::focusChanged, this, &FocusMark::follow);
}

FocusMark::~FocusMark()
{
    qApp->removeEventFilter(this);
}

QWidget *FocusMark::controlOf(QWidget *focus) const
{
    QWidget *control = focus;
    while (control && control->parentWidget() != m_window)
        control = control->parentWidget();
    return control == this ? nullptr : control;
}

bool FocusMark::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress: {
        auto *widget = qobject_cast<QWidget *>(watched);
        if (widget && widget->window() == m_window) {
            const bool keyboard = event->type() == QEvent::KeyPress;
            if (keyboard != m_keyboard) {
                m_keyboard = keyboard;
                follow();
            }
        }
        break;
    }
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
        // The control moved (the status strip lays itself out anew) or went.
        if (m_target && watched == m_target.data())
            follow();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void FocusMark::follow()
{
    QWidget *focus = QApplication::focusWidget();
    QWidget *control = focus && focus->window() == m_window ? controlOf(focus) : nullptr;
    if (!m_keyboard || !control || !control->isVisible()) {
        m_target = nullptr;
        hide();
        return;
    }
    m_target = control;
    const int out = m_style.margin + m_style.width;
    setGeometry(control->geometry().adjusted(-out, -out, out, out));
    raise();
    show();
    update();
}

void FocusMark::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal half = m_style.width / 2.0;
    const QRectF ring = QRectF(rect()).adjusted(half, half, -half, -half);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(m_style.colour, m_style.width));
    painter.drawRoundedRect(ring, 4, 4);
    painter.setPen(QPen(Qt::white, 1));
    painter.drawRoundedRect(ring.adjusted(half + 0.5, half + 0.5, -half - 0.5, -half - 0.5), 3, 3);
}

} // namespace batch
