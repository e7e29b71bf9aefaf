// Reading the local adapters from sysfs, getifaddrs and the kernel's route table.
#include "platform/net_adapters.h"

#include <ifaddrs.h>
#include <netinet/in.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <system_error>

#include "platform/ipv4_text.h"

namespace platform {

namespace {

// sysfs attribute files are tiny; anything longer is not what we expect.
constexpr std::size_t kMaxAttributeBytes = 4096;
constexpr std::size_t kMaxRouteFileBytes = 1u << 20;
// A machine with more interfaces than this is not a PC the dialog is meant for.
constexpr std::size_t kMaxInterfaces = 4096;
constexpr unsigned kRouteUp = 0x1;       // RTF_UP
constexpr unsigned kRouteGateway = 0x2;  // RTF_GATEWAY

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::optional<std::string> readSmallFile(const std::filesystem::path& path, std::size_t limit) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text(limit, '\0');
    in.read(text.data(), static_cast<std::streamsize>(limit));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

std::optional<int> readIntAttribute(const std::filesystem::path& path) {
    const auto text = readSmallFile(path, kMaxAttributeBytes);
    if (!text) return std::nullopt;
    const std::string_view digits = trim(*text);
    int value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc{} || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

bool ueventSaysWlan(const std::filesystem::path& path) {
    const auto text = readSmallFile(path, kMaxAttributeBytes);
    if (!text) return false;
    std::string_view rest = *text;
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        const std::string_view line = trim(rest.substr(0, end));
        if (line == "DEVTYPE=wlan") return true;
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    return false;
}

bool pathExists(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

std::optional<std::uint32_t> parseHexWord(std::string_view text) {
    if (text.empty() || text.size() > 8) return std::nullopt;
    std::uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::vector<std::string_view> splitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

std::string sockaddrText(const sockaddr* address) {
    if (!address || address->sa_family != AF_INET) return {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(address);
    return formatRawIpv4(in->sin_addr.s_addr);
}

}  // namespace

bool RouteEntry::isDefaultVia() const {
    return destination == 0 && mask == 0 && gateway != 0 && (flags & kRouteUp) &&
           (flags & kRouteGateway);
}

std::optional<HardwareAddress> parseHardwareAddress(std::string_view text) {
    text = trim(text);
    if (text.size() != 17) return std::nullopt;
    HardwareAddress mac{};
    for (std::size_t i = 0; i < mac.size(); ++i) {
        const std::size_t at = i * 3;
        if (i > 0 && text[at - 1] != ':') return std::nullopt;
        const auto [end, ec] = std::from_chars(text.data() + at, text.data() + at + 2, mac[i], 16);
        if (ec != std::errc{} || end != text.data() + at + 2) return std::nullopt;
    }
    return mac;
}

std::optional<std::vector<NetInterfaceInfo>> readInterfaceFolder(const std::filesystem::path& dir) {
    std::error_code ec;
    std::filesystem::directory_iterator it(dir, ec);
    if (ec) return std::nullopt;
    std::vector<NetInterfaceInfo> interfaces;
    for (const auto end = std::filesystem::directory_iterator(); it != end; it.increment(ec)) {
        if (ec || interfaces.size() >= kMaxInterfaces) break;
        const std::filesystem::path folder = it->path();
        // sysfs entries are links to device folders; follow them.
        if (!std::filesystem::is_directory(folder, ec)) continue;
        NetInterfaceInfo info;
        info.name = folder.filename().string();
        info.index = readIntAttribute(folder / "ifindex").value_or(0);
        info.type = readIntAttribute(folder / "type").value_or(-1);
        if (const auto address = readSmallFile(folder / "address", kMaxAttributeBytes)) {
            info.mac = parseHardwareAddress(*address);
        }
        info.wireless = ueventSaysWlan(folder / "uevent") || pathExists(folder / "wireless") ||
                        pathExists(folder / "phy80211");
        interfaces.push_back(std::move(info));
    }
    std::sort(interfaces.begin(), interfaces.end(), [](const auto& a, const auto& b) {
        return a.index != b.index ? a.index < b.index : a.name < b.name;
    });
    return interfaces;
}

std::vector<RouteEntry> parseRouteTable(std::string_view text) {
    std::vector<RouteEntry> routes;
    bool header = true;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (header) {
            header = false;
            continue;
        }
        // Iface Destination Gateway Flags RefCnt Use Metric Mask ...
        const auto fields = splitFields(line);
        if (fields.size() < 8) continue;
        const auto destination = parseHexWord(fields[1]);
        const auto gateway = parseHexWord(fields[2]);
        const auto flags = parseHexWord(fields[3]);
        const auto mask = parseHexWord(fields[7]);
        if (!destination || !gateway || !flags || !mask) continue;
        routes.push_back({std::string(fields[0]), *destination, *gateway, *mask, *flags});
    }
    return routes;
}

std::string formatRawIpv4(std::uint32_t networkOrderWord) {
    in_addr address{};
    address.s_addr = networkOrderWord;
    return formatIpv4(address);
}

std::vector<Ipv4Assignment> collectIpv4Addresses(const ifaddrs* list) {
    std::vector<Ipv4Assignment> addresses;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_name || !entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        std::string address = sockaddrText(entry->ifa_addr);
        if (address.empty() || address == "0.0.0.0") continue;
        addresses.push_back(
            {entry->ifa_name, std::move(address), sockaddrText(entry->ifa_netmask)});
    }
    return addresses;
}

std::vector<NetAdapter> assembleAdapters(const std::vector<NetInterfaceInfo>& interfaces,
                                         const std::vector<Ipv4Assignment>& addresses,
                                         const std::vector<RouteEntry>& routes) {
    std::vector<NetAdapter> adapters;
    for (const auto& info : interfaces) {
        if (info.type == kLinkTypeLoopback || !info.mac) continue;
        NetAdapter adapter;
        adapter.name = info.name;
        adapter.index = info.index;
        adapter.type = info.type;
        adapter.wireless = info.wireless;
        adapter.mac = *info.mac;
        for (const auto& address : addresses) {
            if (address.interfaceName == info.name) adapter.ipv4.push_back(address);
        }
        for (const auto& route : routes) {
            if (route.interfaceName != info.name || !route.isDefaultVia()) continue;
            std::string gateway = formatRawIpv4(route.gateway);
            if (std::find(adapter.gateways.begin(), adapter.gateways.end(), gateway) ==
                adapter.gateways.end()) {
                adapter.gateways.push_back(std::move(gateway));
            }
        }
        adapters.push_back(std::move(adapter));
    }
    return adapters;
}

std::optional<std::vector<NetAdapter>> readNetAdapters(
    const NetHostPaths& paths, const std::vector<Ipv4Assignment>& addresses) {
    const auto interfaces = readInterfaceFolder(paths.interfaceFolder);
    if (!interfaces) return std::nullopt;
    std::vector<RouteEntry> routes;
    if (const auto text = readSmallFile(paths.routeFile, kMaxRouteFileBytes)) {
        routes = parseRouteTable(*text);
    }
    return assembleAdapters(*interfaces, addresses, routes);
}

std::optional<std::vector<NetAdapter>> readLocalNetAdapters() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return std::nullopt;
    const std::vector<Ipv4Assignment> addresses = collectIpv4Addresses(list);
    freeifaddrs(list);
    return readNetAdapters(NetHostPaths{}, addresses);
}

}  // namespace platform
