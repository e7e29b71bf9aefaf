// The console core end to end: real link on loopback, simulated sequencers, the device
// table and the switching handlers on a stand-in GUI thread, log lines in the real store.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>

#include "console_harness.h"
#include "protocol/console_frames.h"
#include "protocol/frame_types.h"
#include "simtcp/sim_fleet.h"

using namespace consolecore;
using coretest::ConsoleHarness;

namespace {

class ConsoleEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        console = std::make_unique<ConsoleHarness>(m_dir.path().string() + "/");
        ASSERT_TRUE(console->started);
        fleet = std::make_unique<simtcp::SimFleet>("127.0.0.1", console->port);
    }
    void TearDown() override {
        fleet.reset();
        console.reset();
    }

    simtcp::SimDevice& addDevice(std::uint16_t id, std::uint8_t group, std::uint8_t mode,
                                 std::uint8_t number, bool on = false, std::uint16_t outlets = 0) {
        auto config = simtcp::makeDeviceConfig(fleet->size(), id);
        config.group = group;
        config.mode = mode;
        config.number = number;
        config.onOff = on;
        config.outlets = outlets;
        config.mask = 0xFFFFFF00;
        config.gateway = 0xC0A80101;
        simtcp::Knobs knobs;
        knobs.stepDelay = std::chrono::milliseconds(1);
        return fleet->add(config, knobs);
    }
    std::string cell(int row, int column) {
        std::string text;
        console->onGui(
            [&] { text = consolecore::deviceCellText(console->table.row(row), column); });
        return text;
    }

    testkit::TempDir m_dir;
    std::unique_ptr<ConsoleHarness> console;
    std::unique_ptr<simtcp::SimFleet> fleet;
};

TEST_F(ConsoleEndToEndTest, RegisteredDeviceGetsRowWithItsValuesAndHeartbeats) {
    auto& device = addDevice(7, 2, 1, 3, true, 0x8001);
    fleet->start();
    ASSERT_TRUE(console->waitRows(1));
    EXPECT_EQ(cell(0, ColRowNumber), "1");
    EXPECT_EQ(cell(0, ColDeviceId), "7");
    EXPECT_EQ(cell(0, ColIpAddress), "127.0.0.2");
    EXPECT_EQ(cell(0, ColMask), "255.255.255.0");
    EXPECT_EQ(cell(0, ColGateway), "192.168.1.1");
    EXPECT_EQ(cell(0, ColMode), "Serial");
    EXPECT_EQ(cell(0, ColGroup), "Link_2");
    EXPECT_EQ(cell(0, ColNumber), "3");
    EXPECT_EQ(cell(0, ColOnOff), "ON");
    EXPECT_EQ(cell(0, ColStatus), "在线");
    EXPECT_EQ(cell(0, ColHiddenLedMask), "32769");
    console->onGui([&] {
        const auto& leds = console->table.row(0).leds;
        EXPECT_TRUE(leds[0]);
        EXPECT_TRUE(leds[15]);
        EXPECT_EQ(std::count(leds.begin(), leds.end(), true), 2);
    });
    // The accepted registration starts supervision: the device gets a heartbeat.
    EXPECT_TRUE(device.waitCommand(protocol::NET_CMD_HEARTBEAT));
}

TEST_F(ConsoleEndToEndTest, SecondRegisteredEventGivesOneRowAndOneFailureLine) {
    addDevice(8, 1, 0, 1);
    fleet->start();
    ASSERT_TRUE(console->waitRows(1));
    console->onGui([&] { console->table.OnDeviceEvent(8, platform::DEV_EVENT_REGISTERED); });
    EXPECT_EQ(console->rowCount(), 1);
    EXPECT_EQ(coretest::countLog({3, 4, "注册;列表中已存在设备:8"}), 1);
}

