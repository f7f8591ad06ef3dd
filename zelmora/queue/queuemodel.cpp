#include "queue/queuemodel.h"

#include <algorithm>
#include <functional>

namespace zm {

QueueModel::QueueModel(QObject *parent) : QAbstractTableModel(parent) {}

int QueueModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_paths.size());
}

int QueueModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString QueueModel::formatCell(const QString &path)
{
    const QString t = path.trimmed();
    return t.right(3).toUpper();
}

QVariant QueueModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return QVariant();
    const QString &path = m_paths.at(index.row());
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        if (index.column() == FileName)
            return path;
        return role == Qt::DisplayRole ? QVariant(formatCell(path)) : QVariant(path);
    }
    if (role == Qt::EditRole && index.column() == FileName)
        return path;
    return QVariant();
}

QVariant QueueModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    if (section == FileName)
        return QStringLiteral("FileName");
    if (section == Format)
        return QStringLiteral("Format");
    return QVariant();
}

Qt::ItemFlags QueueModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void QueueModel::AddQueueEntry(const QString &path)
{
    const int row = count();
    beginInsertRows(QModelIndex(), row, row);
    m_paths.append(path);
    m_roots.append(QString());
    endInsertRows();
}

void QueueModel::appendEntries(const QStringList &paths)
{
    appendEntries(paths, QStringList());
}

void QueueModel::appendEntries(const QStringList &paths, const QString &root)
{
    appendEntries(paths, QStringList(paths.size(), root));
}

void QueueModel::appendEntries(const QStringList &paths, const QStringList &roots)
{
    if (paths.isEmpty())
        return;
    const int first = count();
    beginInsertRows(QModelIndex(), first, first + int(paths.size()) - 1);
    m_paths.append(paths);
    for (qsizetype i = 0; i < paths.size(); ++i)
        m_roots.append(roots.value(i));
    endInsertRows();
}

bool QueueModel::removeAt(int row)
{
    if (row < 0 || row >= count())
        return false;
    beginRemoveRows(QModelIndex(), row, row);
    m_paths.removeAt(row);
    m_roots.removeAt(row);
    endRemoveRows();
    return true;
}

int QueueModel::removeRowsAt(QList<int> rows)
{
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    const int n = count();
    rows.erase(std::remove_if(rows.begin(), rows.end(), [n](int r) { return r < 0 || r >= n; }), rows.end());
    int removed = 0;
    for (qsizetype i = 0; i < rows.size();) {
        const int last = rows[i];
        int first = last;
        qsizetype j = i + 1;
        while (j < rows.size() && rows[j] == first - 1)
            first = rows[j++];
        i = j;
        beginRemoveRows(QModelIndex(), first, last);
        m_paths.remove(first, last - first + 1);
        m_roots.remove(first, last - first + 1);
        endRemoveRows();
        removed += last - first + 1;
    }
    return removed;
}

void QueueModel::clear()
{
    if (m_paths.isEmpty())
        return;
    beginRemoveRows(QModelIndex(), 0, count() - 1);
    m_paths.clear();
    m_roots.clear();
    endRemoveRows();
}

} // namespace zm
