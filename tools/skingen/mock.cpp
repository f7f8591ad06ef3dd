#include "mock.h"

#include "canvas.h"
#include "video_art.h"

#include <QImage>
#include <QPainter>

namespace skin {
namespace {

enum Kind { Label, Button, Combo, List, Edit, Bar };

struct Control {
    Kind kind;
    const char *text;
    int x, y, w, h;
};

void standIn(QPainter &p, Kind kind, const QRect &r, const QString &s, const QFont &f)
{
    switch (kind) {
    case Label:
        text(p, r, Qt::AlignLeft | Qt::AlignVCenter, s, f, Qt::black);
        break;
    case Button:
        box(p, r, 3, vgrad(r.top(), r.bottom(), Qt::white, QColor(0xe9, 0xec, 0xf1)),
            QColor(0xa9, 0xb2, 0xc0));
        text(p, r, Qt::AlignCenter, s, f, Qt::black);
        break;
    case Combo:
        box(p, r, 3, Qt::white, QColor(0xa9, 0xb2, 0xc0));
        text(p, r.adjusted(6, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, s, f, Qt::black);
        break;
    case List:
    case Edit:
        box(p, r, 0, Qt::white, QColor(0x9a, 0xa4, 0xb4));
        if (kind == List) {
            p.fillRect(QRect(r.left() + 1, r.top() + 1, r.width() - 2, 20),
                       QColor(0xf3, 0xf5, 0xf8));
            text(p, QRect(r.left() + 6, r.top() + 1, 200, 20), Qt::AlignLeft | Qt::AlignVCenter, s,
                 f, Qt::black);
        } else {
            text(p, r.adjusted(4, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, s, f, Qt::black);
        }
        break;
    case Bar:
        p.fillRect(QRect(r.left(), r.top(), r.width() * 2 / 5, r.height()),
                   QColor(0x1f, 0x6f, 0xeb));
        break;
    }
}

} // namespace

bool mockVideo(const QString &dir, const QString &out)
{
    QImage img(dir + QStringLiteral("/bmp137.png"));
    if (img.isNull())
        return false;
    img = img.convertToFormat(QImage::Format_RGB32);
    static const Control controls[] = {
        {Label, "第一步：加入视频文件", 8, 71, 74, 8},
        {List, "文件名", 8, 89, 210, 102},
        {Button, "添加", 8, 194, 41, 15},
        {Button, "删除", 49, 194, 42, 15},
        {Button, "清空", 91, 194, 43, 15},
        {Button, "上移", 133, 194, 42, 15},
        {Button, "下移", 175, 194, 43, 15},
        {Label, "第二步：选择输出格式", 225, 71, 72, 8},
        {Combo, "3gp", 230, 89, 217, 12},
        {Label, "视频参数设置", 230, 109, 42, 8},
        {Label, "视频编码", 230, 124, 28, 8},
        {Combo, "MPEG4", 260, 122, 74, 12},
        {Label, "画面质量", 230, 139, 30, 8},
        {Combo, "200k", 260, 136, 74, 12},
        {Label, "视频大小", 230, 153, 30, 8},
        {Combo, "176x144", 260, 151, 74, 12},
        {Label, "视频帧率", 342, 124, 30, 8},
        {Combo, "15", 372, 122, 75, 12},
        {Label, "屏幕比例", 342, 139, 30, 8},
        {Combo, "4:3", 372, 136, 75, 12},
        {Label, "音频参数设置", 230, 169, 42, 8},
        {Label, "音频编码", 230, 183, 28, 8},
        {Combo, "AMR_NB", 260, 181, 74, 12},
        {Label, "声音质量", 230, 197, 28, 8},
        {Combo, "12.2k", 260, 195, 74, 12},
        {Label, "声音频率", 342, 183, 30, 8},
        {Combo, "8000", 372, 181, 75, 12},
        {Label, "音频声道", 342, 199, 30, 8},
        {Combo, "1", 372, 195, 75, 12},
        {Label, "第三步：选择输出目录", 6, 215, 70, 8},
        {Edit, "/home/user/视频", 7, 227, 144, 15},
        {Button, "设置输出目录", 155, 226, 65, 17},
        {Label, "第四步：开始转换", 225, 215, 56, 8},
        {Button, "立即转换", 301, 226, 62, 17},
        {Label, "进度显示：", 6, 246, 35, 8},
        {Bar, "", 43, 247, 402, 6},
    };
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QFont f = cjkFont(12);
    for (const Control &c : controls) {
        QRect r = video::dluRect(c.x, c.y, c.w, c.h);
        if (c.kind == Combo)
            r.setHeight(22); // closed height of a drop-down list
        standIn(p, c.kind, r, QString::fromUtf8(c.text), f);
    }
    p.end();
    return img.save(out);
}

bool mockZelmora(const QString &dir, const QString &out)
{
    QImage img(dir + QStringLiteral("/main.png"));
    if (img.isNull())
        return false;
    img = img.convertToFormat(QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QFont f = latinFont(11);
    const struct {
        const char *text;
        QRect r;
    } combos[] = {{"WMA", {488, 158, 189, 22}},
                  {"192", {488, 200, 189, 22}},
                  {"44100", {488, 244, 189, 22}},
                  {"Stereo", {488, 286, 189, 22}}};
    for (const auto &c : combos)
        text(p, c.r.adjusted(6, 0, -24, 0), Qt::AlignLeft | Qt::AlignVCenter,
             QString::fromLatin1(c.text), f, Qt::black);
    text(p, QRect(492, 330, 139, 23), Qt::AlignLeft | Qt::AlignVCenter,
         QStringLiteral("/home/user/output"), f, Qt::black);
    const QImage bar(dir + QStringLiteral("/progress.png"));
    p.drawImage(QRect(113, 447, 180, 13), bar);
    text(p, QRect(214, 447, 157, 13), Qt::AlignCenter, QStringLiteral("49.8%"), latinFont(10),
         Qt::black);
    text(p, QRect(18, 477, 203, 13), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Zelmora"), f,
         Qt::black);
    text(p, QRect(628, 477, 46, 13), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Feedback"),
         latinFont(10), Qt::black);
    const QImage hover(dir + QStringLiteral("/toolbar_hover_6.png"));
    p.drawImage(QPoint(103, 55), hover);
    const QImage arrow(dir + QStringLiteral("/arrow_light.png"));
    p.drawImage(QPoint(657, 202), arrow);
    p.end();
    return img.save(out);
}

} // namespace skin
