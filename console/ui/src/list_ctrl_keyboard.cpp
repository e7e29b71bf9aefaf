// The cell list control by keyboard: arrows move the focused cell (and, in an icon strip,
// the focused icon), Space and Enter act as a double-click, a frame shows the focused cell.
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>
#include <algorithm>

#include "cell_table_model.h"
#include "consoleui/list_ctrl_wg.h"
#include "platform/message_target.h"
#include "platform/messages.h"

namespace consoleui {

namespace {
const QColor kFocusFrame(0x1F, 0x4E, 0x9A);
}

int CListCtrlWG::focusRow() const {
    if (m_highlightedRow >= 0 && m_highlightedRow < rowCount()) return m_highlightedRow;
    return rowCount() > 0 ? 0 : -1;
}

int CListCtrlWG::stripIconCount(int row, int column) const {
    if (row < 0 || row >= stripCount() || m_stripCells.count({row, column}) == 0) return 0;
    return static_cast<int>(m_strips[static_cast<std::size_t>(row)].size());
}

void CListCtrlWG::activateFocusedCell() {
    const int row = focusRow();
    const int column = m_highlightedColumn;
    if (row < 0 || column < 0 || column >= columnCount()) return;
    scrollTo(m_model->index(row, column), QAbstractItemView::EnsureVisible);
    if (const int icons = stripIconCount(row, column); icons > 0) {
        if (m_owner) {
            m_owner->post(platform::WM_LED_CELL_CLICKED, static_cast<std::uintptr_t>(row),
                          std::clamp(m_focusIcon, 0, icons - 1));
        }
        return;
    }
    if (m_buttonCells.count({row, column}) != 0) {
        if (m_owner) {
            m_owner->post(platform::WM_BUTTON_CELL_CLICKED, static_cast<std::uintptr_t>(row),
                          column);
        }
        return;
    }
    openEditor(row, column);
}

void CListCtrlWG::keyPressEvent(QKeyEvent* event) {
    const int row = focusRow();
    const int icons = stripIconCount(row, m_highlightedColumn);
    switch (event->key()) {
        case Qt::Key_Left:
            if (icons > 0 && m_focusIcon > 0) {
                --m_focusIcon;  // within the strip first
                viewport()->update();
                return;
            }
            m_highlightedColumn = std::max(m_highlightedColumn - 1, 0);
            m_focusIcon = std::max(stripIconCount(row, m_highlightedColumn) - 1, 0);
            break;
        case Qt::Key_Right:
            if (icons > 0 && m_focusIcon < icons - 1) {
                ++m_focusIcon;
                viewport()->update();
                return;
            }
            m_highlightedColumn =
                std::clamp(m_highlightedColumn + 1, 0, std::max(columnCount() - 1, 0));
            m_focusIcon = 0;
            break;
        case Qt::Key_Up:
            if (rowCount() > 0)
                setHighlightedRow(std::clamp(m_highlightedRow - 1, 0, rowCount() - 1));
            break;
        case Qt::Key_Down:
            if (rowCount() > 0)
                setHighlightedRow(std::clamp(m_highlightedRow + 1, 0, rowCount() - 1));
            break;
        case Qt::Key_Space:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // Taken here, so Enter does not reach the dialog's default button.
            activateFocusedCell();
            return;
        default:
            break;
    }
    QTableView::keyPressEvent(event);
    if (const int focused = focusRow(); focused >= 0) {
        scrollTo(m_model->index(focused, m_highlightedColumn), QAbstractItemView::EnsureVisible);
    }
    viewport()->update();
}

void CListCtrlWG::focusInEvent(QFocusEvent* event) {
    QTableView::focusInEvent(event);
    viewport()->update();
}

void CListCtrlWG::focusOutEvent(QFocusEvent* event) {
    QTableView::focusOutEvent(event);
    viewport()->update();
}

void CListCtrlWG::paintFocusFrame(QPainter* painter, const QRect& rect, int row, int column) const {
    if (!hasFocus() || row != focusRow() || column != m_highlightedColumn) return;
    const int icons = stripIconCount(row, column);
    const QRect frame =
        icons > 0 ? stripIconRect(row, column, std::clamp(m_focusIcon, 0, icons - 1)) : rect;
    painter->setPen(QPen(kFocusFrame, 2));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(frame.adjusted(1, 1, -1, -1));
}

}  // namespace consoleui
