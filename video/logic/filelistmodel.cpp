#include "logic/filelistmodel.h"

namespace vidrune {

FileListModel::FileListModel(QObject *parent) : QAbstractTableModel(parent) {}

int FileListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : Count();
}

int FileListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FileListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= Count() || index.column() >= ColumnCount)
        return {};
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    const Row &row = m_rows.at(index.row());
    if (index.column() == PathColumn)
        return row.path;
    if (role == Qt::ToolTipRole && !row.detail.isEmpty())
        return row.detail;
    return row.status;
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case PathColumn:
        return QStringLiteral("文件名");
    case StatusColumn:
        return QStringLiteral("状态显示");
    default:
        return {};
    }
}

void FileListModel::InsertAt(int row, const QString &path, const QString &status)
{
    row = std::clamp(row, 0, Count());
    beginInsertRows({}, row, row);
    m_rows.insert(row, Row{path, status, QString(), QString()});
    endInsertRows();
}

bool FileListModel::RemoveAt(int row)
{
    if (row < 0 || row >= Count())
        return false;
    beginRemoveRows({}, row, row);
    m_rows.remove(row);
    endRemoveRows();
    return true;
}

void FileListModel::Clear()
{
    if (m_rows.isEmpty())
        return;
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

QString FileListModel::Path(int row) const
{
    return row >= 0 && row < Count() ? m_rows.at(row).path : QString();
}

QString FileListModel::Status(int row) const
{
    return row >= 0 && row < Count() ? m_rows.at(row).status : QString();
}

void FileListModel::SetStatus(int row, const QString &status)
{
    if (row < 0 || row >= Count() || m_rows.at(row).status == status)
        return;
    m_rows[row].status = status;
    const QModelIndex cell = index(row, StatusColumn);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
}

void FileListModel::SetDetail(int row, const QString &detail)
{
    if (row < 0 || row >= Count() || m_rows.at(row).detail == detail)
        return;
    m_rows[row].detail = detail;
    const QModelIndex cell = index(row, StatusColumn);
    emit dataChanged(cell, cell, {Qt::ToolTipRole});
}

QString FileListModel::Detail(int row) const
{
    return row >= 0 && row < Count() ? m_rows.at(row).detail : QString();
}

void FileListModel::SetLog(int row, const QString &log)
{
    if (row >= 0 && row < Count())
        m_rows[row].log = log;
}

QString FileListModel::Log(int row) const
{
    return row >= 0 && row < Count() ? m_rows.at(row).log : QString();
}

bool FileListModel::Move(int from, int to)
{
    if (from < 0 || from >= Count() || to < 0 || to >= Count())
        return false;
    if (from == to)
        return true;
    // beginMoveRows names the place before which the row lands in the old numbering.
    beginMoveRows({}, from, from, {}, to > from ? to + 1 : to);
    m_rows.move(from, to);
    endMoveRows();
    return true;
}

QStringList FileListModel::Paths() const
{
    QStringList paths;
    paths.reserve(Count());
    for (const Row &r : m_rows)
        paths << r.path;
    return paths;
}

} // namespace vidrune
