// Peers that trickle, lie about lengths, send noise or vanish mid-frame: the console drops
// only their garbage while every well-behaved device's frames arrive, each exactly once.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "console_rig.h"
#include "lanwire/lanwire.h"
#include "platform/messages.h"
#include "protocol/device_frames.h"
#include "raw_peer.h"
#include "simtcp/sim_fleet.h"

namespace faulttest {
namespace {

using namespace std::chrono_literals;

// Random bytes that never contain the first marker byte, so they cannot start a frame.
std::vector<std::uint8_t> noise(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes) {
        do {
            b = static_cast<std::uint8_t>(random());
        } while (b == 0xFE);
    }
    return bytes;
}

TEST(MisbehavingPeers, GarbageIsDroppedAndEveryOtherDeviceStillGetsThrough) {
    // Slow supervision: the raw peers never answer heartbeats and must stay listed here.
    LanwireOptions options;
    options.tickPeriod = 30s;
    ConsoleRig console(options);
    ASSERT_TRUE(console.started());
    simtcp::SimFleet fleet("127.0.0.1", console.port());
    constexpr std::size_t kGood = 5;
    for (std::size_t i = 0; i < kGood; ++i) {
        fleet.add(simtcp::makeDeviceConfig(400 + i, static_cast<std::uint16_t>(400 + i)));
    }
    fleet.start();
    ASSERT_TRUE(console.waitRows(kGood));

    // The slow one: a registration, one byte a second for three seconds, then the rest.
    RawPeer slow(simtcp::loopbackAddress(450));
    ASSERT_TRUE(slow.connect(console.port()));
    const auto slowFrame = registrationFrame(450);
    std::thread trickle([&] {
        for (std::size_t i = 0; i < 3; ++i) {
            slow.send(std::span(slowFrame).subspan(i, 1));
            std::this_thread::sleep_for(1s);  // the trickle's pace is the misbehaviour itself
        }
        slow.send(std::span(slowFrame).subspan(3));
    });

    // The liar: a header claiming 2 GiB, some bytes of it, then a proper registration.
    RawPeer liar(simtcp::loopbackAddress(451));
    ASSERT_TRUE(liar.connect(console.port()));
    auto oversized = protocol::buildDeviceHeader(protocol::NET_CMD_STATUS, 451, 0, 0x7FFFFFFF);
    ASSERT_TRUE(liar.send(oversized));
    ASSERT_TRUE(liar.send(noise(20000, 1)));
    ASSERT_TRUE(liar.send(registrationFrame(451)));

    // The noisy one: 64 KiB of noise, then a proper registration.
    RawPeer noisy(simtcp::loopbackAddress(452));
    ASSERT_TRUE(noisy.connect(console.port()));
    ASSERT_TRUE(noisy.send(noise(65536, 2)));
    ASSERT_TRUE(noisy.send(registrationFrame(452)));

    // The vanishing one: half a registration, then gone.
    {
        RawPeer half(simtcp::loopbackAddress(453));
        ASSERT_TRUE(half.connect(console.port()));
        const auto frame = registrationFrame(453);
        ASSERT_TRUE(half.send(std::span(frame).first(frame.size() / 2)));
    }

    // Meanwhile the good devices report, in rounds so the receive queue never fills.
    constexpr int kRounds = 20;
    constexpr int kPerRound = 10;
    for (int round = 1; round <= kRounds; ++round) {
        for (std::size_t i = 0; i < kGood; ++i) {
            for (int k = 0; k < kPerRound; ++k) fleet.device(i).sendStatus();
        }
        for (std::size_t i = 0; i < kGood; ++i) {
            ASSERT_TRUE(console.waitEvents(static_cast<std::uint16_t>(400 + i),
                                           platform::DEV_EVENT_STATUS,
                                           static_cast<std::uint64_t>(round * kPerRound)))
                << "device " << 400 + i << " round " << round;
        }
    }
    trickle.join();

    // The trickled registration and the two sent after garbage are taken; the half one never.
    EXPECT_TRUE(console.waitEvents(450, platform::DEV_EVENT_REGISTERED, 1));
    EXPECT_TRUE(console.waitEvents(451, platform::DEV_EVENT_REGISTERED, 1));
    EXPECT_TRUE(console.waitEvents(452, platform::DEV_EVENT_REGISTERED, 1));
    EXPECT_TRUE(console.waitRows(kGood + 3));
    EXPECT_EQ(console.events(453, platform::DEV_EVENT_REGISTERED), 0u);
    EXPECT_EQ(console.totalEvents(platform::DEV_EVENT_REGISTERED), kGood + 3);
    // Exactly one status event per status frame: nothing lost, nothing duplicated or invented.
    for (std::size_t i = 0; i < kGood; ++i) {
        EXPECT_EQ(console.events(static_cast<std::uint16_t>(400 + i), platform::DEV_EVENT_STATUS),
                  static_cast<std::uint64_t>(kRounds * kPerRound));
    }
    EXPECT_EQ(console.totalEvents(platform::DEV_EVENT_STATUS),
              static_cast<std::uint64_t>(kGood * kRounds * kPerRound));
    EXPECT_GT(GetLanwireStats().bytesDiscarded, 65536u);
    fleet.stop();
}

}  // namespace
}  // namespace faulttest
