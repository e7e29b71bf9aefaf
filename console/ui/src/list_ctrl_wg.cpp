// The cell list control: registrations, hit tests, editor opening and closing, drawing.
#include "consoleui/list_ctrl_wg.h"

#include <QHeaderView>

#include <QFontMetrics>

#include <QToolTip>

#include <QHelpEvent>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <climits>

#include "cell_delegate.h"
#include "cell_table_model.h"
#include "consoleui/ui_fonts.h"
#include "editor_watcher.h"
#include "platform/message_target.h"
#include "platform/messages.h"

namespace consoleui {

namespace {

const QColor kRowBackground(0xFF, 0xFF, 0xFF);
const QColor kAlternateBackground(0xF2, 0xF6, 0xFB);
const QColor kHighlightBackground(0xC9, 0xDD, 0xF5);
const QColor kTextColour(0x10, 0x1A, 0x28);
const QColor kGridColour(0xC8, 0xD2, 0xDE);

Qt::Alignment textAlignment(int alignment) {
    switch (alignment) {
        case 1:
            return Qt::AlignRight | Qt::AlignVCenter;
        case 2:
            return Qt::AlignHCenter | Qt::AlignVCenter;
        default:
            return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

// Leading decimal digits after optional blanks and sign, as the C library reads them;
// clamped instead of overflowing.
int leadingNumber(const QString& text) {
    int i = 0;
    const int n = static_cast<int>(text.size());
    while (i < n && (text[i] == u' ' || text[i] == u'\t')) ++i;
    bool negative = false;
    if (i < n && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    long long value = 0;
    for (; i < n && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i].unicode() - u'0');
        if (value > static_cast<long long>(INT_MAX) + 1) break;
    }
    if (negative) value = -value;
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

}  // namespace

namespace {
// Operator-dragged column widths by window/list name, for the life of the process (GUI
// thread only).
std::map<QString, std::map<int, int>>& operatorWidths() {
    static std::map<QString, std::map<int, int>> widths;
    return widths;
}
}  // namespace

CListCtrlWG::CListCtrlWG(QWidget* parent)
    : QTableView(parent),
      m_model(new CellTableModel(this)),
      m_header(new CHeaderCtrlWG(this)),
      m_delegate(new CellDelegate(this)) {
    setHorizontalHeader(m_header);
    setModel(m_model);
    setItemDelegate(m_delegate);
    setSelectionMode(QAbstractItemView::NoSelection);
    // Tab moves the focus to the next control instead of walking every cell.
    setTabKeyNavigation(false);
    setFocusPolicy(Qt::StrongFocus);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setWordWrap(false);
    setShowGrid(true);
    setGridStyle(Qt::SolidLine);
    setStyleSheet(QStringLiteral("QTableView { gridline-color: %1; background: %2; }")
                      .arg(kGridColour.name(), kRowBackground.name()));
    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_rowFont = font();
    setRowHeight(22);
    // Widths the operator drags are remembered; widths set by code are not.
    m_header->viewport()->installEventFilter(this);
    connect(m_header, &QHeaderView::sectionResized, this, [this](int column, int, int width) {
        if (m_headerDragging) operatorWidths()[widthKey()][column] = width;
    });
}

QString CListCtrlWG::widthKey() const {
    return window()->objectName() + QLatin1Char('/') + objectName();
}

int CListCtrlWG::operatorWidth(int column) const {
    const auto& all = operatorWidths();
    auto list = all.find(widthKey());
    if (list == all.end()) return -1;
    auto it = list->second.find(column);
    return it == list->second.end() ? -1 : it->second;
}

void CListCtrlWG::setLayoutWidth(int column, int width) {
    const int kept = operatorWidth(column);
    setColumnWidth(column, std::max(kept >= 0 ? kept : width, 0));
}

bool CListCtrlWG::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_header->viewport()) {
        if (event->type() == QEvent::MouseButtonPress) m_headerDragging = true;
        if (event->type() == QEvent::MouseButtonRelease) m_headerDragging = false;
    }
    return QTableView::eventFilter(watched, event);
}

bool CListCtrlWG::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = indexAt(help->pos());
        const QString text = index.isValid() ? itemText(index.row(), index.column()) : QString();
        const QRect rect = visualRect(index);
        const QString rowTip = index.isValid() ? rowStyle(index.row()).toolTip : QString();
        if (!rowTip.isEmpty()) {
            QToolTip::showText(help->globalPos(), rowTip, viewport(), rect);
            return true;
        }
        // 6 pixels: the cell's text margins.
        if (!text.isEmpty() && QFontMetrics(m_rowFont).horizontalAdvance(text) + 6 > rect.width()) {
            QToolTip::showText(help->globalPos(), text, viewport(), rect);
        } else {
            QToolTip::hideText();
        }
        return true;
    }
    return QTableView::viewportEvent(event);
}

