// Frame marker, command codes and sizes shared by everything that reads or writes frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace protocol {

// The 32-bit frame marker. Devices send it big-endian (FE FC FD FA), the console
// little-endian (FA FD FC FE).
constexpr std::uint32_t FRAME_MAGIC = 0xFEFCFDFA;

// Builds the marker by shifting its four bytes in from the low end, the way each component
// makes its own copy at start-up.
std::uint32_t makeFrameMagic();

// Command codes (one byte in every frame).
constexpr std::uint8_t NET_CMD_REGISTER = 1;       // device: registration
constexpr std::uint8_t NET_CMD_HEARTBEAT_ACK = 2;  // device: heartbeat answer
constexpr std::uint8_t NET_CMD_STATUS = 3;         // device: status report
constexpr std::uint8_t NET_CMD_STEP_DONE = 5;      // device: its part of a group run is done
constexpr std::uint8_t NET_CMD_HEARTBEAT = 100;    // console: heartbeat
constexpr std::uint8_t NET_CMD_PARALLEL = 102;     // both: parallel order / status report
constexpr std::uint8_t NET_CMD_SERIAL = 103;       // both: serial order / status report
constexpr std::uint8_t NET_CMD_CHANNEL = 104;      // console: switch one outlet
constexpr std::uint8_t NET_CMD_SET_MODE = 105;     // console: parallel/serial mode
constexpr std::uint8_t NET_CMD_SET_GROUP = 106;    // console: group number
constexpr std::uint8_t NET_CMD_SET_NUMBER = 107;   // console: number within the group
constexpr std::uint8_t NET_CMD_SET_ONOFF = 108;    // console: on/off flag
constexpr std::uint8_t NET_CMD_OFFLINE = 255;      // link: device stopped answering

// The name of a command code ("NET_CMD_STATUS"), or "unknown" for codes without a meaning.
std::string_view commandName(std::uint8_t command);

constexpr std::size_t kHeaderSize = 20;         // device frame header
constexpr std::size_t kRegisterFrameSize = 65;  // shortest registration accepted
constexpr std::size_t kStatusFrameSize = 26;    // shortest status report accepted
constexpr std::size_t kConsoleFrameSize = 24;   // every console frame
constexpr std::size_t kOfflineNoticeSize = 20;
constexpr std::size_t kMaxFrameSize = 8192;  // one receive buffer; longer lengths are bogus
constexpr std::size_t kOutletCount = 16;
constexpr std::size_t kDeviceNameSize = 10;  // name bytes in a registration

}  // namespace protocol
