#include "support/loudness.h"

#include "support/process.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace testsupport {

Loudness ebur128(const QStringList &files)
{
    QStringList args{"-hide_banner", "-nostats"};
    QString graph;
    for (qsizetype i = 0; i < files.size(); ++i) {
        args << "-i" << files.at(i);
        graph += QStringLiteral("[%1:a]").arg(i);
    }
    graph += QStringLiteral("concat=n=%1:v=0:a=1,ebur128=peak=true:metadata=1,ametadata=mode=print:"
                            "key=lavfi.r128.I")
                 .arg(files.size());
    args << "-filter_complex" << graph << "-f"
         << "null"
         << "-";
    const RunResult r = run(QStringLiteral("ffmpeg"), args, 120000);
    const QString text = QString::fromUtf8(r.err);
    Loudness found;
    // The last frame's integrated loudness, to a thousandth (the summary gives tenths).
    const auto i = QRegularExpression(QStringLiteral("lavfi.r128.I=(-?[0-9.]+)"))
                       .match(text.mid(text.lastIndexOf(QStringLiteral("lavfi.r128.I="))));
    if (i.hasMatch())
        found.integrated = i.captured(1).toDouble();
    const auto p =
        QRegularExpression(QStringLiteral("True peak:\\s+Peak:\\s+(-?[0-9.]+|-inf) dBFS"))
            .match(text.mid(text.lastIndexOf(QStringLiteral("Summary:"))));
    if (p.hasMatch())
        found.truePeak = p.captured(1).toDouble();
    return found;
}

QMap<QString, LoudgainLine> loudgainScan(const QStringList &files)
{
    QMap<QString, LoudgainLine> found;
    const RunResult r = run(QStringLiteral("loudgain"), QStringList{"-a", "-q", "-O"} + files);
    for (const QByteArray &line : r.out.split('\n')) {
        const QList<QByteArray> f = line.split('\t');
        if (f.size() < 9 || f.at(0) == "File")
            continue;
        // "-18.04 LUFS", "+4.126 dB": the number before the unit.
        const auto number = [](const QByteArray &text) {
            return text.trimmed().split(' ').value(0).toDouble();
        };
        found.insert(QFileInfo(QString::fromUtf8(f.at(0))).fileName(),
                     {number(f.at(1)), number(f.at(8))});
    }
    return found;
}

} // namespace testsupport