TEST_F(ConsoleEndToEndTest, RowNumbersAfterRemovalAreNotRenumbered) {
    addDevice(1, 1, 0, 1);
    addDevice(2, 1, 0, 2);
    addDevice(3, 1, 0, 3);
    fleet->device(0).connect();
    ASSERT_TRUE(console->waitRows(1));
    fleet->device(1).connect();
    ASSERT_TRUE(console->waitRows(2));
    fleet->device(2).connect();
    ASSERT_TRUE(console->waitRows(3));
    // The link's offline notice for device 2, as the dispatch thread would deliver it.
    console->onGui([] {});
    const auto notice = protocol::buildOfflineNotice(2);
    CDeviceChannel::OnNetData(2, {}, notice.data(), static_cast<std::int32_t>(notice.size()));
    ASSERT_TRUE(console->waitRows(2));
    EXPECT_EQ(coretest::countLog({2, 6, "掉线删除设备[ID:2;IP:127.0.0.3]"}), 1);
    auto& fourth = addDevice(4, 1, 0, 4);
    fourth.connect();
    ASSERT_TRUE(console->waitRows(3));
    EXPECT_EQ(cell(0, ColRowNumber), "1");
    EXPECT_EQ(cell(1, ColRowNumber), "3");
    EXPECT_EQ(cell(2, ColRowNumber), "3");
    EXPECT_EQ(cell(2, ColDeviceId), "4");
}

TEST_F(ConsoleEndToEndTest, RowsOfAFleetRegisteringInNoIdOrderStandInIdOrderAndAreFoundById) {
    constexpr int kDevices = 30;
    for (int i = 0; i < kDevices; ++i)
        addDevice(static_cast<std::uint16_t>(1 + i * 7 % kDevices), 0, 0, 0);
    fleet->start();
    ASSERT_TRUE(console->waitRows(kDevices));
    const auto expectIndexed = [this](int rows) {
        console->onGui([&] {
            ASSERT_EQ(console->table.rowCount(), rows);
            for (int i = 0; i < rows; ++i) {
                const std::uint16_t id = console->table.row(i).id;
                if (i > 0) {
                    EXPECT_LT(console->table.row(i - 1).id, id);
                }
                EXPECT_EQ(console->table.findRow(id), i) << id;
            }
        });
    };
    expectIndexed(kDevices);
    const auto notice = protocol::buildOfflineNotice(15);
    CDeviceChannel::OnNetData(15, {}, notice.data(), static_cast<std::int32_t>(notice.size()));
    ASSERT_TRUE(console->waitRows(kDevices - 1));
    expectIndexed(kDevices - 1);
    console->onGui([this] { EXPECT_EQ(console->table.findRow(15), -1); });
}

// A window busy in a long handler: the test releases it when it is done.
class BusyWindow {
public:
    explicit BusyWindow(ConsoleHarness& console) {
        console.holdGui(m_release.get_future().share());
    }
    ~BusyWindow() { release(); }
    void release() {
        if (!m_released) m_release.set_value();
        m_released = true;
    }

private:
    std::promise<void> m_release;
    bool m_released = false;
};

std::string recordAddress(std::uint16_t id) {
    const auto device = snapshotDevice(id);
    return device ? formatIpAddress(device->ip) : std::string();
}

TEST_F(ConsoleEndToEndTest, DeviceRegisteringWhileTheWindowIsBusyGetsItsHeartbeat) {
    auto& device = addDevice(21, 1, 0, 1);
    BusyWindow busy(*console);
    device.connect();
    EXPECT_TRUE(device.waitCommand(protocol::NET_CMD_HEARTBEAT));
    busy.release();
    EXPECT_TRUE(console->waitRows(1));
}

TEST_F(ConsoleEndToEndTest, StaleRemovalLeavesTheDeviceThatRegisteredAgain) {
    simtcp::Knobs once;
    once.reconnect = false;
    auto first = simtcp::makeDeviceConfig(0, 31);
    auto& old = fleet->add(first, once);
    old.connect();
    ASSERT_TRUE(console->waitRows(1));

    // The device goes offline and comes back (from another address) while the window is busy.
    BusyWindow busy(*console);
    old.disconnect();
    ASSERT_TRUE(testkit::waitFor([] { return GetLanwireStats().connections == 0; }));
    const auto notice = protocol::buildOfflineNotice(31);
    CDeviceChannel::OnNetData(31, {}, notice.data(), static_cast<std::int32_t>(notice.size()));
    auto& back = fleet->add(simtcp::makeDeviceConfig(1, 31));
    back.connect();
    ASSERT_TRUE(testkit::waitFor([] { return recordAddress(31) == "127.0.0.3"; }));
    busy.release();

    // The record moves before its registration is posted: wait for the row, not the record.
    ASSERT_TRUE(testkit::waitFor(
        [&] { return console->rowCount() == 1 && cell(0, ColIpAddress) == "127.0.0.3"; }));
    EXPECT_EQ(recordAddress(31), "127.0.0.3");
    const auto ticks = GetLanwireTickTable();
    EXPECT_TRUE(std::any_of(ticks.begin(), ticks.end(),
                            [](const LanwireTickEntry& e) { return e.deviceId == 31; }));
}

