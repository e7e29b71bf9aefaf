// Keeps the device list widget in step with the core's device table.
#include "consoleui/device_list_binder.h"

#include <QComboBox>
#include <QEvent>
#include <QFontMetrics>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

#include "consoleui/cell_icons.h"
#include "consoleui/list_ctrl_wg.h"
#include "consoleui/ui_fonts.h"

namespace consoleui {

using namespace consolecore;

namespace {

constexpr int kOutlets = 16;
// Pixels beside a cell's text: its drawn margins and some air.
constexpr int kCellPadding = 12;
// Beside a title: margins and the sort arrow.
constexpr int kTitlePadding = 26;

const QColor kSwitchingBackground(0xFF, 0xE7, 0x9E);
const QColor kUnconfirmedBackground(0xF6, 0xC4, 0xC4);
const QColor kUnconfirmedText(0x8B, 0x00, 0x14);
const QColor kOfflineBackground(0xE4, 0xE7, 0xEB);
const QColor kOfflineText(0x86, 0x8E, 0x99);

RowStyle styleOf(const DeviceRow& device, const DeviceMarks& marks) {
    RowStyle style;
    if (!device.online) {
        style.background = kOfflineBackground;
        style.text = kOfflineText;
    }
    const auto mark = marks.find(device.id);
    if (mark == marks.end()) return style;
    style.toolTip = QString::fromStdString(mark->second.why);
    if (mark->second.mark == DeviceMark::Switching) {
        style.background = kSwitchingBackground;
    } else {
        style.background = kUnconfirmedBackground;
        style.text = kUnconfirmedText;
    }
    return style;
}

}  // namespace

DeviceListBinder::DeviceListBinder(CListCtrlWG& list, const DeviceTable& table,
                                   QComboBox& groupCombo, QComboBox& numberCombo)
    : QObject(&list),
      m_list(list),
      m_table(table),
      m_groupCombo(groupCombo),
      m_numberCombo(numberCombo) {
    m_groupCombo.clear();
    for (const auto& entry : groupComboEntries()) {
        m_groupCombo.addItem(QString::fromStdString(entry));
    }
    m_numberCombo.clear();
    for (const auto& entry : numberComboEntries()) {
        m_numberCombo.addItem(QString::fromStdString(entry));
    }
    m_groupCombo.hide();
    m_numberCombo.hide();
    m_list.installEventFilter(this);
    m_list.viewport()->installEventFilter(this);
}

void DeviceListBinder::setUpColumns() {
    m_list.setRowHeight(22);
    m_list.setRowFont(16, true, false, false, QStringLiteral("宋体"));
    m_list.setHeaderFont(12, false, QStringLiteral("宋体"));
    followRowFont();  // loads the row font now rather than with the first rows
    const auto& columns = deviceColumns();
    for (int c = 0; c < DeviceColumnCount; ++c) {
        m_list.insertColumnWithHeader(c, QString::fromUtf8(columns[c].title), 0, 0);
    }
    layoutColumns();
}

int DeviceListBinder::contentWidth(int column) const {
    if (column < 0 || column >= ColHiddenId) return 0;
    if (column == ColLeds) {
        // The dots are squares of the row height less 2, side by side.
        const int dots = kOutlets * (m_list.rowHeightPixels() - 2) + m_list.stripOffset().x() + 4;
        return std::max(dots, m_contentWidths[ColLeds]);
    }
    return m_contentWidths[column];
}

void DeviceListBinder::measureAll() {
    const QFontMetrics header(m_list.headerCtrl()->font());
    const auto& columns = deviceColumns();
    m_contentWidths.assign(DeviceColumnCount, 0);
    for (int c = 0; c < ColHiddenId; ++c) {
        m_contentWidths[c] =
            header.horizontalAdvance(QString::fromUtf8(columns[c].title)) + kTitlePadding;
    }
    const int rows = std::min(m_table.rowCount(), m_list.rowCount());
    for (int r = 0; r < rows; ++r) measureRow(r);
}

void DeviceListBinder::followRowFont() {
    if (m_rowMetrics && m_rowMetricsFont == m_list.rowFont()) return;
    m_rowMetricsFont = m_list.rowFont();
    m_rowMetrics.emplace(m_rowMetricsFont);
    const QFontMetricsF exact(m_rowMetricsFont);
    for (std::size_t c = 0; c < m_asciiAdvances.size(); ++c) {
        m_asciiAdvances[c] = exact.horizontalAdvance(QChar(static_cast<char16_t>(c)));
    }
    m_textWidths.clear();
}

int DeviceListBinder::textWidth(const QString& text) {
    followRowFont();
    // Ids, addresses and numbers are plain ASCII: their width is the sum of their
    // characters' (a text measure costs microseconds, times thousands of rows).
    qreal ascii = 0;
    bool plain = true;
    for (const QChar ch : text) {
        if (ch.unicode() >= m_asciiAdvances.size()) {
            plain = false;
            break;
        }
        ascii += m_asciiAdvances[ch.unicode()];
    }
    if (plain) return static_cast<int>(std::ceil(ascii));
    if (const auto known = m_textWidths.constFind(text); known != m_textWidths.cend()) {
        return *known;
    }
    // Other texts mostly repeat (status, Chinese names); the cache is bounded.
    constexpr qsizetype kKeptWidths = 4096;
    if (m_textWidths.size() >= kKeptWidths) m_textWidths.clear();
    const int width = m_rowMetrics->horizontalAdvance(text);
    m_textWidths.insert(text, width);
    return width;
}

bool DeviceListBinder::measureRow(int row) {
    if (m_contentWidths.empty()) return false;
    bool grew = false;
    for (int c = 0; c < ColHiddenId; ++c) {
        if (c == ColLeds) continue;
        const int width = textWidth(m_list.itemText(row, c)) + kCellPadding;
        if (width > m_contentWidths[c]) {
            m_contentWidths[c] = width;
            grew = true;
        }
    }
    return grew;
}

void DeviceListBinder::layoutColumns() {
    if (m_contentWidths.empty()) measureAll();
    std::vector<int> widths(DeviceColumnCount, 0);
    int total = 0;
    for (int c = 0; c < ColHiddenId; ++c) {
        widths[c] = contentWidth(c);
        total += widths[c];
    }
    // Room for a vertical scroll bar is kept, so its coming and going moves nothing.
    const int room = m_list.contentsRect().width() - m_list.verticalScrollBar()->sizeHint().width();
    if (total < room) widths[ColName] += room - total;
    for (int c = 0; c < DeviceColumnCount && c < m_list.columnCount(); ++c) {
        m_list.setLayoutWidth(c, widths[c]);
    }
}

bool DeviceListBinder::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::Resize:
            if (watched == &m_list) layoutColumns();
            break;
        // What is painted, clicked or typed at is up to date.
        case QEvent::Paint:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
            flushPending();
            break;
        default:
            break;
    }
    return false;
}

