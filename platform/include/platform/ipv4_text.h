// The one dotted-text formatter of IPv4 addresses ("192.168.1.10"), in its three inputs.
#pragma once

#include <netinet/in.h>

#include <array>
#include <cstdint>
#include <string>

namespace platform {

// Four octets, the first one first.
std::string formatIpv4(const std::array<std::uint8_t, 4>& octets);
// An address as sockets keep it (network byte order).
std::string formatIpv4(const in_addr& address);
// An address word whose most significant byte is the first octet.
std::string formatIpv4HostOrder(std::uint32_t word);

}  // namespace platform