TEST_F(ConsoleEndToEndTest, DeviceBackFromANewAddressMovesItsRecordAndRow) {
    simtcp::Knobs once;
    once.reconnect = false;
    auto& old = fleet->add(simtcp::makeDeviceConfig(0, 41), once);
    old.connect();
    ASSERT_TRUE(console->waitRows(1));
    old.disconnect();
    // Once the link has seen the old connection go (a live one would make the newcomer a
    // conflict), the same record, still supervised, takes the new address.
    ASSERT_TRUE(testkit::waitFor([] { return GetLanwireStats().connections == 0; }));
    fleet->add(simtcp::makeDeviceConfig(1, 41)).connect();
    EXPECT_TRUE(testkit::waitFor([] { return recordAddress(41) == "127.0.0.3"; }));
    EXPECT_TRUE(testkit::waitFor([&] { return cell(0, ColIpAddress) == "127.0.0.3"; }));
    EXPECT_EQ(console->rowCount(), 1);
}

TEST_F(ConsoleEndToEndTest, CellActionsSendCommandsAndRowFollowsDeviceReport) {
    auto& device = addDevice(9, 1, 0, 1, false, 0x0004);  // outlet 3 on
    fleet->start();
    ASSERT_TRUE(console->waitRows(1));

    console->onGui([&] { console->table.onButtonCellClicked(9, ColOnOff); });
    ASSERT_TRUE(device.waitCommand(protocol::NET_CMD_SET_ONOFF));
    EXPECT_EQ(device.frames(protocol::NET_CMD_SET_ONOFF).back().param(0), 1);
    // The device reports its new state; only then does the row say ON.
    EXPECT_TRUE(testkit::waitFor([&] { return cell(0, ColOnOff) == "ON"; }));

    console->onGui([&] {  // outlet 3 is on: off
        const auto on = console->table.ledClickTarget(9, 2);
        ASSERT_EQ(on, std::optional<bool>(false));
        console->channel.SendChannelSwitch(9, 3, *on ? 1 : 0);
    });
    ASSERT_TRUE(device.waitCommand(protocol::NET_CMD_CHANNEL));
    const auto channel = device.frames(protocol::NET_CMD_CHANNEL).back();
    EXPECT_EQ(channel.param(0), 3);
    EXPECT_EQ(channel.param(1), 0);

    console->onGui([&] { console->table.onButtonCellClicked(9, ColMode); });
    ASSERT_TRUE(device.waitCommand(protocol::NET_CMD_SET_MODE));
    EXPECT_EQ(device.frames(protocol::NET_CMD_SET_MODE).back().param(0), 1);
    EXPECT_TRUE(testkit::waitFor([&] { return cell(0, ColMode) == "Serial"; }));

    // Closing the group editor unchanged still sends the group shown.
    console->onGui([&] { console->table.onComboCellChanged(0, ColGroup, 1); });
    ASSERT_TRUE(device.waitCommand(protocol::NET_CMD_SET_GROUP));
    EXPECT_EQ(device.frames(protocol::NET_CMD_SET_GROUP).back().param(0), 1);
    console->onGui([&] { console->table.onComboCellChanged(0, ColNumber, 4); });
    ASSERT_TRUE(device.waitCommand(protocol::NET_CMD_SET_NUMBER));
    EXPECT_EQ(device.frames(protocol::NET_CMD_SET_NUMBER).back().param(0), 5);
    EXPECT_TRUE(testkit::waitFor([&] { return cell(0, ColNumber) == "5"; }));
}

