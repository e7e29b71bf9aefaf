// End to end: the runner sends a due task's 16 outlet frames over the real link to a
// simulated sequencer on loopback, which switches its outlets accordingly.
#include <gtest/gtest.h>

#include <span>
#include <vector>

#include "chronstore/chronstore.h"
#include "devroster/devroster.h"
#include "lanwire/lanwire.h"
#include "lanwire/lanwire_options.h"
#include "protocol/device_frames.h"
#include "runner_fixture.h"
#include "simtcp/sim_fleet.h"

namespace chrontest {
namespace {

// What the command channel does with a registration, reduced to what the runner needs: the
// device goes into the registry with the address of its connection.
int fileRegistrations(std::uint32_t, sockaddr_in peer, const std::uint8_t* data,
                      std::int32_t length) {
    if (length <= 0) return 0;
    const auto block = std::span<const std::uint8_t>(data, static_cast<std::size_t>(length));
    const auto registration = protocol::decodeRegister(block);
    if (!registration || registration->header.command != protocol::NET_CMD_REGISTER) return 0;
    auto device = std::make_shared<CDeviceBase>();
    device->SetDeviceID(registration->header.deviceId);
    device->SetDeviceName(registration->name);
    device->SetDeviceSockIPAddr(peer);
    device->SetOnLine(true);
    if (PlusDevice(device)) PlusDevtoArray(device->GetDeviceID());
    DoNetReg(registration->header.deviceId, &peer);
    return 0;
}

class LinkTest : public RunnerTest {
protected:
    LinkTest() : RunnerTest(50) {}
};

TEST_F(LinkTest, DueTaskSwitchesTheOutletsOfASimulatedDevice) {
    LanwireOptions options = GetLanwireOptions();
    options.programFolder = m_dir.path().string() + "/";
    SetLanwireOptions(options);
    ASSERT_TRUE(InitLanwire(0, fileRegistrations));
    const std::uint16_t port = GetLanwirePort();
    ASSERT_NE(port, 0);
    ASSERT_NE(port, 6000);

    simtcp::SimFleet fleet("127.0.0.1", port);
    simtcp::DeviceConfig config = simtcp::makeDeviceConfig(0, 301);
    config.outlets = 0x000A;  // outlets 2 and 4 on before the task
    simtcp::SimDevice& device = fleet.add(config);
    fleet.start();
    ASSERT_TRUE(testkit::waitFor([] { return FindDevice(301) != nullptr; }));

    // Outlets 1, 3 and 16 on, all others off.
    TimTaskPoint_ task = makeTask("联动", kTaskDateMode, hms(8, 0, 0), hms(9, 0, 0));
    task.devList = {makeDevice(301, {1, 3, 16})};
    task.devCount = 1;
    PlusTTPoint(task);
    m_clock->set(2024, 1, 29, 8, 0, 0);
    SetChronrunOptions({m_clock, nullptr});  // frames leave through TCPSend
    ASSERT_TRUE(InitChronrun());

    ASSERT_TRUE(device.waitCommand(protocol::NET_CMD_CHANNEL, 16, std::chrono::seconds(30)));
    const auto frames = device.frames(protocol::NET_CMD_CHANNEL);
    ASSERT_EQ(frames.size(), 16u);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        const int outlet = static_cast<int>(i) + 1;
        ASSERT_EQ(frames[i].bytes.size(), 24u);
        EXPECT_EQ(frames[i].param(0), outlet);
        EXPECT_EQ(frames[i].param(1), outlet == 1 || outlet == 3 || outlet == 16 ? 1 : 0);
        EXPECT_EQ(frames[i].bytes[16], 301 & 0xFF);
        EXPECT_EQ(frames[i].bytes[17], 301 >> 8);
    }
    EXPECT_TRUE(
        device.waitState([](const simtcp::DeviceState& state) { return state.outlets == 0x8005; }));
    EXPECT_TRUE(waitLogLine("定时任务[联动]执行设备[SIM301]完成."));

    ReleaseChronrun();
    fleet.stop();
    CancelLanwire();
}

}  // namespace
}  // namespace chrontest
