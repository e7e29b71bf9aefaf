// A thousand devices connecting, registering and leaving: nothing of them stays behind.
#include <gtest/gtest.h>

#include "console_rig.h"
#include "devroster/devroster.h"
#include "lanwire/lanwire.h"
#include "platform/messages.h"
#include "process_probe.h"
#include "raw_peer.h"
#include "simtcp/sim_fleet.h"

namespace faulttest {
namespace {

using namespace std::chrono_literals;

// Fast supervision, so a device that left is reported offline within a second.
LanwireOptions quickSupervision() {
    LanwireOptions options;
    options.tickPeriod = 40ms;
    options.heartbeatPass = 5ms;
    options.heartbeatGap = 5ms;
    return options;
}

std::size_t registrySize() {
    return deviceRegistry().size();
}

// Every trace of the devices is gone: rows, records, supervision, connections, queued frames.
bool allGone(ConsoleRig& console) {
    const auto stats = GetLanwireStats();
    return stats.connections == 0 && stats.tickEntries == 0 && stats.receiveQueue == 0 &&
           stats.bytesPending == 0 && registrySize() == 0 && console.rowCount() == 0;
}

// One device's life: connect, register, leave. Waits until the console has taken the
// registration and dropped the connection, so the address is free for a later cycle (a second
// connection from a listed address would be refused as a duplicate). The peer leaves only
// after its registration is in, as a device does: closing with the console's heartbeats
// unread sends a reset, and a reset may discard a registration the console has not read yet.
void cycle(ConsoleRig& console, std::size_t index, std::uint16_t id) {
    RawPeer peer(simtcp::loopbackAddress(index));
    ASSERT_TRUE(peer.connect(console.port())) << "cycle " << index;
    ASSERT_TRUE(peer.send(registrationFrame(id)));
    ASSERT_TRUE(console.waitEvents(id, platform::DEV_EVENT_REGISTERED, 1, 10s)) << "device " << id;
    peer.close();
    ASSERT_TRUE(testkit::waitFor([] { return GetLanwireStats().connections == 0; }, 10s))
        << "device " << id;
}

TEST(ConnectionChurn, AThousandConnectDisconnectCyclesLeakNoSocketThreadOrRecord) {
    ConsoleRig console(quickSupervision());
    ASSERT_TRUE(console.started());
    constexpr std::size_t kAddresses = 100;
    // Every cycle is a device of its own (a new record each time), from one of 100 addresses.
    std::uint16_t nextId = 2000;
    const auto run = [&](std::size_t cycles) {
        for (std::size_t i = 0; i < cycles; ++i) cycle(console, i % kAddresses, nextId++);
    };
    // Warm-up: the link's and the log store's one-time allocations happen here.
    run(kAddresses);
    ASSERT_TRUE(testkit::waitFor([&] { return allGone(console); }, 30s));
    const std::size_t fds = openDescriptors();
    const std::size_t threads = threadCount();
    const std::size_t rss = residentKiB();
    const auto registeredBefore = console.totalEvents(platform::DEV_EVENT_REGISTERED);

    constexpr std::size_t kCycles = 1000;
    run(kCycles);
    ASSERT_TRUE(testkit::waitFor([&] { return allGone(console); }, 30s))
        << "connections " << GetLanwireStats().connections << ", supervised "
        << GetLanwireStats().tickEntries << ", records " << registrySize();
    EXPECT_EQ(console.totalEvents(platform::DEV_EVENT_REGISTERED) - registeredBefore, kCycles);
    EXPECT_EQ(console.totalEvents(platform::DEV_EVENT_REMOVED),
              console.totalEvents(platform::DEV_EVENT_REGISTERED));

    // A socket leaves the connection list a moment before it is closed: wait for the count.
    EXPECT_TRUE(testkit::waitFor([&] { return openDescriptors() <= fds; }, 5s))
        << "before " << fds << ", now:\n"
        << describeDescriptors();
    EXPECT_TRUE(testkit::waitFor([&] { return threadCount() <= threads; }, 5s));
    if (residentMemoryIsMeaningful()) {
        // Allocator caches may keep a little; a record, buffer or connection per cycle would
        // add well over this.
        EXPECT_LT(residentKiB(), rss + 4096) << "before " << rss << " KiB";
    }
}

TEST(ConnectionChurn, SimulatedFleetThatComesAndGoesLeavesTheLinkAsItFoundIt) {
    ConsoleRig console(quickSupervision());
    ASSERT_TRUE(console.started());
    std::size_t fds = 0;
    std::size_t threads = 0;
    std::string fdsBefore;
    for (int round = 0; round < 5; ++round) {
        // Round 0 is the warm-up: the log store opens its reader's files lazily.
        if (round == 1) {
            fds = openDescriptors();
            fdsBefore = describeDescriptors();
            threads = threadCount();
        }
        simtcp::SimFleet fleet("127.0.0.1", console.port());
        for (std::size_t i = 0; i < 40; ++i) {
            fleet.add(simtcp::makeDeviceConfig(300 + i, static_cast<std::uint16_t>(3000 + i)));
        }
        fleet.start();
        ASSERT_TRUE(console.waitRows(40)) << "round " << round;
        fleet.stop();
        ASSERT_TRUE(testkit::waitFor([&] { return allGone(console); }, 30s)) << "round " << round;
    }
    EXPECT_EQ(openDescriptors(), fds) << "before:\n"
                                      << fdsBefore << "after:\n"
                                      << describeDescriptors();
    EXPECT_EQ(threadCount(), threads);
}

}  // namespace
}  // namespace faulttest
