// One frame waiting to be written to a device.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <vector>

#include "protocol/frame_types.h"

namespace lanwire {

struct SendItem {
    std::vector<std::uint8_t> bytes;  // private copy of the caller's bytes
    sockaddr_in destination{};

    // Heartbeats are neither dumped nor paced like other frames (command byte at offset 8).
    bool isHeartbeat() const { return bytes.size() > 8 && bytes[8] == protocol::NET_CMD_HEARTBEAT; }
    // The device id of a console frame (little-endian at offset 16).
    std::uint16_t deviceId() const {
        if (bytes.size() < 18) return 0;
        return static_cast<std::uint16_t>(bytes[16] | (bytes[17] << 8));
    }
};

}  // namespace lanwire