CListCtrlWG::~CListCtrlWG() {
    // No callback may run into a half-destroyed owner: forget the open editor quietly.
    // Editors opened inside the viewport die with it, after this part of the object is gone.
    for (QWidget* editor : m_knownEditors) {
        EditorWatcher::instance().unwatch(editor);
        disconnect(editor, &QObject::destroyed, this, nullptr);
    }
    m_openCell.reset();
}

// --- columns and text ---------------------------------------------------------------------

int CListCtrlWG::insertColumnWithHeader(int position, const QString& title, int alignment,
                                        int width) {
    if (alignment < 0 || alignment > 2) alignment = 0;
    const int column = m_model->insertColumnAt(position, title, alignment);
    m_header->insertColumnAttributes(column, alignment);
    setColumnWidth(column, std::max(width, 0));
    return column;
}

int CListCtrlWG::columnCount() const {
    return m_model->columnCount();
}

int CListCtrlWG::rowCount() const {
    return m_model->rowCount();
}

int CListCtrlWG::insertRowWithNumber(int position, int value) {
    return insertRowWithText(position, QString::number(value));
}

int CListCtrlWG::insertRowWithText(int position, const QString& firstCell) {
    rowsShiftFrom(std::clamp(position, 0, rowCount()));
    return m_model->insertRowAt(position, firstCell);  // new rows take the default height
}

bool CListCtrlWG::setItemText(int row, int column, const QString& text) {
    return m_model->setText(row, column, text);
}

QString CListCtrlWG::itemText(int row, int column) const {
    return m_model->text(row, column);
}

bool CListCtrlWG::setCellNumber(int row, int column, int value) {
    return setItemText(row, column, QString::number(value));
}

int CListCtrlWG::cellNumber(int row, int column) const {
    return leadingNumber(itemText(row, column));
}

bool CListCtrlWG::deleteRow(int row) {
    if (row < 0 || row >= rowCount()) return false;
    deleteRows({row});
    return true;
}

void CListCtrlWG::deleteRows(std::vector<int> rows) {
    std::erase_if(rows, [this](int row) { return row < 0 || row >= rowCount(); });
    if (rows.empty()) return;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rowsShiftFrom(rows.front());
    m_model->removeRows(rows);
    if (m_highlightedRow >= rowCount()) setHighlightedRow(rowCount() - 1);
}

void CListCtrlWG::deleteAllRows() {
    discardOpenEditor();
    m_model->clearRows();
    setHighlightedRow(-1);
}

// --- interactive cells --------------------------------------------------------------------

void CListCtrlWG::registerIconStrip(int row, int column, IconHandle icon, int xOffset, int yOffset,
                                    int stripLength, int cellValue) {
    m_stripLength = std::clamp(stripLength, 0, 256);
    m_stripXOffset = xOffset;
    m_stripYOffset = yOffset;
    m_strips.emplace_back(static_cast<std::size_t>(m_stripLength), icon);
    m_stripCells.insert({row, column});
    m_cellValues[{row, column}] = cellValue;
    redrawCell(row, column);
}

void CListCtrlWG::setStripIcon(int row, int index, IconHandle icon) {
    if (row < 0 || row >= stripCount()) return;
    auto& strip = m_strips[static_cast<std::size_t>(row)];
    if (index < 0 || index >= static_cast<int>(strip.size())) return;
    strip[static_cast<std::size_t>(index)] = icon;
}

void CListCtrlWG::redrawCell(int row, int column) {
    const QRect rect = cellRect(row, column);
    if (!rect.isEmpty()) viewport()->update(rect);
}

void CListCtrlWG::registerSingleIcon(int row, int column, IconHandle icon, int cellValue) {
    m_singleIcons[{row, column}] = icon;
    m_cellValues[{row, column}] = cellValue;
    redrawCell(row, column);
}

void CListCtrlWG::registerButtonCell(int row, int column) {
    m_buttonCells.insert({row, column});
}

