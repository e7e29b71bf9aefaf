// Registry copies for the timed-task dialogs.
#include "consolecore/task_devices.h"

#include "consolecore/device_snapshot.h"
#include "devroster/devroster.h"

namespace consolecore {

std::string registeredDeviceName(std::uint16_t id) {
    const auto snapshot = snapshotDevice(id);
    return snapshot ? snapshot->name : std::string();
}

std::vector<std::pair<std::uint16_t, std::string>> registeredDevices() {
    const std::vector<std::uint16_t> ids = deviceRegistry().ids();
    std::vector<std::pair<std::uint16_t, std::string>> devices;
    for (const std::uint16_t id : ids) {
        if (const auto snapshot = snapshotDevice(id)) devices.emplace_back(id, snapshot->name);
    }
    return devices;
}

}  // namespace consolecore
