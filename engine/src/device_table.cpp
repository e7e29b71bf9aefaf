// Rows of the device list, kept in step with the registry by device events.
#include "consolecore/device_table.h"

#include <arpa/inet.h>

#include <algorithm>
#include <ctime>
#include <variant>

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
            if (row.online) return "在线";
            // A row kept offline says since when.
            return row.lostAt == std::chrono::system_clock::time_point{}
                       ? "离线"
                       : "离线 " + lostTimeText(row.lostAt);
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

std::string lostTimeText(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    if (!localtime_r(&seconds, &local)) return {};
    char text[32];
    const std::size_t n = std::strftime(text, sizeof text, "%m-%d %H:%M:%S", &local);
    return std::string(text, n);
}

int groupEntryIndex(const DeviceRow& row) {
    return row.shownGroup < groupComboEntries().size() ? row.shownGroup : 0;
}

int numberEntryIndex(const DeviceRow& row) {
    const int number = row.shownNumber;
    return number >= 1 && number <= static_cast<int>(numberComboEntries().size()) ? number - 1 : 0;
}

int DeviceTable::findRow(std::uint16_t id) const {
    return m_rowOf[id];
}

bool DeviceTable::rowOnline(std::uint16_t id) const {
    const int index = findRow(id);
    return index >= 0 && m_rows[index]->online;
}

bool DeviceTable::removeOfflineRow(std::uint16_t id) {
    const int index = findRow(id);
    if (index < 0 || m_rows[index]->online) return false;
    m_rows.erase(m_rows.begin() + index);
    m_rowOf[id] = -1;
    reindexFrom(index);
    if (m_observer) m_observer->rowsRemoved({index});
    return true;
}

void DeviceTable::reindexFrom(int index) {
    for (int i = index; i < rowCount(); ++i) m_rowOf[m_rows[i]->id] = i;
}

namespace {

// A column's value as something ordered; texts compare byte-wise (names are single-byte
// text from the devices).
using SortKey = std::variant<std::uint64_t, std::string>;

SortKey sortKey(const DeviceRow& row, int column) {
    switch (column) {
        case ColRowNumber:
            return static_cast<std::uint64_t>(row.serial);
        case ColName:
            return row.name;
        case ColIpAddress:
            return static_cast<std::uint64_t>(ntohl(row.ip.sin_addr.s_addr));
        case ColMask:
            return std::uint64_t{row.mask};
        case ColGateway:
            return std::uint64_t{row.gateway};
        case ColMac: {
            std::uint64_t value = 0;
            for (std::uint8_t byte : row.mac) value = value << 8 | byte;
            return value;
        }
        case ColMode:
            return std::uint64_t{row.mode};
        case ColGroup:
            return std::uint64_t{row.shownGroup};
        case ColNumber:
            return std::uint64_t{row.shownNumber};
        case ColOnOff:
            return std::uint64_t{row.onOff};
        case ColLeds:
            return std::uint64_t{ledMask(row.leds)};
        case ColStatus:
            return std::uint64_t{row.online};
        default:
            return std::uint64_t{row.id};
    }
}

}  // namespace

bool DeviceTable::rowLess(const DeviceRow& a, const DeviceRow& b) const {
    const SortKey ka = sortKey(a, m_sortColumn);
    const SortKey kb = sortKey(b, m_sortColumn);
    if (ka != kb) return m_sortAscending ? ka < kb : kb < ka;
    return m_sortAscending ? a.id < b.id : b.id < a.id;
}

