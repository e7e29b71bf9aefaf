// The cell list control of every console dialog: rows of text whose single cells can be
// icon strips, button cells or editor cells, reported to the owning dialog by messages.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QTableView>
#include <compare>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "consoleui/cell_icons.h"
#include "consoleui/header_ctrl_wg.h"

namespace platform {
class MessageTarget;
}

namespace consoleui {

class CellTableModel;
class CellDelegate;

// How a whole row is drawn apart from the others: a background, a text colour, a tooltip.
// Invalid colours and an empty tooltip: the list's own look.
struct RowStyle {
    QColor background;
    QColor text;
    QString toolTip;
    bool operator==(const RowStyle&) const = default;
};

struct CellKey {
    int row = 0;
    int column = 0;
    auto operator<=>(const CellKey&) const = default;
};

// Cells are keyed by row index and column; deleting a row changes no registration, so an
// owner registers each row index once and addresses strips by row index. An open editor
// belongs to its row's content: when that row goes or moves, the editor closes unread.
//
// Messages to the owner: WM_LED_CELL_CLICKED (row, icon index) and WM_BUTTON_CELL_CLICKED
// (row, column) are posted on a double-click; WM_COMBO_CELL_CHANGED (row, column) is sent
// when an editor closes, after its close callback.
class CListCtrlWG : public QTableView {
    Q_OBJECT
public:
    // Prepares the editor before it is shown (e.g. selects entry `userValue`).
    using EditorOpenCallback = std::function<void(QWidget* editor, int row, int column,
                                                  std::uint8_t flag, std::uint32_t userValue)>;
    // Reads the editor after it was hidden; the result becomes the cell's user value.
    using EditorCloseCallback =
        std::function<std::uint32_t(QWidget* editor, int row, int column, std::uint8_t flag)>;

    explicit CListCtrlWG(QWidget* parent = nullptr);
    ~CListCtrlWG() override;

    // The receiver of the three cell messages; null: they go nowhere.
    void setOwner(platform::MessageTarget* owner) { m_owner = owner; }
    platform::MessageTarget* owner() const { return m_owner; }
    CHeaderCtrlWG* headerCtrl() const { return m_header; }

    // --- columns and text -------------------------------------------------------------
    // Alignment 0 left, 1 right, 2 centre. Returns the column's index.
    int insertColumnWithHeader(int position, const QString& title, int alignment, int width);
    // A width from the dialog's column layout; a column the operator has dragged keeps the
    // operator's width instead, for as long as the program runs (in every list of the same
    // window and name).
    void setLayoutWidth(int column, int width);
    // The width the operator dragged this column to, or -1.
    int operatorWidth(int column) const;
    int columnCount() const;
    int rowCount() const;
    // A row whose first cell reads `value` in decimal. Returns the row's index.
    int insertRowWithNumber(int position, int value);
    int insertRowWithText(int position, const QString& firstCell);
    bool setItemText(int row, int column, const QString& text);
    QString itemText(int row, int column) const;
    bool setCellNumber(int row, int column, int value);
    // The cell's leading decimal digits (with an optional '-'), 0 when there are none.
    int cellNumber(int row, int column) const;
    bool deleteRow(int row);
    // Deletes the rows at `rows` (indices before the deletion, any order); out-of-range ones
    // are skipped.
    void deleteRows(std::vector<int> rows);
    void deleteAllRows();

    // --- interactive cells --------------------------------------------------------------
    // Sets the list's strip length and offsets, appends a strip of `stripLength` copies of
    // `icon` (strip k belongs to row index k), and records the cell and its value.
    void registerIconStrip(int row, int column, IconHandle icon, int xOffset, int yOffset,
                           int stripLength, int cellValue);
    // Replaces icon `index` of strip `row`; ignored when either index is out of range.
    void setStripIcon(int row, int index, IconHandle icon);
    void redrawCell(int row, int column);
    // Shows `icon` at the cell's left edge (registering again replaces icon and value).
    void registerSingleIcon(int row, int column, IconHandle icon, int cellValue);
    void registerButtonCell(int row, int column);
    // Adds an editor cell unless (row, column) already is one: then nothing changes. The
    // editor is reparented into the list when it opens.
    void registerEditorCell(int row, int column, QWidget* editor, std::uint8_t flag,
                            std::uint32_t userValue, EditorOpenCallback onOpen,
                            EditorCloseCallback onClose);
    // The user value the cell's editor opens on next; ignored for other cells.
    void setEditorCellValue(int row, int column, std::uint32_t userValue);

