#include "video_art.h"

#include "canvas.h"
#include "icons.h"

#include <QPainterPath>

namespace skin::video {

int dluToPx(int dlu)
{
    return (dlu * 7 + 2) / 4;
}

QRect dluRect(int x, int y, int w, int h)
{
    const int l = dluToPx(x), t = dluToPx(y);
    return QRect(l, t, dluToPx(x + w) - l, dluToPx(y + h) - t);
}

namespace {

// Palette: a blue header band, cool light surfaces, near-black text (the
// dialog's labels are drawn black and transparent over this picture).
const QColor kHeaderTop(0x2f, 0x7f, 0xf0);
const QColor kHeaderBottom(0x1a, 0x5f, 0xd6);
const QColor kHeaderLine(0x15, 0x52, 0xbb);
const QColor kAccent(0x1f, 0x6f, 0xeb);
const QColor kAccentLight(0xe4, 0xee, 0xfd);
const QColor kBody(0xee, 0xf2, 0xf8);
const QColor kStrip(0xe1, 0xe9, 0xf5);
const QColor kStripLine(0xcb, 0xd7, 0xea);
const QColor kContent(0xff, 0xff, 0xff);
const QColor kDivider(0xdc, 0xe3, 0xee);
const QColor kText(0x1d, 0x25, 0x33);
const QColor kTextSoft(0x5d, 0x6b, 0x80);
const QColor kRed(0xe5, 0x48, 0x4d);
const QColor kRedHot(0xf2, 0x63, 0x5f);
const QColor kRedDown(0xbf, 0x30, 0x36);

constexpr int kHeaderHeight = 28;

const QRect kAboutButton = dluRect(41, 2, 33, 12);  // control 1023
const QRect kMinButton = dluRect(407, 3, 20, 12);   // control 1024
const QRect kCloseButton = dluRect(429, 3, 20, 12); // control 1025
const QRect kBand = dluRect(4, 17, 447, 46);        // control 1026
const QSize kGlyphSize(35, 20);

void header(QPainter &p, int width)
{
    p.fillRect(QRect(0, 0, width, kHeaderHeight),
               vgrad(0, kHeaderHeight, kHeaderTop, kHeaderBottom));
    hline(p, 0, width - 1, kHeaderHeight - 1, kHeaderLine);
}

// A heading strip with an accent underline under each step title.
void strip(QPainter &p, int top, int bottom, std::initializer_list<QRect> headings)
{
    p.fillRect(QRect(0, top, 796, bottom - top + 1), kStrip);
    hline(p, 0, 795, top, kStripLine);
    hline(p, 0, 795, bottom, kStripLine);
    for (const QRect &h : headings)
        p.fillRect(QRect(h.left(), h.bottom() + 1, h.width(), 2), kAccent);
}

void subheading(QPainter &p, const QRect &label)
{
    fillRound(p, QRect(label.left() - 6, label.center().y() - 5, 3, 11), 1.5, kAccent);
    hline(p, label.left() + 80, 782, label.center().y(), kDivider);
}

void aboutPill(QPainter &p, const QRect &r)
{
    p.save();
    QPainterPath pill;
    pill.addRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
    p.setBrush(QColor(255, 255, 255, 40));
    p.setPen(QPen(QColor(255, 255, 255, 110), 1));
    p.drawPath(pill);
    p.restore();
    icons::info(p, QRectF(r.left() + 8, r.top() + 4, 13, 13), Qt::white);
    text(p, QRectF(r.left() + 23, r.top(), r.width() - 27, r.height()), Qt::AlignCenter,
         QStringLiteral("关于"), cjkFont(12), Qt::white);
}

void paintMain(QPainter &p)
{
    p.fillRect(QRect(0, 0, 796, 454), kBody);

    header(p, 796);
    icons::filmPlay(p, QRectF(25, 4, 20, 20), Qt::white);
    aboutPill(p, kAboutButton);
    text(p, QRectF(142, 0, 400, kHeaderHeight - 1), Qt::AlignLeft | Qt::AlignVCenter,
         QStringLiteral("Vidrune  视频格式转换"), cjkFont(13, true), Qt::white);

    // The page band: framed, with a quiet placeholder for when no browser
    // can be created.
    box(p, kBand.adjusted(-1, -1, 1, 1), 0,
        vgrad(kBand.top(), kBand.bottom(), QColor(0xf8, 0xfb, 0xff), QColor(0xe8, 0xef, 0xfb)),
        kStripLine);
    {
        const QRectF inner(kBand);
        icons::filmPlay(p, QRectF(inner.center().x() - 150, inner.center().y() - 16, 32, 32),
                        QColor(0x9d, 0xb8, 0xe8));
        text(p, QRectF(inner.center().x() - 108, inner.top() + 16, 300, 26),
             Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Vidrune 视频转换"),
             cjkFont(18, true), QColor(0x6f, 0x93, 0xd6));
        text(p, QRectF(inner.center().x() - 108, inner.top() + 42, 320, 20),
             Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("3GP · 3G2 · MP4 · AVI · FLV"),
             latinFont(12), QColor(0x8a, 0xa2, 0xc8));
    }

    // Steps one and two.
    strip(p, 118, 143, {dluRect(8, 71, 74, 8), dluRect(225, 71, 72, 8)});
    p.fillRect(QRect(0, 144, 796, 226), kContent);
    vline(p, 389, 150, 364, kDivider);
    subheading(p, dluRect(230, 109, 42, 8));
    subheading(p, dluRect(230, 169, 42, 8));

    // Steps three and four.
    strip(p, 370, 394, {dluRect(6, 215, 70, 8), dluRect(225, 215, 56, 8)});
    p.fillRect(QRect(0, 395, 796, 32), kContent);
    vline(p, 389, 398, 424, kDivider);

    // Progress zone with a trough under the bar.
    hline(p, 0, 795, 427, kStripLine);
    const QRect bar = dluRect(43, 247, 402, 6);
    box(p, bar.adjusted(-1, -1, 1, 1), 3, QColor(0xdc, 0xe3, 0xee), QColor(0xc3, 0xcf, 0xe0));
}

enum class Look { Normal, Hover, Pressed };

// The minimise and close pictures are drawn on the header band exactly as
// it lies behind them (rows 5 to 24), so they sit seamlessly on it.
void paintGlyph(QPainter &p, bool close, Look look)
{
    p.save();
    p.translate(0, -kMinButton.top());
    header(p, 35);
    p.restore();
    const QRect face(1, 1, 33, 18);
    if (close) {
        const QColor fill = look == Look::Hover ? kRedHot : look == Look::Pressed ? kRedDown : kRed;
        fillRound(p, face, 4, fill);
        icons::cross(p, face, 3.6, 1.7, Qt::white);
    } else {
        const int alpha = look == Look::Hover ? 70 : look == Look::Pressed ? 0 : 38;
        if (look == Look::Pressed)
            fillRound(p, face, 4, QColor(0x10, 0x45, 0xa6));
        else
            fillRound(p, face, 4, QColor(255, 255, 255, alpha));
        icons::minus(p, QRectF(face).translated(0, 2), 4.5, 1.7, Qt::white);
    }
}

void paintAbout(QPainter &p)
{
    p.fillRect(QRect(0, 0, 453, 220), kContent);
    header(p, 453);
    icons::filmPlay(p, QRectF(12, 4, 20, 20), Qt::white);
    text(p, QRectF(38, 0, 300, kHeaderHeight - 1), Qt::AlignLeft | Qt::AlignVCenter,
         QStringLiteral("关于 Vidrune"), cjkFont(13, true), Qt::white);

    // Program tile and name; the two contact labels of the dialog go at
    // (70, 81) and (70, 96), below the name.
    const QRect tile(14, 40, 44, 44);
    QLinearGradient g(tile.topLeft(), tile.bottomRight());
    g.setColorAt(0, QColor(0x4b, 0x95, 0xff));
    g.setColorAt(1, QColor(0x16, 0x55, 0xc9));
    fillRound(p, tile, 11, g);
    icons::filmPlay(p, QRectF(tile).adjusted(7, 7, -7, -7), Qt::white);
    text(p, QRectF(70, 38, 220, 24), Qt::AlignLeft | Qt::AlignVCenter,
         QStringLiteral("Vidrune 10.0.2"), latinFont(17, true), kText);
    text(p, QRectF(70, 60, 220, 18), Qt::AlignLeft | Qt::AlignVCenter,
         QStringLiteral("视频格式转换工具"), cjkFont(12), kTextSoft);

    // Output formats as small pills on the right.
    static const char *const formats[5] = {"3GP", "3G2", "MP4", "AVI", "FLV"};
    for (int i = 0; i < 5; ++i) {
        const QRect pill(306 + (i % 3) * 46, 44 + (i / 3) * 28, 40, 20);
        box(p, pill, 10, kAccentLight, QColor(0xc4, 0xd8, 0xfa));
        text(p, pill, Qt::AlignCenter, QString::fromLatin1(formats[i]), latinFont(10, true),
             kAccent);
    }

    hline(p, 14, 438, 124, kDivider);
    text(p, QRectF(14, 132, 425, 20), Qt::AlignLeft | Qt::AlignVCenter,
         QStringLiteral("把常见的视频文件转换为手机和网页使用的格式。"), cjkFont(12), kText);
    text(p, QRectF(14, 152, 425, 20), Qt::AlignLeft | Qt::AlignVCenter,
         QStringLiteral("转换由 FFmpeg 完成，界面基于 Qt。"), cjkFont(12), kTextSoft);

    p.fillRect(QRect(0, 186, 453, 34), kBody);
    hline(p, 0, 452, 186, kStripLine);
    text(p, QRectF(14, 187, 300, 33), Qt::AlignLeft | Qt::AlignVCenter,
         QStringLiteral("© 2026 Vidrune 项目"), cjkFont(11), kTextSoft);
    text(p, QRectF(140, 187, 299, 33), Qt::AlignRight | Qt::AlignVCenter,
         QStringLiteral("感谢使用"), cjkFont(11), kTextSoft);
}

void paintIcon(QPainter &p)
{
    appIconTile(p, QColor(10, 40, 100, 6), QColor(0x5a, 0xa0, 0xff), kAccent,
                QColor(0x12, 0x4c, 0xbf));
    icons::filmPlay(p, QRectF(44, 44, 168, 168), Qt::white);
}

} // namespace

QStringList generate(const QString &dir)
{
    QStringList files;
    bool ok = true;
    auto put = [&](const QImage &img, const QString &name, int scale) {
        ok = save(img, dir, name, scale) && ok;
        files << fileName(name, scale);
    };
    for (int scale : {1, 2}) {
        const QImage main = render(QSize(796, 454), scale, paintMain);
        put(main, QStringLiteral("bmp137"), scale);
        put(crop(main, kAboutButton, scale), QStringLiteral("bmp139"), scale);
        const struct {
            int id;
            bool close;
            Look look;
        } glyphs[] = {
            {140, true, Look::Normal},  {141, true, Look::Hover},  {142, true, Look::Pressed},
            {144, false, Look::Normal}, {145, false, Look::Hover}, {146, false, Look::Pressed},
        };
        for (const auto &gl : glyphs)
            put(render(kGlyphSize, scale, [&](QPainter &p) { paintGlyph(p, gl.close, gl.look); }),
                QStringLiteral("bmp%1").arg(gl.id), scale);
        for (int id : {143, 147}) {
            QImage mask(kGlyphSize * scale, QImage::Format_RGB32);
            mask.fill(Qt::black);
            put(mask, QStringLiteral("bmp%1").arg(id), scale);
        }
        put(render(QSize(453, 220), scale, paintAbout), QStringLiteral("bmp158"), scale);
        put(render(QSize(256, 256), scale, paintIcon), QStringLiteral("icon"), scale);
    }
    (void)kCloseButton;
    return ok ? files : QStringList();
}

void paintAppIcon(QPainter &p)
{
    paintIcon(p);
}

} // namespace skin::video
