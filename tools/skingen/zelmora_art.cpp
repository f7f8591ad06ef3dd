#include "zelmora_art.h"

#include "canvas.h"
#include "chime.h"
#include "icons.h"
#include "zelmora_marks.h"
#include "zelmora_palette.h"

#include <QFile>
#include <QFontMetricsF>
#include <QPainterPath>
#include <QtMath>

namespace skin::zelmora {
namespace {

constexpr int kRadius = 8; // window corners

struct MainLook {
    int menuHot = -1;
    int toolHot = -1; // position left to right, 0..5
    bool helpHot = false, minHot = false, exitHot = false;
    int browse = 0; // 0 normal, 1 hover, 2 pressed
    bool convertHot = false;
    bool arrowHot = false;
    int convertMode = 0; // 0 Convert, 1 Stop (a batch runs), 2 Stopping (waiting for the converter)
    bool mp3Only = false; // Bitrate, Sample Rate and Channels drawn disabled
};

struct SmallLook {
    bool primaryHot = false, backHot = false, exitHot = false, arrowHot = false;
};

// Title bar band with the accent hairline along its top edge.
void header(QPainter &p, int width, int height)
{
    p.fillRect(QRect(0, 0, width, height), vgrad(0, height, kHeaderTop, kHeaderBottom));
    QLinearGradient stripe(0, 0, width, 0);
    stripe.setColorAt(0, QColor(0x8f, 0x7c, 0xff));
    stripe.setColorAt(0.55, kAccent);
    stripe.setColorAt(1, QColor(0xc0, 0x6c, 0xf0));
    p.fillRect(QRect(0, 0, width, 3), stripe);
    hline(p, 0, width - 1, height - 1, kHeaderLine);
}

void logoMark(QPainter &p, const QRect &r)
{
    QLinearGradient g(r.topLeft(), r.bottomRight());
    g.setColorAt(0, QColor(0x9a, 0x8c, 0xff));
    g.setColorAt(1, kAccentDark);
    fillRound(p, r, r.width() * 0.26, g);
    icons::waveBars(p,
                    QRectF(r).adjusted(r.width() * 0.2, r.height() * 0.22, -r.width() * 0.2,
                                       -r.height() * 0.22),
                    r.width() < 20 ? 3 : 5, Qt::white, 0.9);
}

void helpGlyph(QPainter &p, const QRect &r, bool hot)
{
    if (hot)
        fillRound(p, r, 3, QColor(255, 255, 255, 46));
    icons::question(p, r, hot ? Qt::white : kGlyph, true);
}

void minGlyph(QPainter &p, const QRect &r, bool hot)
{
    if (hot)
        fillRound(p, r, 3, QColor(255, 255, 255, 46));
    icons::minus(p, QRectF(r).translated(0, 1.5), 4.0, 1.6, hot ? Qt::white : kGlyph);
}

void exitGlyph(QPainter &p, const QRect &r, bool hot)
{
    if (hot)
        fillRound(p, r, 3, kRed);
    icons::cross(p, r, 3.4, 1.6, hot ? Qt::white : kGlyph);
}

// A drop-down frame of height 22 whose arrow cell (19x19) sits one pixel
// below its top border and against its right and bottom borders. A disabled
// one is greyed: a pale fill, a faint border and a faint chevron.
void combo(QPainter &p, const QRect &frame, bool arrowHot, bool disabled = false)
{
    box(p, frame, 3, disabled ? kFieldOff : kField, disabled ? kFieldBorderOff : kFieldBorder);
    const QRect cell(frame.right() - 19, frame.top() + 2, 19, 19);
    vline(p, cell.left() - 1, cell.top() + 2, cell.bottom() - 2,
          disabled ? kFieldBorderOff : QColor(0xe2, 0xe4, 0xee));
    if (arrowHot && !disabled)
        fillRound(p, cell.adjusted(1, 0, 0, 0), 2, kAccentLight);
    icons::chevronDown(p, QRectF(cell).adjusted(0, -0.5, 0, -0.5), 3.6, 1.7,
                       disabled   ? kFieldBorder
                       : arrowHot ? kAccentDark
                                  : kTextSoft);
}

void field(QPainter &p, const QRect &r)
{
    box(p, r, 3, kField, kFieldBorder);
}

void label(QPainter &p, const QRect &r, const QString &s, bool bold = true, const QColor &c = kText,
           qreal px = 11)
{
    text(p, r, Qt::AlignLeft | Qt::AlignVCenter, s, latinFont(px, bold), c);
}

void toolbarButton(QPainter &p, int pos, bool hot)
{
    const QRect r(kToolbarLeft[pos], 55, 86, 53);
    if (hot)
        box(p, r, 7, kAccentLight, kAccentLine);
    const QRectF ic(r.left() + 31, r.top() + 7, 24, 24);
    const QColor ink = hot ? kAccentDark : kAccent;
    switch (pos) {
    case 0:
        icons::addFile(p, ic, ink, kGreen);
        break;
    case 1:
        icons::addFolder(p, ic, ink, kGreen);
        break;
    case 2:
        icons::trash(p, ic, ink);
        break;
    case 3:
        icons::sliders(p, ic, ink, hot ? kAccentLight : Qt::white);
        break;
    case 4:
        icons::help(p, ic, ink);
        break;
    case 5:
        icons::power(p, ic, ink);
        break;
    }
    static const char *const captions[6] = {"Add File", "Add Folder", "Remove",
                                            "Options",  "Help",       "Exit"};
    text(p, QRectF(r.left(), r.top() + 34, r.width(), 14), Qt::AlignCenter,
         QString::fromLatin1(captions[pos]), latinFont(11, hot), hot ? kAccentDark : kText);
}

void browseButton(QPainter &p, int state)
{
    const QRect r = kBrowse;
    QColor ink = kAccent;
    if (state == 0) {
        p.save();
        box(p, r, 3, vgrad(r.top(), r.bottom(), Qt::white, QColor(0xf0, 0xf1, 0xf7)), kFieldBorder);
        p.restore();
    } else if (state == 1) {
        box(p, r, 3, kAccentLight, kAccentLine);
        ink = kAccentDark;
    } else {
        box(p, r, 3, vgrad(r.top(), r.bottom(), kAccentDark, kAccent), kAccentDark);
        ink = Qt::white;
    }
    icons::folder(p, QRectF(r.center().x() - 7.5, r.top() + 3.5, 16, 16), ink);
}

// The big button in its three faces: Convert (violet), Stop while a batch runs
// (coral, a stop square) and Stopping while the converter winds down (slate).
void convertButton(QPainter &p, bool hot, int mode)
{
    const QRect r = kConvert;
    QColor top = hot ? kAccentTopHot : kAccentTop;
    QColor bottom = hot ? kAccentBottomHot : kAccentDark;
    if (mode == 1) {
        top = hot ? kStopTopHot : kStopTop;
        bottom = hot ? kStopBottomHot : kStopBottom;
    } else if (mode == 2) {
        top = kDarkButtonLine;
        bottom = kDarkButton;
    }
    fillRound(p, r, 10, vgrad(r.top(), r.bottom(), top, bottom));
    // Inner hairline highlight along the top.
    p.save();
    QPainterPath hl;
    hl.addRoundedRect(QRectF(r).adjusted(1.5, 1.5, -1.5, -1.5), 8.5, 8.5);
    p.setPen(QPen(QColor(255, 255, 255, hot ? 90 : 60), 1));
    p.setBrush(Qt::NoBrush);
    p.setClipRect(QRect(r.left(), r.top(), r.width(), 12));
    p.drawPath(hl);
    p.restore();
    const QRectF glyph(r.center().x() - 15, r.top() + 14, 30, 30);
    QString caption = QStringLiteral("Convert"), hint = QStringLiteral("Start the queue");
    if (mode == 0) {
        icons::convert(p, glyph, Qt::white);
    } else if (mode == 1) {
        fillRound(p, glyph.adjusted(6, 6, -6, -6).toRect(), 4, Qt::white);
        caption = QStringLiteral("Stop");
        hint = QStringLiteral("Stop the queue");
    } else {
        // Three dots: the converter is being asked to end.
        p.save();
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 210));
        for (int i = -1; i <= 1; ++i)
            p.drawEllipse(QPointF(glyph.center().x() + i * 9, glyph.center().y()), 2.6, 2.6);
        p.restore();
        caption = QStringLiteral("Stopping\u2026");
        hint = QStringLiteral("Ending the conversion");
    }
    text(p, QRectF(r.left(), r.top() + 48, r.width(), 24), Qt::AlignCenter, caption,
         latinFont(18, true), mode == 2 ? kMenuText : QColor(Qt::white));
    text(p, QRectF(r.left(), r.top() + 70, r.width(), 14), Qt::AlignCenter, hint, latinFont(10),
         QColor(255, 255, 255, hot ? 235 : 200));
}

