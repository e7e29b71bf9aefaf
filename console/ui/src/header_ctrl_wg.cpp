// Paints each header section in its column's colours.
#include "consoleui/header_ctrl_wg.h"

#include <algorithm>

#include <QAbstractItemModel>
#include <QPainter>

namespace consoleui {

namespace {

Qt::Alignment toQtAlignment(int alignment) {
    switch (alignment) {
        case 1:
            return Qt::AlignRight | Qt::AlignVCenter;
        case 2:
            return Qt::AlignHCenter | Qt::AlignVCenter;
        default:
            return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

}  // namespace

CHeaderCtrlWG::CHeaderCtrlWG(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setSectionsClickable(false);
    setHighlightSections(false);
    setMinimumSectionSize(0);  // hidden value columns have width 0
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setSectionResizeMode(QHeaderView::Interactive);
    m_font = font();
}

void CHeaderCtrlWG::insertColumnAttributes(int position, int alignment) {
    HeaderCellAttributes attributes;
    attributes.alignment = alignment;
    position = std::clamp(position, 0, static_cast<int>(m_attributes.size()));
    m_attributes.insert(position, attributes);
}

void CHeaderCtrlWG::removeColumnAttributes(int position) {
    if (position >= 0 && position < m_attributes.size()) m_attributes.remove(position);
}

void CHeaderCtrlWG::setHeaderCellAttributes(int column, const HeaderCellAttributes& attributes) {
    if (column == -1) {
        for (auto& a : m_attributes) a = attributes;
    } else if (column >= 0 && column < m_attributes.size()) {
        m_attributes[column] = attributes;
    }
    viewport()->update();
}

HeaderCellAttributes CHeaderCtrlWG::headerCellAttributes(int column) const {
    if (column >= 0 && column < m_attributes.size()) return m_attributes[column];
    return {};
}

void CHeaderCtrlWG::setHeaderFont(const QFont& font) {
    m_font = font;
    setFont(font);
    viewport()->update();
}

void CHeaderCtrlWG::setHeaderHeight(int height) {
    m_height = std::max(height, 1);
    setFixedHeight(m_height);
}

QSize CHeaderCtrlWG::sectionSizeFromContents(int logicalIndex) const {
    QSize size = QHeaderView::sectionSizeFromContents(logicalIndex);
    size.setHeight(m_height);
    return size;
}

void CHeaderCtrlWG::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    if (!rect.isValid() || rect.width() <= 0) return;
    const HeaderCellAttributes a = headerCellAttributes(logicalIndex);
    painter->save();
    painter->fillRect(rect, a.background);
    painter->setPen(a.border);
    painter->drawLine(rect.topRight(), rect.bottomRight());
    painter->drawLine(rect.bottomLeft(), rect.bottomRight());
    if (model()) {
        QString title = model()->headerData(logicalIndex, orientation()).toString();
        if (isSortIndicatorShown() && sortIndicatorSection() == logicalIndex) {
            title += sortIndicatorOrder() == Qt::AscendingOrder ? QStringLiteral(" ▲")
                                                                : QStringLiteral(" ▼");
        }
        painter->setFont(m_font);
        painter->setPen(a.text);
        const QRect textRect = rect.adjusted(4, 0, -4, 0);
        painter->drawText(
            textRect, toQtAlignment(a.alignment),
            painter->fontMetrics().elidedText(title, Qt::ElideRight, textRect.width()));
    }
    painter->restore();
}

}  // namespace consoleui
