#include "shared/outputnames.h"

#include <QDir>

namespace batch {

QString numberedPath(const QString &path, int n)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    const QString suffix = QStringLiteral(" (") + QString::number(n) + QLatin1Char(')');
    if (dot > slash)
        return path.left(dot) + suffix + path.mid(dot);
    return path + suffix;
}

bool OutputNames::isTaken(const QString &path) const
{
    return m_taken.contains(QDir::cleanPath(path));
}

QString OutputNames::take(const QString &wanted, const std::function<bool(const QString &)> &alsoAvoid)
{
    QString name = wanted;
    for (int n = 2; isTaken(name) || (alsoAvoid && alsoAvoid(name)); ++n)
        name = numberedPath(wanted, n);
    hold(name);
    return name;
}

void OutputNames::hold(const QString &path)
{
    m_taken.insert(QDir::cleanPath(path), ++m_count);
}

void OutputNames::release(const QString &path)
{
    m_taken.remove(QDir::cleanPath(path));
}

bool OutputNames::releaseIfLast(const QString &path)
{
    const auto it = m_taken.constFind(QDir::cleanPath(path));
    if (it == m_taken.cend() || it.value() != m_count)
        return false;
    m_taken.erase(it);
    return true;
}

void OutputNames::clear()
{
    m_taken.clear();
    m_count = 0;
}

} // namespace batch