void DeviceListBinder::registerRowCells(int row) {
    // The editors open on the value the cell shows and hand back the chosen entry.
    const auto opener = [](QWidget* editor, int, int, std::uint8_t, std::uint32_t value) {
        if (auto* combo = qobject_cast<QComboBox*>(editor)) {
            combo->setCurrentIndex(std::min(static_cast<int>(value), combo->count() - 1));
        }
    };
    const auto closer = [this](QWidget* editor, int r, int c, std::uint8_t) -> std::uint32_t {
        auto* combo = qobject_cast<QComboBox*>(editor);
        if (!combo || combo->currentIndex() < 0) return 0;
        m_list.setItemText(r, c, combo->currentText());
        return static_cast<std::uint32_t>(combo->currentIndex());
    };
    m_list.registerButtonCell(row, ColMode);
    m_list.registerEditorCell(row, ColGroup, &m_groupCombo, 0, 0, opener, closer);
    m_list.registerEditorCell(row, ColNumber, &m_numberCombo, 0, 0, opener, closer);
    m_list.registerButtonCell(row, ColOnOff);
    m_list.registerIconStrip(row, ColLeds, kIconLedOff, 0, 0, kOutlets, 0);
}

int DeviceListBinder::shownRowCount() const {
    return m_list.rowCount();
}

