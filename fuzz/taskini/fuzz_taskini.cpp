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

// The loader's bounds are the same code at any size; small ones keep each run cheap (a few
// bytes such as "ttCount=99999" would otherwise build thousands of default tasks per run).
constexpr TimTaskLoadLimits kLimits{16, 128};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto tasks = ParseTimTasks(text, 1, kLimits);
    if (tasks.size() > static_cast<std::size_t>(kLimits.tasks)) std::abort();
    std::size_t devices = 0;
    for (const auto& task : tasks) {
        if (task.devCount != task.devList.size() || task.timName[kTimNameUnits - 1] != 0)
            std::abort();
        devices += task.devList.size();
    }
    if (devices > kLimits.devices) std::abort();
    const auto again = ParseTimTasks(FormatTimTasks(text, tasks), 1, kLimits);
    if (again.size() != tasks.size()) std::abort();
    for (std::size_t i = 0; i < tasks.size(); ++i)
        if (!sameTask(tasks[i], again[i])) std::abort();
    return 0;
}
