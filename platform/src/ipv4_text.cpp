// Dotted text of IPv4 addresses.
#include "platform/ipv4_text.h"

#include <cstdio>
#include <cstring>

namespace platform {

std::string formatIpv4(const std::array<std::uint8_t, 4>& octets) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", octets[0], octets[1], octets[2], octets[3]);
    return text;
}

std::string formatIpv4(const in_addr& address) {
    std::array<std::uint8_t, 4> octets{};
    std::memcpy(octets.data(), &address.s_addr, octets.size());
    return formatIpv4(octets);
}

std::string formatIpv4HostOrder(std::uint32_t word) {
    return formatIpv4({static_cast<std::uint8_t>(word >> 24), static_cast<std::uint8_t>(word >> 16),
                       static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word)});
}

}  // namespace platform