void paintMain(QPainter &p, const MainLook &s)
{
    p.fillRect(QRect(0, 0, 700, 500), kBody);

    // Title row and menu row on the slate header.
    header(p, 700, 51);
    logoMark(p, QRect(12, 7, 18, 18));
    const QFont titleFont = latinFont(14, true);
    text(p, QRectF(37, 5, 120, 22), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Zelmora"),
         titleFont, Qt::white);
    const qreal titleWidth = QFontMetricsF(titleFont).horizontalAdvance(QStringLiteral("Zelmora"));
    text(p, QRectF(37 + titleWidth + 9, 6, 200, 22), Qt::AlignLeft | Qt::AlignVCenter,
         QStringLiteral("Audio Extractor"), latinFont(11), QColor(0x8e, 0x92, 0xb6));
    helpGlyph(p, kHelp, s.helpHot);
    minGlyph(p, kMin, s.minHot);
    exitGlyph(p, kExit, s.exitHot);
    static const char *const menus[3] = {"File", "Options", "About"};
    for (int i = 0; i < 3; ++i) {
        const bool hot = s.menuHot == i;
        if (hot)
            fillRound(p, kMenu[i], 4, kAccent);
        text(p, kMenu[i], Qt::AlignCenter, QString::fromLatin1(menus[i]), latinFont(11),
             hot ? Qt::white : kMenuText);
    }

    // Toolbar.
    p.fillRect(QRect(0, 51, 700, 65), vgrad(51, 115, kToolTop, kToolBottom));
    hline(p, 0, 699, 115, kSeparator);
    for (int i = 0; i < 6; ++i)
        toolbarButton(p, i, s.toolHot == i);
    // Brand corner: a sound wave turning into bars.
    {
        QLinearGradient g(552, 0, 684, 0);
        g.setColorAt(0, QColor(0x9a, 0x8c, 0xff));
        g.setColorAt(1, QColor(0xc0, 0x6c, 0xf0));
        icons::waveBars(p, QRectF(553, 61, 130, 30), 22, g, 0.8);
        text(p, QRectF(548, 92, 140, 14), Qt::AlignCenter, QStringLiteral("video  \u2192  audio"),
             latinFont(10), kTextSoft);
    }

    // Queue.
    label(p, QRect(17, 140, 200, 16), QStringLiteral("Queue"));
    text(p, QRectF(222, 140, 250, 16), Qt::AlignRight | Qt::AlignVCenter,
         QStringLiteral("Drop video files or folders here"), latinFont(10), kTextSoft);
    box(p, kList, 2, kField, kFieldBorder);

    // Settings column.
    static const char *const labels[4] = {"Output Format", "Bitrate", "Sample Rate", "Channels"};
    for (int i = 0; i < 4; ++i) {
        label(p, QRect(488, kComboTop[i] - 18, 189, 16), QString::fromLatin1(labels[i]));
        combo(p, QRect(488, kComboTop[i], 189, 22), s.arrowHot, s.mp3Only && i > 0);
    }
    label(p, QRect(488, kPath.top() - 18, 189, 16), QStringLiteral("Output Folder"));
    field(p, kPath);
    browseButton(p, s.browse);

    // Convert, with a soft shadow that both looks share.
    fillRound(p, kConvert.translated(0, 2), 10, QColor(0x52, 0x42, 0xe0, 38));
    convertButton(p, s.convertHot, s.convertMode);

    // Progress trough.
    label(p, QRect(18, kProgress.top(), 90, kProgress.height()), QStringLiteral("Progress"), false,
          kTextSoft);
    p.fillRect(kProgress, QColor(0xe3, 0xe4, 0xee));
    p.save();
    p.setPen(QPen(kFieldBorder, 1));
    p.setBrush(Qt::NoBrush);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.drawRect(QRectF(kProgress).adjusted(0, 0, -1, -1));
    p.restore();
    hline(p, kProgress.left() + 1, kProgress.right() - 1, kProgress.top() + 1,
          QColor(0xd4, 0xd6, 0xe2));

    // Footer strip for the two link labels.
    p.fillRect(QRect(0, 469, 700, 31), kFooter);
    hline(p, 0, 699, 469, kSeparator);
}