TEST_F(ConsoleEndToEndTest, ParallelOnSendsInNumberOrderWithPositionsAndClearsRecord) {
    auto& third = addDevice(31, 2, 0, 3);
    auto& first = addDevice(32, 2, 0, 1);
    auto& second = addDevice(33, 2, 0, 2);
    fleet->start();
    ASSERT_TRUE(console->waitRows(3));
    console->chooser.groupIndex = 1;
    console->onGui([&] { console->switching.OnParallelOn(); });
    for (auto* d : {&first, &second, &third})
        ASSERT_TRUE(d->waitCommand(protocol::NET_CMD_PARALLEL));
    const auto order = [](simtcp::SimDevice& d) { return d.frames(protocol::NET_CMD_PARALLEL)[0]; };
    EXPECT_EQ(order(first).param(2), 1);
    EXPECT_EQ(order(second).param(2), 2);
    EXPECT_EQ(order(third).param(2), 3);
    for (auto* d : {&first, &second, &third}) {
        EXPECT_EQ(order(*d).param(0), 1);
        EXPECT_EQ(order(*d).param(3), 3);
    }
    EXPECT_LE(order(first).at, order(second).at + std::chrono::milliseconds(50));
    // Every device reports its step done: the run record goes away.
    EXPECT_TRUE(testkit::waitFor([&] {
        bool gone = false;
        console->onGui([&] { gone = switchingGroups().findParallRecord(2) == nullptr; });
        return gone;
    }));
    EXPECT_EQ(coretest::countLog({2, 5, "平行开(设备:32,num:1)成功!"}), 1);
    EXPECT_EQ(coretest::countLog({2, 5, "平行开(设备:31,num:3)成功!"}), 1);
}

TEST_F(ConsoleEndToEndTest, ParallelOffSkipsDevicesAlreadyOff) {
    auto& a = addDevice(41, 3, 0, 3, true);
    auto& b = addDevice(42, 3, 0, 1, false);
    auto& c = addDevice(43, 3, 0, 2, true);
    fleet->start();
    ASSERT_TRUE(console->waitRows(3));
    console->chooser.groupIndex = 2;
    console->onGui([&] { console->switching.OnParallelOff(); });
    ASSERT_TRUE(a.waitCommand(protocol::NET_CMD_PARALLEL));
    ASSERT_TRUE(c.waitCommand(protocol::NET_CMD_PARALLEL));
    EXPECT_EQ(a.frames(protocol::NET_CMD_PARALLEL)[0].param(2), 1);  // number 3 first
    EXPECT_EQ(c.frames(protocol::NET_CMD_PARALLEL)[0].param(2), 2);
    EXPECT_EQ(a.frames(protocol::NET_CMD_PARALLEL)[0].param(3), 3);  // batch size: all
    EXPECT_EQ(a.frames(protocol::NET_CMD_PARALLEL)[0].param(0), 0);
    EXPECT_EQ(b.received(protocol::NET_CMD_PARALLEL), 0u);
}

TEST_F(ConsoleEndToEndTest, ParallelWithoutRowsOpensNoDialogAndNoGroupShowsMessage) {
    console->onGui([&] { console->switching.OnParallelOn(); });
    EXPECT_EQ(console->chooser.opened, 0);
    addDevice(44, 4, 0, 1, true);
    fleet->start();
    ASSERT_TRUE(console->waitRows(1));
    console->chooser.groupIndex = 3;  // its only device is on already: no group
    console->onGui([&] { console->switching.OnParallelOn(); });
    EXPECT_EQ(console->prompt.messages, std::vector<std::string>{"未选择分组"});
    console->chooser.cancel = true;
    console->onGui([&] { console->switching.OnSerialOn(); });
    EXPECT_EQ(console->prompt.messages.size(), 1u);
}

