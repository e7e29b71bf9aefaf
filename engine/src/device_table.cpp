// Rows of the device list, kept in step with the registry by device events.
#include "consolecore/device_table.h"

#include "consolecore/device_channel.h"
#include "devroster/devroster.h"
#include "logbase/log_codes.h"
#include "logbase/logbase.h"
#include "platform/messages.h"

namespace consolecore {

namespace {

std::string groupText(std::uint8_t group) {
    const auto& entries = groupComboEntries();
    // A group outside the combo's entries shows its number, so the operator still sees it.
    return group < entries.size() ? entries[group] : std::to_string(group);
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

std::string deviceCellText(const DeviceRow& row, int column) {
    switch (column) {
        case ColRowNumber:
            return std::to_string(row.serial);
        case ColDeviceId:
        case ColHiddenId:
            return std::to_string(row.id);
        case ColName:
            return row.name;
        case ColIpAddress:
            return formatIpAddress(row.ip);
        case ColMask:
            return formatHostOrderAddress(row.mask);
        case ColGateway:
            return formatHostOrderAddress(row.gateway);
        case ColMac:
            return formatMac(row.mac);
        case ColMode:
            return row.mode != 0 ? "Serial" : "Pall";
        case ColGroup:
            return groupText(row.shownGroup);
        case ColNumber:
            return std::to_string(row.shownNumber);
        case ColOnOff:
            return row.onOff ? "ON" : "OFF";
        case ColStatus:
            return row.online ? "在线" : "离线";
        case ColHiddenMode:
            return std::to_string(row.mode);
        case ColHiddenGroup:
            return std::to_string(row.group);
        case ColHiddenNumber:
            return std::to_string(row.number);
        case ColHiddenOnOff:
            return row.onOff ? "1" : "0";
        case ColHiddenLedMask:
            return std::to_string(ledMask(row.leds));
        default:
            return {};
    }
}

int groupEntryIndex(const DeviceRow& row) {
    return row.shownGroup < groupComboEntries().size() ? row.shownGroup : 0;
}

int numberEntryIndex(const DeviceRow& row) {
    const int number = row.shownNumber;
    return number >= 1 && number <= static_cast<int>(numberComboEntries().size()) ? number - 1 : 0;
}

int DeviceTable::findRow(std::uint16_t id) const {
    const auto it = m_rowOf.find(id);
    return it == m_rowOf.end() ? -1 : it->second;
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
            removeStaleRows(id);
            break;
        default:
            break;
    }
}

namespace {

// Copies the reported values of a registry record into its row.
void takeReport(DeviceRow& row, const DeviceSnapshot& device) {
    row.ip = device.ip;
    row.mode = device.mode;
    // A report that differs from the last one replaces an operator's pending choice.
    if (device.group != row.group) row.group = row.shownGroup = device.group;
    if (device.number != row.number) row.number = row.shownNumber = device.number;
    row.onOff = device.onOff;
    row.leds = device.leds;
}

}  // namespace

void DeviceTable::addRow(std::uint16_t id) {
    if (findRow(id) >= 0) {
        logEvent(logcode::kFailure, logcode::kDeviceLink,
                 "注册;列表中已存在设备:" + std::to_string(int{id}));
        return;
    }
    const auto device = snapshotDevice(id);
    if (!device) return;

    DeviceRow row;
    row.id = id;
    row.serial = rowCount() + 1;
    row.name = device->name;
    row.mask = device->mask;
    row.gateway = device->gateway;
    row.mac = device->mac;
    row.online = device->online;
    row.group = row.shownGroup = device->group;
    row.number = row.shownNumber = device->number;
    row.record = device->record;
    takeReport(row, *device);
    m_rowOf[id] = rowCount();
    m_rows.push_back(std::move(row));
    if (m_observer) m_observer->rowAppended(rowCount() - 1);
}

void DeviceTable::refreshRow(std::uint16_t id) {
    const int index = findRow(id);
    if (index < 0) return;
    const auto device = snapshotDevice(id);
    if (!device || device->record != m_rows[index].record) return;
    takeReport(m_rows[index], *device);
    if (m_observer) m_observer->rowChanged(index);
}

void DeviceTable::removeStaleRows(std::uint16_t id) {
    const int index = findRow(id);
    if (index < 0) return;
    std::vector<int> removed;
    {
        // Every row whose record has left the registry goes in this one pass, so a burst of
        // offline notices costs one sweep; the later notices find their rows gone.
        std::unordered_map<std::uint16_t, const CDeviceBase*> stored;
        deviceRegistry().forEach([&stored](std::uint16_t id, const CDeviceBase& record) {
            stored.emplace(id, &record);
        });
        const auto current = [&stored](const DeviceRow& row) {
            const auto it = stored.find(row.id);
            return it != stored.end() && it->second == row.record.get();
        };
        if (current(m_rows[index])) return;
        for (int i = 0; i < rowCount(); ++i) {
            if (!current(m_rows[i])) removed.push_back(i);
        }
    }
    std::vector<DeviceRow> gone;
    gone.reserve(removed.size());
    std::vector<DeviceRow> kept;
    kept.reserve(m_rows.size() - removed.size());
    std::size_t next = 0;
    for (int i = 0; i < rowCount(); ++i) {
        if (next < removed.size() && removed[next] == i) {
            gone.push_back(std::move(m_rows[i]));
            ++next;
        } else {
            kept.push_back(std::move(m_rows[i]));
        }
    }
    m_rows = std::move(kept);
    m_rowOf.clear();
    for (int i = 0; i < rowCount(); ++i) m_rowOf[m_rows[i].id] = i;
    if (m_observer) m_observer->rowsRemoved(removed);
    for (const DeviceRow& row : gone) {
        logEvent(logcode::kRun, logcode::kSerial,
                 "掉线删除设备[ID:" + std::to_string(int{row.id}) +
                     ";IP:" + formatIpAddress(row.ip) + "]");
    }
}

void DeviceTable::onLedCellClicked(std::uint16_t id, int channelIndex) {
    if (findRow(id) < 0 || channelIndex < 0 || channelIndex > 15) return;
    const auto device = snapshotDevice(id);
    if (!device) return;
    const bool on = device->leds[channelIndex];
    m_channel.SendChannelSwitch(id, static_cast<std::uint8_t>(channelIndex + 1), on ? 0 : 1);
}

void DeviceTable::onButtonCellClicked(std::uint16_t id, int column) {
    const int row = findRow(id);
    if (row < 0) return;
    const DeviceRow& device = m_rows[row];
    if (column == ColMode) {
        m_channel.SendSetMode(device.id, device.mode == 0 ? 1 : 0);
    } else if (column == ColOnOff) {
        m_channel.SendSetOnOff(device.id, device.onOff ? 0 : 1);
    }
}

void DeviceTable::onComboCellChanged(int row, int column, int comboIndex) {
    if (row < 0 || row >= rowCount()) return;
    DeviceRow& device = m_rows[row];
    if (column == ColGroup) {
        if (comboIndex < 0 || comboIndex >= static_cast<int>(groupComboEntries().size())) return;
        device.shownGroup = static_cast<std::uint8_t>(comboIndex);
        if (m_observer) m_observer->rowChanged(row);
        m_channel.SendSetGroup(device.id, device.shownGroup);
    } else if (column == ColNumber) {
        if (comboIndex < 0 || comboIndex >= static_cast<int>(numberComboEntries().size())) return;
        device.shownNumber = static_cast<std::uint8_t>(comboIndex + 1);
        if (m_observer) m_observer->rowChanged(row);
        m_channel.SendSetNumber(device.id, device.shownNumber);
    }
}

}  // namespace consolecore
