// The PC's own network adapters on Linux: names, hardware addresses, IPv4 addresses with
// their masks and each adapter's default gateways, read from /sys/class/net, getifaddrs and
// /proc/net/route. The readers are split from the parsers so the parsers can be fed files.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct ifaddrs;

namespace platform {

using HardwareAddress = std::array<std::uint8_t, 6>;

// ARPHRD_ETHER and ARPHRD_LOOPBACK, as /sys/class/net/<name>/type gives them.
inline constexpr int kLinkTypeEthernet = 1;
inline constexpr int kLinkTypeLoopback = 772;

// One interface as /sys/class/net describes it.
struct NetInterfaceInfo {
    std::string name;
    int index = 0;  // ifindex; 0 when unknown
    int type = -1;  // link type; -1 when unknown
    std::optional<HardwareAddress> mac;
    bool wireless = false;  // a wlan device (uevent DEVTYPE=wlan, or wireless/phy80211 present)
};

// One IPv4 address of an interface, dotted text.
struct Ipv4Assignment {
    std::string interfaceName;
    std::string address;
    std::string netmask;  // empty when the system gives none
};

// One line of /proc/net/route. The numbers are the raw 32-bit values of the file, which hold
// the address bytes in network order in memory (so on this machine's byte order).
struct RouteEntry {
    std::string interfaceName;
    std::uint32_t destination = 0;
    std::uint32_t gateway = 0;
    std::uint32_t mask = 0;
    unsigned flags = 0;
    bool isDefaultVia() const;  // up, via a gateway, destination and mask 0, gateway set
};

// An adapter as the console lists it.
struct NetAdapter {
    std::string name;
    int index = 0;
    int type = -1;
    bool wireless = false;
    HardwareAddress mac{};
    std::vector<Ipv4Assignment> ipv4;   // in the system's order, 0.0.0.0 left out
    std::vector<std::string> gateways;  // default gateways through this adapter, file order
    bool isWiredEthernet() const { return type == kLinkTypeEthernet && !wireless; }
};

// "aa:bb:cc:dd:ee:ff" (upper or lower case, surrounding white space allowed) or none.
std::optional<HardwareAddress> parseHardwareAddress(std::string_view text);

// Every interface folder under `dir` (normally /sys/class/net), ordered by ifindex, then name.
// None when the folder cannot be read.
std::optional<std::vector<NetInterfaceInfo>> readInterfaceFolder(const std::filesystem::path& dir);

// The lines of a /proc/net/route text after its header; malformed lines are skipped.
std::vector<RouteEntry> parseRouteTable(std::string_view text);

// The IPv4 entries of a getifaddrs list, in list order. Entries without a name or address,
// of other families, or with the address 0.0.0.0 are left out.
std::vector<Ipv4Assignment> collectIpv4Addresses(const ifaddrs* list);

// Dotted text of a raw address word as /proc/net/route and sockaddr_in hold it.
std::string formatRawIpv4(std::uint32_t networkOrderWord);

// The adapters the platform reports: every interface that has a six-byte hardware address
// and is not the loopback, in ifindex order, each with its addresses and gateways.
std::vector<NetAdapter> assembleAdapters(const std::vector<NetInterfaceInfo>& interfaces,
                                         const std::vector<Ipv4Assignment>& addresses,
                                         const std::vector<RouteEntry>& routes);

// Where a host's adapter data is read from.
struct NetHostPaths {
    std::filesystem::path interfaceFolder = "/sys/class/net";
    std::filesystem::path routeFile = "/proc/net/route";
};

// The adapters of a host described by files plus its address list; none when the interface
// folder cannot be read. A missing route file means no gateways.
std::optional<std::vector<NetAdapter>> readNetAdapters(
    const NetHostPaths& paths, const std::vector<Ipv4Assignment>& addresses);

// The adapters of this machine (getifaddrs for the addresses); none when the system's
// adapter list cannot be read.
std::optional<std::vector<NetAdapter>> readLocalNetAdapters();

}  // namespace platform
