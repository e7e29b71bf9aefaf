// Shows the core's device table in a cell list control: the 19 columns, one row per device,
// the in-cell combos, the outlet dots; cell actions go back to the core through the owner.
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QHash>
#include <QObject>
#include <array>
#include <functional>
#include <optional>
#include <vector>

#include "consolecore/device_table.h"
#include "consoleui/device_marks.h"

class QComboBox;

namespace consoleui {

class CListCtrlWG;

class DeviceListBinder : public QObject, public consolecore::DeviceTableObserver {
    Q_OBJECT
public:
    // `groupCombo` and `numberCombo` are the two in-cell editors (groups "UnLinked",
    // "Link_1".."Link_6"; numbers "1".."20"); the binder fills their entries.
    DeviceListBinder(CListCtrlWG& list, const consolecore::DeviceTable& table,
                     QComboBox& groupCombo, QComboBox& numberCombo);

    // Adds the 19 columns with their titles, the 6 raw-value columns at width 0.
    void setUpColumns();
    // Each visible column as wide as its widest text (title included) and the outlet column
    // as wide as its 16 dots; space left over widens the name column. Wider than the list,
    // the list scrolls sideways instead of cutting text or dots.
    void layoutColumns();
    // The width a column's content needs.
    int contentWidth(int column) const;

    // Told after a row's cells were written from the table (`appended`: a new row); for
    // measuring probes. Empty (the default): nothing is called.
    using RowShownListener = std::function<void(const consolecore::DeviceRow&, bool appended)>;
    void setRowShownListener(RowShownListener listener) { m_rowShown = std::move(listener); }
    // Rows the list shows.
    int shownRowCount() const;
    // The marks of the rows' devices (replacing the earlier ones); rows without one look
    // like their device: online, or greyed when the table keeps it offline.
    void setDeviceMarks(DeviceMarks marks);
    const DeviceMarks& deviceMarks() const { return m_marks; }

    void rowInserted(int row) override;
    void rowChanged(int row) override;
    void rowsRemoved(const std::vector<int>& rows) override;
    void rowsReordered() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void registerRowCells(int row);
    // Copies a row of the core table into the list: texts, outlet dots, editor values.
    void syncRow(int row, bool appended = false);
    // The outlet dots, editor values and row style, which the list keys by row index.
    void syncIndexedCells(int row);
    void syncRowStyle(int row);
    // Widens the content widths to the row's texts; true when one grew.
    bool measureRow(int row);
    // Keeps the row font's metrics in step with the list's row font.
    void followRowFont();
    int textWidth(const QString& text);  // in the row font
    void measureAll();
    // Syncs what insertions left for the end of the event-loop turn: the index-keyed cells
    // of the rows that moved down.
    void flushPending();

    CListCtrlWG& m_list;
    const consolecore::DeviceTable& m_table;
    QComboBox& m_groupCombo;
    QComboBox& m_numberCombo;
    // Row indices whose cells are registered; a row index is registered once and reused.
    int m_registeredRows = 0;
    RowShownListener m_rowShown;
    DeviceMarks m_marks;
    std::vector<int> m_contentWidths;          // per column, from the titles and the rows' texts
    std::optional<QFontMetrics> m_rowMetrics;  // of m_rowMetricsFont, kept between rows
    QFont m_rowMetricsFont;
    std::array<qreal, 128> m_asciiAdvances{};  // per ASCII character, in the row font
    QHash<QString, int> m_textWidths;          // other texts measured lately
    int m_resyncFrom = -1;  // index-keyed cells from this row on await flushPending
    bool m_flushQueued = false;
};

}  // namespace consoleui
