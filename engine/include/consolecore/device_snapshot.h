// A copy of one registry record, taken under the registry lock so readers never hold it long.
#pragma once

#include <netinet/in.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class CDeviceBase;

namespace consolecore {

struct DeviceSnapshot {
    std::uint16_t id = 0;
    std::string name;
    sockaddr_in ip{};           // network byte order, printed from byte 0
    std::uint32_t mask = 0;     // host-order integer, most significant byte = first octet
    std::uint32_t gateway = 0;  // as the mask
    std::array<std::uint8_t, 6> mac{};
    std::uint8_t group = 0;
    std::uint8_t mode = 0;
    std::uint8_t number = 0;
    bool onOff = false;
    bool online = false;
    std::array<bool, 16> leds{};
    // The registry record the copy was taken from: a device that registers again gets a new one,
    // with a new generation.
    std::shared_ptr<const CDeviceBase> record;
    std::uint64_t generation = 0;
};

// Copies the registry's record for `id` under its lock; nothing when it is not registered.
std::optional<DeviceSnapshot> snapshotDevice(std::uint16_t id);

// "a.b.c.d" from the address bytes in memory order (the IP address of a connection).
std::string formatIpAddress(const sockaddr_in& address);
// "a.b.c.d" from a host-order integer, most significant byte first (mask, gateway).
std::string formatHostOrderAddress(std::uint32_t value);
// "%02X.%02X.%02X.%02X.%02X.%02X".
std::string formatMac(const std::array<std::uint8_t, 6>& mac);
// Outlet 1 in bit 15 down to outlet 16 in bit 0.
std::uint16_t ledMask(const std::array<bool, 16>& leds);

}  // namespace consolecore
