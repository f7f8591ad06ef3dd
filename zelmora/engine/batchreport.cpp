#include "engine/batchreport.h"

#include <QFileInfo>
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

namespace {
// How the converter ended, in words, for a failure without a line of its own and for the log.
QString endingText(const batch::ProcessOutcome &end, bool outputWritten)
{
    if (!end.started())
        return QStringLiteral("the converter could not be started");
    if (end.ending == batch::ProcessOutcome::Ending::Signalled)
        return QStringLiteral("the converter was stopped by signal %1").arg(end.signal);
    if (end.exitCode != 0)
        return QStringLiteral("the converter ended with code %1").arg(end.exitCode);
    if (!outputWritten)
        return QStringLiteral("no output file was written");
    return QStringLiteral("converted");
}
} // namespace

FileVerdict judgeConversion(const batch::ProcessOutcome &end, const QString &outputs, const QString &inputPath,
                            const QString &outputPath, bool stopRequested)
{
    FileVerdict v;
    const bool written = QFileInfo(outputPath).isFile();
    const bool failed = !end.succeeded() || !written;
    const QString ending = endingText(end, written);
    if (!failed) {
        v.kind = FileVerdict::Kind::Converted;
        v.logResult = ending;
    } else if (stopRequested) {
        // Stopped half-way: the file is to be converted another time.
        v.kind = FileVerdict::Kind::Stopped;
        v.logResult = QStringLiteral("stopped (") + ending + QLatin1Char(')');
    } else {
        // The converter's last line names the reason when it reported a failure; a converter
        // that claimed success without writing the file is described by what happened.
        v.kind = FileVerdict::Kind::Failed;
        v.reason = end.started() && !end.succeeded() ? failureReason(outputs, inputPath, ending) : ending;
        v.logResult = QStringLiteral("failed: ") + ending;
    }
    return v;
}

QString conversionLogText(const QString &inputPath, const QString &outputPath, const QString &commandLine,
                          const QString &outputs, const QString &result)
{
    QString text = QStringLiteral("Input: ") + inputPath + QStringLiteral("\nOutput: ") + outputPath
                   + QStringLiteral("\nCommand: ") + commandLine + QStringLiteral("\n\n") + outputs;
    if (!text.endsWith(QLatin1Char('\n')))
        text += QLatin1Char('\n');
    return text + QStringLiteral("\nResult: ") + result + QLatin1Char('\n');
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
