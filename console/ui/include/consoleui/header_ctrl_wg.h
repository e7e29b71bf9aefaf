// The drawn header of the cell list control: per-column colours, alignment and font.
#pragma once

#include <QColor>
#include <QFont>
#include <QHeaderView>
#include <QVector>

namespace consoleui {

struct HeaderCellAttributes {
    QColor background{0x2B, 0x4C, 0x7E};
    QColor text{Qt::white};
    QColor border{0x1A, 0x30, 0x52};
    int alignment = 0;  // 0 left, 1 right, 2 centre
};

class CHeaderCtrlWG : public QHeaderView {
    Q_OBJECT
public:
    explicit CHeaderCtrlWG(QWidget* parent = nullptr);

    // Inserts the attributes of a new column at `position` (the default colours).
    void insertColumnAttributes(int position, int alignment);
    void removeColumnAttributes(int position);
    // For one column, or for every column when `column` is -1.
    void setHeaderCellAttributes(int column, const HeaderCellAttributes& attributes);
    HeaderCellAttributes headerCellAttributes(int column) const;

    void setHeaderFont(const QFont& font);
    QFont headerFont() const { return m_font; }
    void setHeaderHeight(int height);

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    QSize sectionSizeFromContents(int logicalIndex) const override;

private:
    QVector<HeaderCellAttributes> m_attributes;
    QFont m_font;
    int m_height = 24;
};

}  // namespace consoleui
