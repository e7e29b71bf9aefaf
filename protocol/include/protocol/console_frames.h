// Frames sent by the console (24 bytes, little-endian 32-bit fields) and the link's offline
// notice.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "protocol/frame_types.h"

namespace protocol {

using ConsoleFrame = std::array<std::uint8_t, kConsoleFrameSize>;
using OfflineNotice = std::array<std::uint8_t, kOfflineNoticeSize>;

// A console frame: marker, length 24, command at 8, device id at 16, parameters at 20-23.
ConsoleFrame buildConsoleFrame(std::uint8_t command, std::uint16_t deviceId, std::uint8_t p0 = 0,
                               std::uint8_t p1 = 0, std::uint8_t p2 = 0, std::uint8_t p3 = 0);
// NET_CMD_HEARTBEAT for one device (parameter word 2).
ConsoleFrame buildHeartbeatFrame(std::uint16_t deviceId);
// The 20-byte NET_CMD_OFFLINE notice the link makes for a silent device (device byte order).
OfflineNotice buildOfflineNotice(std::uint16_t deviceId);

// A console frame as a device reads it.
struct ConsoleCommand {
    std::uint8_t command = 0;
    std::uint32_t deviceId = 0;
    std::array<std::uint8_t, 4> params{};
};
// Fails on fewer than 24 bytes, a wrong marker or a length field other than 24.
std::optional<ConsoleCommand> decodeConsoleFrame(std::span<const std::uint8_t> block);

}  // namespace protocol
