// Small helpers for peer addresses: connections are known by their peer IP alone.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>

#include <string>

namespace lanwire {

inline bool sameIp(const sockaddr_in& a, const sockaddr_in& b) {
    return a.sin_addr.s_addr == b.sin_addr.s_addr;
}

// Dotted text of the IP address ("127.0.0.2").
inline std::string ipText(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &address.sin_addr, text, sizeof text) == nullptr) return {};
    return text;
}

}  // namespace lanwire
