// Time to compute the timed tasks' should-be/is view: 1000 tasks of 10 devices each, all
// windows open, every device registered (each row copies its record under the registry lock).
//
//   chronrun_task_view_bench [repetitions, default 20] [tasks, default 1000]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "chronstore/tim_task.h"
#include "consolecore/task_view.h"
#include "devroster/devroster.h"

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const int taskCount = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1000;
    constexpr int kDevicesPerTask = 10;

    InitDevrosterMod();
    std::vector<TimTaskPoint_> tasks(static_cast<std::size_t>(taskCount));
    for (int t = 0; t < taskCount; ++t) {
        TimTaskPoint_& task = tasks[static_cast<std::size_t>(t)];
        task.timID = t + 1;
        SetTimNameUtf8(task, "task" + std::to_string(t));
        task.ttEnable = 1;
        task.ttType = kTaskWeekMode;
        task.monday = true;
        task.statime = static_cast<std::uint32_t>(t % 3600);
        task.endtime = 23 * 3600;
        for (int k = 0; k < kDevicesPerTask; ++k) {
            DeviceOnOff_ device;
            device.devID = static_cast<std::uint16_t>(1 + (t * kDevicesPerTask + k) % 60000);
            device.devLED[k] = 1;
            task.devList.push_back(device);
        }
    }
    for (const TimTaskPoint_& task : tasks) {
        for (const DeviceOnOff_& entry : task.devList) {
            if (FindDevice(entry.devID)) continue;
            auto device = std::make_shared<CDeviceBase>();
            device->SetDeviceID(entry.devID);
            device->SetDeviceName("bench");
            device->SetOnLine(true);
            PlusDevice(device);
        }
    }
    const ChronrunLocalTime monday{2024, 1, 29, 1, 12, 0, 0};
    std::vector<double> ms;
    std::size_t rows = 0;
    for (int r = 0; r < repetitions; ++r) {
        const auto start = std::chrono::steady_clock::now();
        rows = consolecore::computeTaskView(tasks, {}, monday).size();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("task view: %d tasks x %d devices, %zu rows, median %.2f ms, max %.2f ms\n",
                taskCount, kDevicesPerTask, rows, ms[ms.size() / 2], ms.back());
    ReleaseDevroster();
    return rows == static_cast<std::size_t>(taskCount * kDevicesPerTask) ? 0 : 1;
}
