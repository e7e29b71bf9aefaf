// Marks the device table shows on a device's row beside its own values: the device a serial
// run is switching, and a device that did not confirm its step in a run that failed.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace consoleui {

enum class DeviceMark { Switching, Unconfirmed };

struct DeviceMarkInfo {
    DeviceMark mark = DeviceMark::Switching;
    std::string why;  // shown as the row's tooltip: "正在切换: 串行开 Link2"
    bool operator==(const DeviceMarkInfo&) const = default;
};

using DeviceMarks = std::map<std::uint16_t, DeviceMarkInfo>;

}  // namespace consoleui