void CListCtrlWG::registerEditorCell(int row, int column, QWidget* editor, std::uint8_t flag,
                                     std::uint32_t userValue, EditorOpenCallback onOpen,
                                     EditorCloseCallback onClose) {
    const CellKey key{row, column};
    if (m_editorCells.count(key)) return;
    m_editorCells.emplace(
        key, EditorCell{editor, flag, userValue, std::move(onOpen), std::move(onClose)});
    if (editor &&
        std::find(m_knownEditors.begin(), m_knownEditors.end(), editor) == m_knownEditors.end()) {
        m_knownEditors.push_back(editor);
        connect(editor, &QObject::destroyed, this, &CListCtrlWG::onEditorDestroyed);
    }
}

void CListCtrlWG::setEditorCellValue(int row, int column, std::uint32_t userValue) {
    const auto it = m_editorCells.find({row, column});
    if (it != m_editorCells.end()) it->second.userValue = userValue;
}

// --- read-backs ---------------------------------------------------------------------------

IconHandle CListCtrlWG::stripIcon(int row, int index) const {
    if (row < 0 || row >= stripCount()) return -1;
    const auto& strip = m_strips[static_cast<std::size_t>(row)];
    if (index < 0 || index >= static_cast<int>(strip.size())) return -1;
    return strip[static_cast<std::size_t>(index)];
}

std::optional<int> CListCtrlWG::cellValue(int row, int column) const {
    const auto it = m_cellValues.find({row, column});
    if (it == m_cellValues.end()) return std::nullopt;
    return it->second;
}

std::optional<IconHandle> CListCtrlWG::singleIcon(int row, int column) const {
    const auto it = m_singleIcons.find({row, column});
    if (it == m_singleIcons.end()) return std::nullopt;
    return it->second;
}

bool CListCtrlWG::isIconStripCell(int row, int column) const {
    return m_stripCells.count({row, column}) != 0;
}

bool CListCtrlWG::isButtonCell(int row, int column) const {
    return m_buttonCells.count({row, column}) != 0;
}

bool CListCtrlWG::isEditorCell(int row, int column) const {
    return m_editorCells.count({row, column}) != 0;
}

QWidget* CListCtrlWG::editorOf(int row, int column) const {
    const auto it = m_editorCells.find({row, column});
    return it == m_editorCells.end() ? nullptr : it->second.editor;
}

std::optional<std::uint32_t> CListCtrlWG::editorCellValue(int row, int column) const {
    const auto it = m_editorCells.find({row, column});
    if (it == m_editorCells.end()) return std::nullopt;
    return it->second.userValue;
}

QRect CListCtrlWG::cellRect(int row, int column) const {
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount()) return {};
    if (isColumnHidden(column) || isRowHidden(row)) return {};
    return QRect(columnViewportPosition(column), rowViewportPosition(row), columnWidth(column),
                 rowHeight(row));
}

QRect CListCtrlWG::stripIconRect(int row, int column, int index) const {
    const QRect cell = cellRect(row, column);
    if (cell.isEmpty()) return {};
    const int side = cell.height() - 2;
    return QRect(cell.left() + m_stripXOffset + index * side, cell.top() + m_stripYOffset + 1, side,
                 side);
}

// --- appearance ---------------------------------------------------------------------------

void CListCtrlWG::setRowHeight(int height) {
    m_rowHeight = std::clamp(height, 3, 512);
    verticalHeader()->setDefaultSectionSize(m_rowHeight);
    for (int row = 0; row < rowCount(); ++row) QTableView::setRowHeight(row, m_rowHeight);
}

void CListCtrlWG::setRowFont(int size, bool bold, bool italic, bool underline,
                             const QString& face) {
    m_rowFont = uiFont(face, std::max(size, 1), bold, italic, underline);
    viewport()->update();
}

void CListCtrlWG::setHeaderFont(int size, bool bold, const QString& face) {
    m_header->setHeaderFont(uiFont(face, std::max(size, 1), bold));
    m_header->setHeaderHeight(std::max(size + 10, 20));
}

void CListCtrlWG::setHeaderCellAttributes(int column, const HeaderCellAttributes& attributes) {
    m_header->setHeaderCellAttributes(column, attributes);
}