void DeviceListBinder::syncRow(int row, bool appended) {
    if (row < 0 || row >= m_table.rowCount() || row >= m_list.rowCount()) return;
    const DeviceRow& device = m_table.row(row);
    for (int c = 0; c < DeviceColumnCount; ++c) {
        m_list.setItemText(row, c, QString::fromStdString(deviceCellText(device, c)));
    }
    syncIndexedCells(row);
    if (m_rowShown) m_rowShown(device, appended);
}

void DeviceListBinder::syncIndexedCells(int row) {
    const DeviceRow& device = m_table.row(row);
    for (int k = 0; k < kOutlets; ++k) {
        m_list.setStripIcon(row, k, device.leds[k] ? kIconLedOn : kIconLedOff);
    }
    m_list.setEditorCellValue(row, ColGroup, groupEntryIndex(device));
    m_list.setEditorCellValue(row, ColNumber, numberEntryIndex(device));
    m_list.redrawCell(row, ColLeds);
    syncRowStyle(row);
}

void DeviceListBinder::syncRowStyle(int row) {
    m_list.setRowStyle(row, styleOf(m_table.row(row), m_marks));
}

void DeviceListBinder::setDeviceMarks(DeviceMarks marks) {
    if (marks == m_marks) return;
    m_marks = std::move(marks);
    const int rows = std::min(m_table.rowCount(), m_list.rowCount());
    for (int r = 0; r < rows; ++r) syncRowStyle(r);
}

void DeviceListBinder::rowInserted(int row) {
    const DeviceRow& device = m_table.row(row);
    m_list.insertRowWithText(row, QString::fromStdString(deviceCellText(device, ColRowNumber)));
    const int rows = m_list.rowCount();
    if (rows > m_registeredRows) {
        for (int r = m_registeredRows; r < rows; ++r) registerRowCells(r);
        m_registeredRows = rows;
    }
    syncRow(row, true);
    // The rows below moved down with their texts; their index-keyed cells follow once per
    // event-loop turn, not once per insertion: a fleet registering out of id order would
    // otherwise re-sync every row below each newcomer.
    if (row + 1 < std::min(m_table.rowCount(), rows)) {
        m_resyncFrom = m_resyncFrom < 0 ? row + 1 : std::min(m_resyncFrom, row + 1);
    }
    if (measureRow(row)) layoutColumns();
    if (m_resyncFrom >= 0 && !m_flushQueued) {
        m_flushQueued = true;
        QMetaObject::invokeMethod(this, &DeviceListBinder::flushPending, Qt::QueuedConnection);
    }
}

void DeviceListBinder::flushPending() {
    m_flushQueued = false;
    if (m_resyncFrom >= 0) {
        const int last = std::min(m_table.rowCount(), m_list.rowCount());
        for (int r = m_resyncFrom; r < last; ++r) syncIndexedCells(r);
        m_resyncFrom = -1;
    }
}

void DeviceListBinder::rowChanged(int row) {
    syncRow(row);
    if (row >= 0 && row < m_list.rowCount() && measureRow(row)) layoutColumns();
}

void DeviceListBinder::rowsReordered() {
    // An open editor belongs to the row it opened on, which now stands elsewhere.
    m_list.discardEditor();
    m_resyncFrom = -1;  // every row is synced below
    const int rows = std::min(m_table.rowCount(), m_list.rowCount());
    for (int r = 0; r < rows; ++r) syncRow(r);
}

void DeviceListBinder::rowsRemoved(const std::vector<int>& rows) {
    if (rows.empty()) return;
    m_list.deleteRows(rows);
    // The texts moved up with their rows; strips and editor values belong to row indices,
    // so the rows that moved up take theirs.
    const int last = std::min(m_table.rowCount(), m_list.rowCount());
    for (int r = rows.front(); r < last; ++r) syncIndexedCells(r);
    // Row indices past the end keep no style for a row added there later.
    for (int r = last; r < last + static_cast<int>(rows.size()); ++r) m_list.setRowStyle(r, {});
    // The widest text may have gone.
    measureAll();
    layoutColumns();
}

}  // namespace consoleui
