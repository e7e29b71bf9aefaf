// The main window's device list without widgets: one row per registered device, driven by
// device events, and the cell actions that turn into commands to the device.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
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

struct DeviceRow {
    std::array<std::string, DeviceColumnCount> cells;
    std::array<bool, 16> leds{};
    std::uint16_t id() const;
};

// Receives the table's changes; the Qt view implements it.
class DeviceTableObserver {
public:
    virtual ~DeviceTableObserver() = default;
    virtual void rowAppended(int row) = 0;
    virtual void rowChanged(int row) = 0;
    virtual void rowRemoved(int row) = 0;
};

class DeviceTable {
public:
    // `startSupervision` puts a device under heartbeat supervision (DoNetReg in the program);
    // `stopSupervision` takes it off (DeleteTickDevice).
    DeviceTable(CDeviceChannel& channel,
                std::function<void(std::uint16_t, const sockaddr_in&)> startSupervision,
                std::function<void(std::uint16_t)> stopSupervision);

    void setObserver(DeviceTableObserver* observer) { m_observer = observer; }

    // WM_DEVICE_EVENT: kind 1 registered, 2 status, 3 removed; other kinds are ignored.
    void OnDeviceEvent(std::uint16_t id, int kind);

    // WM_LED_CELL_CLICKED: switch the outlet to the opposite of its registry state.
    void onLedCellClicked(int row, int channelIndex);
    // WM_BUTTON_CELL_CLICKED: mode (column 7) or master on/off (column 10).
    void onButtonCellClicked(int row, int column);
    // WM_COMBO_CELL_CHANGED: the editor closed on `comboIndex`; the cell shows its text.
    void onComboCellChanged(int row, int column, int comboIndex);

    int rowCount() const { return static_cast<int>(m_rows.size()); }
    const DeviceRow& row(int index) const { return m_rows.at(index); }
    int findRow(std::uint16_t id) const;  // -1 when the device has no row

private:
    void addRow(std::uint16_t id);
    void refreshRow(std::uint16_t id);
    void removeRow(std::uint16_t id);

    CDeviceChannel& m_channel;
    std::function<void(std::uint16_t, const sockaddr_in&)> m_startSupervision;
    std::function<void(std::uint16_t)> m_stopSupervision;
    DeviceTableObserver* m_observer = nullptr;
    std::vector<DeviceRow> m_rows;
};

}  // namespace consolecore
