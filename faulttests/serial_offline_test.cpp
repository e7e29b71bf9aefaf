// A device that goes offline in the middle of a serial run: the console engine ends that run
// as lost at it, the run of another group goes on to its end.
#include <gtest/gtest.h>

#include <map>

#include "console_rig.h"
#include "consolecore/group_run.h"
#include "consolecore/switching_groups.h"
#include "lanwire/lanwire.h"
#include "platform/messages.h"
#include "protocol/frame_types.h"
#include "simtcp/sim_fleet.h"

namespace faulttest {
namespace {

using namespace std::chrono_literals;

TEST(SerialRunOffline, DeviceLostMidStepStopsItsRunOnlyAndIsRemoved) {
    LanwireOptions options;
    options.tickPeriod = 100ms;  // offline within a few hundred milliseconds
    options.heartbeatPass = 10ms;
    options.heartbeatGap = 10ms;
    ConsoleRig console(options);
    ASSERT_TRUE(console.started());
    simtcp::SimFleet fleet("127.0.0.1", console.port());

    simtcp::Knobs quick;
    quick.stepDelay = 5ms;
    simtcp::Knobs slow = quick;
    slow.stepDelay = 300ms;  // 16 outlets: about five seconds, time enough to lose it
    const auto serial = [](std::size_t index, std::uint16_t id, std::uint8_t group,
                           std::uint8_t number) {
        auto config = simtcp::makeDeviceConfig(index, id);
        config.group = group;
        config.mode = 1;
        config.number = number;
        return config;
    };
    // Group 1: 11, 12 (lost mid-step), 13. Group 2: 21, 22, 23.
    fleet.add(serial(611, 11, 1, 1), quick);
    auto& lost = fleet.add(serial(612, 12, 1, 2), slow);
    auto& after = fleet.add(serial(613, 13, 1, 3), quick);
    for (std::uint8_t n = 1; n <= 3; ++n) {
        fleet.add(serial(620 + n, static_cast<std::uint16_t>(20 + n), 2, n), quick);
    }
    fleet.start();
    ASSERT_TRUE(console.waitRows(6));

    std::map<int, consolecore::GroupRun> ended;  // by group, GUI thread only
    console.onGui([&] {
        console.switching.setRunObserver([&ended](const consolecore::GroupRun& run) {
            if (!run.running()) ended[run.group] = run;
        });
    });
    console.chooser.groupIndex = 0;
    console.onGui([&] { console.switching.OnSerialOn(); });
    ASSERT_TRUE(lost.waitState([](const simtcp::DeviceState& s) { return s.stepping; }));

    // Group 2 starts while device 12 is stepping; then 12 loses power.
    console.chooser.groupIndex = 1;
    console.onGui([&] { console.switching.OnSerialOn(); });
    auto knobs = lost.knobs();
    knobs.reconnect = false;
    knobs.answerHeartbeats = false;
    lost.setKnobs(knobs);
    lost.disconnect();

    ASSERT_TRUE(console.waitEvents(12, platform::DEV_EVENT_REMOVED, 1, 10s));
    EXPECT_TRUE(console.waitRows(5));
    EXPECT_TRUE(testkit::waitFor([] { return ConsoleRig::countLog("串行开分组2结束!") == 1; }));
    for (std::uint16_t id = 21; id <= 23; ++id) {
        EXPECT_TRUE(fleet.find(id)->state().onOff) << id;
        EXPECT_EQ(fleet.find(id)->received(protocol::NET_CMD_SERIAL), 1u) << id;
    }
    // Group 1 stopped at 12 and ended as lost there: 11 is on, 13 never got its order, no run
    // and no run record is left.
    EXPECT_TRUE(fleet.find(11)->state().onOff);
    EXPECT_EQ(after.received(protocol::NET_CMD_SERIAL), 0u);
    EXPECT_FALSE(after.state().onOff);
    EXPECT_EQ(ConsoleRig::countLog("串行开分组1结束!"), 0);
    console.onGui([&] {
        ASSERT_EQ(ended.size(), 2u);
        const consolecore::GroupRun& lostRun = ended.at(1);
        EXPECT_EQ(lostRun.outcome, consolecore::RunOutcome::DeviceLost);
        EXPECT_EQ(lostRun.switched, (std::vector<std::uint32_t>{11, 12}));
        EXPECT_EQ(lostRun.lost, std::vector<std::uint32_t>{12});
        EXPECT_EQ(ended.at(2).outcome, consolecore::RunOutcome::Completed);
        EXPECT_TRUE(console.switching.activeRuns().empty());
        auto lock = consolecore::switchingGroups().lock();
        EXPECT_EQ(consolecore::switchingGroups().findSerialRecord(1), nullptr);
        EXPECT_EQ(consolecore::switchingGroups().findSerialRecord(2), nullptr);
    });
    // The survivors are still supervised; the lost one is not.
    const auto table = GetLanwireTickTable();
    EXPECT_EQ(table.size(), 5u);
    for (const auto& entry : table) EXPECT_NE(entry.deviceId, 12);
    fleet.stop();
}

}  // namespace
}  // namespace faulttest
