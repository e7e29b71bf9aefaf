// Adapter queries for the local network information dialog.
#include "consoletools/ip_address_tools.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace consoletools {

namespace {

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string macText(const platform::HardwareAddress& mac, const char* format) {
    char text[32];
    std::snprintf(text, sizeof text, format, mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return text;
}

}  // namespace

CIPAddressToos::CIPAddressToos() : CIPAddressToos(&platform::readLocalNetAdapters) {}

CIPAddressToos::CIPAddressToos(AdapterSource source) : m_source(std::move(source)) {}

CIPAddressToos::~CIPAddressToos() = default;

bool CIPAddressToos::GetAdapterInfoList(const std::string& filter, std::vector<std::string>* names,
                                        std::vector<std::string>* macs,
                                        std::vector<std::string>* ips,
                                        std::vector<std::string>* masks,
                                        std::vector<std::string>* gateways) {
    m_filter = lowerCase(filter);
    const auto adapters = m_source ? m_source() : std::nullopt;
    if (!adapters) return false;
    for (const auto& adapter : *adapters) {
        if (!adapter.isWiredEthernet()) continue;
        // Each adapter's rows get its own gateways only: the dialog filters by its name.
        if (!m_filter.empty() && lowerCase(adapter.name) != m_filter) continue;
        if (macs) macs->push_back(macText(adapter.mac, "%2.2x-%2.2x-%2.2x-%2.2x-%2.2x-%2.2x\n"));
        if (names) names->push_back(adapter.name);
        for (const auto& address : adapter.ipv4) {
            if (address.address.empty() || address.address == "0.0.0.0") continue;
            if (ips) ips->push_back(address.address);
            if (masks) masks->push_back(address.netmask);
        }
        if (gateways) {
            for (const auto& gateway : adapter.gateways) {
                if (!gateway.empty() && gateway != "0.0.0.0") gateways->push_back(gateway);
            }
        }
    }
    return true;
}

std::optional<platform::NetAdapter> CIPAddressToos::findAdapter(const std::string& adapterName) {
    const auto adapters = m_source ? m_source() : std::nullopt;
    if (!adapters) return std::nullopt;
    for (const auto& adapter : *adapters) {
        if (adapter.name == adapterName) return adapter;
    }
    return std::nullopt;
}

std::string CIPAddressToos::GetAdapterConnName(const std::string& adapterName) {
    const auto adapter = findAdapter(adapterName);
    return adapter ? adapter->name : std::string();
}

void CIPAddressToos::GetAdapterIPList(const std::string& adapterName,
                                      std::vector<std::string>& ips) {
    if (const auto adapter = findAdapter(adapterName)) {
        for (const auto& address : adapter->ipv4) ips.push_back(address.address);
    }
}

void CIPAddressToos::GetAdapterMaskList(const std::string& adapterName,
                                        std::vector<std::string>& masks) {
    if (const auto adapter = findAdapter(adapterName)) {
        for (const auto& address : adapter->ipv4) masks.push_back(address.netmask);
    }
}

std::string CIPAddressToos::GetLastAdapterMac() {
    const auto adapters = m_source ? m_source() : std::nullopt;
    if (!adapters || adapters->empty()) return {};
    // Written like every other MAC the window shows (device table, device configuration).
    return macText(adapters->back().mac, "%02X.%02X.%02X.%02X.%02X.%02X");
}

}  // namespace consoletools
