#include "shared/batchlogs.h"

#include "shared/outputnames.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>

namespace batch {

BatchLogs::BatchLogs(QString root, Layout layout, int keep)
    : m_root(std::move(root)), m_layout(std::move(layout)), m_keep(keep)
{}

bool BatchLogs::isBatchFolderName(const QString &name) const
{
    const qsizetype stampLength = m_layout.stampFormat.size();
    const QString stamp = name.left(stampLength);
    const QString rest = name.mid(stampLength);
    static const QRegularExpression counter(QStringLiteral("^(-[0-9]+)?$"));
    // Every letter of the format stands for a digit here.
    static const QRegularExpression digitsOnly(QStringLiteral("[A-Za-z]"));
    QString shape = QRegularExpression::escape(m_layout.stampFormat);
    shape.replace(digitsOnly, QStringLiteral("[0-9]"));
    return QRegularExpression(QStringLiteral("^") + shape + QStringLiteral("$")).match(stamp).hasMatch()
           && counter.match(rest).hasMatch();
}

bool BatchLogs::begin(const QDateTime &start)
{
    m_folder.clear();
    m_used.clear();
    QDir root(m_root);
    if (!root.mkpath(QStringLiteral(".")))
        return false;
    const QString stamp = start.toString(m_layout.stampFormat);
    QString name = stamp;
    for (int n = 2; root.exists(name); ++n)
        name = stamp + QLatin1Char('-') + QString::number(n);
    if (!root.mkdir(name))
        return false;
    m_folder = root.filePath(name);
    prune();
    return true;
}

void BatchLogs::prune()
{
    const QDir root(m_root);
    QStringList batches = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    batches.erase(
        std::remove_if(batches.begin(), batches.end(), [this](const QString &n) { return !isBatchFolderName(n); }),
        batches.end());
    // Oldest first; a "-n" name after its plain one, in the order of n.
    const qsizetype stamp = m_layout.stampFormat.size();
    std::sort(batches.begin(), batches.end(), [stamp](const QString &a, const QString &b) {
        const QString sa = a.left(stamp), sb = b.left(stamp);
        if (sa != sb)
            return sa < sb;
        return a.mid(stamp + 1).toInt() < b.mid(stamp + 1).toInt();
    });
    const QString current = QFileInfo(m_folder).fileName();
    for (qsizetype i = 0; i + m_keep < batches.size(); ++i)
        if (batches.at(i) != current)
            QDir(root.filePath(batches.at(i))).removeRecursively();
}

QString BatchLogs::logName(const QString &inputPath)
{
    QString name = inputPath.mid(inputPath.lastIndexOf(QLatin1Char('/')) + 1);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name = QStringLiteral("input");
    while (name.toUtf8().size() > kMaxNameBytes)
        name.chop(1);
    if (name.size() > 0 && name.back().isHighSurrogate())
        name.chop(1);
    return name;
}

QString BatchLogs::fileFor(const QString &inputPath, int index)
{
    if (m_folder.isEmpty())
        return QString();
    const QString name = logName(inputPath);
    if (m_layout.naming == Naming::Numbered)
        return m_folder + QStringLiteral("/%1 %2.log").arg(index + 1, 2, 10, QLatin1Char('0')).arg(name);
    const QString wanted = m_folder + QLatin1Char('/') + name + QStringLiteral(".log");
    QString path = wanted;
    for (int n = 2; m_used.contains(path); ++n)
        path = numberedPath(wanted, n);
    m_used.insert(path);
    return path;
}

QString BatchLogs::write(const QString &inputPath, const QString &text, int index)
{
    const QString path = fileFor(inputPath, index);
    if (path.isEmpty())
        return QString();
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    const QByteArray bytes = text.toUtf8();
    return f.write(bytes) == bytes.size() ? path : QString();
}

bool BatchLogs::append(const QString &logPath, const QString &text)
{
    if (logPath.isEmpty())
        return false;
    QFile file(logPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    const QByteArray bytes = text.toUtf8();
    return file.write(bytes) == bytes.size();
}

} // namespace batch
