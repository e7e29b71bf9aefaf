// "Should be" against "is": for every device named by an enabled task whose window is open
// now, the 16 outlets of the task that started last beside the 16 outlets the device reports.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "chronrun/chronrun_options.h"
#include "chronstore/holidays.h"
#include "chronstore/tim_task.h"
#include "consolecore/device_snapshot.h"

namespace consolecore {

struct TaskViewRow {
    std::uint16_t devID = 0;
    std::int32_t timID = 0;
    std::string taskName;
    std::string deviceName;         // empty when the device is not registered
    std::array<bool, 16> should{};  // outlet 1 first
    std::array<bool, 16> is{};      // as last reported; all off when not registered
    bool online = false;            // registered and online
    // An online device whose outlets differ from the task's.
    bool mismatch() const { return online && should != is; }
};

using DeviceLookup = std::function<std::optional<DeviceSnapshot>(std::uint16_t)>;

// The rows for `tasks` at `now`, in ascending device id order.
std::vector<TaskViewRow> computeTaskView(const std::vector<TimTaskPoint_>& tasks,
                                         const HolidayList& holidays, const ChronrunLocalTime& now,
                                         const DeviceLookup& lookup = snapshotDevice);

// The same for the task store (copied under its lock), its holidays and the runner's clock.
std::vector<TaskViewRow> currentTaskView();

// Sends the row's device the task's pattern through the runner (same path and log lines as a
// run). False when the runner is not running or the task no longer names the device.
bool applyTaskViewRow(const TaskViewRow& row);

// The local time by the runner's clock.
ChronrunLocalTime runnerNow();

}  // namespace consolecore
