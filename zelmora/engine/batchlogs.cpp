#include "engine/batchlogs.h"

#include "queue/getfile.h"
#include "engine/commandline.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <algorithm>

namespace zm {

QString logsRoot()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/zelmora/logs");
}

bool BatchLogs::isBatchFolderName(const QString &name)
{
    static const QRegularExpression form(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d\\.\\d{3}(-\\d+)?$"));
    return form.match(name).hasMatch();
}

bool BatchLogs::begin(const QDateTime &start)
{
    m_folder.clear();
    m_used.clear();
    QDir root(m_root);
    if (!root.mkpath(QStringLiteral(".")))
        return false;
    const QString stamp = start.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss.zzz"));
    QString name = stamp;
    for (int n = 2; root.exists(name); ++n)
        name = stamp + QLatin1Char('-') + QString::number(n);
    if (!root.mkdir(name))
        return false;
    m_folder = root.filePath(name);

    QStringList batches = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
    batches.erase(
        std::remove_if(batches.begin(), batches.end(), [](const QString &n) { return !isBatchFolderName(n); }),
        batches.end());
    // Names sort by age ("-2" after a name of the same millisecond).
    std::sort(batches.begin(), batches.end(), [](const QString &a, const QString &b) {
        const QString sa = a.left(23), sb = b.left(23);
        if (sa != sb)
            return sa < sb;
        return a.mid(24).toInt() < b.mid(24).toInt();
    });
    for (qsizetype i = 0; i + m_keep < batches.size(); ++i)
        QDir(root.filePath(batches[i])).removeRecursively();
    return true;
}

QString BatchLogs::write(const QString &inputPath, const QString &text)
{
    if (m_folder.isEmpty())
        return QString();
    QString name = GetFileName(inputPath);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name = QStringLiteral("input");
    const QString wanted = m_folder + QLatin1Char('/') + name + QStringLiteral(".log");
    QString path = wanted;
    for (int n = 2; m_used.contains(path); ++n)
        path = numberedPath(wanted, n);
    m_used.insert(path);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    const QByteArray bytes = text.toUtf8();
    return f.write(bytes) == bytes.size() ? path : QString();
}

} // namespace zm
