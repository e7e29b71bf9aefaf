// The simulated sequencer against a bare console: registration, firmware reactions, knobs.
#include <gtest/gtest.h>

#include <set>

#include "protocol/console_frames.h"
#include "protocol/device_frames.h"
#include "simtcp/fleet_cli.h"
#include "simtcp/idle_fleet.h"
#include "simtcp/sim_fleet.h"
#include "test_console.h"

using namespace protocol;
using simtest::Arrival;

namespace {

std::vector<std::uint8_t> order(std::uint8_t command, std::uint16_t id, std::uint8_t p0 = 0,
                                std::uint8_t p1 = 0, std::uint8_t p2 = 0, std::uint8_t p3 = 0) {
    const ConsoleFrame f = buildConsoleFrame(command, id, p0, p1, p2, p3);
    return {f.begin(), f.end()};
}

std::vector<Arrival> withCommand(const std::vector<Arrival>& all, std::uint8_t command) {
    std::vector<Arrival> out;
    for (const auto& a : all) {
        if (decodeHeader(a.bytes)->command == command) out.push_back(a);
    }
    return out;
}

auto hasCommand(std::uint8_t command, std::size_t count = 1) {
    return
        [=](const std::vector<Arrival>& all) { return withCommand(all, command).size() >= count; };
}

struct SimDeviceTest : ::testing::Test {
    simtest::TestConsole console;
    simtcp::SimFleet fleet{"127.0.0.1", console.port()};

    simtcp::SimDevice& startOne(const simtcp::Knobs& knobs = {}) {
        simtcp::DeviceConfig config = simtcp::makeDeviceConfig(5, 0x0203);
        config.name = "Rack-\xC3\xA9";
        config.group = 2;
        config.mode = 1;
        config.number = 3;
        config.outlets = 0x0001;
        auto& device = fleet.add(config, knobs);
        fleet.start();
        EXPECT_TRUE(console.wait(hasCommand(NET_CMD_REGISTER)));
        return device;
    }
};

}  // namespace

TEST_F(SimDeviceTest, RegistersFromItsOwnLoopbackAddress) {
    auto& device = startOne();
    const auto regs = withCommand(console.arrivals(), NET_CMD_REGISTER);
    ASSERT_EQ(regs.size(), 1u);
    EXPECT_EQ(regs[0].peer, "127.0.0.7");
    const auto reg = decodeRegister(regs[0].bytes);
    ASSERT_TRUE(reg);
    EXPECT_EQ(reg->header.deviceId, 0x0203);
    EXPECT_EQ(reg->name, "Rack-\xC3\xA9");
    EXPECT_EQ(reg->group, 2);
    EXPECT_EQ(reg->mode, 1);
    EXPECT_EQ(reg->number, 3);
    EXPECT_EQ(channelWord(reg->outlets), 0x0001);
    EXPECT_EQ(reg->mask, 0xFFFF0000u);
    EXPECT_TRUE(device.state().connected);
}

TEST_F(SimDeviceTest, SettingsAndChannelOrdersChangeStateAndReportStatus) {
    auto& device = startOne();
    console.send(order(NET_CMD_CHANNEL, 0x0203, 12, 1));
    console.send(order(NET_CMD_SET_GROUP, 0x0203, 5));
    console.send(order(NET_CMD_SET_MODE, 0x0203, 0));
    console.send(order(NET_CMD_SET_NUMBER, 0x0203, 9));
    console.send(order(NET_CMD_SET_ONOFF, 0x0203, 1));
    console.send(order(NET_CMD_CHANNEL, 0x0203, 17, 1));  // no such outlet: ignored
    console.send(order(NET_CMD_CHANNEL, 0x9999, 2, 1));   // another device's frame
    console.send(order(NET_CMD_CHANNEL, 0x0203, 1, 0));
    ASSERT_TRUE(console.wait(hasCommand(NET_CMD_STATUS, 6)));
    const auto reports = withCommand(console.arrivals(), NET_CMD_STATUS);
    ASSERT_EQ(reports.size(), 6u);
    const auto first = decodeStatus(reports[0].bytes);
    EXPECT_EQ(channelWord(first->outlets), 0x0801);  // outlet 12 on
    const auto last = decodeStatus(reports[5].bytes);
    EXPECT_EQ(last->group, 5);
    EXPECT_EQ(last->mode, 0);
    EXPECT_EQ(last->number, 9);
    EXPECT_TRUE(last->onOff);
    EXPECT_EQ(channelWord(last->outlets), 0x0800);         // outlet 1 off again
    EXPECT_EQ(device.frames(NET_CMD_CHANNEL).size(), 4u);  // every frame is recorded
    EXPECT_EQ(device.state().outlets, 0x0800);
}

