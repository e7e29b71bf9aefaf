// Peers that connect and never register, or that stop in the middle of a frame, are closed
// after their time-outs and counted in few rows, while registered devices keep their link.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "console_rig.h"
#include "lanwire/lanwire.h"
#include "logbase/logbase.h"
#include "protocol/frame_types.h"
#include "raw_peer.h"
#include "simtcp/sim_fleet.h"

namespace faulttest {
namespace {

using namespace std::chrono_literals;

constexpr const char* kClosedRow = "未注册或半帧超时,关闭连接:";

// The counts of the rows that report timed-out connections, oldest first.
std::vector<unsigned long> closedCounts() {
    std::vector<unsigned long> counts;
    LogObLockLogbase();
    auto statement = LogObQueryStatement("SELECT LogContent FROM Log ORDER BY rowid");
    LogObUnlockLogbase();
    const std::string prefix = kClosedRow;
    while (statement && statement->NextRow()) {
        const std::string content = statement->ValueUtf8(0);
        if (content.starts_with(prefix))
            counts.push_back(std::stoul(content.substr(prefix.size())));
    }
    return counts;
}

// Waits for the console to close the peer, reading what it sends meanwhile (heartbeats).
bool closedWithin(RawPeer& peer, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (peer.closedByConsole(50)) return true;
        peer.receive(0);
    }
    return false;
}

TEST(IdleConnections, UnregisteredAndHalfFramePeersAreClosedAndCounted) {
    LanwireOptions options;
    options.registrationTimeout = 300ms;
    options.partialFrameHoldLimit = 300ms;
    options.tickPeriod = 30s;  // the raw peers never answer heartbeats
    ConsoleRig console(options);
    ASSERT_TRUE(console.started());
    simtcp::SimFleet fleet("127.0.0.1", console.port());
    auto& good = fleet.add(simtcp::makeDeviceConfig(600, 600));
    fleet.start();
    ASSERT_TRUE(console.waitRows(1));

    // Silent peers never send a byte; the others register, then send half a status frame.
    constexpr std::size_t kSilent = 6;
    constexpr std::size_t kHalf = 3;
    std::vector<std::unique_ptr<RawPeer>> peers;
    for (std::size_t i = 0; i < kSilent + kHalf; ++i) {
        peers.push_back(std::make_unique<RawPeer>(simtcp::loopbackAddress(610 + i)));
        ASSERT_TRUE(peers.back()->connect(console.port()));
    }
    for (std::size_t i = kSilent; i < kSilent + kHalf; ++i) {
        ASSERT_TRUE(peers[i]->send(registrationFrame(static_cast<std::uint16_t>(610 + i))));
    }
    ASSERT_TRUE(console.waitRows(1 + kHalf));
    for (std::size_t i = kSilent; i < kSilent + kHalf; ++i) {
        const auto status = statusFrame(static_cast<std::uint16_t>(610 + i), 1);
        ASSERT_TRUE(peers[i]->send(std::span(status).first(13)));
    }
    for (std::size_t i = 0; i < peers.size(); ++i) {
        EXPECT_TRUE(closedWithin(*peers[i], 10s)) << "peer " << i << " still held";
    }
    EXPECT_TRUE(
        testkit::waitFor([] { return GetLanwireStats().connectionsTimedOut == kSilent + kHalf; }));

    // The registered device was left alone and is still served.
    const auto heartbeats = good.received(protocol::NET_CMD_HEARTBEAT);
    EXPECT_TRUE(good.waitCommand(protocol::NET_CMD_HEARTBEAT, heartbeats + 1));
    EXPECT_EQ(good.state().connects, 1u);
    EXPECT_EQ(good.state().closedByPeer, 0u);

    // One row at the first close; the rest wait for the period and are told at the latest
    // when the link stops.
    EXPECT_EQ(closedCounts().size(), 1u);
    console.channel.Stop();
    const auto counts = closedCounts();
    EXPECT_LE(counts.size(), 2u);
    unsigned long total = 0;
    for (const unsigned long n : counts) total += n;
    EXPECT_EQ(total, kSilent + kHalf);
    fleet.stop();
}

}  // namespace
}  // namespace faulttest
