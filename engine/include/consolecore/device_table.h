// The main window's device list without widgets: one row per registered device, driven by
// device events, and the cell actions that turn into commands to the device.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "consolecore/device_snapshot.h"

namespace consolecore {

class CDeviceChannel;

enum DeviceColumn : int {
    ColRowNumber = 0,  // "序号"
    ColDeviceId,       // "设备号"
    ColName,           // "名称"
    ColIpAddress,      // "IP地址"
    ColMask,           // "子网掩码"
    ColGateway,        // "默认网关"
    ColMac,            // "MAC地址"
    ColMode,           // "模式": button cell
    ColGroup,          // "编组": combo cell
    ColNumber,         // "编号": combo cell
    ColOnOff,          // "开关": button cell
    ColLeds,           // "Led显示": 16 outlet dots
    ColStatus,         // "STATUS"
    ColHiddenId,       // hidden raw values from here on
    ColHiddenMode,
    ColHiddenGroup,
    ColHiddenNumber,
    ColHiddenOnOff,
    ColHiddenLedMask,
    DeviceColumnCount
};

struct DeviceColumnInfo {
    const char* title;
    int width144;  // width in 144ths of the list's client width
};
const std::array<DeviceColumnInfo, DeviceColumnCount>& deviceColumns();

// Entries of the two in-cell combo editors.
const std::vector<std::string>& groupComboEntries();   // "UnLinked", "Link_1".."Link_6"
const std::vector<std::string>& numberComboEntries();  // "1".."20"

// One device as the list shows it: the values of the registry record it was made from.
struct DeviceRow {
    std::uint16_t id = 0;
    int serial = 0;  // "序号": the table's size when the row was added
    std::string name;
    sockaddr_in ip{};
    std::uint32_t mask = 0;
    std::uint32_t gateway = 0;
    std::array<std::uint8_t, 6> mac{};
    std::uint8_t mode = 0;
    std::uint8_t group = 0;   // as last reported
    std::uint8_t number = 0;  // as last reported
    bool onOff = false;
    bool online = false;
    std::array<bool, 16> leds{};
    // What the group and number cells show: the operator's choice until a report differs.
    std::uint8_t shownGroup = 0;
    std::uint8_t shownNumber = 0;
    std::shared_ptr<const CDeviceBase> record;
    // When the device was lost, for a row kept offline (online false); the epoch otherwise.
    std::chrono::system_clock::time_point lostAt{};
};

// A device whose row went offline: what the operator's notice says about it.
struct LostDevice {
    std::uint16_t id = 0;
    std::string name;
    std::string address;  // "a.b.c.d"
    std::chrono::system_clock::time_point when{};
    bool operator==(const LostDevice&) const = default;
};

// "12-09 08:01:02" in local time: when a device was lost.
std::string lostTimeText(std::chrono::system_clock::time_point when);

// The text of one cell of `row`.
std::string deviceCellText(const DeviceRow& row, int column);
// The combo entry the group or number cell shows (0 when its value is none of them).
int groupEntryIndex(const DeviceRow& row);
int numberEntryIndex(const DeviceRow& row);

// Receives the table's changes; the Qt view implements it.
class DeviceTableObserver {
public:
    virtual ~DeviceTableObserver() = default;
    // A row was inserted at `row` (its place in the table's order); the rows from there on
    // moved down by one.
    virtual void rowInserted(int row) = 0;
    virtual void rowChanged(int row) = 0;
    // `rows` ascending, indices before the removal.
    virtual void rowsRemoved(const std::vector<int>& rows) = 0;
    // Every row may stand elsewhere now (a new sort order).
    virtual void rowsReordered() = 0;
};

// Told when devices with rows are lost (one call per removal sweep) and when a lost device
// registers again. Called after the rows changed.
struct DeviceLossHooks {
    std::function<void(const std::vector<LostDevice>& lost)> onLost;
    std::function<void(std::uint16_t id)> onReturned;
    // The wall clock of the loss times; null: the system clock.
    std::function<std::chrono::system_clock::time_point()> clock;
};

class DeviceTable {
public:
    explicit DeviceTable(CDeviceChannel& channel) : m_channel(channel) {}

