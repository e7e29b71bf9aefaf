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

std::vector<std::uint8_t> utf8ToDeviceBytes(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<std::uint8_t>(text[i]);
        if (lead < 0x80) {
            bytes.push_back(lead);
            ++i;
            continue;
        }
        // Length of the sequence from its lead byte; stray continuation bytes count as one.
        std::size_t length = 1;
        if ((lead & 0xE0) == 0xC0)
            length = 2;
        else if ((lead & 0xF0) == 0xE0)
            length = 3;
        else if ((lead & 0xF8) == 0xF0)
            length = 4;
        bool wellFormed = length > 1 && i + length <= text.size();
        for (std::size_t k = 1; wellFormed && k < length; ++k) {
            wellFormed = (static_cast<std::uint8_t>(text[i + k]) & 0xC0) == 0x80;
        }
        if (wellFormed && length == 2) {
            const unsigned code =
                ((lead & 0x1Fu) << 6) | (static_cast<std::uint8_t>(text[i + 1]) & 0x3Fu);
            bytes.push_back(code <= 0xFF && code >= 0x80 ? static_cast<std::uint8_t>(code) : '?');
        } else {
            bytes.push_back('?');
        }
        i += wellFormed ? length : 1;
    }
    return bytes;
}

}  // namespace protocol
