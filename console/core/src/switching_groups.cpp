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

void SwitchingGroups::reset() {
    auto guard = lock();
    for (int i = 0; i < MAX_GROUP_NUMBER; ++i) {
        const auto number = static_cast<std::uint8_t>(i + 1);
        const std::string name = "Link" + std::to_string(number);
        serialGroupArray[i] = st_Group_Info_{number, name, {}, 0};
        plGroupArray[i] = st_plGroup_Info_{number, name, {}, 0};
    }
    serialRecordArray.clear();
    parallRecordArray.clear();
}

void SwitchingGroups::fileRegistered(std::uint32_t id, std::uint8_t group, std::uint8_t mode,
                                     std::uint8_t number, std::uint8_t onOff) {
    if (!isGroupNumber(group) || mode > 1) return;
    auto guard = lock();
    const stLocDevInfo_ entry{id, 0, number, onOff};
    if (mode == 0) {
        plGroupArray[group - 1].devices.push_back(entry);
    } else {
        serialGroupArray[group - 1].devices.push_back(entry);
    }
}

void SwitchingGroups::refileOnStatus(std::uint32_t id, std::uint8_t group, std::uint8_t mode,
                                     std::uint8_t number, std::uint8_t onOff, int highestOn) {
    auto guard = lock();
    removeDevice(id);
    if (!isGroupNumber(group)) return;
    const stLocDevInfo_ entry{id, 0, number, onOff};
    if (mode != 0) {
        serialGroupArray[group - 1].devices.push_back(entry);
        if (auto* record = findSerialRecord(group)) {
            const int progress =
                serialGroupArray[group - 1].direction != 0 ? highestOn : highestOn + 1;
            record->progress = static_cast<std::uint8_t>(progress);
        }
    } else {
        plGroupArray[group - 1].devices.push_back(entry);
    }
}

void SwitchingGroups::removeDevice(std::uint32_t id) {
    auto guard = lock();
    const auto matches = [id](const stLocDevInfo_& e) { return e.deviceId == id; };
    for (auto& g : serialGroupArray) std::erase_if(g.devices, matches);
    for (auto& g : plGroupArray) std::erase_if(g.devices, matches);
}

std::optional<int> SwitchingGroups::findGroupOf(GroupKind kind, std::uint32_t id) const {
    auto guard = std::unique_lock<std::recursive_mutex>(m_mutex);
    for (int g = 1; g <= MAX_GROUP_NUMBER; ++g) {
        const auto& list = kind == GroupKind::Serial ? serialGroupArray[g - 1].devices
                                                     : plGroupArray[g - 1].devices;
        for (const auto& e : list) {
            if (e.deviceId == id) return g;
        }
    }
    return std::nullopt;
}

std::vector<stLocDevInfo_>& SwitchingGroups::devices(GroupKind kind, int group) {
    return kind == GroupKind::Serial ? serialGroupArray.at(group - 1).devices
                                     : plGroupArray.at(group - 1).devices;
}

std::uint8_t SwitchingGroups::direction(GroupKind kind, int group) const {
    return kind == GroupKind::Serial ? serialGroupArray.at(group - 1).direction
                                     : plGroupArray.at(group - 1).direction;
}

st_Serial_Record_* SwitchingGroups::findSerialRecord(int group) {
    for (auto& r : serialRecordArray) {
        if (r.groupNumber == group) return &r;
    }
    return nullptr;
}

st_Parall_Record_* SwitchingGroups::findParallRecord(int group) {
    for (auto& r : parallRecordArray) {
        if (r.groupNumber == group) return &r;
    }
    return nullptr;
}

void SwitchingGroups::eraseSerialRecord(int group) {
    std::erase_if(serialRecordArray, [group](const auto& r) { return r.groupNumber == group; });
}

void SwitchingGroups::eraseParallRecord(int group) {
    std::erase_if(parallRecordArray, [group](const auto& r) { return r.groupNumber == group; });
}

SwitchingGroups& switchingGroups() {
    static SwitchingGroups groups;
    return groups;
}

}  // namespace consolecore