void DeviceTable::setSortOrder(int column, bool ascending) {
    if (column < 0 || column >= ColHiddenId) column = ColDeviceId;
    if (column == m_sortColumn && ascending == m_sortAscending) return;
    m_sortColumn = column;
    m_sortAscending = ascending;
    std::stable_sort(m_rows.begin(), m_rows.end(),
                     [this](const auto& a, const auto& b) { return rowLess(*a, *b); });
    reindexFrom(0);
    if (m_observer) m_observer->rowsReordered();
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

void DeviceTable::fillRow(DeviceRow& row, const DeviceSnapshot& device) {
    row.id = device.id;
    row.name = device.name;
    row.mask = device.mask;
    row.gateway = device.gateway;
    row.mac = device.mac;
    row.online = device.online;
    row.lostAt = {};
    row.group = row.shownGroup = device.group;
    row.number = row.shownNumber = device.number;
    row.record = device.record;
    takeReport(row, device);
}

void DeviceTable::addRow(std::uint16_t id) {
    const int existing = findRow(id);
    if (existing >= 0 && m_rows[existing]->online) {
        logEvent(logcode::kFailure, logcode::kDeviceLink,
                 "注册;列表中已存在设备:" + std::to_string(int{id}));
        return;
    }
    const auto device = snapshotDevice(id);
    if (!device) return;

    if (existing >= 0) {
        // A row kept offline comes back to life where it stands, with its serial number.
        fillRow(*m_rows[existing], *device);
        if (m_observer) m_observer->rowChanged(existing);
    } else {
        DeviceRow row;
        row.serial = rowCount() + 1;
        fillRow(row, *device);
        const auto place =
            std::upper_bound(m_rows.begin(), m_rows.end(), row,
                             [this](const DeviceRow& a, const std::unique_ptr<DeviceRow>& b) {
                                 return rowLess(a, *b);
                             });
        const int index = static_cast<int>(place - m_rows.begin());
        m_rows.insert(place, std::make_unique<DeviceRow>(std::move(row)));
        reindexFrom(index);
        if (m_observer) m_observer->rowInserted(index);
    }
    if (m_loss.onReturned) m_loss.onReturned(id);
}

void DeviceTable::refreshRow(std::uint16_t id) {
    const int index = findRow(id);
    if (index < 0) return;
    const auto device = snapshotDevice(id);
    if (!device || device->record != m_rows[index]->record) return;
    takeReport(*m_rows[index], *device);
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
        if (!m_rows[index]->online || current(*m_rows[index])) return;
        for (int i = 0; i < rowCount(); ++i) {
            // Rows already kept offline were told about when they went.
            if (m_rows[i]->online && !current(*m_rows[i])) removed.push_back(i);
        }
    }
    if (m_keepOffline) {
        const auto now = m_loss.clock ? m_loss.clock() : std::chrono::system_clock::now();
        std::vector<DeviceRow> lost;
        for (int i : removed) {
            DeviceRow& row = *m_rows[i];
            row.online = false;
            row.lostAt = now;
            if (m_observer) m_observer->rowChanged(i);
            lost.push_back(row);
        }
        logRemoved(lost);
        reportLost(lost);
        return;
    }
    std::vector<DeviceRow> gone;
    gone.reserve(removed.size());
    std::vector<std::unique_ptr<DeviceRow>> kept;
    kept.reserve(m_rows.size() - removed.size());
    std::size_t next = 0;
    for (int i = 0; i < rowCount(); ++i) {
        if (next < removed.size() && removed[next] == i) {
            m_rowOf[m_rows[i]->id] = -1;
            gone.push_back(std::move(*m_rows[i]));
            ++next;
        } else {
            kept.push_back(std::move(m_rows[i]));
        }
    }
    m_rows = std::move(kept);
    reindexFrom(0);
    if (m_observer) m_observer->rowsRemoved(removed);
    logRemoved(gone);
    reportLost(gone);
}

void DeviceTable::logRemoved(const std::vector<DeviceRow>& rows) {
    // The registry let the device go whether or not its row stays.
    for (const DeviceRow& row : rows) {
        logEvent(logcode::kRun, logcode::kSerial,
                 "掉线删除设备[ID:" + std::to_string(int{row.id}) +
                     ";IP:" + formatIpAddress(row.ip) + "]");
    }
}

void DeviceTable::reportLost(const std::vector<DeviceRow>& rows) {
    if (rows.empty() || !m_loss.onLost) return;
    const auto now = m_loss.clock ? m_loss.clock() : std::chrono::system_clock::now();
    std::vector<LostDevice> lost;
    lost.reserve(rows.size());
    for (const DeviceRow& row : rows) {
        // A row kept offline carries its loss time; a deleted one was lost now.
        lost.push_back({row.id, row.name, formatIpAddress(row.ip), row.online ? now : row.lostAt});
    }
    m_loss.onLost(lost);
}

std::optional<bool> DeviceTable::ledClickTarget(std::uint16_t id, int channelIndex) const {
    if (findRow(id) < 0 || channelIndex < 0 || channelIndex > 15) return std::nullopt;
    const auto device = snapshotDevice(id);
    if (!device) return std::nullopt;
    return !device->leds[channelIndex];
}

void DeviceTable::onButtonCellClicked(std::uint16_t id, int column) {
    const int row = findRow(id);
    if (row < 0 || !m_rows[row]->online) return;
    const DeviceRow& device = *m_rows[row];
    if (column == ColMode) {
        m_channel.SendSetMode(device.id, device.mode == 0 ? 1 : 0);
    } else if (column == ColOnOff) {
        m_channel.SendSetOnOff(device.id, device.onOff ? 0 : 1);
    }
}

void DeviceTable::onComboCellChanged(int row, int column, int comboIndex) {
    if (row < 0 || row >= rowCount() || !m_rows[row]->online) return;
    DeviceRow& device = *m_rows[row];
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
