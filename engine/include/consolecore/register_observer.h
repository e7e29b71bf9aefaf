// One observer of device registrations, installed by the console session (re-applying the
// running timed task). Called on the link's receive thread, never under a lock of the core.
#pragma once

#include <cstdint>
#include <functional>

namespace consolecore {

using RegisterObserver = std::function<void(std::uint16_t deviceId)>;

// Replaces the observer; an empty one removes it. Returns once no call of the old observer
// that started before is still running.
void setRegisterObserver(RegisterObserver observer);
// A device was filed as newly registered.
void notifyDeviceRegistered(std::uint16_t deviceId);

}  // namespace consolecore
