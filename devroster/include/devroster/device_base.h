// CDeviceBase: one sequencer as the console knows it (addresses, group, outlets).
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "devroster/devroster_export.h"

// A plain value record: copyable, no virtual operations. All text is UTF-8.
class DEVROSTER_EXPORT CDeviceBase {
public:
    static constexpr std::uint8_t kLedCount = 16;
    static constexpr std::size_t kMacLength = 6;

    CDeviceBase();
    CDeviceBase(const CDeviceBase& other) = default;
    CDeviceBase& operator=(const CDeviceBase& other) = default;
    ~CDeviceBase() = default;

    // Copies every field of `source`, the id included; a null source changes nothing.
    void CopyDeviceInfo(const CDeviceBase* source);

    std::uint16_t GetDeviceID() const { return m_deviceId; }
    void SetDeviceID(std::uint16_t id) { m_deviceId = id; }

    std::string GetDeviceName() const { return m_name; }
    void SetDeviceName(std::string_view name) { m_name.assign(name); }

    // Peer address of the device's TCP connection, network byte order.
    sockaddr_in GetDeviceSockIPAddr() const { return m_ipAddr; }
    void SetDeviceSockIPAddr(const sockaddr_in& addr) { m_ipAddr = addr; }

    // Mask and gateway hold a host-order integer in sin_addr.s_addr whose most significant
    // byte is the first octet (see FormatHostOrderAddr).
    sockaddr_in GetDeviceSockSubNetMask() const { return m_subNetMask; }
    void SetDeviceSockSubNetMask(const sockaddr_in& addr) { m_subNetMask = addr; }
    sockaddr_in GetDeviceSockGateWay() const { return m_gateWay; }
    void SetDeviceSockGateWay(const sockaddr_in& addr) { m_gateWay = addr; }

    // Six bytes in wire order. SetMacAddr copies six bytes; a null pointer changes nothing.
    const std::uint8_t* GetMacAddr() const { return m_mac; }
    void SetMacAddr(const std::uint8_t* mac);

    // Group number: 0 no group, 1..6 a group.
    std::uint8_t GetMarshalling() const { return m_marshalling; }
    void SetMarshalling(std::uint8_t group) { m_marshalling = group; }

    // 0 the device belongs to a parallel group, 1 to a serial group.
    std::uint8_t GetSeriPallModule() const { return m_seriPallModule; }
    void SetSeriPallModule(std::uint8_t module) { m_seriPallModule = module; }

    // 1-based position within its group.
    std::uint8_t GetNumber() const { return m_number; }
    void SetNumber(std::uint8_t number) { m_number = number; }

    bool GetOnOff() const { return m_onOff; }
    void SetOnOff(bool on) { m_onOff = on; }

    // Outlet index 0..15 (outlet index+1); other indexes read false and are not written.
    bool GetLed(std::uint8_t index) const { return index < kLedCount && m_led[index]; }
    void SetLed(std::uint8_t index, bool on) {
        if (index < kLedCount) m_led[index] = on;
    }

    bool GetOnLine() const { return m_onLine; }
    void SetOnLine(bool onLine) { m_onLine = onLine; }

private:
    std::uint16_t m_deviceId = 0;
    std::string m_name;
    sockaddr_in m_ipAddr{};
    sockaddr_in m_subNetMask{};
    sockaddr_in m_gateWay{};
    std::uint8_t m_mac[kMacLength] = {};
    std::uint8_t m_marshalling = 0;
    std::uint8_t m_seriPallModule = 0;
    std::uint8_t m_number = 0;
    bool m_onOff = false;
    bool m_led[kLedCount] = {};
    bool m_onLine = false;
};

// Dotted text of a peer address: memory bytes 0..3 of sin_addr (network byte order).
DEVROSTER_EXPORT std::string FormatSockIPAddr(const sockaddr_in& addr);

// Dotted text of a mask or gateway: the address word printed from its most significant byte
// down, because those fields hold the big-endian integer read from the wire.
DEVROSTER_EXPORT std::string FormatHostOrderAddr(const sockaddr_in& addr);

// A mask or gateway field built from the integer read from the wire (family and port 0).
DEVROSTER_EXPORT sockaddr_in MakeHostOrderAddr(std::uint32_t value);
