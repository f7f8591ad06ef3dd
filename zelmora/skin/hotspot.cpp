#include "skin/hotspot.h"

#include "skin/skin.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace zm {

namespace {

// What screen readers see of a hot spot: its name and role, and a press (or "show menu" for
// one that opens a menu or a list) that clicks it.
class HotSpotAccessible final : public QAccessibleWidget
{
public:
    explicit HotSpotAccessible(HotSpot *spot) : QAccessibleWidget(spot, spot->accessibleRole()) {}

    HotSpot *spot() const { return static_cast<HotSpot *>(widget()); }
    QAccessible::Role role() const override { return spot()->accessibleRole(); }

    QString text(QAccessible::Text t) const override
    {
        switch (t) {
        case QAccessible::Name:
            return spot()->spokenName();
        case QAccessible::Description: {
            QString said = spot()->accessibleDescription();
            if (!said.isEmpty())
                return said;
            const QString tip = spot()->toolTip();
            return tip == spot()->spokenName() ? QString() : tip;
        }
        default:
            return QAccessibleWidget::text(t);
        }
    }

    QString activation() const
    {
        const QAccessible::Role r = role();
        return r == QAccessible::ButtonMenu || r == QAccessible::ButtonDropDown ? showMenuAction() : pressAction();
    }
    QStringList actionNames() const override { return QStringList{activation()} + QAccessibleWidget::actionNames(); }
    void doAction(const QString &action) override
    {
        if (action == activation())
            spot()->activate();
        else
            QAccessibleWidget::doAction(action);
    }
};

QAccessibleInterface *hotSpotInterface(const QString &className, QObject *object)
{
    if (className == QLatin1String("zm::HotSpot"))
        if (auto *spot = qobject_cast<HotSpot *>(object))
            return new HotSpotAccessible(spot);
    return nullptr;
}

} // namespace

HotSpot::HotSpot(QWidget *parent, const QRect &geometry, const QString &toolTip) : QLabel(parent)
{
    static const bool factory = [] {
        QAccessible::installFactory(hotSpotInterface);
        return true;
    }();
    (void)factory;
    setGeometry(geometry);
    setScaledContents(true);
    setMouseTracking(true);
    setAttribute(Qt::WA_TranslucentBackground);
    // Tab reaches it (a click does not take the focus); the window's focus mark shows where.
    setFocusPolicy(Qt::TabFocus);
    if (!toolTip.isEmpty())
        setToolTip(toolTip);
}

QString HotSpot::spokenName() const
{
    if (!accessibleName().isEmpty())
        return accessibleName();
    return text().isEmpty() ? toolTip() : text();
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

void HotSpot::activate()
{
    if (!isEnabled())
        return;
    m_byKeyboard = true;
    emit clicked();
    m_byKeyboard = false;
}

void HotSpot::paintEvent(QPaintEvent *event)
{
    if (text().isEmpty()) {
        QLabel::paintEvent(event);
        return;
    }
    // A caption is drawn as a plain label draws it: QLabel lays out the text of a label that
    // takes the focus through a text control, which ignores the alignment.
    QPainter painter(this);
    QStyleOption option;
    option.initFrom(this);
    const int m = margin();
    const int flags = int(QStyle::visualAlignment(layoutDirection(), alignment()))
                      | (layoutDirection() == Qt::LeftToRight ? Qt::TextForceLeftToRight : Qt::TextForceRightToLeft);
    style()->drawItemText(&painter, contentsRect().adjusted(m, m, -m, -m), flags, option.palette, isEnabled(), text(),
                          foregroundRole());
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

void HotSpot::keyPressEvent(QKeyEvent *event)
{
    if (isEnterKey(event) || (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier)) {
        event->accept();
        if (!event->isAutoRepeat())
            activate();
        return;
    }
    QLabel::keyPressEvent(event);
}

} // namespace zm
