#include "ui/dg3.h"

#include "ui/ccontrolbutton.h"
#include "ui/dialogunits.h"
#include "gui/focusmark.h"
#include "ui/videosite.h"
#include "ui/videoskin.h"
#include "suite/version.h"

#include <QLabel>
#include <QPainter>
#include <QTimer>

namespace vidrune {

namespace {
constexpr int AboutFontPixels = 11; // "MS Shell Dlg", 8 points, normal weight
}

Dg3::Dg3(QWidget *parent) : QDialog(parent)
{
    // Template 151: title bar, system menu, modal frame.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("关于"));
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setFamilies({QStringLiteral("Noto Sans CJK SC"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(AboutFontPixels);
    font.setWeight(QFont::Normal);
    setFont(font);
    setFixedSize(DialogUnits::AboutWidth, DialogUnits::AboutHeight);
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);
    m_background = VideoSkin::Bitmap(158);

    m_close = new CControlButton(QStringLiteral("关闭"), this);
    m_close->setObjectName(QStringLiteral("c1000"));
    m_close->setGeometry(DialogUnits::Rect(188, 2, 22, 11));
    m_close->SetBackground(137, 143);
    m_close->LoadImages(141, 140, 142, 141);
    m_close->hide(); // the template keeps it hidden; the title bar closes the dialog
    connect(m_close, &QPushButton::clicked, this, &Dg3::OnCloseButton);

    struct Line {
        QString text;
        int x, y, w, h;
    };
    // The package's version in the footer, beside the rights line the bitmap draws.
    const QString version = QStringLiteral("版本 " ZM_PACKAGE_VERSION "（" ZM_PACKAGE_NAME "）");
    for (const Line &l :
         {Line{QStringLiteral("E-mail:"), 40, 46, 61, 8},
          Line{VideoSite::ContactAddress, 40, 55, 81, 8}, Line{version, 92, 111, 90, 8}}) {
        auto *label = new QLabel(l.text, this);
        QRect r = DialogUnits::Rect(l.x, l.y, l.w, l.h);
        r.setHeight(std::max(r.height(), label->fontMetrics().height()));
        label->setGeometry(r);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        if (l.text == VideoSite::ContactAddress) {
            // Tab reaches the address, and it can be selected and copied with the keyboard.
            label->setTextInteractionFlags(Qt::TextSelectableByMouse
                                           | Qt::TextSelectableByKeyboard);
            label->setFocusPolicy(Qt::StrongFocus);
        }
        if (l.text == version)
            label->setObjectName(QStringLiteral("version"));
        OnCtlColor(label);
    }
    new batch::FocusMark(this, VideoSkin::FocusMarkStyle());
}

void Dg3::OnCtlColor(QWidget *control)
{
    // Every label shows the background bitmap through a transparent background, in black.
    control->setAutoFillBackground(false);
    control->setAttribute(Qt::WA_TranslucentBackground);
    QPalette pal = control->palette();
    pal.setColor(QPalette::WindowText, Qt::black);
    control->setPalette(pal);
}

void Dg3::OnCloseButton()
{
    QTimer::singleShot(0, this, &QWidget::close);
}

void Dg3::paintEvent(QPaintEvent *)
{
    OnPaint();
}

void Dg3::OnPaint()
{
    QPainter painter(this);
    if (!m_background.isNull())
        painter.drawPixmap(rect(), m_background);
    else
        painter.fillRect(rect(), QColor(0xee, 0xf2, 0xf8));
}

} // namespace vidrune
