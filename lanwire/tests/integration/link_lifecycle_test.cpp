// Start and stop of the link: refusals, closing everything, starting again.
#include <asio.hpp>

#include "link_fixture.h"
#include "protocol/console_frames.h"

using namespace linktest;
using namespace protocol;

TEST_F(LinkTest, AfterCancelSendsFailEverySocketIsClosedAndTheLinkStartsAgain) {
    SetWindowHand(&notices);
    ASSERT_TRUE(startLink());
    const std::uint16_t firstPort = port();
    ASSERT_NE(firstPort, 0);
    EXPECT_FALSE(InitLanwire(0, nullptr)) << "already running";
    simtcp::Knobs knobs;
    knobs.reconnectDelay = 20ms;
    std::vector<simtcp::SimDevice*> devices;
    for (std::size_t i = 0; i < 3; ++i) {
        devices.push_back(&addDevice(60 + i, static_cast<std::uint16_t>(701 + i), knobs));
    }
    for (auto* d : devices) expectRegistered(*d);
    const sockaddr_in peer = address(devices[0]->config().sourceAddress);
    DoNetReg(701, &peer);

    ASSERT_TRUE(CancelLanwire());
    const ConsoleFrame frame = buildConsoleFrame(NET_CMD_CHANNEL, 701, 1, 1);
    EXPECT_FALSE(TCPSend(frame.data(), frame.size(), peer));
    EXPECT_EQ(GetLanwirePort(), 0);
    EXPECT_TRUE(GetLanwireTickTable().empty());
    EXPECT_EQ(GetLanwireStats().connections, 0u);
    for (auto* d : devices) {
        EXPECT_TRUE(d->waitState([](const auto& s) { return s.closedByPeer >= 1; }))
            << "device " << d->id() << " still connected";
    }
    auto closed = notices.peers();
    std::sort(closed.begin(), closed.end());
    EXPECT_EQ(closed, (std::vector<std::string>{"127.0.0.62", "127.0.0.63", "127.0.0.64"}));
    EXPECT_TRUE(CancelLanwire()) << "a second stop is harmless";

    // Start again on the same port: the devices come back and register again.
    ASSERT_TRUE(startLink(firstPort));
    EXPECT_TRUE(TCPSend(frame.data(), frame.size(), peer));
    for (auto* d : devices) ASSERT_TRUE(recorder.waitCount(d->id(), NET_CMD_REGISTER, 2));
    EXPECT_EQ(GetLanwireStats().connections, 3u);
}

TEST_F(LinkTest, StartOnABusyPortFailsAndLeavesTheLinkStartable) {
    asio::io_context io;
    asio::ip::tcp::acceptor busy(io, {asio::ip::tcp::v4(), 0});
    ASSERT_FALSE(startLink(busy.local_endpoint().port()));
    EXPECT_EQ(GetLanwirePort(), 0);
    ASSERT_TRUE(startLink());
    EXPECT_NE(GetLanwirePort(), 0);
}

TEST_F(LinkTest, StartAndStopWriteTheirLogLines) {
    const std::size_t listen = logRowsWith("进入TCP监听线程!1").size();
    const std::size_t enter = logRowsWith("进入心跳计数线程").size();
    const std::size_t leave = logRowsWith("退出心跳计数线程").size();
    ASSERT_TRUE(startLink());
    CancelLanwire();
    const auto listenRows = logRowsWith("进入TCP监听线程!1");
    ASSERT_EQ(listenRows.size(), listen + 1);
    EXPECT_EQ(listenRows.back().type, 1);
    EXPECT_EQ(listenRows.back().childType, 1);
    const auto enterRows = logRowsWith("进入心跳计数线程");
    ASSERT_EQ(enterRows.size(), enter + 1);
    EXPECT_EQ(enterRows.back().type, 3);
    EXPECT_EQ(enterRows.back().childType, 4);
    EXPECT_EQ(logRowsWith("退出心跳计数线程").size(), leave + 1);
}

TEST_F(LinkTest, TheCallbackMayCallBackIntoTheLink) {
    ASSERT_TRUE(startLink());
    // As the console does: answer a registration with DoNetReg, a status with a send.
    recorder.setHook([](const Delivery& d) {
        if (d.command() == NET_CMD_REGISTER) DoNetReg(d.deviceId, &d.peer);
        if (d.command() == 3) {
            const ConsoleFrame f = buildConsoleFrame(NET_CMD_SET_NUMBER, d.deviceId, 4);
            TCPSend(f.data(), f.size(), d.peer);
            DeleteTickDevice(static_cast<std::uint16_t>(d.deviceId));
        }
    });
    auto& device = addDevice(70, 720, silent());
    ASSERT_TRUE(device.waitCommand(NET_CMD_HEARTBEAT, 1));
    EXPECT_EQ(GetLanwireTickTable().size(), 1u);
    device.sendStatus();
    ASSERT_TRUE(device.waitCommand(NET_CMD_SET_NUMBER, 1));
    // The frame may arrive before the hook's next call has run.
    EXPECT_TRUE(testkit::waitFor([] { return GetLanwireTickTable().empty(); }));
}
