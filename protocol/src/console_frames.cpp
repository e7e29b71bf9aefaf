// Console frames (little-endian) and the link's offline notice.
#include "protocol/console_frames.h"

#include "cursor.h"

namespace protocol {

namespace {

template <std::size_t N>
void putLittleEndian32(std::array<std::uint8_t, N>& out, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        out[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t littleEndian32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;) value = value * 256u + bytes[offset + i];
    return value;
}

}  // namespace

ConsoleFrame buildConsoleFrame(std::uint8_t command, std::uint16_t deviceId, std::uint8_t p0,
                               std::uint8_t p1, std::uint8_t p2, std::uint8_t p3) {
    ConsoleFrame frame{};
    putLittleEndian32(frame, 0, FRAME_MAGIC);
    putLittleEndian32(frame, 4, static_cast<std::uint32_t>(kConsoleFrameSize));
    frame[8] = command;
    putLittleEndian32(frame, 12, 0);
    putLittleEndian32(frame, 16, deviceId);
    frame[20] = p0;
    frame[21] = p1;
    frame[22] = p2;
    frame[23] = p3;
    return frame;
}

ConsoleFrame buildHeartbeatFrame(std::uint16_t deviceId) {
    return buildConsoleFrame(NET_CMD_HEARTBEAT, deviceId, 2, 0, 0, 0);
}

OfflineNotice buildOfflineNotice(std::uint16_t deviceId) {
    OfflineNotice notice{0xFE, 0xFC, 0xFD, 0xFA,  // marker
                         0x00, 0x00, 0x00, 0x14,  // length 20
                         0x00, 0x00, 0x00, 0xFF,  // command 255
                         0x00, 0x00, 0x00, 0x01,  // value 1
                         0x00, 0x00};
    notice[18] = static_cast<std::uint8_t>(deviceId >> 8);
    notice[19] = static_cast<std::uint8_t>(deviceId & 0xFF);
    return notice;
}

std::optional<ConsoleCommand> decodeConsoleFrame(std::span<const std::uint8_t> block) {
    static constexpr std::array<std::uint8_t, 4> kConsoleMarker{0xFA, 0xFD, 0xFC, 0xFE};
    if (block.size() < kConsoleFrameSize) return std::nullopt;
    detail::Cursor cursor(block);
    if (!cursor.expect(kConsoleMarker)) return std::nullopt;
    if (littleEndian32(block, 4) != kConsoleFrameSize) return std::nullopt;
    ConsoleCommand command;
    command.command = block[8];
    command.deviceId = littleEndian32(block, 16);
    for (std::size_t i = 0; i < 4; ++i) command.params[i] = block[20 + i];
    return command;
}

}  // namespace protocol
