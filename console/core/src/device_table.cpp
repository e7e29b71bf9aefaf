// Rows of the device list, kept in step with the registry by device events.
#include "consolecore/device_table.h"

#include <charconv>

#include "consolecore/device_channel.h"
#include "devroster/devroster.h"
#include "logbase/logbase.h"
#include "platform/messages.h"

namespace consolecore {

namespace {

std::string groupText(std::uint8_t group) {
    const auto& entries = groupComboEntries();
    // A group outside the combo's entries shows its number, so the operator still sees it.
    return group < entries.size() ? entries[group] : std::to_string(group);
}

std::string modeText(std::uint8_t mode) {
    return mode != 0 ? "Serial" : "Pall";
}
std::string onOffText(bool on) {
    return on ? "ON" : "OFF";
}

int parseInt(const std::string& text) {
    int value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

}  // namespace

const std::array<DeviceColumnInfo, DeviceColumnCount>& deviceColumns() {
    static const std::array<DeviceColumnInfo, DeviceColumnCount> columns{{
        {"序号", 6},      {"设备号", 7},   {"名称", 12},  {"IP地址", 11}, {"子网掩码", 11},
        {"默认网关", 11}, {"MAC地址", 14}, {"模式", 6},   {"编组", 7},    {"编号", 5},
        {"开关", 5},      {"Led显示", 42}, {"STATUS", 7}, {"devID", 0},   {"SPmod", 0},
        {"MarGroup", 0},  {"Number", 0},   {"OnOff", 0},  {"LedByte", 0},
    }};
    return columns;
}

const std::vector<std::string>& groupComboEntries() {
    static const std::vector<std::string> entries = [] {
        std::vector<std::string> e{"UnLinked"};
        for (int i = 1; i <= 6; ++i) e.push_back("Link_" + std::to_string(i));
        return e;
    }();
    return entries;
}

const std::vector<std::string>& numberComboEntries() {
    static const std::vector<std::string> entries = [] {
        std::vector<std::string> e;
        for (int i = 1; i <= 20; ++i) e.push_back(std::to_string(i));
        return e;
    }();
    return entries;
}

std::uint16_t DeviceRow::id() const {
    return static_cast<std::uint16_t>(parseInt(cells[ColHiddenId]));
}

DeviceTable::DeviceTable(CDeviceChannel& channel,
                         std::function<void(std::uint16_t, const sockaddr_in&)> startSupervision,
                         std::function<void(std::uint16_t)> stopSupervision)
    : m_channel(channel),
      m_startSupervision(std::move(startSupervision)),
      m_stopSupervision(std::move(stopSupervision)) {}

int DeviceTable::findRow(std::uint16_t id) const {
    const std::string key = std::to_string(id);
    for (int i = 0; i < rowCount(); ++i) {
        if (m_rows[i].cells[ColHiddenId] == key) return i;
    }
    return -1;
}

void DeviceTable::OnDeviceEvent(std::uint16_t id, int kind) {
    switch (kind) {
        case platform::DEV_EVENT_REGISTERED:
            addRow(id);
            break;
        case platform::DEV_EVENT_STATUS:
            refreshRow(id);
            break;
        case platform::DEV_EVENT_REMOVED:
            removeRow(id);
            break;
        default:
            break;
    }
}

void DeviceTable::addRow(std::uint16_t id) {
    if (findRow(id) >= 0) {
        InsertLogOb("%d,%d,'注册;列表中已存在设备:%d'", 3, 4, id);
        return;
    }
    const auto device = snapshotDevice(id);
    if (!device) return;

    DeviceRow row;
    auto& c = row.cells;
    c[ColRowNumber] = std::to_string(rowCount() + 1);
    c[ColDeviceId] = std::to_string(id);
    c[ColName] = device->name;
    c[ColIpAddress] = formatIpAddress(device->ip);
    c[ColMask] = formatHostOrderAddress(device->mask);
    c[ColGateway] = formatHostOrderAddress(device->gateway);
    c[ColMac] = formatMac(device->mac);
    c[ColMode] = modeText(device->mode);
    c[ColGroup] = groupText(device->group);
    c[ColNumber] = std::to_string(device->number);
    c[ColOnOff] = onOffText(device->onOff);
    c[ColStatus] = device->online ? "在线" : "离线";
    c[ColHiddenId] = std::to_string(id);
    c[ColHiddenMode] = std::to_string(device->mode);
    c[ColHiddenGroup] = std::to_string(device->group);
    c[ColHiddenNumber] = std::to_string(device->number);
    c[ColHiddenOnOff] = std::to_string(device->onOff ? 1 : 0);
    c[ColHiddenLedMask] = std::to_string(ledMask(device->leds));
    row.leds = device->leds;
    m_rows.push_back(std::move(row));
    if (m_observer) m_observer->rowAppended(rowCount() - 1);

    // Supervision starts only once the row exists, so an offline notice always finds it.
    if (m_startSupervision) m_startSupervision(id, device->ip);
}

void DeviceTable::refreshRow(std::uint16_t id) {
    const int index = findRow(id);
    if (index < 0) return;
    const auto device = snapshotDevice(id);
    if (!device) return;

    auto& row = m_rows[index];
    auto& c = row.cells;
    row.leds = device->leds;
    const std::string mode = std::to_string(device->mode);
    if (mode != c[ColHiddenMode]) {
        c[ColMode] = modeText(device->mode);
        c[ColHiddenMode] = mode;
    }
    const std::string group = std::to_string(device->group);
    if (group != c[ColHiddenGroup]) {
        c[ColGroup] = groupText(device->group);
        c[ColHiddenGroup] = group;
    }
    const std::string number = std::to_string(device->number);
    if (number != c[ColHiddenNumber]) {
        c[ColNumber] = number;
        c[ColHiddenNumber] = number;
    }
    c[ColHiddenLedMask] = std::to_string(ledMask(device->leds));
    const std::string onOff = std::to_string(device->onOff ? 1 : 0);
    if (onOff != c[ColHiddenOnOff]) {
        c[ColOnOff] = onOffText(device->onOff);
        c[ColHiddenOnOff] = onOff;
    }
    if (m_observer) m_observer->rowChanged(index);
}

void DeviceTable::removeRow(std::uint16_t id) {
    const int index = findRow(id);
    if (index < 0) return;
    RemoveDevFromObjDevInfoMap(id);
    RemoveFromDevArray(id);
    if (m_stopSupervision) m_stopSupervision(id);
    const std::string ip = m_rows[index].cells[ColIpAddress];
    m_rows.erase(m_rows.begin() + index);
    if (m_observer) m_observer->rowRemoved(index);
    InsertLogOb("%d,%d,'掉线删除设备[ID:%d;IP:%s]'", 2, 6, id, ip.c_str());
}

void DeviceTable::onLedCellClicked(int row, int channelIndex) {
    if (row < 0 || row >= rowCount() || channelIndex < 0 || channelIndex > 15) return;
    const std::uint16_t id = m_rows[row].id();
    const auto device = snapshotDevice(id);
    if (!device) return;
    const bool on = device->leds[channelIndex];
    m_channel.SendChannelSwitch(id, static_cast<std::uint8_t>(channelIndex + 1), on ? 0 : 1);
}

void DeviceTable::onButtonCellClicked(int row, int column) {
    if (row < 0 || row >= rowCount()) return;
    const auto& cells = m_rows[row].cells;
    const std::uint16_t id = m_rows[row].id();
    if (column == ColMode) {
        m_channel.SendSetMode(id, cells[ColHiddenMode] == "0" ? 1 : 0);
    } else if (column == ColOnOff) {
        m_channel.SendSetOnOff(id, cells[ColOnOff] == "ON" ? 0 : 1);
    }
}

void DeviceTable::onComboCellChanged(int row, int column, int comboIndex) {
    if (row < 0 || row >= rowCount()) return;
    auto& cells = m_rows[row].cells;
    const std::uint16_t id = m_rows[row].id();
    if (column == ColGroup) {
        if (comboIndex < 0 || comboIndex >= static_cast<int>(groupComboEntries().size())) return;
        cells[ColGroup] = groupComboEntries()[comboIndex];
        if (m_observer) m_observer->rowChanged(row);
        m_channel.SendSetGroup(id, static_cast<std::uint8_t>(comboIndex));
    } else if (column == ColNumber) {
        if (comboIndex < 0 || comboIndex >= static_cast<int>(numberComboEntries().size())) return;
        cells[ColNumber] = numberComboEntries()[comboIndex];
        if (m_observer) m_observer->rowChanged(row);
        m_channel.SendSetNumber(id, static_cast<std::uint8_t>(comboIndex + 1));
    }
}

}  // namespace consolecore
