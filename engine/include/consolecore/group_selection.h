// What the group selection dialogs show and return, without widgets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "consolecore/switching_groups.h"

namespace consolecore {

class GroupSelectionModel {
public:
    struct GroupRow {
        int number;
        std::string name;
    };
    struct DeviceRowEntry {
        int position;  // "序号": 1, 2, 3 ... in the order added
        std::uint32_t deviceId;
    };

    // `direction` 1: the operation switches on; 0: off.
    GroupSelectionModel(GroupKind kind, std::uint8_t direction);

    GroupKind kind() const { return m_kind; }
    std::uint8_t direction() const { return m_direction; }
    // "打开操作只能操作关闭状态的设备" or "关闭操作只能操作打开状态的设备".
    std::string hintText() const;
    // One row per group, in table order.
    std::vector<GroupRow> groupRows() const;

    // Selects the group at `index` (0-based): lists its devices not yet in the wanted state
    // (one consistent snapshot under the groups lock) and sets the result.
    const std::vector<DeviceRowEntry>& selectGroup(int index);
    const std::vector<DeviceRowEntry>& deviceRows() const { return m_devices; }
    // The group number chosen, or -1 when none (also -1 when the selected group offers no
    // device for the operation).
    int result() const { return m_result; }

private:
    GroupKind m_kind;
    std::uint8_t m_direction;
    std::vector<DeviceRowEntry> m_devices;
    int m_result = -1;
};

// Runs a selection dialog for the switching handlers. Returns the result group (-1 for
// none) when the operator confirmed, nothing when the dialog was cancelled.
class GroupChooser {
public:
    virtual ~GroupChooser() = default;
    virtual std::optional<int> chooseGroup(GroupKind kind, std::uint8_t direction) = 0;
};

}  // namespace consolecore