void progressFill(QPainter &p)
{
    const QRect r(0, 0, 361, 13);
    p.fillRect(r, vgrad(1, 12, QColor(0xbd, 0xb3, 0xff), QColor(0x8f, 0x80, 0xff)));
    hline(p, 0, 360, 1, QColor(0xd2, 0xcb, 0xff));
    hline(p, 0, 360, 0, kAccentDark);
    hline(p, 0, 360, 12, kAccentDark);
}

// Shared frame of the two small windows: header, light body, slate footer.
void smallFrame(QPainter &p, const QString &caption, const QRect &exit, bool exitHot)
{
    p.fillRect(QRect(0, 0, 330, 180), kBody); // same as the main body: the shared arrow fits
    header(p, 330, 31);
    logoMark(p, QRect(12, 10, 16, 16));
    text(p, QRectF(35, 7, 200, 22), Qt::AlignLeft | Qt::AlignVCenter, caption, latinFont(13, true),
         Qt::white);
    exitGlyph(p, exit, exitHot);
    p.fillRect(QRect(0, 130, 330, 50), vgrad(130, 172, kHeaderTop, kHeaderBottom));
    hline(p, 0, 329, 130, kHeaderLine);
}

void primaryButton(QPainter &p, const QRect &r, const QString &s, bool hot)
{
    fillRound(p, r, 4,
              vgrad(r.top(), r.bottom(), hot ? kAccentTopHot : kAccentTop,
                    hot ? kAccentBottomHot : kAccentDark));
    text(p, r, Qt::AlignCenter, s, latinFont(11, true), Qt::white);
}

