// The text of the cell list control: columns with titles and alignments, rows of cells.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QVector>
#include <vector>

namespace consoleui {

class CellTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // `position` is clamped into 0..count; the index actually used is returned.
    int insertColumnAt(int position, const QString& title, int alignment);
    int insertRowAt(int position, const QString& firstCell);
    bool removeRowAt(int row);
    // `rows` ascending and in range; runs of adjacent rows go out together.
    void removeRows(const std::vector<int>& rows);
    void clearRows();

    bool setText(int row, int column, const QString& text);
    QString text(int row, int column) const;
    int alignment(int column) const;

private:
    struct Column {
        QString title;
        int alignment = 0;
    };
    QVector<Column> m_columns;
    QVector<QVector<QString>> m_rows;
};

}  // namespace consoleui
