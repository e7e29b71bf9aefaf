// Single-byte device names to and from UTF-8.
#include "protocol/device_text.h"

namespace protocol {

void appendDeviceChar(std::string& out, std::uint8_t byte) {
    if (byte < 0x80) {
        out.push_back(static_cast<char>(byte));
    } else {
        out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
        out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
}

DeviceChar nextDeviceChar(std::string_view text, std::size_t at) {
    const auto lead = static_cast<std::uint8_t>(text[at]);
    if (lead < 0x80) return {1, lead};
    // Length of the sequence from its lead byte; stray continuation bytes count as one.
    std::size_t length = 1;
    if ((lead & 0xE0) == 0xC0)
        length = 2;
    else if ((lead & 0xF0) == 0xE0)
        length = 3;
    else if ((lead & 0xF8) == 0xF0)
        length = 4;
    bool wellFormed = length > 1 && at + length <= text.size();
    for (std::size_t k = 1; wellFormed && k < length; ++k) {
        wellFormed = (static_cast<std::uint8_t>(text[at + k]) & 0xC0) == 0x80;
    }
    if (!wellFormed) return {1, std::nullopt};
    if (length == 2) {
        const unsigned code =
            ((lead & 0x1Fu) << 6) | (static_cast<std::uint8_t>(text[at + 1]) & 0x3Fu);
        if (code >= 0x80) return {2, static_cast<std::uint8_t>(code)};  // C2/C3: U+0080..U+00FF
    }
    return {length, std::nullopt};
}

std::vector<std::uint8_t> utf8ToDeviceBytes(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < text.size();) {
        const DeviceChar next = nextDeviceChar(text, i);
        bytes.push_back(next.byte.value_or('?'));
        i += next.length;
    }
    return bytes;
}

}  // namespace protocol