TEST_F(ConsoleEndToEndTest, SerialOnRunsOneDeviceAtATimeInNumberOrder) {
    auto& two = addDevice(52, 4, 1, 2);
    auto& one = addDevice(51, 4, 1, 1);
    auto& three = addDevice(53, 4, 1, 3);
    fleet->start();
    ASSERT_TRUE(console->waitRows(3));
    console->chooser.groupIndex = 3;
    console->onGui([&] { console->switching.OnSerialOn(); });
    EXPECT_TRUE(testkit::waitFor([&] {
        return coretest::countLog({2, 6, "串行开分组4结束!"}) == 1;
    }));
    for (auto* d : {&one, &two, &three}) {
        ASSERT_EQ(d->received(protocol::NET_CMD_SERIAL), 1u);
        const auto frame = d->frames(protocol::NET_CMD_SERIAL)[0];
        EXPECT_EQ(frame.param(0), 1);
        EXPECT_EQ(frame.param(1), 4);
        EXPECT_EQ(frame.param(2), 1);
        EXPECT_EQ(frame.param(3), 3);
        EXPECT_TRUE(d->state().onOff);
    }
    const auto at = [](simtcp::SimDevice& d) { return d.frames(protocol::NET_CMD_SERIAL)[0].at; };
    EXPECT_LT(at(one), at(two));
    EXPECT_LT(at(two), at(three));
    EXPECT_EQ(coretest::countLog({2, 6, "点击串行开4"}), 1);
    EXPECT_EQ(coretest::countLog({2, 6, "串行开"}), 1);
    EXPECT_EQ(coretest::countLog({2, 6, "串行开分组4成功!设备:51"}), 1);
}

TEST_F(ConsoleEndToEndTest, SerialOnPassesOverDevicesAlreadyOn) {
    auto& one = addDevice(61, 5, 1, 1, true);
    auto& two = addDevice(62, 5, 1, 2, false);
    auto& three = addDevice(63, 5, 1, 3, false);
    fleet->start();
    ASSERT_TRUE(console->waitRows(3));
    console->chooser.groupIndex = 4;
    console->onGui([&] { console->switching.OnSerialOn(); });
    EXPECT_TRUE(testkit::waitFor([&] {
        return coretest::countLog({2, 6, "串行开分组5结束!"}) == 1;
    }));
    EXPECT_EQ(one.received(protocol::NET_CMD_SERIAL), 0u);
    EXPECT_EQ(two.received(protocol::NET_CMD_SERIAL), 1u);
    EXPECT_EQ(three.received(protocol::NET_CMD_SERIAL), 1u);
    EXPECT_LT(two.frames(protocol::NET_CMD_SERIAL)[0].at,
              three.frames(protocol::NET_CMD_SERIAL)[0].at);
}

TEST_F(ConsoleEndToEndTest, TwoSerialGroupsRunAtOnceAndAStalledDeviceStopsOnlyItsRun) {
    addDevice(71, 1, 1, 1);
    auto& stalled = addDevice(72, 1, 1, 2);
    addDevice(73, 1, 1, 3);
    for (std::uint16_t i = 0; i < 3; ++i)
        addDevice(static_cast<std::uint16_t>(81 + i), 2, 1, static_cast<std::uint8_t>(3 - i));
    fleet->start();
    ASSERT_TRUE(console->waitRows(6));
    // Device 72 drops off the network: its order goes nowhere and no step reply comes.
    auto knobs = stalled.knobs();
    knobs.reconnect = false;
    stalled.setKnobs(knobs);
    stalled.disconnect();
    ASSERT_TRUE(testkit::waitFor([] { return GetLanwireStats().connections == 5; }));

    console->chooser.groupIndex = 0;
    console->onGui([&] { console->switching.OnSerialOn(); });
    console->chooser.groupIndex = 1;
    console->onGui([&] { console->switching.OnSerialOn(); });
    EXPECT_TRUE(testkit::waitFor([&] {
        return coretest::countLog({2, 6, "串行开分组2结束!"}) == 1;
    }));
    EXPECT_TRUE(fleet->find(71)->state().onOff);
    EXPECT_EQ(fleet->find(73)->received(protocol::NET_CMD_SERIAL), 0u);
    EXPECT_EQ(coretest::countLog({2, 6, "串行开分组1结束!"}), 0);
    console->onGui([&] { EXPECT_NE(switchingGroups().findSerialRecord(1), nullptr); });
}

}  // namespace
