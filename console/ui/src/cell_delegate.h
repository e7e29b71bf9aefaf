// Draws the cells of the cell list control: text, icon strips and single icons.
#pragma once

#include <QStyledItemDelegate>

namespace consoleui {

class CListCtrlWG;

class CellDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit CellDelegate(CListCtrlWG* list);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    CListCtrlWG* m_list;
};

}  // namespace consoleui