    void setObserver(DeviceTableObserver* observer) { m_observer = observer; }
    void setLossHooks(DeviceLossHooks hooks) { m_loss = std::move(hooks); }
    // [Console] KeepOfflineRows: a lost device's row stays, offline, until the device
    // registers again (the row comes back to life in place) or removeOfflineRow.
    void setKeepOfflineRows(bool keep) { m_keepOffline = keep; }
    bool keepOfflineRows() const { return m_keepOffline; }

    // WM_DEVICE_EVENT: kind 1 registered, 2 status, 3 removed; other kinds are ignored.
    // A removal takes out every row whose record has left the registry, at once; a row made
    // from a record that is still registered (the device came back) stays.
    void OnDeviceEvent(std::uint16_t id, int kind);

    // WM_LED_CELL_CLICKED of the device's row: the state the click asks for, the opposite of
    // the outlet's registry state (none: no row or no such cell). Addressed by device id, not
    // row: rows move when a device leaves between the click and its handling. The caller sends
    // it (ConsoleEngine::switchOutlet).
    std::optional<bool> ledClickTarget(std::uint16_t id, int channelIndex) const;
    // WM_BUTTON_CELL_CLICKED of the device's row: mode (column 7) or master on/off (column 10).
    void onButtonCellClicked(std::uint16_t id, int column);
    // WM_COMBO_CELL_CHANGED: the editor closed on `comboIndex`; the cell shows its text.
    void onComboCellChanged(int row, int column, int comboIndex);

    int rowCount() const { return static_cast<int>(m_rows.size()); }
    const DeviceRow& row(int index) const { return *m_rows.at(index); }
    int findRow(std::uint16_t id) const;  // -1 when the device has no row

    // The rows' order: by one visible column (0..ColStatus), ties by device id; by id,
    // ascending, until set. A new row goes to its place in that order; reports do not move
    // rows, so a row stays where the operator saw it (and a device that comes back lands
    // where it was).
    void setSortOrder(int column, bool ascending);
    int sortColumn() const { return m_sortColumn; }
    bool sortAscending() const { return m_sortAscending; }
    // The device has a row and the row is not kept offline.
    bool rowOnline(std::uint16_t id) const;
    // The operator removes a row kept offline; false for an online row or none.
    bool removeOfflineRow(std::uint16_t id);

private:
    void addRow(std::uint16_t id);
    void refreshRow(std::uint16_t id);
    void removeStaleRows(std::uint16_t id);
    // Fills a row from a registry snapshot (everything but its serial number).
    static void fillRow(DeviceRow& row, const DeviceSnapshot& device);
    void reportLost(const std::vector<DeviceRow>& rows);
    void logRemoved(const std::vector<DeviceRow>& rows);

    CDeviceChannel& m_channel;
    DeviceTableObserver* m_observer = nullptr;
    // Rows by pointer and the index by id in a flat array: a fleet registering at once in no
    // particular id order inserts rows in the middle, and each insert moves the rows after it
    // and renumbers their index entries (20,000 rows took the GUI thread 15 s with rows by
    // value and a hash index, well under 1 s so).
    std::vector<std::unique_ptr<DeviceRow>> m_rows;
    std::vector<int> m_rowOf = std::vector<int>(65536, -1);  // device id -> index in m_rows
    bool rowLess(const DeviceRow& a, const DeviceRow& b) const;
    void reindexFrom(int index);

    DeviceLossHooks m_loss;
    bool m_keepOffline = false;
    int m_sortColumn = ColDeviceId;
    bool m_sortAscending = true;
};

}  // namespace consolecore
