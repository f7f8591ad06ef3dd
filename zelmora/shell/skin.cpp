#include "skin.h"

#include <QApplication>
#include <QBitmap>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <QRegion>
#include <QWidget>

namespace zm {

QPixmap skinPixmap(const QString &name)
{
    const QString base = QStringLiteral(":/skin/") + name;
    const qreal dpr = qApp ? qApp->devicePixelRatio() : 1.0;
    if (dpr > 1.0) {
        QString hi = base;
        const qsizetype dot = hi.lastIndexOf(QLatin1Char('.'));
        hi.insert(dot, QStringLiteral("@2x"));
        QPixmap p;
        if (QFile::exists(hi) && p.load(hi)) {
            p.setDevicePixelRatio(2.0);
            return p;
        }
    }
    QPixmap p;
    if (QFile::exists(base))
        p.load(base);
    return p;
}

QImage skinBackground(const QString &name, QSize size)
{
    QImage img;
    const QString path = QStringLiteral(":/skin/") + name;
    if (QFile::exists(path) && img.load(path))
        return img.convertToFormat(QImage::Format_RGB32);
    // Stand-in: a dark rounded panel on the transparent key colour.
    img = QImage(size, QImage::Format_RGB32);
    img.fill(QColor(255, 0, 255));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(38, 44, 56));
    p.drawRoundedRect(QRect(QPoint(0, 0), size - QSize(2, 4)), 10, 10);
    return img;
}

void ApplySkinColourKey(QWidget *window, const QImage &background1x)
{
    if (!window || background1x.isNull())
        return;
    const QImage clip = background1x.copy(QRect(QPoint(0, 0), window->size()));
    const QBitmap keep = QBitmap::fromImage(clip.createMaskFromColor(qRgb(255, 0, 255), Qt::MaskOutColor));
    window->setMask(QRegion(keep));
}

QCursor skinCursor()
{
    const QPixmap p = skinPixmap(QStringLiteral("cursor.png"));
    if (p.isNull())
        return QCursor(Qt::PointingHandCursor);
    return QCursor(p, 6, 1);
}

QFont skinFont(int pixelSize, bool bold)
{
    QFont f(QStringLiteral("Tahoma"));
    f.setStyleHint(QFont::SansSerif);
    f.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans")});
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

namespace {
const char *const kStyle = R"(
QTreeView#LV { background: #fbfcfe; alternate-background-color: #f1f5fb; border: 1px solid #b9c6d8;
  color: #1d2633; selection-background-color: #3b82d6; selection-color: white; outline: 0; }
QTreeView#LV QHeaderView::section { background: #e3eaf4; color: #27364a; border: 0;
  border-right: 1px solid #c7d2e2; border-bottom: 1px solid #b9c6d8; padding: 2px 6px; font-weight: bold; }
QComboBox[zmBox="true"] { background: #fbfcfe; border: 1px solid #9fb0c7; border-radius: 3px; color: #1d2633;
  padding: 1px 22px 1px 6px; }
QComboBox[zmBox="true"]::drop-down { width: 0; border: 0; }
QComboBox[zmBox="true"]::down-arrow { image: none; }
QComboBox[zmBox="true"] QAbstractItemView { background: white; selection-background-color: #3b82d6;
  selection-color: white; border: 1px solid #9fb0c7; }
QLineEdit[zmBox="true"] { background: #fbfcfe; border: 1px solid #9fb0c7; border-radius: 3px; color: #1d2633;
  padding: 0 4px; }
QLineEdit[zmBox="true"]:disabled { background: #e7ebf1; color: #8a96a6; }
QCheckBox#chkMC::indicator { width: 13px; height: 13px; }
QCheckBox#chkMC { spacing: 40px; }
QToolTip { background: #fffbe6; color: #1d2633; border: 1px solid #b8a770; }
)";
}

void SkinH_Attach(QApplication *app)
{
    if (app)
        app->setStyleSheet(QString::fromLatin1(kStyle));
}

void SkinH_Detach(QApplication *app)
{
    if (app)
        app->setStyleSheet(QString());
}

} // namespace zm
