#include "verify.h"

#include "canvas.h"
#include "video_art.h"
#include "zelmora_art.h"

#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QtEndian>

#include <cmath>

namespace skin {
namespace {

struct Expect {
    const char *name;
    int w, h;
};

class Checker
{
public:
    explicit Checker(QString dir) : m_dir(std::move(dir)) {}

    QImage load(const QString &name, int scale)
    {
        const QString path = m_dir + QLatin1Char('/') + fileName(name, scale);
        QImage img(path);
        if (img.isNull())
            fail(QStringLiteral("%1: missing or unreadable").arg(path));
        return img.convertToFormat(QImage::Format_RGB32);
    }

    void size(const Expect &e)
    {
        for (int scale : {1, 2}) {
            const QImage img = load(QString::fromLatin1(e.name), scale);
            if (!img.isNull() && img.size() != QSize(e.w, e.h) * scale)
                fail(QStringLiteral("%1 at %2x is %3x%4, expected %5x%6")
                         .arg(QString::fromLatin1(e.name))
                         .arg(scale)
                         .arg(img.width())
                         .arg(img.height())
                         .arg(e.w * scale)
                         .arg(e.h * scale));
        }
    }

    // Magenta exactly outside the window shape, nowhere inside; the 2x key
    // region is the 1x region doubled.
    void colourKey(const QString &name, QSize client, int radius)
    {
        const QRgb key = kKey.rgb();
        for (int scale : {1, 2}) {
            const QImage img = load(name, scale);
            if (img.isNull())
                continue;
            int wrong = 0;
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x) {
                    const bool in = insideShape(x / scale, y / scale, client, radius);
                    const bool isKey = (img.pixel(x, y) & 0xffffff) == (key & 0xffffff);
                    if (in == isKey)
                        ++wrong;
                }
            if (wrong)
                fail(QStringLiteral("%1 at %2x: %3 pixels break the colour key")
                         .arg(name)
                         .arg(scale)
                         .arg(wrong));
        }
    }

    // The picture equals the background at `r`, so it can lie there unseen.
    void sameAs(const QString &piece, const QString &background, const QRect &r)
    {
        for (int scale : {1, 2}) {
            const QImage a = load(piece, scale);
            const QImage b = load(background, scale);
            if (a.isNull() || b.isNull())
                continue;
            if (crop(b, r, scale) != a)
                fail(QStringLiteral("%1 at %2x differs from %3 at %4,%5")
                         .arg(piece)
                         .arg(scale)
                         .arg(background)
                         .arg(r.x())
                         .arg(r.y()));
        }
    }

    // The hover picture differs from the background (it really highlights).
    void differs(const QString &piece, const QString &background, const QRect &r)
    {
        const QImage a = load(piece, 1);
        const QImage b = load(background, 1);
        if (!a.isNull() && !b.isNull() && crop(b, r, 1) == a)
            fail(QStringLiteral("%1 looks the same as the background beneath it").arg(piece));
    }

    void allBlack(const QString &name)
    {
        for (int scale : {1, 2}) {
            const QImage img = load(name, scale);
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x)
                    if ((img.pixel(x, y) & 0xffffff) != 0) {
                        fail(QStringLiteral("%1 at %2x is not all black").arg(name).arg(scale));
                        return;
                    }
        }
    }

    void fail(const QString &s) { m_problems << s; }
    QStringList problems() const { return m_problems; }

private:
    QString m_dir;
    QStringList m_problems;
};

