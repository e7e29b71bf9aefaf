// Shared helpers for the store tests: sample tasks and whole-file reads and writes.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

#include "chronstore/tim_task.h"

namespace chronstore_test {

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void spit(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// A week-mode task with `devices` devices; device k has id base+k and outlet k%16 on.
inline TimTaskPoint_ makeTask(const char* utf8Name, int devices, std::uint16_t idBase = 100) {
    TimTaskPoint_ task;
    SetTimNameUtf8(task, utf8Name);
    task.ttEnable = 1;
    task.ttType = kTaskWeekMode;
    task.staYear = 2024, task.staMonth = 3, task.staDay = 15;
    task.endYear = 2024, task.endMonth = 6, task.endDay = 10;
    task.monday = true;
    task.friday = true;
    task.statime = 8 * 3600;
    task.endtime = 9 * 3600 + 30;
    for (int k = 0; k < devices; ++k) {
        DeviceOnOff_ device;
        device.devID = static_cast<std::uint16_t>(idBase + k);
        device.devLED[k % 16] = 1;
        task.devList.push_back(device);
    }
    task.devCount = static_cast<std::uint16_t>(task.devList.size());
    return task;
}

}  // namespace chronstore_test
