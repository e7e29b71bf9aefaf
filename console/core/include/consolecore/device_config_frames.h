// The serial frames of device configuration: the parameter read request with its CRC, the
// 38-byte parameter reply and write request, and the text forms the form shows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/ipv4_text.h"

namespace consolecore {

inline constexpr std::size_t kReadRequestSize = 6;
inline constexpr std::size_t kParameterFrameSize = 38;
inline constexpr std::size_t kDeviceNameBytes = 10;
// The first three bytes of every parameter reply.
inline constexpr std::array<std::uint8_t, 3> kParameterReplyHead = {0xC3, 0x40, 0x03};

using Ipv4Octets = std::array<std::uint8_t, 4>;  // first octet first
using MacBytes = std::array<std::uint8_t, 6>;
using DeviceNameBytes = std::array<std::uint8_t, kDeviceNameBytes>;

// Bytes 4..37 of a parameter reply or write request.
struct DeviceNetworkParameters {
    std::uint16_t deviceNumber = 0;
    DeviceNameBytes name{};  // single-byte characters, zero-padded
    Ipv4Octets ipAddress{};
    Ipv4Octets subnetMask{};
    Ipv4Octets gateway{};
    MacBytes mac{};
    Ipv4Octets serverIp{};
    bool operator==(const DeviceNetworkParameters&) const = default;
};

// CRC-16/MODBUS: initial FFFF, reflected polynomial A001, no final inversion.
std::uint16_t crc16Modbus(std::span<const std::uint8_t> bytes);

// C3 40 02 00 and the CRC of those four bytes, low byte first: C3 40 02 00 3C D4.
std::array<std::uint8_t, kReadRequestSize> buildReadRequest();

// C3 40 01 20, then the parameters laid out as in the reply; no checksum.
std::array<std::uint8_t, kParameterFrameSize> buildWriteRequest(
    const DeviceNetworkParameters& parameters);

enum class ReplyCheck { TooShort, BadHeader, BadFunction, Ok };

struct ParsedReply {
    ReplyCheck check = ReplyCheck::TooShort;
    std::uint8_t lengthByte = 0;  // byte 3, only logged
    DeviceNetworkParameters parameters;
};

// Checks and reads the first 38 bytes of a completed reply; later bytes are ignored and the
// reply carries no checksum to verify.
ParsedReply parseParameterReply(std::span<const std::uint8_t> reply);

// The name field as text: one character per byte (byte b is U+00bb), ending at the first zero.
std::string deviceNameText(const DeviceNameBytes& name);
// The first 10 characters of UTF-8 `text` as name bytes, the inverse of deviceNameText, so a
// name read from a device is written back unchanged. Characters above U+00FF become '?'.
DeviceNameBytes deviceNameBytes(std::string_view text);

// What a name costs on the device: one byte per character. Characters it cannot store
// (U+0000, anything above U+00FF, malformed UTF-8 shown as U+FFFD) are collected in `refused`.
struct DeviceNameCheck {
    std::size_t bytes = 0;
    std::string refused;  // UTF-8, in the order they appear
    bool storable() const { return refused.empty(); }
};
DeviceNameCheck checkDeviceName(std::string_view text);

// The MAC text shown in the form is formatMac() of consolecore/device_snapshot.h.
enum class MacTextError { None, BadFormat, NotHex };

// Reads an operator's MAC text into `mac`. Five times the part before the first '.' is taken
// (empty when there is none) and the text goes on after that '.'; the rest is the sixth part.
// A part longer than 2 characters is BadFormat, a non-hex character NotHex; a part of one
// digit gets a leading 0, an empty part is 00. An empty text leaves `mac` as it is. `mac`
// changes only when every part is good.
MacTextError parseMacText(std::string_view text, MacBytes& mac);

// Dotted text of an address and back (four decimal octets 0..255).
using platform::formatIpv4;
std::optional<Ipv4Octets> parseIpv4(std::string_view text);

}  // namespace consolecore
