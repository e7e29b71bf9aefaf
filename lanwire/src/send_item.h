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
};

}  // namespace lanwire
