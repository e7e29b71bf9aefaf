// Copies of registry records and the address texts the console shows.
#include "consolecore/device_snapshot.h"

#include <cstdio>

#include "devroster/devroster.h"
#include "platform/ipv4_text.h"

namespace consolecore {

std::optional<DeviceSnapshot> snapshotDevice(std::uint16_t id) {
    std::optional<DeviceSnapshot> result;
    deviceRegistry().readEntry(
        id, [&result](const std::shared_ptr<CDeviceBase>& stored, std::uint64_t generation) {
            const CDeviceBase& record = *stored;
            DeviceSnapshot& s = result.emplace();
            s.id = record.GetDeviceID();
            s.name = record.GetDeviceName();
            s.ip = record.GetDeviceSockIPAddr();
            s.mask = record.GetDeviceSockSubNetMask().sin_addr.s_addr;
            s.gateway = record.GetDeviceSockGateWay().sin_addr.s_addr;
            const std::uint8_t* mac = record.GetMacAddr();
            for (std::size_t i = 0; i < s.mac.size(); ++i) s.mac[i] = mac[i];
            s.group = record.GetMarshalling();
            s.mode = record.GetSeriPallModule();
            s.number = record.GetNumber();
            s.onOff = record.GetOnOff();
            s.online = record.GetOnLine();
            for (std::uint8_t k = 0; k < CDeviceBase::kLedCount; ++k) s.leds[k] = record.GetLed(k);
            s.record = stored;
            s.generation = generation;
        });
    return result;
}

std::string formatIpAddress(const sockaddr_in& address) {
    return platform::formatIpv4(address.sin_addr);
}

std::string formatHostOrderAddress(std::uint32_t value) {
    return platform::formatIpv4HostOrder(value);
}

std::string formatMac(const std::array<std::uint8_t, 6>& mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02X.%02X.%02X.%02X.%02X.%02X", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

std::uint16_t ledMask(const std::array<bool, 16>& leds) {
    std::uint16_t mask = 0;
    for (bool on : leds) mask = static_cast<std::uint16_t>(mask * 2 + (on ? 1 : 0));
    return mask;
}

}  // namespace consolecore
