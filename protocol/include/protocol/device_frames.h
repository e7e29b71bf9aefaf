// Frames sent by a sequencer (big-endian fields): decoding for the console, building for
// simulated devices and tests.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "protocol/frame_types.h"

namespace protocol {

// The 20-byte header of a device frame.
struct FrameHeader {
    std::uint32_t marker = 0;
    std::uint32_t length = 0;  // total frame length, header included
    std::uint8_t command = 0;  // last byte of the 32-bit command field
    std::uint32_t value = 0;   // offset 12; carried, not used by the console
    std::uint16_t deviceId = 0;
};

// Outlet states, index 0 = outlet 1.
using OutletStates = std::array<bool, kOutletCount>;

// NET_CMD_REGISTER payload.
struct RegisterPayload {
    FrameHeader header;
    std::string name;             // UTF-8; each wire byte is one character U+0001..U+00FF
    std::uint32_t ipAddress = 0;  // the device's own idea of its address; not used
    std::uint32_t mask = 0;       // host-order integer, most significant byte first on wire
    std::uint32_t gateway = 0;
    std::array<std::uint8_t, 6> mac{};
    std::uint8_t group = 0;   // Marshalling: 0 none, 1..6
    std::uint8_t mode = 0;    // SeriPallModule: 0 parallel, 1 serial
    std::uint8_t number = 0;  // 1-based number within the group
    std::uint32_t onOff = 0;  // nonzero = on
    OutletStates outlets{};
};

// NET_CMD_STATUS payload; also the device's NET_CMD_PARALLEL and NET_CMD_SERIAL reports.
struct StatusPayload {
    FrameHeader header;
    std::uint8_t group = 0;
    std::uint8_t mode = 0;  // 0 parallel, nonzero serial
    std::uint8_t number = 0;
    bool onOff = false;
    OutletStates outlets{};
};

// Each decoder fails (nullopt) on a block shorter than its frame or with a wrong marker.
// None of them reads beyond block.size().
std::optional<FrameHeader> decodeHeader(std::span<const std::uint8_t> block);
std::optional<RegisterPayload> decodeRegister(std::span<const std::uint8_t> block);
std::optional<StatusPayload> decodeStatus(std::span<const std::uint8_t> block);
std::optional<FrameHeader> decodeStepDone(std::span<const std::uint8_t> block);

// The 16-bit channel word: bit k is outlet k+1.
OutletStates expandChannelWord(std::uint16_t word);
std::uint16_t channelWord(const OutletStates& outlets);
// The number of the highest outlet that is on, 0 if none.
int highestOutletOn(const OutletStates& outlets);

// Device-side builders, for simulated sequencers and tests.
// A header-only frame (heartbeat answer, step done); `length` is written as given.
std::vector<std::uint8_t> buildDeviceHeader(std::uint8_t command, std::uint16_t deviceId,
                                            std::uint32_t value = 0,
                                            std::uint32_t length = kHeaderSize);
// A 65-byte registration; the name is cut to 10 characters, characters above U+00FF become '?'.
std::vector<std::uint8_t> buildRegisterFrame(const RegisterPayload& payload);
// A 26-byte status report with the given command (NET_CMD_STATUS, _PARALLEL or _SERIAL).
std::vector<std::uint8_t> buildStatusFrame(std::uint8_t command, const StatusPayload& payload);

}  // namespace protocol