    // --- read-backs ---------------------------------------------------------------------
    int stripCount() const { return static_cast<int>(m_strips.size()); }
    int stripLength() const { return m_stripLength; }
    QPoint stripOffset() const { return {m_stripXOffset, m_stripYOffset}; }
    // -1 when out of range.
    IconHandle stripIcon(int row, int index) const;
    std::optional<int> cellValue(int row, int column) const;
    std::optional<IconHandle> singleIcon(int row, int column) const;
    bool isIconStripCell(int row, int column) const;
    bool isButtonCell(int row, int column) const;
    bool isEditorCell(int row, int column) const;
    QWidget* editorOf(int row, int column) const;
    std::optional<std::uint32_t> editorCellValue(int row, int column) const;
    std::optional<CellKey> openEditorCell() const { return m_openCell; }
    int highlightedRow() const { return m_highlightedRow; }
    int previousHighlightedRow() const { return m_previousHighlightedRow; }
    int highlightedColumn() const { return m_highlightedColumn; }
    // The cell the keyboard acts on: the highlighted row (the first row while none is) in the
    // highlighted column; and in an icon strip, the icon. Row -1 when the list is empty.
    int focusRow() const;
    int focusIcon() const { return m_focusIcon; }
    // What a double-click on the focused cell does: an icon strip posts
    // WM_LED_CELL_CLICKED for the focused icon, a button cell WM_BUTTON_CELL_CLICKED, an
    // editor cell opens its editor. Space and Enter call it.
    void activateFocusedCell();

    // The cell's rectangle in viewport coordinates; empty when the cell does not exist.
    QRect cellRect(int row, int column) const;
    // Icon `index` of a strip cell: side s = cell height - 2, left at x offset + index * s,
    // top at y offset + 1.
    QRect stripIconRect(int row, int column, int index) const;

    // --- appearance ---------------------------------------------------------------------
    void setRowHeight(int height);
    int rowHeightPixels() const { return m_rowHeight; }
    void setRowFont(int size, bool bold, bool italic, bool underline, const QString& face);
    QFont rowFont() const { return m_rowFont; }
    void setHeaderFont(int size, bool bold, const QString& face);
    // One column, or every column when `column` is -1.
    void setHeaderCellAttributes(int column, const HeaderCellAttributes& attributes);
    // A row index's style; like other per-row registrations it stays with the index.
    void setRowStyle(int row, const RowStyle& style);
    RowStyle rowStyle(int row) const;

public slots:
    // Opens the editor of a cell, closing the open one first; nothing for other cells.
    void openEditor(int row, int column);
    // Closes the open editor: hide it, run its close callback, send WM_COMBO_CELL_CHANGED.
    void closeOpenEditor();
    // Closes the open editor unread, without telling the owner: its row's content moved.
    void discardEditor() { discardOpenEditor(); }

signals:
    // The operator moved the highlight (click or arrow key); -1 when no row is highlighted.
    void highlightedRowChanged(int row);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    friend class CellDelegate;
    friend class EditorWatcher;

    struct EditorCell {
        QWidget* editor = nullptr;
        std::uint8_t flag = 0;
        std::uint32_t userValue = 0;
        EditorOpenCallback onOpen;
        EditorCloseCallback onClose;
    };

    // A clipped cell shows its whole text as a tooltip.
    bool viewportEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    QString widthKey() const;

    void paintCell(QPainter* painter, const QRect& rect, int row, int column) const;
    // A frame around the focused cell (or icon) while the list has the keyboard focus.
    void paintFocusFrame(QPainter* painter, const QRect& rect, int row, int column) const;
    // Icons in the strip of that cell; 0 when it is not a strip cell.
    int stripIconCount(int row, int column) const;
    void setHighlightedRow(int row);
    void redrawRow(int row);
    // Asks for the open editor to be closed from the event loop, unless another editor has
    // opened by then (the close rules call this from inside event delivery).
    void requestEditorClose();
    // Closes the open editor without reading it or telling the owner.
    void discardOpenEditor();
    // The open editor's row is about to change from `row` on (a deletion or an insertion).
    void rowsShiftFrom(int row);
    void onEditorDestroyed(QObject* editor);

    CellTableModel* m_model;
    CHeaderCtrlWG* m_header;
    CellDelegate* m_delegate;
    platform::MessageTarget* m_owner = nullptr;

    int m_highlightedRow = -1;
    int m_previousHighlightedRow = -1;
    int m_highlightedColumn = 0;
    int m_focusIcon = 0;

    // Sets: the painter asks about every visible cell and must not scan thousands of rows.
    std::set<CellKey> m_stripCells;
    std::vector<std::vector<IconHandle>> m_strips;
    int m_stripLength = 1;
    int m_stripXOffset = 0;
    int m_stripYOffset = 0;
    std::map<CellKey, int> m_cellValues;
    std::map<int, RowStyle> m_rowStyles;
    std::map<CellKey, IconHandle> m_singleIcons;
    std::set<CellKey> m_buttonCells;
    std::map<CellKey, EditorCell> m_editorCells;
    std::vector<QWidget*> m_knownEditors;

    std::optional<CellKey> m_openCell;
    std::uint64_t m_openGeneration = 0;

    bool m_headerDragging = false;  // the operator is dragging a column edge
    int m_rowHeight = 22;
    QFont m_rowFont;
};

}  // namespace consoleui
