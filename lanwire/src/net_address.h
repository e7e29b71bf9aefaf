// Small helpers for peer addresses: connections are known by their peer IP alone.
#pragma once

#include <netinet/in.h>

#include <string>

#include "platform/ipv4_text.h"

namespace lanwire {

inline bool sameIp(const sockaddr_in& a, const sockaddr_in& b) {
    return a.sin_addr.s_addr == b.sin_addr.s_addr;
}

// Dotted text of the IP address ("127.0.0.2").
inline std::string ipText(const sockaddr_in& address) {
    return platform::formatIpv4(address.sin_addr);
}

}  // namespace lanwire