void secondaryButton(QPainter &p, const QRect &r, const QString &s, bool hot)
{
    box(p, r, 4, hot ? kDarkButtonHot : kDarkButton,
        hot ? QColor(0x6c, 0x70, 0x9a) : kDarkButtonLine);
    text(p, r, Qt::AlignCenter, s, latinFont(11, hot), hot ? Qt::white : kMenuText);
}

void paintOptions(QPainter &p, const SmallLook &s)
{
    smallFrame(p, QStringLiteral("Options"), kOptExit, s.exitHot);
    label(p, QRect(14, 33, 128, 22), QStringLiteral("Finish sound"));
    combo(p, QRect(145, 33, 165, 22), s.arrowHot);
    // The check box caption heads the two time rows, with a rule to the right.
    {
        const QFont f = latinFont(11, true);
        const QString caption = QStringLiteral("Music Cutter");
        text(p, QRectF(165, 61, 140, 19), Qt::AlignLeft | Qt::AlignVCenter, caption, f, kText);
        const int end = 165 + qCeil(QFontMetricsF(f).horizontalAdvance(caption)) + 8;
        hline(p, end, 309, 70, QColor(0xd9, 0xdb, 0xe7));
        hline(p, 14, 138, 70, QColor(0xd9, 0xdb, 0xe7));
    }
    static const char *const rows[2] = {"From", "To"};
    for (int i = 0; i < 2; ++i) {
        const int y = i == 0 ? 85 : 109;
        label(p, QRect(14, y, 76, 18), QString::fromLatin1(rows[i]));
        field(p, QRect(94, y, 19, 18));
        field(p, QRect(160, y, 31, 18));
        field(p, QRect(230, y, 43, 18));
        const QFont unit = latinFont(10);
        text(p, QRectF(117, y, 40, 18), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("hr"),
             unit, kTextSoft);
        text(p, QRectF(195, y, 34, 18), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("min"),
             unit, kTextSoft);
        text(p, QRectF(277, y, 34, 18), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("sec"),
             unit, kTextSoft);
    }
    icons::clock(p, QRectF(14, 139, 12, 12), kFooterHint);
    text(p, QRectF(31, 136, 130, 18), Qt::AlignLeft | Qt::AlignVCenter,
         QStringLiteral("To = length of the cut"), latinFont(10), kFooterHint);
    primaryButton(p, kOptOK, QStringLiteral("OK"), s.primaryHot);
    secondaryButton(p, kOptBack, QStringLiteral("Back"), s.backHot);
}

