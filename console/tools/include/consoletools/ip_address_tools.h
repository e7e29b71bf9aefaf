// CIPAddressToos: the reading behind the local network information dialog, on the platform's
// adapter list. The adapter name is the kernel's interface name, which is also the
// connection's display name on Linux.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/net_adapters.h"

namespace consoletools {

class CIPAddressToos {
public:
    // Where the adapter list comes from; none means the list cannot be read.
    using AdapterSource = std::function<std::optional<std::vector<platform::NetAdapter>>()>;

    // This machine's adapters.
    CIPAddressToos();
    explicit CIPAddressToos(AdapterSource source);
    virtual ~CIPAddressToos();

    // For every wired Ethernet adapter, in the platform's order, appends to each array given:
    // its name, its MAC text ("%2.2x-...-%2.2x\n", lower case), its IPv4 addresses and masks
    // and its default gateways. A non-empty filter (compared without case) keeps only the
    // adapter of that name. False when the adapter list cannot be read.
    bool GetAdapterInfoList(const std::string& filter, std::vector<std::string>* names,
                            std::vector<std::string>* macs = nullptr,
                            std::vector<std::string>* ips = nullptr,
                            std::vector<std::string>* masks = nullptr,
                            std::vector<std::string>* gateways = nullptr);
    // The connection's display name; empty when there is no such adapter.
    std::string GetAdapterConnName(const std::string& adapterName);
    // The adapter's IPv4 addresses and, index for index, their masks (empty text when the
    // system gives none).
    void GetAdapterIPList(const std::string& adapterName, std::vector<std::string>& ips);
    void GetAdapterMaskList(const std::string& adapterName, std::vector<std::string>& masks);
    // "%02X.%02X.%02X.%02X.%02X.%02X" of the last adapter of any type; empty when the list
    // cannot be read or is empty.
    std::string GetLastAdapterMac();

private:
    std::optional<platform::NetAdapter> findAdapter(const std::string& adapterName);

    AdapterSource m_source;
    std::string m_filter;  // the lower-cased filter of the last adapter query
};

}  // namespace consoletools