TEST_F(SimDeviceTest, ParallelOnStepsOutletsUpThenReportsStepDone) {
    simtcp::Knobs knobs;
    knobs.stepDelay = std::chrono::milliseconds(2);
    startOne(knobs);
    console.send(order(NET_CMD_PARALLEL, 0x0203, 1, 0, 1, 4));
    ASSERT_TRUE(console.wait(hasCommand(NET_CMD_STEP_DONE)));
    const auto reports = withCommand(console.arrivals(), NET_CMD_PARALLEL);
    ASSERT_EQ(reports.size(), 16u);
    for (std::size_t k = 0; k < 16; ++k) {
        const auto s = decodeStatus(reports[k].bytes);
        EXPECT_EQ(highestOutletOn(s->outlets), std::max<int>(static_cast<int>(k) + 1, 1)) << k;
    }
    EXPECT_TRUE(decodeStatus(reports[15].bytes)->onOff);
    EXPECT_EQ(channelWord(decodeStatus(reports[15].bytes)->outlets), 0xFFFF);
    // The step-done notice comes after the last report.
    const auto all = console.arrivals();
    EXPECT_EQ(decodeHeader(all.back().bytes)->command, NET_CMD_STEP_DONE);
}

TEST_F(SimDeviceTest, SerialOffStepsOutletsDownFrom16) {
    simtcp::Knobs knobs;
    knobs.stepDelay = std::chrono::milliseconds(1);
    auto& device = startOne(knobs);
    console.send(order(NET_CMD_CHANNEL, 0x0203, 16, 1));
    ASSERT_TRUE(device.waitState([](const auto& s) { return s.outlets == 0x8001; }));
    console.send(order(NET_CMD_SERIAL, 0x0203, 0, 2, 1, 3));
    ASSERT_TRUE(console.wait(hasCommand(NET_CMD_STEP_DONE)));
    const auto reports = withCommand(console.arrivals(), NET_CMD_SERIAL);
    ASSERT_EQ(reports.size(), 16u);
    EXPECT_EQ(channelWord(decodeStatus(reports[0].bytes)->outlets), 0x0001);  // 16 went first
    EXPECT_EQ(channelWord(decodeStatus(reports[15].bytes)->outlets), 0x0000);
    EXPECT_FALSE(decodeStatus(reports[15].bytes)->onOff);
}

TEST_F(SimDeviceTest, HeartbeatsAreAnsweredOnlyWhileTheKnobSaysSo) {
    auto& device = startOne();
    console.send(order(NET_CMD_HEARTBEAT, 0x0203, 2));
    ASSERT_TRUE(console.wait(hasCommand(NET_CMD_HEARTBEAT_ACK)));
    auto knobs = device.knobs();
    knobs.answerHeartbeats = false;
    device.setKnobs(knobs);
    console.send(order(NET_CMD_HEARTBEAT, 0x0203, 2));
    // The device handles frames in order: once the status for this channel order is here,
    // an answer to the heartbeat before it would be here too.
    console.send(order(NET_CMD_CHANNEL, 0x0203, 4, 1));
    ASSERT_TRUE(console.wait(hasCommand(NET_CMD_STATUS)));
    EXPECT_EQ(withCommand(console.arrivals(), NET_CMD_HEARTBEAT_ACK).size(), 1u);
    EXPECT_EQ(device.frames(NET_CMD_HEARTBEAT).size(), 2u);
}

TEST_F(SimDeviceTest, AGatewayRegistersTheIdsBehindItAndAnswersTheirHeartbeats) {
    simtcp::Knobs knobs;
    knobs.gatewayIds = {0x0300, 0x0301};
    knobs.registerGatewayIds = true;
    startOne(knobs);
    ASSERT_TRUE(console.wait(hasCommand(NET_CMD_REGISTER, 3)));
    std::vector<std::uint16_t> ids;
    for (const auto& arrival : withCommand(console.arrivals(), NET_CMD_REGISTER)) {
        const auto reg = decodeRegister(arrival.bytes);
        ASSERT_TRUE(reg);
        EXPECT_EQ(arrival.peer, "127.0.0.7");
        if (reg->header.deviceId != 0x0203) {
            EXPECT_EQ(reg->name, "SIM" + std::to_string(reg->header.deviceId));
        }
        ids.push_back(reg->header.deviceId);
    }
    EXPECT_EQ(ids, (std::vector<std::uint16_t>{0x0203, 0x0300, 0x0301}));
    console.send(order(NET_CMD_HEARTBEAT, 0x0301, 2));
    ASSERT_TRUE(console.wait(hasCommand(NET_CMD_HEARTBEAT_ACK)));
    EXPECT_EQ(
        decodeHeader(withCommand(console.arrivals(), NET_CMD_HEARTBEAT_ACK)[0].bytes)->deviceId,
        0x0301);
}