void CListCtrlWG::setRowStyle(int row, const RowStyle& style) {
    if (row < 0) return;
    const auto it = m_rowStyles.find(row);
    if (it != m_rowStyles.end() && it->second == style) return;
    if (style == RowStyle{}) {
        if (it == m_rowStyles.end()) return;
        m_rowStyles.erase(it);
    } else {
        m_rowStyles[row] = style;
    }
    redrawRow(row);
}

RowStyle CListCtrlWG::rowStyle(int row) const {
    const auto it = m_rowStyles.find(row);
    return it == m_rowStyles.end() ? RowStyle{} : it->second;
}

// --- operator input -----------------------------------------------------------------------

void CListCtrlWG::setHighlightedRow(int row) {
    if (row == m_highlightedRow) return;
    redrawRow(m_highlightedRow);
    m_previousHighlightedRow = m_highlightedRow;
    m_highlightedRow = row;
    redrawRow(m_highlightedRow);
    emit highlightedRowChanged(row);
}

void CListCtrlWG::redrawRow(int row) {
    if (row < 0 || row >= rowCount()) return;
    viewport()->update(QRect(0, rowViewportPosition(row), viewport()->width(), rowHeight(row)));
}

void CListCtrlWG::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        setHighlightedRow(rowAt(event->position().toPoint().y()));
    }
    QTableView::mousePressEvent(event);
}

void CListCtrlWG::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QTableView::mouseDoubleClickEvent(event);
        return;
    }
    const QPoint point = event->position().toPoint();

    // Cells do not overlap: the registered cell under the point is the one at the point.
    const QModelIndex hitIndex = indexAt(point);
    const CellKey key{hitIndex.row(), hitIndex.column()};

    // 1. An icon-strip cell: the icon under the point.
    if (hitIndex.isValid() && m_stripCells.count(key) != 0 && key.row < stripCount()) {
        const QRect cell = cellRect(key.row, key.column);
        const int side = cell.height() - 2;
        const int count = static_cast<int>(m_strips[static_cast<std::size_t>(key.row)].size());
        for (int i = 0; i < count; ++i) {
            // The hit area reaches the x offset beyond the drawn square.
            const QRect hit(cell.left() + m_stripXOffset + i * side,
                            cell.top() + m_stripYOffset + 1, side + m_stripXOffset, side);
            if (hit.contains(point)) {
                if (m_owner) {
                    m_owner->post(platform::WM_LED_CELL_CLICKED,
                                  static_cast<std::uintptr_t>(key.row), i);
                }
                break;
            }
        }
    }

    // 2. A button cell.
    if (hitIndex.isValid() && m_buttonCells.count(key) != 0 && m_owner) {
        m_owner->post(platform::WM_BUTTON_CELL_CLICKED, static_cast<std::uintptr_t>(key.row),
                      key.column);
    }

    // 3. Normal handling, then the double-click notification: open the cell's editor.
    // (Opened here rather than from doubleClicked(), which Qt emits only after a press on
    // the same cell and so not for every double-click the window system delivers.)
    QTableView::mouseDoubleClickEvent(event);
    const QModelIndex index = indexAt(point);
    if (index.isValid()) openEditor(index.row(), index.column());
}

// --- editors ------------------------------------------------------------------------------

void CListCtrlWG::openEditor(int row, int column) {
    closeOpenEditor();
    const auto it = m_editorCells.find({row, column});
    if (it == m_editorCells.end()) return;
    const QRect cell = cellRect(row, column);
    if (cell.isEmpty()) return;

    scrollTo(m_model->index(row, column), QAbstractItemView::EnsureVisible);
    // Callbacks may register further cells; work on a copy of this one.
    const EditorCell entry = it->second;
    if (entry.onOpen) entry.onOpen(entry.editor, row, column, entry.flag, entry.userValue);
    if (!entry.editor) return;

    QRect place = cellRect(row, column);  // after scrolling
    const int rightLimit = viewport()->width() - 4;
    if (place.left() + place.width() > rightLimit) {
        place.setWidth(std::max(rightLimit - place.left(), 1));
    }
    if (entry.editor->parentWidget() != viewport()) entry.editor->setParent(viewport());
    entry.editor->setGeometry(place);
    entry.editor->show();
    entry.editor->raise();
    entry.editor->setFocus(Qt::OtherFocusReason);

    EditorWatcher::instance().watch(entry.editor, this);
    m_openCell = CellKey{row, column};
    ++m_openGeneration;
}

