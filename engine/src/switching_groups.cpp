// Maintenance of the switching groups from registrations, status reports and removals.
#include "consolecore/switching_groups.h"

#include <algorithm>

namespace consolecore {

namespace {
bool isGroupNumber(int group) {
    return group >= 1 && group <= MAX_GROUP_NUMBER;
}
}  // namespace

SwitchingGroups::SwitchingGroups() {
    reset();
}

std::string groupName(int group) {
    return "Link" + std::to_string(group);
}

void SwitchingGroups::reset() {
    auto guard = lock();
    for (int i = 0; i < MAX_GROUP_NUMBER; ++i) {
        const auto number = static_cast<std::uint8_t>(i + 1);
        const std::string name = groupName(number);
        m_serialGroupArray[i] = st_Group_Info_{number, name, {}, 0};
        m_plGroupArray[i] = st_Group_Info_{number, name, {}, 0};
    }
    m_serialRecordArray.clear();
    m_parallRecordArray.clear();
}

void SwitchingGroups::fileRegistered(std::uint32_t id, std::uint8_t group, std::uint8_t mode,
                                     std::uint8_t number, std::uint8_t onOff) {
    if (!isGroupNumber(group) || mode > 1) return;
    auto guard = lock();
    const stLocDevInfo_ entry{id, 0, number, onOff};
    if (mode == 0) {
        m_plGroupArray[group - 1].devices.push_back(entry);
    } else {
        m_serialGroupArray[group - 1].devices.push_back(entry);
    }
}

void SwitchingGroups::refileOnStatus(std::uint32_t id, std::uint8_t group, std::uint8_t mode,
                                     std::uint8_t number, std::uint8_t onOff, int highestOn) {
    auto guard = lock();
    removeDevice(id);
    if (!isGroupNumber(group)) return;
    const stLocDevInfo_ entry{id, 0, number, onOff};
    if (mode != 0) {
        m_serialGroupArray[group - 1].devices.push_back(entry);
        if (auto* record = findSerialRecord(group)) {
            const int progress =
                m_serialGroupArray[group - 1].direction != 0 ? highestOn : highestOn + 1;
            record->progress = static_cast<std::uint8_t>(progress);
        }
    } else {
        m_plGroupArray[group - 1].devices.push_back(entry);
    }
}

void SwitchingGroups::removeDevice(std::uint32_t id) {
    auto guard = lock();
    const auto matches = [id](const stLocDevInfo_& e) { return e.deviceId == id; };
    for (auto& g : m_serialGroupArray) std::erase_if(g.devices, matches);
    for (auto& g : m_plGroupArray) std::erase_if(g.devices, matches);
}

std::optional<int> SwitchingGroups::findGroupOf(GroupKind kind, std::uint32_t id) const {
    auto guard = std::unique_lock<std::recursive_mutex>(m_mutex);
    for (int g = 1; g <= MAX_GROUP_NUMBER; ++g) {
        const auto& list = kind == GroupKind::Serial ? m_serialGroupArray[g - 1].devices
                                                     : m_plGroupArray[g - 1].devices;
        for (const auto& e : list) {
            if (e.deviceId == id) return g;
        }
    }
    return std::nullopt;
}

const st_Group_Info_& SwitchingGroups::group(GroupKind kind, int group) const {
    return kind == GroupKind::Serial ? m_serialGroupArray.at(group - 1)
                                     : m_plGroupArray.at(group - 1);
}

st_Group_Info_& SwitchingGroups::groupEntry(GroupKind kind, int group) {
    return kind == GroupKind::Serial ? m_serialGroupArray.at(group - 1)
                                     : m_plGroupArray.at(group - 1);
}

std::vector<stLocDevInfo_>& SwitchingGroups::devices(GroupKind kind, int group) {
    return groupEntry(kind, group).devices;
}

std::uint8_t SwitchingGroups::direction(GroupKind kind, int group) const {
    return this->group(kind, group).direction;
}

void SwitchingGroups::setDirection(GroupKind kind, int group, std::uint8_t direction) {
    groupEntry(kind, group).direction = direction;
}

st_Serial_Record_* SwitchingGroups::findSerialRecord(int group) {
    for (auto& r : m_serialRecordArray) {
        if (r.groupNumber == group) return &r;
    }
    return nullptr;
}

st_Parall_Record_* SwitchingGroups::findParallRecord(int group) {
    for (auto& r : m_parallRecordArray) {
        if (r.groupNumber == group) return &r;
    }
    return nullptr;
}

void SwitchingGroups::addSerialRecord(st_Serial_Record_ record) {
    m_serialRecordArray.push_back(std::move(record));
}

void SwitchingGroups::addParallRecord(st_Parall_Record_ record) {
    m_parallRecordArray.push_back(std::move(record));
}

void SwitchingGroups::eraseSerialRecord(int group) {
    std::erase_if(m_serialRecordArray, [group](const auto& r) { return r.groupNumber == group; });
}

void SwitchingGroups::eraseParallRecord(int group) {
    std::erase_if(m_parallRecordArray, [group](const auto& r) { return r.groupNumber == group; });
}

SwitchingGroups& switchingGroups() {
    static SwitchingGroups groups;
    return groups;
}

}  // namespace consolecore