TEST_F(SimDeviceTest, SplitGarbageAndCoalesceKnobsShapeTheStream) {
    simtcp::Knobs knobs;
    knobs.splitSize = 7;
    knobs.pieceDelay = std::chrono::milliseconds(5);
    auto& device = startOne(knobs);
    // The 65-byte registration left in 10 pieces; the console saw it complete only after
    // several reads.
    EXPECT_GT(withCommand(console.arrivals(), NET_CMD_REGISTER)[0].readIndex, 1u);

    knobs.splitSize = 0;
    knobs.garbageBefore = 5;
    knobs.coalesce = true;
    knobs.stepDelay = std::chrono::milliseconds(1);
    knobs.statusEachStep = false;
    device.setKnobs(knobs);
    console.send(order(NET_CMD_PARALLEL, 0x0203, 1, 0, 1, 1));
    ASSERT_TRUE(console.wait(hasCommand(NET_CMD_STEP_DONE)));
    const auto all = console.arrivals();
    const auto status = withCommand(all, NET_CMD_PARALLEL);
    const auto done = withCommand(all, NET_CMD_STEP_DONE);
    ASSERT_EQ(status.size(), 1u);
    // Status and step-done left in one write and so arrived in one read.
    EXPECT_EQ(status[0].readIndex, done[0].readIndex);
}

TEST_F(SimDeviceTest, ReconnectsAndRegistersAgainWhenTheConsoleCloses) {
    simtcp::Knobs knobs;
    knobs.reconnectDelay = std::chrono::milliseconds(10);
    auto& device = startOne(knobs);
    console.closeAll();
    ASSERT_TRUE(console.wait(hasCommand(NET_CMD_REGISTER, 2)));
    EXPECT_TRUE(device.waitState([](const auto& s) { return s.connects == 2; }));
    EXPECT_GE(device.state().closedByPeer, 1u);

    device.disconnect();
    ASSERT_TRUE(device.waitState([](const auto& s) { return !s.connected; }));
}

TEST(IdleFleetTest, RegistersItsIdsAnswersTheirHeartbeatsAndComesBackWhenClosed) {
    simtest::TestConsole console;
    simtcp::IdleFleet fleet("127.0.0.1", console.port());
    fleet.add(simtcp::makeDeviceConfig(5, 0x0203), {0x0300});
    fleet.start();
    ASSERT_TRUE(console.wait(hasCommand(NET_CMD_REGISTER, 2)));
    std::vector<std::uint16_t> ids;
    for (const auto& arrival : withCommand(console.arrivals(), NET_CMD_REGISTER)) {
        EXPECT_EQ(arrival.peer, "127.0.0.7");
        ids.push_back(decodeRegister(arrival.bytes)->header.deviceId);
    }
    EXPECT_EQ(ids, (std::vector<std::uint16_t>{0x0203, 0x0300}));
    console.send(order(NET_CMD_HEARTBEAT, 0x0300, 2));
    console.send(order(NET_CMD_CHANNEL, 0x0203, 4, 1));  // ignored
    console.send(order(NET_CMD_HEARTBEAT, 0x0203, 2));
    ASSERT_TRUE(console.wait(hasCommand(NET_CMD_HEARTBEAT_ACK, 2)));
    ids.clear();
    for (const auto& arrival : withCommand(console.arrivals(), NET_CMD_HEARTBEAT_ACK)) {
        ids.push_back(static_cast<std::uint16_t>(decodeHeader(arrival.bytes)->deviceId));
    }
    EXPECT_EQ(ids, (std::vector<std::uint16_t>{0x0300, 0x0203}));
    EXPECT_TRUE(withCommand(console.arrivals(), NET_CMD_STATUS).empty());
    EXPECT_EQ(fleet.counts(0).heartbeats, 2u);

    console.closeAll();
    ASSERT_TRUE(console.wait(hasCommand(NET_CMD_REGISTER, 4)));
    EXPECT_EQ(console.connections(), 2u);
    fleet.stop();
    EXPECT_EQ(fleet.counts(0).connects, 2u);
    EXPECT_EQ(fleet.counts(0).closedByPeer, 1u);
}

