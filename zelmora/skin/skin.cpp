#include "skin/skin.h"
#include "gui/screenfit.h"

#include <QApplication>
#include <QBitmap>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QWidget>

// The pictures are compiled into the static library of the windows; a static library's
// resources must be registered by hand before the first use.
static void initSkinResources()
{
#ifdef ZM_HAVE_SKIN
    static const bool done = [] {
        Q_INIT_RESOURCE(zelmora_skin);
        return true;
    }();
    (void)done;
#endif
}

namespace zm {

QPixmap skinPixmap(const QString &name)
{
    initSkinResources();
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
    initSkinResources();
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
    const QBitmap keep = QBitmap::fromImage(clip.createMaskFromColor(qRgb(255, 0, 255), Qt::MaskInColor));
    window->setMask(QRegion(keep));
}

void centreOnScreen(QWidget *window)
{
    if (!window)
        return;
    const QScreen *screen = window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen)
        window->move(batch::placeOn(screen->availableGeometry(), window->size()));
}

void nameForScreenReaders(QWidget *control, const QString &caption)
{
    control->setAccessibleName(caption);
    auto *label = new QLabel(caption, control->parentWidget());
    label->setBuddy(control);
    label->hide(); // the picture shows the caption already
}

bool isEnterKey(const QKeyEvent *event)
{
    return (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
           && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

QIcon programIcon()
{
    initSkinResources();
    QIcon icon;
    const QIcon themed = QIcon::fromTheme(QStringLiteral("net.zelmora.Zelmora"));
    const QImage picture(QStringLiteral(":/skin/icon@2x.png"));
    const QImage fallback = picture.isNull() ? QImage(QStringLiteral(":/skin/icon.png")) : picture;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap = themed.pixmap(QSize(size, size));
        if (pixmap.isNull() || pixmap.width() < size) {
            if (fallback.isNull())
                continue;
            pixmap = QPixmap::fromImage(fallback.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        }
        icon.addPixmap(pixmap);
    }
    return icon;
}

QCursor skinCursor()
{
    const QPixmap p = skinPixmap(QStringLiteral("cursor.png"));
    if (p.isNull())
        return QCursor(Qt::PointingHandCursor);
    return QCursor(p, 12, 2); // hot spot in design pixels
}

QFont skinFont(int pixelSize, bool bold)
{
    QFont f(QStringLiteral("Tahoma"));
    f.setStyleHint(QFont::SansSerif);
    f.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans")});
    f.setHintingPreference(QFont::PreferNoHinting);
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

namespace {
const char *const kStyle = R"(
#frmMain QTreeView#LV { background: #FFFFFF; alternate-background-color: #F6F5FF; border: 0; color: #2B2E44;
  selection-background-color: #6B5BF6; selection-color: white; outline: 0; }
#frmMain QTreeView#LV::item { padding: 1px 2px; }
#frmMain QTreeView#LV QHeaderView::section { background: #ECE9FF; color: #2B2E44; border: 0;
  border-right: 1px solid #CCC4FF; border-bottom: 1px solid #CCC4FF; padding: 2px 6px; font-weight: bold; }
QComboBox[zmBox="true"] { background: transparent; border: 0; color: #2B2E44; padding: 0 24px 0 6px; }
QComboBox[zmBox="true"]:disabled { color: #A4A7BA; }
QComboBox[zmBox="true"]::drop-down { width: 0; border: 0; }
QComboBox[zmBox="true"]::down-arrow { image: none; width: 0; }
QComboBox[zmBox="true"] QAbstractItemView { background: white; color: #2B2E44; border: 1px solid #C3C6D6;
  selection-background-color: #6B5BF6; selection-color: white; outline: 0; }
QLineEdit[zmBox="true"] { background: transparent; border: 0; color: #2B2E44; padding: 0 4px;
  selection-background-color: #6B5BF6; }
QLineEdit[zmBox="true"]:disabled { color: #A4A7BA; }
QCheckBox#chkMC::indicator { width: 13px; height: 13px; }
QCheckBox#chkMC { spacing: 40px; }
QListWidget#failureList::item { padding: 4px 2px; }
QToolTip { background: #2C2F4A; color: #DCDEF2; border: 1px solid #6B5BF6; padding: 2px; }
QMenu { background: #FFFFFF; color: #2B2E44; border: 1px solid #C3C6D6; padding: 3px 0; }
QMenu::item { padding: 4px 22px 4px 16px; }
QMenu::item:selected { background: #ECE9FF; color: #2B2E44; }
QMenu::separator { height: 1px; background: #E2E3EE; margin: 3px 8px; }
QMenu#menuJobs::item { padding: 4px 22px 4px 28px; }
QMenu::indicator { width: 16px; height: 16px; left: 7px; }
QMenu::indicator:checked { image: url(:/skin/menu_check.png); }
)";
}

void SkinH_Attach(QApplication *app)
{
    initSkinResources();
    if (app)
        app->setStyleSheet(QString::fromLatin1(kStyle));
}

void SkinH_Detach(QApplication *app)
{
    if (app)
        app->setStyleSheet(QString());
}

} // namespace zm
