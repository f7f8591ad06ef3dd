#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QVector>

namespace vidrune {

// The file list of the main dialog: column 0 the full path of an input file, column 1 its
// status text. Rows are plain values, so long lists stay cheap.
class FileListModel final : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { PathColumn = 0, StatusColumn = 1, ColumnCount };

    explicit FileListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    int Count() const { return static_cast<int>(m_rows.size()); }
    // Inserts before `row` (clamped to 0..Count()).
    void InsertAt(int row, const QString &path, const QString &status = QString());
    // False (and nothing changes) when `row` is out of range.
    bool RemoveAt(int row);
    void Clear();
    QString Path(int row) const;
    QString Status(int row) const;
    void SetStatus(int row, const QString &status);
    // Why a file failed, shown as the status cell's tool tip (empty: the status itself).
    void SetDetail(int row, const QString &detail);
    QString Detail(int row) const;
    // The log file of the file's last conversion (empty: none).
    void SetLog(int row, const QString &log);
    QString Log(int row) const;
    // Moves a row with everything it carries (status, reason, log) to `to`; false when either
    // index is out of range.
    bool Move(int from, int to);
    QStringList Paths() const;

private:
    struct Row {
        QString path;
        QString status;
        QString detail;
        QString log;
    };
    QVector<Row> m_rows;
};

} // namespace vidrune
