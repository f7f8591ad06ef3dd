#include "core/conversionlogs.h"

#include "core/statelocations.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace vidrune {

namespace {

// Batch folder names: "yyyyMMdd-HHmmss-zzz", with "-n" when two start in one millisecond.
const QRegularExpression &BatchName()
{
    static const QRegularExpression re(QStringLiteral("^\\d{8}-\\d{6}-\\d{3}(-\\d+)?$"));
    return re;
}

} // namespace

ConversionLogs::ConversionLogs(QString root)
    : m_root(root.isEmpty() ? DefaultRoot() : std::move(root))
{}

QString ConversionLogs::DefaultRoot()
{
    return batch::stateHome() + QStringLiteral("/vidrune/logs");
}

QString ConversionLogs::BeginBatch()
{
    if (!QDir().mkpath(m_root))
        return {};
    const QString stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    QDir root(m_root);
    QString name = stamp;
    for (int n = 2; root.exists(name); ++n)
        name = stamp + QStringLiteral("-%1").arg(n);
    if (!root.mkdir(name))
        return {};
    Rotate(name);
    return root.filePath(name);
}

void ConversionLogs::Rotate(const QString &keep)
{
    QDir root(m_root);
    QStringList batches;
    for (const QString &name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (BatchName().match(name).hasMatch())
            batches << name;
    }
    // Oldest first; a "-n" suffix sorts after its plain name. Other folders are left alone.
    std::sort(batches.begin(), batches.end(), [](const QString &a, const QString &b) {
        const QString sa = a.left(19), sb = b.left(19);
        if (sa != sb)
            return sa < sb;
        return a.mid(20).toInt() < b.mid(20).toInt();
    });
    for (qsizetype i = 0; i + KeptBatches < batches.size(); ++i) {
        if (batches.at(i) != keep)
            QDir(root.filePath(batches.at(i))).removeRecursively();
    }
}

QString ConversionLogs::FileLog(const QString &batchFolder, int row, const QString &inputPath)
{
    if (batchFolder.isEmpty())
        return {};
    QString name = inputPath.mid(inputPath.lastIndexOf(QLatin1Char('/')) + 1);
    // A file name may use the whole 255 bytes a name can have; the log's name adds to it.
    while (name.toUtf8().size() > MaxNameBytes)
        name.chop(1);
    return batchFolder
           + QStringLiteral("/%1 %2.log").arg(row + 1, 2, 10, QLatin1Char('0')).arg(name);
}

bool ConversionLogs::Append(const QString &logPath, const QString &text)
{
    if (logPath.isEmpty())
        return false;
    QFile file(logPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    const QByteArray bytes = text.toUtf8();
    return file.write(bytes) == bytes.size();
}

} // namespace vidrune
