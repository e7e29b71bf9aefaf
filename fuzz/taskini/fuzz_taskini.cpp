// Fuzzes the TimingTask.ini loader with arbitrary file bytes: the load must not crash or
// read out of bounds, must keep its records consistent, and a save of what it loaded must
// load back to the same tasks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "chronstore/task_file.h"

namespace {

bool sameTask(const TimTaskPoint_& a, const TimTaskPoint_& b) {
    if (a.devList.size() != b.devList.size()) return false;
    for (std::size_t k = 0; k < a.devList.size(); ++k) {
        if (a.devList[k].devID != b.devList[k].devID) return false;
        for (std::size_t j = 0; j < kDeviceOutletCount; ++j)
            if ((a.devList[k].devLED[j] != 0) != (b.devList[k].devLED[j] != 0)) return false;
    }
    return a.ttEnable == b.ttEnable && a.ttType == b.ttType && a.staYear == b.staYear &&
           a.staMonth == b.staMonth && a.staDay == b.staDay && a.endYear == b.endYear &&
           a.endMonth == b.endMonth && a.endDay == b.endDay && a.sunday == b.sunday &&
           a.monday == b.monday && a.tuesday == b.tuesday && a.wednesday == b.wednesday &&
           a.thursday == b.thursday && a.friday == b.friday && a.saturday == b.saturday &&
           a.statime == b.statime && a.endtime == b.endtime;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto tasks = ParseTimTasks(text, 1);
    if (tasks.size() > static_cast<std::size_t>(kMaxLoadedTasks)) std::abort();
    std::size_t devices = 0;
    for (const auto& task : tasks) {
        if (task.devCount != task.devList.size() || task.timName[kTimNameUnits - 1] != 0)
            std::abort();
        devices += task.devList.size();
    }
    if (devices > kMaxLoadedDevices) std::abort();
    // Keep the round trip cheap: the device budget makes huge loads legal but slow, and a
    // few bytes ("ttCount=99999") load 10,000 default tasks whose save takes seconds.
    if (devices > 4096 || tasks.size() > 500) return 0;
    const auto again = ParseTimTasks(FormatTimTasks(text, tasks), 1);
    if (again.size() != tasks.size()) std::abort();
    for (std::size_t i = 0; i < tasks.size(); ++i)
        if (!sameTask(tasks[i], again[i])) std::abort();
    return 0;
}
