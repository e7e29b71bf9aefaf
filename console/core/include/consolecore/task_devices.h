// The registry as the timed-task dialogs see it: names and the devices on offer, copied so no
// dialog holds a registry lock.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace consolecore {

// The name of a registered device; empty when it is not registered now.
std::string registeredDeviceName(std::uint16_t id);

// The registered devices in registration order with their names; an id of the registry's
// list without a record is left out.
std::vector<std::pair<std::uint16_t, std::string>> registeredDevices();

}  // namespace consolecore
