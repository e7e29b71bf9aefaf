// Many devices at once: all register, all are supervised, all leave without a trace.
#include "link_fixture.h"
#include "protocol/frame_types.h"

using namespace linktest;
using namespace protocol;

TEST_F(LinkTest, TwoHundredDevicesConnectRegisterAndLeaveCleanly) {
    ASSERT_TRUE(startLink());
    recorder.setHook([](const Delivery& d) {
        if (d.command() == NET_CMD_REGISTER) DoNetReg(d.deviceId, &d.peer);
    });
    constexpr std::size_t kDevices = 200;
    for (std::size_t i = 0; i < kDevices; ++i) {
        fleet().add(simtcp::makeDeviceConfig(100 + i, static_cast<std::uint16_t>(1000 + i)));
    }
    fleet().start();
    for (std::size_t i = 0; i < kDevices; ++i) {
        ASSERT_TRUE(recorder.waitCount(static_cast<std::uint16_t>(1000 + i), NET_CMD_REGISTER, 1))
            << i;
    }
    // Each device got its heartbeat and keeps answering.
    ASSERT_TRUE(fleet().waitAll(
        [](const simtcp::SimDevice& d) { return d.received(NET_CMD_HEARTBEAT) >= 2; }));
    EXPECT_EQ(GetLanwireTickTable().size(), kDevices);
    EXPECT_EQ(GetLanwireStats().connections, kDevices);
    // Every registration came from its own address.
    for (std::size_t i = 0; i < kDevices; ++i) {
        const auto regs = recorder.from(static_cast<std::uint16_t>(1000 + i), NET_CMD_REGISTER);
        ASSERT_EQ(regs.size(), 1u);
        EXPECT_EQ(ipOf(regs[0].peer), simtcp::loopbackAddress(100 + i));
    }

    fleet().stop();
    EXPECT_TRUE(testkit::waitFor([] { return GetLanwireStats().connections == 0; }));
    EXPECT_TRUE(testkit::waitFor([] { return GetLanwireStats().bytesPending == 0; }));
}
