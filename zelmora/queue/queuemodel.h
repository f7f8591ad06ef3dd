#pragma once
#include <QAbstractTableModel>
#include <QStringList>

namespace zm {

// The file queue: one list of full paths, seen by the window as the list view LV (columns
// "FileName" and "Format") and by the batch as lstFile (row 0 is the head). Every change goes
// through this model, so both names always hold the same paths in the same order.
//
// Beside each path the queue keeps its root: the folder it was found in by Add Folder or in a
// dropped folder (empty for a file added by itself), so its output can keep its place below
// that folder.
class QueueModel final : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { FileName = 0, Format = 1, ColumnCount = 2 };

    explicit QueueModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // The "Format" cell of a path: its last three characters (blanks around it ignored), upper-cased.
    static QString formatCell(const QString &path);

    int count() const { return int(m_paths.size()); }
    bool isEmpty() const { return m_paths.isEmpty(); }
    QString at(int row) const { return m_paths.value(row); }
    const QStringList &paths() const { return m_paths; }
    QString rootAt(int row) const { return m_roots.value(row); }
    const QStringList &roots() const { return m_roots; }

    void AddQueueEntry(const QString &path);
    void appendEntries(const QStringList &paths); // one insertion for many paths
    // Paths found below `root` (one insertion).
    void appendEntries(const QStringList &paths, const QString &root);
    // Paths each with its own root (`roots` as long as `paths`; missing ones are empty).
    void appendEntries(const QStringList &paths, const QStringList &roots);
    bool removeAt(int row);
    bool removeHead() { return removeAt(0); }
    // Removes the given rows (any order, duplicates and rows out of range ignored), one model
    // change per run of adjacent rows; returns how many were removed.
    int removeRowsAt(QList<int> rows);
    void clear();

private:
    QStringList m_paths;
    QStringList m_roots; // as long as m_paths
};

} // namespace zm
