// Test hosts described by files: a /sys/class/net folder, a /proc/net/route copy and the
// entries getifaddrs would report, turned into a real ifaddrs list.
#pragma once

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <netpacket/packet.h>

#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/net_adapters.h"

namespace netfixture {

inline std::filesystem::path fixtureRoot() {
    return VANTREL_NET_FIXTURES;
}

inline platform::NetHostPaths hostPaths(const std::string& host) {
    platform::NetHostPaths paths;
    paths.interfaceFolder = fixtureRoot() / host / "sys" / "class" / "net";
    paths.routeFile = fixtureRoot() / host / "route";
    return paths;
}

inline std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A linked ifaddrs list built from lines "name family [address [netmask]]", family one of
// inet, inet6, packet or none (no address). Lines starting with '#' are comments.
class IfAddrList {
public:
    explicit IfAddrList(const std::filesystem::path& file) {
        std::istringstream lines(readText(file));
        std::string line;
        while (std::getline(lines, line)) {
            if (line.empty() || line[0] == '#') continue;
            std::istringstream fields(line);
            std::string name, family, address, netmask;
            fields >> name >> family >> address >> netmask;
            if (!add(name, family, address, netmask)) m_ok = false;
        }
        for (std::size_t i = 0; i + 1 < m_nodes.size(); ++i) m_nodes[i].ifa_next = &m_nodes[i + 1];
    }
    IfAddrList(const IfAddrList&) = delete;
    IfAddrList& operator=(const IfAddrList&) = delete;

    const ifaddrs* head() const { return m_nodes.empty() ? nullptr : &m_nodes.front(); }
    bool ok() const { return m_ok && !m_nodes.empty(); }

private:
    sockaddr* socketAddress(const std::string& family, const std::string& text) {
        sockaddr_storage& storage = m_addresses.emplace_back();
        std::memset(&storage, 0, sizeof storage);
        if (family == "inet") {
            auto* in = reinterpret_cast<sockaddr_in*>(&storage);
            in->sin_family = AF_INET;
            if (inet_pton(AF_INET, text.c_str(), &in->sin_addr) != 1) return nullptr;
        } else if (family == "inet6") {
            auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
            in6->sin6_family = AF_INET6;
            if (inet_pton(AF_INET6, text.c_str(), &in6->sin6_addr) != 1) return nullptr;
        } else {
            auto* ll = reinterpret_cast<sockaddr_ll*>(&storage);
            ll->sll_family = AF_PACKET;
        }
        return reinterpret_cast<sockaddr*>(&storage);
    }

    bool add(const std::string& name, const std::string& family, const std::string& address,
             const std::string& netmask) {
        ifaddrs& node = m_nodes.emplace_back();
        std::memset(&node, 0, sizeof node);
        node.ifa_name = m_names.emplace_back(name).data();
        if (family == "none") return true;
        if (family != "inet" && family != "inet6" && family != "packet") return false;
        node.ifa_addr = socketAddress(family, address);
        if (!node.ifa_addr) return false;
        if (!netmask.empty()) {
            node.ifa_netmask = socketAddress(family, netmask);
            if (!node.ifa_netmask) return false;
        }
        return true;
    }

    std::deque<ifaddrs> m_nodes;
    std::deque<sockaddr_storage> m_addresses;
    std::deque<std::string> m_names;
    bool m_ok = true;
};

// The adapters of a fixture host, read exactly as the live reader does.
inline std::optional<std::vector<platform::NetAdapter>> readHost(const std::string& host) {
    const IfAddrList list(fixtureRoot() / host / "ifaddrs");
    if (!list.ok()) return std::nullopt;
    return platform::readNetAdapters(hostPaths(host), platform::collectIpv4Addresses(list.head()));
}

}  // namespace netfixture
