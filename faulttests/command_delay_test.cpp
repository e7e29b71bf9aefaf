// A command for a device must not wait for the device's next heartbeat: the heartbeat pacing
// bounds heartbeats only.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "console_rig.h"
#include "lanwire/lanwire.h"
#include "platform/messages.h"
#include "protocol/frame_types.h"
#include "simtcp/sim_fleet.h"

namespace faulttest {
namespace {

using namespace std::chrono_literals;

// A device that answers heartbeats nearly always has one waiting for its 100 ms gap; a command
// queued meanwhile must leave after the 10 ms send gap, not after the heartbeat's.
TEST(CommandDelay, CommandIsNotHeldBackByAPacedHeartbeat) {
    LanwireOptions options;
    options.heartbeatGap = 300ms;  // large, so the hold-back is unmistakable
    ConsoleRig console(options);
    ASSERT_TRUE(console.started());
    simtcp::SimFleet fleet("127.0.0.1", console.port());
    auto& device = fleet.add(simtcp::makeDeviceConfig(800, 800));
    fleet.start();
    ASSERT_TRUE(console.waitRows(1));
    ASSERT_TRUE(device.waitCommand(protocol::NET_CMD_HEARTBEAT, 3));

    std::chrono::steady_clock::duration worst{};
    for (std::size_t k = 1; k <= 8; ++k) {
        const auto sentAt = std::chrono::steady_clock::now();
        console.onGui(
            [&] { console.channel.SendChannelSwitch(800, static_cast<std::uint8_t>(k), 1); });
        ASSERT_TRUE(device.waitCommand(protocol::NET_CMD_CHANNEL, k));
        worst = std::max(worst, device.frames(protocol::NET_CMD_CHANNEL)[k - 1].at - sentAt);
        // Vary the phase against the heartbeat exchange.
        std::this_thread::sleep_for(std::chrono::milliseconds(17 * k));
    }
    const double ms = std::chrono::duration<double, std::milli>(worst).count();
    std::printf("[ delay    ] worst command delay with a 300 ms heartbeat gap: %.1f ms\n", ms);
    // The send pacing is 10 ms; anything near the heartbeat gap is the hold-back.
    EXPECT_LT(ms, 100.0);
    fleet.stop();
}

}  // namespace
}  // namespace faulttest
