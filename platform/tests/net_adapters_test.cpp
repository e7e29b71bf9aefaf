// The adapter reading on file-described hosts: two wired adapters, wireless only, and an
// adapter without an IPv4 address; plus the route and address parsers on bad input.
#include "platform/net_adapters.h"

#include <gtest/gtest.h>

#include "net_adapters_fixture.h"

namespace {

using platform::HardwareAddress;
using platform::NetAdapter;

std::vector<std::string> names(const std::vector<NetAdapter>& adapters) {
    std::vector<std::string> out;
    for (const auto& a : adapters) out.push_back(a.name);
    return out;
}

std::vector<std::string> addressTexts(const NetAdapter& adapter) {
    std::vector<std::string> out;
    for (const auto& a : adapter.ipv4) out.push_back(a.address + "/" + a.netmask);
    return out;
}

const NetAdapter* find(const std::vector<NetAdapter>& adapters, const std::string& name) {
    for (const auto& a : adapters) {
        if (a.name == name) return &a;
    }
    return nullptr;
}

TEST(NetAdaptersHostTest, TwoWiredAdaptersWithTheirOwnAddressesAndGateways) {
    const auto adapters = netfixture::readHost("two_wired");
    ASSERT_TRUE(adapters);
    // ifindex order (enp4s0 is 2, enp3s0 is 3); lo and the tunnel without a MAC are not adapters.
    EXPECT_EQ(names(*adapters), (std::vector<std::string>{"enp4s0", "enp3s0", "wlp2s0"}));

    const NetAdapter* first = find(*adapters, "enp3s0");
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isWiredEthernet());
    EXPECT_EQ(first->mac, (HardwareAddress{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
    EXPECT_EQ(addressTexts(*first),
              (std::vector<std::string>{"192.168.1.20/255.255.255.0", "10.0.0.5/255.0.0.0"}));
    // Two default routes via .1 (different metrics) count once; .2 is a second gateway;
    // the non-default routes are not gateways.
    EXPECT_EQ(first->gateways, (std::vector<std::string>{"192.168.1.1", "192.168.1.2"}));

    const NetAdapter* second = find(*adapters, "enp4s0");
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(second->isWiredEthernet());
    EXPECT_EQ(second->mac, (HardwareAddress{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5F}));
    EXPECT_EQ(addressTexts(*second), (std::vector<std::string>{"172.16.0.9/255.255.0.0"}));
    // The route that is not up and the malformed lines give nothing.
    EXPECT_EQ(second->gateways, (std::vector<std::string>{"172.16.0.1"}));

    const NetAdapter* wireless = find(*adapters, "wlp2s0");
    ASSERT_NE(wireless, nullptr);
    EXPECT_TRUE(wireless->wireless);
    EXPECT_FALSE(wireless->isWiredEthernet());
    EXPECT_EQ(wireless->gateways, (std::vector<std::string>{"192.168.50.1"}));
}

TEST(NetAdaptersHostTest, WirelessOnlyHostHasAdaptersButNoWiredOne) {
    const auto adapters = netfixture::readHost("wireless_only");
    ASSERT_TRUE(adapters);
    EXPECT_EQ(names(*adapters), (std::vector<std::string>{"wlp0s20f3", "wlan1"}));
    for (const auto& adapter : *adapters) {
        EXPECT_TRUE(adapter.wireless) << adapter.name;  // by uevent, and by phy80211
        EXPECT_FALSE(adapter.isWiredEthernet()) << adapter.name;
    }
    EXPECT_EQ(adapters->back().mac, (HardwareAddress{0x3C, 0xA9, 0xF4, 0x10, 0x20, 0x31}));
}

TEST(NetAdaptersHostTest, AdapterWithoutIpv4HasNoAddressRows) {
    const auto adapters = netfixture::readHost("no_ipv4");
    ASSERT_TRUE(adapters);
    EXPECT_EQ(names(*adapters), (std::vector<std::string>{"eth0", "eth1"}));
    const NetAdapter* eth0 = find(*adapters, "eth0");
    const NetAdapter* eth1 = find(*adapters, "eth1");
    ASSERT_TRUE(eth0 && eth1);
    EXPECT_EQ(addressTexts(*eth0), (std::vector<std::string>{"10.1.2.3/255.255.255.0"}));
    EXPECT_EQ(eth0->gateways, (std::vector<std::string>{"10.1.2.1"}));
    // 0.0.0.0, an entry without an address and an IPv6 address are not IPv4 addresses.
    EXPECT_TRUE(eth1->ipv4.empty());
    EXPECT_TRUE(eth1->gateways.empty());
    EXPECT_TRUE(eth1->isWiredEthernet());
}

TEST(NetAdaptersHostTest, UnreadableInterfaceFolderIsAFailureAndMissingRoutesAreNone) {
    platform::NetHostPaths paths = netfixture::hostPaths("two_wired");
    paths.interfaceFolder = netfixture::fixtureRoot() / "no_such_host";
    EXPECT_FALSE(platform::readNetAdapters(paths, {}));

    paths = netfixture::hostPaths("two_wired");
    paths.routeFile = netfixture::fixtureRoot() / "no_such_file";
    const auto adapters = platform::readNetAdapters(paths, {});
    ASSERT_TRUE(adapters);
    ASSERT_EQ(adapters->size(), 3u);
    for (const auto& adapter : *adapters) EXPECT_TRUE(adapter.gateways.empty());
}

TEST(NetAdaptersParserTest, RouteTableFieldsAndBadLines) {
    const auto routes = platform::parseRouteTable(
        netfixture::readText(netfixture::hostPaths("two_wired").routeFile));
    // Eleven lines after the header, two of them malformed.
    ASSERT_EQ(routes.size(), 9u);
    EXPECT_EQ(routes[0].interfaceName, "enp3s0");
    EXPECT_EQ(platform::formatRawIpv4(routes[0].gateway), "192.168.1.1");
    EXPECT_EQ(routes[0].flags, 3u);
    EXPECT_TRUE(routes[0].isDefaultVia());
    EXPECT_EQ(platform::formatRawIpv4(routes[3].destination), "192.168.1.0");
    EXPECT_EQ(platform::formatRawIpv4(routes[3].mask), "255.255.255.0");
    EXPECT_FALSE(routes[3].isDefaultVia());
    EXPECT_FALSE(routes[7].isDefaultVia());  // flags 0002: not up
    EXPECT_EQ(platform::formatRawIpv4(routes[8].mask), "255.255.0.0");

    EXPECT_TRUE(platform::parseRouteTable("").empty());
    EXPECT_TRUE(platform::parseRouteTable("Iface\tDestination\n").empty());
    // No header consumed twice, no read past a line without its newline.
    const auto one = platform::parseRouteTable("h\neth0 00000000 0101A8C0 3 0 0 0 00000000");
    ASSERT_EQ(one.size(), 1u);
    EXPECT_TRUE(one[0].isDefaultVia());
    // Hex words longer than 32 bits or with signs are refused.
    EXPECT_TRUE(platform::parseRouteTable("h\neth0 000000000 0101A8C0 3 0 0 0 0\n").empty());
    EXPECT_TRUE(platform::parseRouteTable("h\neth0 -1 0101A8C0 3 0 0 0 0\n").empty());
}

TEST(NetAdaptersParserTest, HardwareAddressText) {
    EXPECT_EQ(platform::parseHardwareAddress("a8:6D:aa:01:02:03\n"),
              (HardwareAddress{0xA8, 0x6D, 0xAA, 0x01, 0x02, 0x03}));
    EXPECT_FALSE(platform::parseHardwareAddress(""));
    EXPECT_FALSE(platform::parseHardwareAddress("a8:6d:aa:01:02"));
    EXPECT_FALSE(platform::parseHardwareAddress("a8-6d-aa-01-02-03"));
    EXPECT_FALSE(platform::parseHardwareAddress("g8:6d:aa:01:02:03"));
    EXPECT_FALSE(platform::parseHardwareAddress("a8:6d:aa:01:02:03:04"));
    // InfiniBand and other long link addresses are not six-byte MACs.
    EXPECT_FALSE(platform::parseHardwareAddress(
        "80:00:02:08:fe:80:00:00:00:00:00:00:00:02:c9:03:00:0a:bc:de"));
}

TEST(NetAdaptersParserTest, AddressListKeepsOnlyUsableIpv4Entries) {
    const netfixture::IfAddrList list(netfixture::fixtureRoot() / "no_ipv4" / "ifaddrs");
    ASSERT_TRUE(list.ok());
    const auto addresses = platform::collectIpv4Addresses(list.head());
    ASSERT_EQ(addresses.size(), 2u);
    EXPECT_EQ(addresses[0].interfaceName, "lo");
    EXPECT_EQ(addresses[1].interfaceName, "eth0");
    EXPECT_EQ(addresses[1].address, "10.1.2.3");
    EXPECT_EQ(addresses[1].netmask, "255.255.255.0");
    EXPECT_TRUE(platform::collectIpv4Addresses(nullptr).empty());
}

TEST(NetAdaptersLiveTest, ThisMachineReadsWithoutTheLoopback) {
    const auto adapters = platform::readLocalNetAdapters();
    ASSERT_TRUE(adapters);  // /sys/class/net exists on every Linux machine the tests run on
    for (const auto& adapter : *adapters) {
        EXPECT_NE(adapter.type, platform::kLinkTypeLoopback) << adapter.name;
        for (const auto& address : adapter.ipv4) EXPECT_NE(address.address, "0.0.0.0");
    }
}

}  // namespace