TEST(SimFleetLayout, LoopbackAddressesSkipNetworkAndBroadcastOctets) {
    EXPECT_EQ(simtcp::loopbackAddress(0), "127.0.0.2");
    EXPECT_EQ(simtcp::loopbackAddress(252), "127.0.0.254");
    EXPECT_EQ(simtcp::loopbackAddress(253), "127.0.1.1");
    EXPECT_EQ(simtcp::loopbackAddress(20000), "127.0.78.190");
    std::set<std::string> unique;
    for (std::size_t i = 0; i < 1000; ++i) unique.insert(simtcp::loopbackAddress(i));
    EXPECT_EQ(unique.size(), 1000u);
}

TEST(SimFleetLayout, DevicesSpreadRoundRobinOverGroupsWithRunningNumbers) {
    const auto configs = simtcp::makeFleetConfigs(14, 100, 6, simtcp::GroupMode::Mixed);
    ASSERT_EQ(configs.size(), 14u);
    EXPECT_EQ(configs[0].id, 100);
    EXPECT_EQ(configs[0].group, 1);
    EXPECT_EQ(configs[0].mode, 0);
    EXPECT_EQ(configs[1].group, 2);
    EXPECT_EQ(configs[1].mode, 1);
    EXPECT_EQ(configs[6].group, 1);
    EXPECT_EQ(configs[6].number, 2);
    EXPECT_EQ(configs[12].number, 3);
    const auto none = simtcp::makeFleetConfigs(3, 1, 0, simtcp::GroupMode::Serial);
    EXPECT_EQ(none[2].group, 0);
    EXPECT_EQ(none[2].number, 0);
}

TEST(FleetCommandLine, ParsesTheFleetModeAndRejectsBadValues) {
    auto o = simtcp::parseFleetOptions({"--port", "6000", "--count", "40", "--groups", "6",
                                        "--mode", "serial", "--silent", "--no-step-done", "3",
                                        "--no-step-done", "7", "--first-address", "18"});
    EXPECT_TRUE(o.error.empty()) << o.error;
    EXPECT_EQ(o.port, 6000);
    EXPECT_EQ(o.count, 40u);
    EXPECT_EQ(o.groups, 6u);
    EXPECT_EQ(o.mode, simtcp::GroupMode::Serial);
    EXPECT_TRUE(o.silent);
    EXPECT_EQ(o.noStepDone, (std::vector<std::uint16_t>{3, 7}));
    EXPECT_EQ(o.connections, 0u);
    EXPECT_EQ(simtcp::parseFleetOptions({"--count", "40", "--connections", "10"}).connections, 10u);
    EXPECT_FALSE(simtcp::parseFleetOptions({"--count", "3", "--connections", "4"}).error.empty());
    EXPECT_TRUE(simtcp::parseFleetOptions({"--idle"}).idle);
    EXPECT_EQ(simtcp::parseFleetOptions({"--first-address", "9000"}).firstAddress, 9000u);
    EXPECT_FALSE(simtcp::parseFleetOptions({"--idle", "--silent"}).error.empty());
    EXPECT_EQ(o.firstAddress, 18u);
    EXPECT_EQ(simtcp::parseFleetOptions({}).firstAddress, 0u);
    EXPECT_FALSE(simtcp::parseFleetOptions({"--first-address", "-1"}).error.empty());
    EXPECT_FALSE(simtcp::parseFleetOptions({"--no-step-done", "x"}).error.empty());
    EXPECT_FALSE(simtcp::parseFleetOptions({"--groups", "7"}).error.empty());
    EXPECT_FALSE(simtcp::parseFleetOptions({"--port", "70000"}).error.empty());
    EXPECT_FALSE(simtcp::parseFleetOptions({"--count"}).error.empty());
    EXPECT_FALSE(simtcp::parseFleetOptions({"--count", "4x"}).error.empty());
    EXPECT_FALSE(simtcp::parseFleetOptions({"--first-id", "65535", "--count", "2"}).error.empty());
    EXPECT_FALSE(simtcp::parseFleetOptions({"--bogus"}).error.empty());
    EXPECT_FALSE(simtcp::parseFleetOptions({"--host", "console.local"}).error.empty());
    EXPECT_NE(simtcp::fleetUsage().find("--count 40 --groups"), std::string::npos);
}
