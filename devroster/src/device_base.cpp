// CDeviceBase operations and the dotted-address helpers.
#include "devroster/device_base.h"

#include <cstring>

#include "platform/ipv4_text.h"

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
    return platform::formatIpv4(addr.sin_addr);
}

std::string FormatHostOrderAddr(const sockaddr_in& addr) {
    return platform::formatIpv4HostOrder(addr.sin_addr.s_addr);
}

sockaddr_in MakeHostOrderAddr(std::uint32_t value) {
    sockaddr_in addr{};
    addr.sin_addr.s_addr = value;
    return addr;
}
