#include "engine/batchreport.h"

#include <QRegularExpression>
#include <QStringList>

namespace zm {

QString lastOutputLine(const QString &outputs)
{
    static const QRegularExpression lineEnd(QStringLiteral("[\r\n]"));
    const QStringList lines = outputs.split(lineEnd, Qt::SkipEmptyParts);
    for (qsizetype i = lines.size() - 1; i >= 0; --i) {
        QString t = lines[i].trimmed();
        if (!t.isEmpty())
            return t;
    }
    return QString();
}

QString failureReason(const QString &outputs, const QString &inputPath, const QString &howItEnded)
{
    QString line = lastOutputLine(outputs);
    if (!inputPath.isEmpty()) {
        for (const QString &quoted : {QLatin1Char('\'') + inputPath + QLatin1Char('\''),
                                      QLatin1Char('"') + inputPath + QLatin1Char('"'), inputPath})
            line.replace(quoted, QString());
        // What the path leaves behind: "input: " at the end, ": :" or doubled blanks inside.
        static const QRegularExpression doubled(QStringLiteral("\\s*:\\s*:"));
        static const QRegularExpression blanks(QStringLiteral("\\s{2,}"));
        static const QRegularExpression blankColon(QStringLiteral("\\s+:"));
        line.replace(doubled, QStringLiteral(":"));
        line.replace(blanks, QStringLiteral(" "));
        line.replace(blankColon, QStringLiteral(":"));
        line = line.trimmed();
        while (line.endsWith(QLatin1Char(':')))
            line = line.chopped(1).trimmed();
    }
    return line.isEmpty() ? howItEnded : line;
}

QString failuresText(const QList<FailedFile> &failures)
{
    QString text;
    for (const FailedFile &f : failures)
        text += f.inputPath + QStringLiteral("\n    ") + f.reason + QLatin1Char('\n');
    return text;
}

QString failuresHeading(qsizetype count)
{
    return count == 1 ? QStringLiteral("1 file could not be converted:")
                      : QStringLiteral("%1 files could not be converted:").arg(count);
}

} // namespace zm