void checkWav(Checker &c, const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        c.fail(path + QStringLiteral(": missing"));
        return;
    }
    const QByteArray b = f.readAll();
    auto le16 = [&](int at) { return qFromLittleEndian<quint16>(b.constData() + at); };
    auto le32 = [&](int at) { return qFromLittleEndian<quint32>(b.constData() + at); };
    if (b.size() < 44 || !b.startsWith("RIFF") || b.mid(8, 8) != "WAVEfmt "
        || b.mid(36, 4) != "data") {
        c.fail(path + QStringLiteral(": not a plain WAV file"));
        return;
    }
    const int channels = le16(22), bits = le16(34);
    const quint32 rate = le32(24), dataSize = le32(40);
    if (le16(20) != 1 || bits != 16 || rate != 44100 || dataSize + 44 != quint32(b.size())
        || le32(4) + 8 != quint32(b.size())) {
        c.fail(path + QStringLiteral(": header does not describe 16-bit PCM at 44.1 kHz"));
        return;
    }
    const double seconds = double(dataSize) / (rate * channels * 2);
    if (seconds < 0.5 || seconds > 0.7)
        c.fail(path + QStringLiteral(": lasts %1 s").arg(seconds));
    int peak = 0;
    for (quint32 i = 0; i < dataSize / 2; ++i)
        peak = std::max(peak, std::abs(int(qFromLittleEndian<qint16>(b.constData() + 44 + 2 * i))));
    if (peak < 8000 || peak > 32000)
        c.fail(path + QStringLiteral(": peak level %1 is silent or clipping").arg(peak));
    const qint16 last = qFromLittleEndian<qint16>(b.constData() + b.size() - 2);
    if (std::abs(int(last)) > 64)
        c.fail(path + QStringLiteral(": does not end in silence"));
}

} // namespace

QStringList verifyZelmora(const QString &dir)
{
    using namespace zelmora;
    Checker c(dir);
    const Expect sizes[] = {
        {"main", 700, 500},
        {"menu_hover_0", 40, 15},
        {"menu_hover_1", 59, 15},
        {"menu_hover_2", 51, 15},
        {"toolbar_hover_0", 86, 53},
        {"toolbar_hover_6", 86, 53},
        {"toolbar_hover_1", 86, 53},
        {"toolbar_hover_2", 86, 53},
        {"toolbar_hover_3", 86, 53},
        {"toolbar_hover_4", 86, 53},
        {"min_light", 14, 14},
        {"help_light", 15, 15},
        {"exit_light", 15, 15},
        {"browse_light", 42, 22},
        {"browse_dark", 42, 22},
        {"convert_hover", 187, 91},
        {"arrow", 19, 19},
        {"arrow_light", 19, 19},
        {"progress", 361, 13},
        {"cursor", 32, 32},
        {"options", 330, 180},
        {"options_ok_light", 58, 18},
        {"options_back_light", 58, 18},
        {"options_exit_light", 15, 15},
        {"suggest", 330, 180},
        {"suggest_send_light", 58, 18},
        {"suggest_back_light", 58, 18},
        {"suggest_exit_light", 15, 15},
        {"icon", 256, 256},
        {"stop", 187, 91},
        {"stop_hover", 187, 91},
        {"stopping", 187, 91},
        {"arrow_disabled", 19, 19},
        {"combo_disabled", 189, 22},
        {"format_lossy", 16, 16},
        {"format_lossless", 16, 16},
        {"format_speech", 16, 16},
        {"menu_check", 16, 16},
    };
    for (const Expect &e : sizes)
        c.size(e);
    c.colourKey(QStringLiteral("main"), QSize(698, 496), 8);
    c.colourKey(QStringLiteral("options"), QSize(324, 172), 8);
    c.colourKey(QStringLiteral("suggest"), QSize(326, 174), 8);

    // The normal arrow is what every drop-down shows, so it must match the
    // background at each of the five places it is laid.
    for (int top : kComboTop)
        c.sameAs(QStringLiteral("arrow"), QStringLiteral("main"), QRect(657, top + 2, 19, 19));
    c.sameAs(QStringLiteral("arrow"), QStringLiteral("options"), kOptArrow);

    const struct {
        const char *piece, *background;
        QRect r;
    } hovers[] = {
        {"menu_hover_0", "main", kMenu[0]},
        {"menu_hover_1", "main", kMenu[1]},
        {"menu_hover_2", "main", kMenu[2]},
        {"min_light", "main", kMin},
        {"help_light", "main", kHelp},
        {"exit_light", "main", kExit},
        {"browse_light", "main", kBrowse},
        {"browse_dark", "main", kBrowse},
        {"convert_hover", "main", kConvert},
        {"arrow_light", "main", kArrow0},
        {"arrow_light", "options", kOptArrow},
        {"options_ok_light", "options", kOptOK},
        {"options_back_light", "options", kOptBack},
        {"options_exit_light", "options", kOptExit},
        {"suggest_send_light", "suggest", kSugSend},
        {"suggest_back_light", "suggest", kSugBack},
        {"suggest_exit_light", "suggest", kSugExit},
        {"stop", "main", kConvert},
        {"stop_hover", "main", kConvert},
        {"stopping", "main", kConvert},
        {"arrow_disabled", "main", kArrow0},
        {"combo_disabled", "main", QRect(488, kComboTop[1], 189, 22)},
    };
    for (const auto &h : hovers)
        c.differs(QString::fromLatin1(h.piece), QString::fromLatin1(h.background), h.r);
    for (int pos = 0; pos < 6; ++pos)
        c.differs(QStringLiteral("toolbar_hover_%1").arg(kToolbarIndex[pos]),
                  QStringLiteral("main"), QRect(kToolbarLeft[pos], 55, 86, 53));

    // The Stop states and the disabled arrow differ from one another too.
    c.differs(QStringLiteral("stop_hover"), QStringLiteral("stop"), QRect(0, 0, 187, 91));
    c.differs(QStringLiteral("stopping"), QStringLiteral("stop"), QRect(0, 0, 187, 91));
    c.differs(QStringLiteral("arrow_disabled"), QStringLiteral("arrow"), QRect(0, 0, 19, 19));

    // The three badges of the format list tell the kinds apart.
    const QImage lossy = c.load(QStringLiteral("format_lossy"), 1);
    const QImage lossless = c.load(QStringLiteral("format_lossless"), 1);
    const QImage speech = c.load(QStringLiteral("format_speech"), 1);
    if (lossy == lossless || lossy == speech || lossless == speech)
        c.fail(QStringLiteral("the format badges are not three different pictures"));

    checkWav(c, dir + QStringLiteral("/sound.wav"));
    return c.problems();
}