void CListCtrlWG::closeOpenEditor() {
    if (!m_openCell) return;
    // Forget the open cell and hide the editor first: hiding moves the focus, and the close
    // rules must not close the same editor a second time from inside this call.
    const CellKey key = *m_openCell;
    discardOpenEditor();

    const auto it = m_editorCells.find(key);
    if (it == m_editorCells.end()) return;
    const EditorCloseCallback onClose = it->second.onClose;
    if (!onClose) return;
    const std::uint32_t value = onClose(it->second.editor, key.row, key.column, it->second.flag);
    m_editorCells[key].userValue = value;
    if (m_owner) {
        m_owner->send(platform::WM_COMBO_CELL_CHANGED, static_cast<std::uintptr_t>(key.row),
                      key.column);
    }
}

void CListCtrlWG::rowsShiftFrom(int row) {
    if (m_openCell && m_openCell->row >= row) discardOpenEditor();
}

void CListCtrlWG::discardOpenEditor() {
    if (!m_openCell) return;
    const auto it = m_editorCells.find(*m_openCell);
    m_openCell.reset();
    ++m_openGeneration;
    if (it == m_editorCells.end()) return;
    QWidget* editor = it->second.editor;
    if (editor && EditorWatcher::instance().isWatched(editor)) {
        EditorWatcher::instance().unwatch(editor);
        const bool hadFocus = editor->hasFocus() || editor->isAncestorOf(focusWidget());
        editor->hide();
        if (hadFocus) setFocus(Qt::OtherFocusReason);
    }
}

void CListCtrlWG::requestEditorClose() {
    if (!m_openCell) return;
    const std::uint64_t generation = m_openGeneration;
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (m_openCell && m_openGeneration == generation) closeOpenEditor();
        },
        Qt::QueuedConnection);
}

void CListCtrlWG::onEditorDestroyed(QObject* editor) {
    EditorWatcher::instance().unwatch(static_cast<QWidget*>(editor));
    std::erase(m_knownEditors, static_cast<QWidget*>(editor));
    for (auto& [key, cell] : m_editorCells) {
        if (cell.editor == editor) cell.editor = nullptr;
    }
    // An editor that is gone cannot be read: its cell is simply no longer open.
    if (m_openCell) {
        const auto it = m_editorCells.find(*m_openCell);
        if (it != m_editorCells.end() && !it->second.editor) m_openCell.reset();
    }
}

// --- drawing ------------------------------------------------------------------------------

void CListCtrlWG::paintCell(QPainter* painter, const QRect& rect, int row, int column) const {
    painter->save();
    QColor background = row % 2 ? kAlternateBackground : kRowBackground;
    if (row == m_highlightedRow) background = kHighlightBackground;
    // A row's own background says something about its device: it wins over the highlight.
    const auto style = m_rowStyles.find(row);
    if (style != m_rowStyles.end() && style->second.background.isValid()) {
        background = style->second.background;
    }
    painter->fillRect(rect, background);
    painter->setClipRect(rect);

    const CellKey key{row, column};
    QRect textRect = rect.adjusted(3, 0, -1, 0);
    if (m_stripCells.count(key) != 0 && row < stripCount()) {
        const auto& strip = m_strips[static_cast<std::size_t>(row)];
        for (int i = 0; i < static_cast<int>(strip.size()); ++i) {
            const QPixmap pixmap = iconPixmap(strip[static_cast<std::size_t>(i)]);
            if (!pixmap.isNull()) painter->drawPixmap(stripIconRect(row, column, i), pixmap);
        }
    } else if (const auto icon = singleIcon(row, column)) {
        const int side = rect.height() - 2;
        const QPixmap pixmap = iconPixmap(*icon);
        if (!pixmap.isNull())
            painter->drawPixmap(QRect(rect.left() + 2, rect.top() + 1, side, side), pixmap);
        textRect.setLeft(rect.left() + side + 6);
    }

    const QString text = m_model->text(row, column);
    if (!text.isEmpty() && textRect.width() > 0) {
        painter->setFont(m_rowFont);
        painter->setPen(style != m_rowStyles.end() && style->second.text.isValid()
                            ? style->second.text
                            : kTextColour);
        painter->drawText(
            textRect, textAlignment(m_model->alignment(column)),
            painter->fontMetrics().elidedText(text, Qt::ElideRight, textRect.width()));
    }
    paintFocusFrame(painter, rect, row, column);
    painter->restore();
}

}  // namespace consoleui
