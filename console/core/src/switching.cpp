// Parallel switching sends every device of a group its order at once; serial switching
// sends one device at a time and continues on each device's step reply.
#include "consolecore/switching.h"

#include <algorithm>
#include <vector>

#include "consolecore/device_channel.h"
#include "consolecore/group_selection.h"
#include "consolecore/switching_groups.h"
#include "logbase/logbase.h"
#include "platform/prompt.h"

namespace consolecore {

namespace {

const char* const kNoGroupChosen = "未选择分组";
const char* const kNoParallelDevices = "当前无平行操作的设备!";

// The group's entries sorted by number: ascending to switch on, descending to switch off.
// A stable sort keeps devices with equal numbers in list order, as a neighbour-swapping
// bubble sort that swaps only strictly out-of-order pairs does.
std::vector<stLocDevInfo_> sortedForSwitching(std::vector<stLocDevInfo_> entries,
                                              std::uint8_t target) {
    std::stable_sort(entries.begin(), entries.end(),
                     [target](const stLocDevInfo_& a, const stLocDevInfo_& b) {
                         return target == 1 ? a.number < b.number : a.number > b.number;
                     });
    return entries;
}

bool inState(const stLocDevInfo_& entry, std::uint8_t target) {
    return target == 1 ? entry.onOff != 0 : entry.onOff == 0;
}

std::uint8_t countByte(std::size_t n) {
    return static_cast<std::uint8_t>(n);
}

}  // namespace

SwitchingController::SwitchingController(CDeviceChannel& channel, GroupChooser& chooser,
                                         platform::Prompt& prompt,
                                         std::function<int()> deviceRowCount)
    : m_channel(channel),
      m_chooser(chooser),
      m_prompt(prompt),
      m_deviceRowCount(std::move(deviceRowCount)) {}

void SwitchingController::startParallel(std::uint8_t target) {
    if (m_deviceRowCount() == 0) return;
    const auto chosen = m_chooser.chooseGroup(GroupKind::Parallel, target);
    if (!chosen) return;
    if (*chosen <= 0 || *chosen > MAX_GROUP_NUMBER) {
        m_prompt.showMessage(kNoGroupChosen);
        return;
    }
    const int group = *chosen;
    auto& groups = switchingGroups();
    auto guard = groups.lock();
    auto& devices = groups.devices(GroupKind::Parallel, group);
    const std::size_t count = devices.size();
    if (count == 0) {
        guard.unlock();  // never hold the groups lock across a modal message box
        m_prompt.showMessage(kNoParallelDevices);
        return;
    }
    const auto sorted = sortedForSwitching(devices, target);
    if (!groups.findParallRecord(group)) {
        st_Parall_Record_ record;
        record.groupNumber = static_cast<std::uint8_t>(group);
        for (const auto& e : sorted) record.deviceIds.push_back(e.deviceId);
        groups.parallRecordArray.push_back(std::move(record));
    }
    for (auto& e : devices) e.handled = 0;
    std::uint8_t position = 1;
    for (const auto& e : sorted) {
        if (inState(e, target)) continue;
        m_channel.SendParallelSwitch(static_cast<std::uint16_t>(e.deviceId), target, position,
                                     countByte(count));
        ++position;
    }
}

void SwitchingController::onParallelStepDone(std::uint16_t deviceId) {
    auto& groups = switchingGroups();
    auto guard = groups.lock();
    const auto group = groups.findGroupOf(GroupKind::Parallel, deviceId);
    if (!group) return;
    auto& devices = groups.devices(GroupKind::Parallel, *group);
    for (auto& e : devices) {
        if (e.deviceId == deviceId) {
            e.handled = 1;
            break;
        }
    }
    const bool allHandled =
        std::all_of(devices.begin(), devices.end(), [](const auto& e) { return e.handled == 1; });
    if (allHandled) groups.eraseParallRecord(*group);
}

void SwitchingController::startSerial(std::uint8_t target) {
    const auto chosen = m_chooser.chooseGroup(GroupKind::Serial, target);
    if (!chosen) return;
    if (*chosen <= 0 || *chosen > MAX_GROUP_NUMBER) {
        m_prompt.showMessage(kNoGroupChosen);
        return;
    }
    const int group = *chosen;
    InsertLogOb(target == 1 ? "%d,%d,'点击串行开%d'" : "%d,%d,'点击串行关%d'", 2, 6, group);

    auto& groups = switchingGroups();
    auto guard = groups.lock();
    auto& devices = groups.devices(GroupKind::Serial, group);
    const auto sorted = sortedForSwitching(devices, target);
    const std::size_t count = sorted.size();
    if (!groups.findSerialRecord(group)) {
        st_Serial_Record_ record;
        record.groupNumber = static_cast<std::uint8_t>(group);
        for (const auto& e : sorted) record.deviceIds.push_back(e.deviceId);
        record.lastDeviceId = record.deviceIds.empty() ? 0 : record.deviceIds.back();
        record.progress = 0;
        groups.serialRecordArray.push_back(std::move(record));
    }
    for (auto& e : devices) e.handled = 0;

    for (const auto& e : sorted) {
        if (inState(e, target)) {
            // Passed over: mark the device's own entry, not whatever stands at its position.
            for (auto& own : devices) {
                if (own.deviceId == e.deviceId) {
                    own.handled = 1;
                    break;
                }
            }
            continue;
        }
        m_channel.SendSerialSwitch(static_cast<std::uint16_t>(e.deviceId), target,
                                   static_cast<std::uint8_t>(group), 1, countByte(count));
        groups.serialGroupArray[group - 1].direction = target;
        InsertLogOb(target == 1 ? "%d,%d,'串行开'" : "%d,%d,'串行关'", 2, 6);
        return;
    }
}

void SwitchingController::onSerialStepDone(std::uint16_t deviceId, bool on) {
    const std::uint8_t target = on ? 1 : 0;
    auto& groups = switchingGroups();
    auto guard = groups.lock();
    const auto found = groups.findGroupOf(GroupKind::Serial, deviceId);
    if (!found) return;
    const int group = *found;
    auto& devices = groups.devices(GroupKind::Serial, group);
    for (auto& e : devices) {
        if (e.deviceId == deviceId) {
            e.handled = 1;
            break;
        }
    }
    const std::size_t count = devices.size();

    // Continue in the run's number order (kept in the run record), then with any device that
    // joined the group after the run started, in list order; skip devices already handled or
    // already in the wanted state.
    const auto qualifies = [target](const stLocDevInfo_& e) {
        return e.handled == 0 && e.onOff != target;
    };
    const stLocDevInfo_* next = nullptr;
    auto* record = groups.findSerialRecord(group);
    if (record) {
        for (std::uint32_t id : record->deviceIds) {
            auto it = std::find_if(devices.begin(), devices.end(),
                                   [id](const auto& e) { return e.deviceId == id; });
            if (it != devices.end() && qualifies(*it)) {
                next = &*it;
                break;
            }
        }
    }
    if (!next) {
        auto it = std::find_if(devices.begin(), devices.end(), qualifies);
        if (it != devices.end()) next = &*it;
    }

    if (next) {
        m_channel.SendSerialSwitch(static_cast<std::uint16_t>(next->deviceId), target,
                                   static_cast<std::uint8_t>(group), 1, countByte(count));
        return;
    }
    if (record) {
        groups.eraseSerialRecord(group);
        InsertLogOb(target == 1 ? "%d,%d,'串行开分组%d结束!'" : "%d,%d,'串行关分组%d结束!'", 2, 6,
                    group);
    }
}

}  // namespace consolecore
