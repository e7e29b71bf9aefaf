// CDeviceBase operations and the dotted-address helpers.
#include "devroster/device_base.h"

#include <cstdio>
#include <cstring>

CDeviceBase::CDeviceBase() = default;

void CDeviceBase::CopyDeviceInfo(const CDeviceBase* source) {
    if (source == nullptr || source == this) return;
    *this = *source;
}

void CDeviceBase::SetMacAddr(const std::uint8_t* mac) {
    if (mac == nullptr) return;
    std::memcpy(m_mac, mac, kMacLength);
}

std::string FormatSockIPAddr(const sockaddr_in& addr) {
    unsigned char bytes[4];
    std::memcpy(bytes, &addr.sin_addr.s_addr, sizeof bytes);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}

std::string FormatHostOrderAddr(const sockaddr_in& addr) {
    const std::uint32_t word = addr.sin_addr.s_addr;
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", (word >> 24) & 0xFFu, (word >> 16) & 0xFFu,
                  (word >> 8) & 0xFFu, word & 0xFFu);
    return text;
}

sockaddr_in MakeHostOrderAddr(std::uint32_t value) {
    sockaddr_in addr{};
    addr.sin_addr.s_addr = value;
    return addr;
}