void paintSuggest(QPainter &p, const SmallLook &s)
{
    smallFrame(p, QStringLiteral("FeedBack"), kSugExit, s.exitHot);
    text(p, QRectF(14, 32, 300, 16), Qt::AlignLeft | Qt::AlignVCenter,
         QStringLiteral("Questions or ideas? We read every message."), latinFont(10), kTextSoft);
    static const char *const names[3] = {"Name", "E-mail", "Comment"};
    static const QRect fields[3] = {{110, 50, 141, 21}, {110, 76, 141, 21}, {110, 102, 189, 21}};
    for (int i = 0; i < 3; ++i) {
        label(p, QRect(14, fields[i].top(), 90, fields[i].height()), QString::fromLatin1(names[i]));
        field(p, fields[i]);
    }
    icons::envelope(p, QRectF(22, 137, 18, 18), kFooterHint);
    primaryButton(p, kSugSend, QStringLiteral("Send"), s.primaryHot);
    secondaryButton(p, kSugBack, QStringLiteral("Back"), s.backHot);
}

void paintIcon(QPainter &p)
{
    p.save();
    appIconTile(p, QColor(30, 20, 90, 6), QColor(0x9d, 0x8f, 0xff), kAccent,
                QColor(0x4a, 0x38, 0xd4));
    icons::waveBars(p, QRectF(58, 64, 140, 128), 7, Qt::white, 0.7);
    p.restore();
}

struct Writer {
    QString dir;
    QStringList files;
    bool ok = true;
    void put(const QImage &img, const QString &name, int scale)
    {
        ok = save(img, dir, name, scale) && ok;
        files << fileName(name, scale);
    }
};

QImage mainImage(const MainLook &look, int scale)
{
    QImage img = render(QSize(700, 500), scale, [&](QPainter &p) { paintMain(p, look); });
    applyColourKey(img, QSize(698, 496), kRadius, scale, kEdge);
    return img;
}

QImage optionsImage(const SmallLook &look, int scale)
{
    QImage img = render(QSize(330, 180), scale, [&](QPainter &p) { paintOptions(p, look); });
    applyColourKey(img, QSize(324, 172), kRadius, scale, kEdge);
    return img;
}

QImage suggestImage(const SmallLook &look, int scale)
{
    QImage img = render(QSize(330, 180), scale, [&](QPainter &p) { paintSuggest(p, look); });
    applyColourKey(img, QSize(326, 174), kRadius, scale, kEdge);
    return img;
}

} // namespace

