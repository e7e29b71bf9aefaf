// Device names on the wire are single bytes; in the program they are UTF-8 text. Byte b is
// the character U+00bb, and back again.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace protocol {

// Appends the character U+00bb for the byte b to `out` as UTF-8.
void appendDeviceChar(std::string& out, std::uint8_t byte);
// UTF-8 text to device bytes; characters above U+00FF and malformed sequences become '?'.
std::vector<std::uint8_t> utf8ToDeviceBytes(std::string_view text);

}  // namespace protocol
