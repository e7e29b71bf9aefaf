// The should-be/is rows, from the same due-device rule the runner's scan uses.
#include "consolecore/task_view.h"

#include "chronrun/chronrun.h"
#include "chronrun/task_rules.h"
#include "chronstore/chronstore.h"

namespace consolecore {

std::vector<TaskViewRow> computeTaskView(const std::vector<TimTaskPoint_>& tasks,
                                         const HolidayList& holidays, const ChronrunLocalTime& now,
                                         const DeviceLookup& lookup) {
    std::vector<TaskViewRow> rows;
    for (const chronrun::DueDevice& due : chronrun::dueDevices(tasks, now, holidays)) {
        const TimTaskPoint_& task = tasks[due.taskIndex];
        TaskViewRow row;
        row.devID = due.devID;
        row.timID = task.timID;
        row.taskName = GetTimNameUtf8(task);
        const DeviceOnOff_& entry = task.devList[due.deviceIndex];
        for (std::size_t k = 0; k < row.should.size(); ++k) row.should[k] = entry.devLED[k] != 0;
        if (const auto device = lookup(due.devID)) {
            row.deviceName = device->name;
            row.is = device->leds;
            row.online = device->online;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

ChronrunLocalTime runnerNow() {
    const std::shared_ptr<ChronrunClock> clock = GetChronrunOptions().clock;
    return (clock ? clock : SystemChronrunClock())->localNow();
}

std::vector<TaskViewRow> currentTaskView() {
    std::vector<TimTaskPoint_> tasks;
    {
        TimTaskGuard guard;
        tasks = GetTTPointArray();
    }
    return computeTaskView(tasks, GetHolidays(), runnerNow());
}

bool applyTaskViewRow(const TaskViewRow& row) {
    return ApplyChronrunTask(row.timID, row.devID);
}

}  // namespace consolecore
