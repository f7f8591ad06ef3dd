#include "queue/commondialogs.h"

#include "queue/naturalorder.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>

namespace zm {

QString CCommonDialogs::upToNul(const QString &s)
{
    const qsizetype nul = s.indexOf(QChar(0));
    return nul < 0 ? s : s.left(nul);
}

QString CCommonDialogs::toQtFilter(const QString &pipeFilter)
{
    const QStringList parts = pipeFilter.split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString &desc = parts[i];
        QStringList patterns;
        for (const QString &p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            // "*.*" means every file where the filter was written; here it would skip names
            // without a dot, so the catch-all becomes "*".
            const QString t = p.trimmed() == QLatin1String("*.*") ? QStringLiteral("*") : p.trimmed();
            for (const QString &v : {t, t.toLower(), t.toUpper()})
                if (!patterns.contains(v))
                    patterns << v;
        }
        // The description already names its pattern ("FLV Files(*.FLV)"); Qt reads the patterns
        // from the last pair of parentheses, so give it the full list there.
        QString shown = desc;
        const qsizetype open = shown.lastIndexOf(QLatin1Char('('));
        if (open > 0 && shown.endsWith(QLatin1Char(')')))
            shown = shown.left(open).trimmed();
        out << shown + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return out.join(QStringLiteral(";;"));
}

bool CCommonDialogs::ShowOpen()
{
    if (!m_backend)
        return false;
    const QString filters = toQtFilter(m_filter);
    const QStringList entries = filters.split(QStringLiteral(";;"));
    QString selected = entries.contains(m_chosenFilter) ? m_chosenFilter : entries.value(0);
    QStringList files = m_backend->openFiles(m_owner, Title(), QDir::currentPath(), filters, &selected);
    files.removeAll(QString());
    if (files.isEmpty())
        return false;
    if (entries.contains(selected))
        m_chosenFilter = selected;
    // The dialog lists a folder in natural name order; the files join the queue that way.
    std::stable_sort(files.begin(), files.end(), [](const QString &a, const QString &b) {
        return naturalLess(QFileInfo(a).fileName(), QFileInfo(b).fileName());
    });
    m_fileNames = files;
    const QString chosen = files.first();
    const QFileInfo info(chosen);
    m_fileName = chosen;
    m_fileTitle = info.fileName();
    const qsizetype slash = chosen.lastIndexOf(QLatin1Char('/'));
    m_path = slash < 0 ? QString() : chosen.left(slash);
    if (!m_path.isEmpty())
        QDir::setCurrent(m_path);
    return true;
}

bool CCommonDialogs::ShowFolder()
{
    if (!m_backend)
        return false;
    const QString chosen = m_backend->chooseFolder(m_owner, Title());
    if (chosen.isEmpty())
        return false;
    m_path = chosen;
    return true;
}

} // namespace zm
