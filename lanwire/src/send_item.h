// One frame waiting to be written to a device.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <span>
#include <vector>

#include "protocol/frame_types.h"

namespace lanwire {

// The device id of a console frame (little-endian at offset 16); 0 when it is too short.
inline std::uint16_t consoleFrameDeviceId(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 18) return 0;
    return static_cast<std::uint16_t>(bytes[16] | (bytes[17] << 8));
}

struct SendItem {
    std::vector<std::uint8_t> bytes;  // private copy of the caller's bytes
    sockaddr_in destination{};

    // Heartbeats are neither dumped nor paced like other frames (command byte at offset 8).
    // They are console frames of the fixed size; other bytes go as commands.
    bool isHeartbeat() const {
        return bytes.size() == protocol::kConsoleFrameSize &&
               bytes[8] == protocol::NET_CMD_HEARTBEAT;
    }
    std::uint16_t deviceId() const { return consoleFrameDeviceId(bytes); }
};

}  // namespace lanwire
