// skingen: draws the skins of both programs.
//
//   skingen generate <zelmora-skin-dir> <video-skin-dir>
//   skingen verify   <zelmora-skin-dir> <video-skin-dir>
//   skingen sheet    <zelmora-skin-dir> <video-skin-dir> <out.png>
//   skingen mock     <zelmora-skin-dir> <video-skin-dir> <out-prefix>
//   skingen appicons <icon-dir>
//
// `generate` writes every PNG (1x and @2x), sound.wav and the two resource
// files; `verify` checks what is on disk; `sheet` lays every 1x picture out
// on one contact sheet for review; `mock` lays stand-ins for the standard
// controls over the main backgrounds, to judge the layout; `appicons` writes
// both application icons into <icon-dir>/hicolor/<n>x<n>/apps/ for installing.
#include "appicons.h"
#include "canvas.h"
#include "mock.h"
#include "verify.h"
#include "video_art.h"
#include "zelmora_art.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QTextStream>

#include <cstdio>

namespace {

bool writeQrc(const QString &path, const QString &prefix, QStringList files)
{
    files.sort();
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    QTextStream out(&f);
    out << "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n<qresource prefix=\"" << prefix << "\">\n";
    for (const QString &file : files)
        out << "    <file>" << file << "</file>\n";
    out << "</qresource>\n</RCC>\n";
    out.flush();
    return f.commit();
}

QStringList onePxPictures(const QString &dir)
{
    QStringList names = QDir(dir).entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name);
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const QString &n) { return n.contains(QLatin1Char('@')); }),
                names.end());
    return names;
}

bool sheet(const QStringList &dirs, const QString &out)
{
    struct Item {
        QString label;
        QImage img;
    };
    QList<Item> items;
    for (const QString &dir : dirs)
        for (const QString &n : onePxPictures(dir))
            items.append(
                {QDir(dir).dirName() + QLatin1Char('/') + n, QImage(dir + QLatin1Char('/') + n)});
    const int maxWidth = 1700, pad = 14, labelH = 16;
    int x = pad, y = pad, rowH = 0, width = 0;
    QList<QPoint> at;
    for (const Item &it : items) {
        const QSize s = it.img.size();
        if (x + s.width() + pad > maxWidth && x > pad) {
            x = pad;
            y += rowH + labelH + pad;
            rowH = 0;
        }
        at.append(QPoint(x, y));
        x += std::max(s.width(), 170) + pad;
        rowH = std::max(rowH, s.height());
        width = std::max(width, x);
    }
    QImage canvas(width, y + rowH + labelH + pad, QImage::Format_RGB32);
    canvas.fill(QColor(0x9a, 0x9c, 0xa8));
    QPainter p(&canvas);
    p.setFont(skin::latinFont(10));
    for (int i = 0; i < items.size(); ++i) {
        p.drawImage(at[i], items[i].img);
        p.setPen(Qt::black);
        p.drawText(QRect(at[i].x(), at[i].y() + items[i].img.height() + 1, 400, labelH),
                   Qt::AlignLeft | Qt::AlignVCenter, items[i].label);
    }
    p.end();
    return canvas.save(out);
}

int usage()
{
    std::fprintf(stderr, "usage: skingen generate|verify <zelmora-skin-dir> <video-skin-dir>\n"
                         "       skingen sheet <zelmora-skin-dir> <video-skin-dir> <out.png>\n"
                         "       skingen appicons <icon-dir>\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    // Text needs a GUI application; no window is ever shown.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QLatin1String("appicons")) {
        const QStringList icons = skin::writeAppIcons(args[2]);
        if (icons.isEmpty()) {
            std::fprintf(stderr, "skingen: writing the application icons failed\n");
            return 1;
        }
        std::printf("skingen: %lld application icons written\n", (long long)icons.size());
        return 0;
    }
    if (args.size() < 4)
        return usage();
    const QString mode = args[1], zDir = args[2], vDir = args[3];

    if (mode == QLatin1String("generate")) {
        if (!QDir().mkpath(zDir) || !QDir().mkpath(vDir)) {
            std::fprintf(stderr, "skingen: cannot create the output folders\n");
            return 1;
        }
        const QStringList z = skin::zelmora::generate(zDir);
        const QStringList v = skin::video::generate(vDir);
        if (z.isEmpty() || v.isEmpty()) {
            std::fprintf(stderr, "skingen: writing the pictures failed\n");
            return 1;
        }
        if (!writeQrc(zDir + QStringLiteral("/zelmora_skin.qrc"), QStringLiteral("/skin"), z)
            || !writeQrc(vDir + QStringLiteral("/video_skin.qrc"), QStringLiteral("/video"), v)) {
            std::fprintf(stderr, "skingen: writing the resource files failed\n");
            return 1;
        }
        std::printf("skingen: %lld + %lld pictures written\n", (long long)z.size(),
                    (long long)v.size());
        return 0;
    }
    if (mode == QLatin1String("verify")) {
        const QStringList problems = skin::verifyZelmora(zDir) + skin::verifyVideo(vDir);
        for (const QString &s : problems)
            std::fprintf(stderr, "skingen: %s\n", qPrintable(s));
        if (problems.isEmpty())
            std::printf("skingen: all pictures check out\n");
        return problems.isEmpty() ? 0 : 1;
    }
    if (mode == QLatin1String("sheet") && args.size() == 5)
        return sheet({zDir, vDir}, args[4]) ? 0 : 1;
    if (mode == QLatin1String("mock") && args.size() == 5) {
        const QString base = args[4];
        return skin::mockZelmora(zDir, base + QStringLiteral("-zelmora.png"))
                       && skin::mockVideo(vDir, base + QStringLiteral("-video.png"))
                   ? 0
                   : 1;
    }
    return usage();
}