QStringList verifyVideo(const QString &dir)
{
    Checker c(dir);
    const Expect sizes[] = {
        {"bmp137", 796, 454}, {"bmp139", 58, 21}, {"bmp140", 35, 20},   {"bmp141", 35, 20},
        {"bmp142", 35, 20},   {"bmp143", 35, 20}, {"bmp144", 35, 20},   {"bmp145", 35, 20},
        {"bmp146", 35, 20},   {"bmp147", 35, 20}, {"bmp158", 453, 220}, {"icon", 256, 256},
    };
    for (const Expect &e : sizes)
        c.size(e);
    c.allBlack(QStringLiteral("bmp143"));
    c.allBlack(QStringLiteral("bmp147"));
    c.sameAs(QStringLiteral("bmp139"), QStringLiteral("bmp137"), video::dluRect(41, 2, 33, 12));
    // Three distinct looks per glyph.
    for (int first : {140, 144}) {
        const QImage n = c.load(QStringLiteral("bmp%1").arg(first), 1);
        const QImage h = c.load(QStringLiteral("bmp%1").arg(first + 1), 1);
        const QImage d = c.load(QStringLiteral("bmp%1").arg(first + 2), 1);
        if (n == h || n == d || h == d)
            c.fail(QStringLiteral("bmp%1..%2 are not three different looks")
                       .arg(first)
                       .arg(first + 2));
    }
    return c.problems();
}

} // namespace skin
