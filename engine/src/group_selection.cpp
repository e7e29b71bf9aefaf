// The group selection dialogs' logic: groups in table order, devices in the wrong state.
#include "consolecore/group_selection.h"

namespace consolecore {

GroupSelectionModel::GroupSelectionModel(GroupKind kind, std::uint8_t direction)
    : m_kind(kind), m_direction(direction) {}

std::string GroupSelectionModel::hintText() const {
    return m_direction == 1 ? "打开操作只能操作关闭状态的设备" : "关闭操作只能操作打开状态的设备";
}

std::vector<GroupSelectionModel::GroupRow> GroupSelectionModel::groupRows() const {
    auto& groups = switchingGroups();
    auto guard = groups.lock();
    std::vector<GroupRow> rows;
    for (int g = 1; g <= MAX_GROUP_NUMBER; ++g) {
        const st_Group_Info_& entry = groups.group(m_kind, g);
        rows.push_back({entry.groupNumber, entry.name});
    }
    return rows;
}

const std::vector<GroupSelectionModel::DeviceRowEntry>& GroupSelectionModel::selectGroup(
    int index) {
    m_devices.clear();
    m_result = -1;
    if (index < 0 || index >= MAX_GROUP_NUMBER) return m_devices;
    auto& groups = switchingGroups();
    auto guard = groups.lock();
    for (const auto& entry : groups.devices(m_kind, index + 1)) {
        if (!isInState(entry.onOff, m_direction)) {
            m_devices.push_back({static_cast<int>(m_devices.size()) + 1, entry.deviceId});
        }
    }
    if (!m_devices.empty()) m_result = index + 1;
    return m_devices;
}

}  // namespace consolecore
