// Device names on the wire are single bytes; in the program they are UTF-8 text. Byte b is
// the character U+00bb, and back again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace protocol {

// Appends the character U+00bb for the byte b to `out` as UTF-8.
void appendDeviceChar(std::string& out, std::uint8_t byte);
// The character at `text[at]` as a device stores it: the bytes of text it takes (1 for a
// malformed sequence or a stray byte) and its device byte, none when the device cannot store it.
struct DeviceChar {
    std::size_t length = 1;
    std::optional<std::uint8_t> byte;
};
DeviceChar nextDeviceChar(std::string_view text, std::size_t at);
// UTF-8 text to device bytes; characters above U+00FF and malformed sequences become '?'.
std::vector<std::uint8_t> utf8ToDeviceBytes(std::string_view text);

}  // namespace protocol
