// Row and column storage behind the cell list control.
#include "cell_table_model.h"

#include <algorithm>

namespace consoleui {

int CellTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CellTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant CellTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole) return {};
    return text(index.row(), index.column());
}

QVariant CellTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    if (section < 0 || section >= m_columns.size()) return {};
    return m_columns[section].title;
}

int CellTableModel::insertColumnAt(int position, const QString& title, int alignment) {
    position = std::clamp(position, 0, static_cast<int>(m_columns.size()));
    beginInsertColumns({}, position, position);
    m_columns.insert(position, Column{title, alignment});
    for (auto& row : m_rows) row.insert(position, QString());
    endInsertColumns();
    return position;
}

int CellTableModel::insertRowAt(int position, const QString& firstCell) {
    position = std::clamp(position, 0, static_cast<int>(m_rows.size()));
    beginInsertRows({}, position, position);
    QVector<QString> row(m_columns.size());
    if (!row.isEmpty()) row[0] = firstCell;
    m_rows.insert(position, row);
    endInsertRows();
    return position;
}

bool CellTableModel::removeRowAt(int row) {
    if (row < 0 || row >= m_rows.size()) return false;
    beginRemoveRows({}, row, row);
    m_rows.remove(row);
    endRemoveRows();
    return true;
}

void CellTableModel::removeRows(const std::vector<int>& rows) {
    // From the bottom up, so the indices still to go stay valid.
    for (std::size_t end = rows.size(); end > 0;) {
        std::size_t begin = end - 1;
        while (begin > 0 && rows[begin - 1] == rows[begin] - 1) --begin;
        const int first = rows[begin];
        const int last = rows[end - 1];
        beginRemoveRows({}, first, last);
        m_rows.remove(first, last - first + 1);
        endRemoveRows();
        end = begin;
    }
}

void CellTableModel::clearRows() {
    if (m_rows.isEmpty()) return;
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

bool CellTableModel::setText(int row, int column, const QString& text) {
    if (row < 0 || row >= m_rows.size() || column < 0 || column >= m_columns.size()) {
        return false;
    }
    if (m_rows[row][column] == text) return true;
    m_rows[row][column] = text;
    const QModelIndex changed = index(row, column);
    emit dataChanged(changed, changed, {Qt::DisplayRole});
    return true;
}

QString CellTableModel::text(int row, int column) const {
    if (row < 0 || row >= m_rows.size() || column < 0 || column >= m_columns.size()) return {};
    return m_rows[row][column];
}

int CellTableModel::alignment(int column) const {
    if (column < 0 || column >= m_columns.size()) return 0;
    return m_columns[column].alignment;
}

}  // namespace consoleui
