// The heartbeat table's indexes follow every insert, move and removal.
#include "tick_table.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>

using namespace lanwire;

namespace {

sockaddr_in at(const char* ip) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, ip, &address.sin_addr);
    return address;
}

TickEntry entry(const char* ip, std::uint64_t connection) {
    TickEntry e;
    e.address = at(ip);
    e.connection = connection;
    return e;
}

std::vector<std::uint16_t> sorted(std::vector<std::uint16_t> ids) {
    std::sort(ids.begin(), ids.end());
    return ids;
}

}  // namespace

TEST(TickTableTest, AddressAndConnectionIndexesFollowInsertRebindAndErase) {
    TickTable table;
    table.insert(7, entry("127.0.0.2", 1));
    table.insert(8, entry("127.0.0.2", 1));  // two ids behind one gateway connection
    table.insert(9, entry("127.0.0.3", 2));
    EXPECT_EQ(sorted(table.idsAt(at("127.0.0.2"))), (std::vector<std::uint16_t>{7, 8}));
    EXPECT_TRUE(table.idsAt(at("127.0.0.4")).empty());

    // Id 8 comes back from a new address on a new connection.
    table.rebind(table.find(8), at("127.0.0.4"), 3);
    EXPECT_EQ(table.idsAt(at("127.0.0.2")), (std::vector<std::uint16_t>{7}));
    EXPECT_EQ(table.idsAt(at("127.0.0.4")), (std::vector<std::uint16_t>{8}));
    EXPECT_TRUE(table.connectionInUse(1));

    table.erase(table.find(7));
    EXPECT_TRUE(table.idsAt(at("127.0.0.2")).empty());
    EXPECT_FALSE(table.connectionInUse(1));
    EXPECT_TRUE(table.connectionInUse(2));
    EXPECT_TRUE(table.connectionInUse(3));

    table.clear();
    EXPECT_EQ(table.size(), 0u);
    EXPECT_TRUE(table.idsAt(at("127.0.0.3")).empty());
    EXPECT_FALSE(table.connectionInUse(2));
}
