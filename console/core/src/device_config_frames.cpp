// Building and reading the device-configuration frames and their text forms.
#include "consolecore/device_config_frames.h"

#include <algorithm>
#include <charconv>
#include <tuple>

#include "protocol/device_text.h"

namespace consolecore {

namespace {

constexpr std::uint8_t kHead0 = kParameterReplyHead[0];
constexpr std::uint8_t kHead1 = kParameterReplyHead[1];
constexpr std::uint8_t kWriteCode = 0x01;
constexpr std::uint8_t kReadCode = 0x02;
constexpr std::uint8_t kReplyCode = kParameterReplyHead[2];
// The length byte the device expects in a write request (34 bytes follow; it wants 32).
constexpr std::uint8_t kWriteLengthByte = 0x20;

// Where each parameter sits in the 38-byte reply and write request (big-endian number, then
// byte fields as they are): building and reading both walk this one list.
template <typename Parameters, typename Visit>
void forEachField(Parameters& p, Visit&& visit) {
    visit(4, p.deviceNumber);
    visit(6, p.name);
    visit(16, p.ipAddress);
    visit(20, p.subnetMask);
    visit(24, p.gateway);
    visit(28, p.mac);
    visit(34, p.serverIp);
}
static_assert(34 + std::tuple_size_v<Ipv4Octets> == kParameterFrameSize);

struct FieldWriter {
    std::span<std::uint8_t, kParameterFrameSize> frame;
    void operator()(std::size_t offset, std::uint16_t value) const {
        frame[offset] = static_cast<std::uint8_t>(value >> 8);
        frame[offset + 1] = static_cast<std::uint8_t>(value & 0xFF);
    }
    template <std::size_t N>
    void operator()(std::size_t offset, const std::array<std::uint8_t, N>& field) const {
        std::copy(field.begin(), field.end(), frame.begin() + static_cast<std::ptrdiff_t>(offset));
    }
};

struct FieldReader {
    std::span<const std::uint8_t> frame;  // at least kParameterFrameSize bytes
    void operator()(std::size_t offset, std::uint16_t& value) const {
        value = static_cast<std::uint16_t>(frame[offset] << 8 | frame[offset + 1]);
    }
    template <std::size_t N>
    void operator()(std::size_t offset, std::array<std::uint8_t, N>& field) const {
        std::copy_n(frame.begin() + static_cast<std::ptrdiff_t>(offset), N, field.begin());
    }
};

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::uint16_t crc16Modbus(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<std::uint16_t>(crc >> 1);
        }
    }
    return crc;
}

std::array<std::uint8_t, kReadRequestSize> buildReadRequest() {
    std::array<std::uint8_t, kReadRequestSize> frame = {kHead0, kHead1, kReadCode, 0x00, 0, 0};
    const std::uint16_t crc = crc16Modbus(std::span(frame.data(), 4));
    frame[4] = static_cast<std::uint8_t>(crc & 0xFF);
    frame[5] = static_cast<std::uint8_t>(crc >> 8);
    return frame;
}

std::array<std::uint8_t, kParameterFrameSize> buildWriteRequest(const DeviceNetworkParameters& p) {
    std::array<std::uint8_t, kParameterFrameSize> frame{};
    frame[0] = kHead0;
    frame[1] = kHead1;
    frame[2] = kWriteCode;
    frame[3] = kWriteLengthByte;
    forEachField(p, FieldWriter{frame});
    return frame;
}

ParsedReply parseParameterReply(std::span<const std::uint8_t> reply) {
    ParsedReply parsed;
    if (reply.size() < kParameterFrameSize) return parsed;
    parsed.check = ReplyCheck::BadHeader;
    if (reply[0] != kHead0 || reply[1] != kHead1) return parsed;
    parsed.check = ReplyCheck::BadFunction;
    if (reply[2] != kReplyCode) return parsed;
    parsed.check = ReplyCheck::Ok;
    parsed.lengthByte = reply[3];
    forEachField(parsed.parameters, FieldReader{reply});
    return parsed;
}

std::string deviceNameText(const DeviceNameBytes& name) {
    std::string text;
    for (std::uint8_t b : name) {
        if (b == 0) break;
        protocol::appendDeviceChar(text, b);
    }
    return text;
}

DeviceNameBytes deviceNameBytes(std::string_view text) {
    const auto bytes = protocol::utf8ToDeviceBytes(text);
    DeviceNameBytes name{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), name.size()), name.begin());
    return name;
}

DeviceNameCheck checkDeviceName(std::string_view text) {
    DeviceNameCheck check;
    for (std::size_t i = 0; i < text.size();) {
        const protocol::DeviceChar next = protocol::nextDeviceChar(text, i);
        ++check.bytes;
        if (!next.byte && next.length == 1) {
            check.refused += "\xEF\xBF\xBD";  // a malformed sequence
        } else if (!next.byte || *next.byte == 0) {
            check.refused.append(text.substr(i, next.length));
        }
        i += next.length;
    }
    return check;
}

MacTextError parseMacText(std::string_view text, MacBytes& mac) {
    if (text.empty()) return MacTextError::None;
    std::array<std::string_view, 6> parts;
    for (std::size_t i = 0; i < 5; ++i) {
        const auto dot = text.find('.');
        if (dot == std::string_view::npos) continue;  // empty part, the text stays whole
        parts[i] = text.substr(0, dot);
        text.remove_prefix(dot + 1);
    }
    parts[5] = text;
    MacBytes parsed{};
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const auto part = parts[i];
        if (part.size() > 2) return MacTextError::BadFormat;
        int value = 0;
        for (char c : part) {
            const int digit = hexValue(c);
            if (digit < 0) return MacTextError::NotHex;
            value = value * 16 + digit;
        }
        parsed[i] = static_cast<std::uint8_t>(value);
    }
    mac = parsed;
    return MacTextError::None;
}

std::optional<Ipv4Octets> parseIpv4(std::string_view text) {
    Ipv4Octets address{};
    for (std::size_t i = 0; i < address.size(); ++i) {
        if (i > 0) {
            if (text.empty() || text.front() != '.') return std::nullopt;
            text.remove_prefix(1);
        }
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (ec != std::errc{} || end == text.data() || value > 255) return std::nullopt;
        address[i] = static_cast<std::uint8_t>(value);
        text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    }
    if (!text.empty()) return std::nullopt;
    return address;
}

}  // namespace consolecore