QStringList generate(const QString &dir)
{
    Writer w{dir, {}, true};
    for (int scale : {1, 2}) {
        w.put(mainImage({}, scale), QStringLiteral("main"), scale);
        for (int i = 0; i < 3; ++i) {
            MainLook l;
            l.menuHot = i;
            w.put(crop(mainImage(l, scale), kMenu[i], scale),
                  QStringLiteral("menu_hover_%1").arg(i), scale);
        }
        for (int pos = 0; pos < 6; ++pos) {
            MainLook l;
            l.toolHot = pos;
            w.put(crop(mainImage(l, scale), QRect(kToolbarLeft[pos], 55, 86, 53), scale),
                  QStringLiteral("toolbar_hover_%1").arg(kToolbarIndex[pos]), scale);
        }
        {
            MainLook l;
            l.helpHot = l.minHot = l.exitHot = true;
            l.browse = 1;
            l.convertHot = true;
            l.arrowHot = true;
            const QImage hot = mainImage(l, scale);
            w.put(crop(hot, kMin, scale), QStringLiteral("min_light"), scale);
            w.put(crop(hot, kHelp, scale), QStringLiteral("help_light"), scale);
            w.put(crop(hot, kExit, scale), QStringLiteral("exit_light"), scale);
            w.put(crop(hot, kBrowse, scale), QStringLiteral("browse_light"), scale);
            w.put(crop(hot, kConvert, scale), QStringLiteral("convert_hover"), scale);
            w.put(crop(hot, kArrow0, scale), QStringLiteral("arrow_light"), scale);
            l.browse = 2;
            w.put(crop(mainImage(l, scale), kBrowse, scale), QStringLiteral("browse_dark"), scale);
            w.put(crop(mainImage({}, scale), kArrow0, scale), QStringLiteral("arrow"), scale);
        }
        {
            // The Stop faces of the big button, and the greyed lists of formats other than MP3.
            MainLook l;
            l.convertMode = 1;
            w.put(crop(mainImage(l, scale), kConvert, scale), QStringLiteral("stop"), scale);
            l.convertHot = true;
            w.put(crop(mainImage(l, scale), kConvert, scale), QStringLiteral("stop_hover"), scale);
            l.convertHot = false;
            l.convertMode = 2;
            w.put(crop(mainImage(l, scale), kConvert, scale), QStringLiteral("stopping"), scale);
            MainLook off;
            off.mp3Only = true;
            const QImage img = mainImage(off, scale);
            const QRect list(488, kComboTop[1], 189, 22);
            w.put(crop(img, list, scale), QStringLiteral("combo_disabled"), scale);
            w.put(crop(img, QRect(657, kComboTop[1] + 2, 19, 19), scale),
                  QStringLiteral("arrow_disabled"), scale);
        }
        w.put(render(QSize(361, 13), scale, progressFill), QStringLiteral("progress"), scale);
        w.put(render(QSize(32, 32), scale, paintCursor), QStringLiteral("cursor"), scale);
        for (const auto &[kind, name] : kFormatBadges)
            w.put(render(QSize(16, 16), scale, [kind](QPainter &p) { paintFormatBadge(p, kind); }),
                  QStringLiteral("format_") + QLatin1String(name), scale);
        w.put(render(QSize(16, 16), scale, paintCheck), QStringLiteral("menu_check"), scale);

        w.put(optionsImage({}, scale), QStringLiteral("options"), scale);
        {
            SmallLook l;
            l.primaryHot = l.backHot = l.exitHot = true;
            const QImage hot = optionsImage(l, scale);
            w.put(crop(hot, kOptOK, scale), QStringLiteral("options_ok_light"), scale);
            w.put(crop(hot, kOptBack, scale), QStringLiteral("options_back_light"), scale);
            w.put(crop(hot, kOptExit, scale), QStringLiteral("options_exit_light"), scale);
        }
        w.put(suggestImage({}, scale), QStringLiteral("suggest"), scale);
        {
            SmallLook l;
            l.primaryHot = l.backHot = l.exitHot = true;
            const QImage hot = suggestImage(l, scale);
            w.put(crop(hot, kSugSend, scale), QStringLiteral("suggest_send_light"), scale);
            w.put(crop(hot, kSugBack, scale), QStringLiteral("suggest_back_light"), scale);
            w.put(crop(hot, kSugExit, scale), QStringLiteral("suggest_exit_light"), scale);
        }
        w.put(render(QSize(256, 256), scale, paintIcon), QStringLiteral("icon"), scale);
    }

    QFile wav(dir + QStringLiteral("/sound.wav"));
    if (!wav.open(QIODevice::WriteOnly) || wav.write(chime::wav()) < 0)
        w.ok = false;
    if (!w.ok)
        return {};
    return w.files;
}

void paintAppIcon(QPainter &p)
{
    paintIcon(p);
}

} // namespace skin::zelmora
