// Hands cell painting to the list, which knows every cell's registration.
#include "cell_delegate.h"

#include "consoleui/list_ctrl_wg.h"

namespace consoleui {

CellDelegate::CellDelegate(CListCtrlWG* list) : QStyledItemDelegate(list), m_list(list) {}

void CellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const {
    m_list->paintCell(painter, option.rect, index.row(), index.column());
}

QSize CellDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(m_list->rowHeightPixels());
    return size;
}

}  // namespace consoleui
