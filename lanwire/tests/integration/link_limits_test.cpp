// Limits of the link: the descriptor reserve, the bounded write side, sends while stopped,
// the posted socket-closed notice, dump files that refuse planted links or lose lines to a full
// disk, and connections that never register.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <asio.hpp>
#include <filesystem>
#include <fstream>

#include "link_fixture.h"
#include "protocol/console_frames.h"
#include "protocol/device_frames.h"
#include "testkit/file_size_cap.h"

using namespace linktest;
using namespace protocol;

namespace {

// Restores the descriptor limit however the test ends.
class SoftLimit {
public:
    SoftLimit() { getrlimit(RLIMIT_NOFILE, &m_saved); }
    ~SoftLimit() { setrlimit(RLIMIT_NOFILE, &m_saved); }
    // Leaves `spare` descriptors above the lowest free one.
    bool leave(int spare) {
        const int probe = dup(0);
        if (probe < 0) return false;
        close(probe);
        rlimit limit = m_saved;
        limit.rlim_cur = static_cast<rlim_t>(probe + spare);
        return setrlimit(RLIMIT_NOFILE, &limit) == 0;
    }

private:
    rlimit m_saved{};
};

bool send(const ConsoleFrame& frame, const sockaddr_in& to) {
    return TCPSend(frame.data(), static_cast<std::uint32_t>(frame.size()), to);
}

}  // namespace

TEST_F(LinkTest, WhenOnlyTheDescriptorReserveIsLeftNewConnectionsAreClosedAndCounted) {
    options.descriptorReserve = 64;
    ASSERT_TRUE(startLink());
    auto& first = addDevice(0, 1221);
    expectRegistered(first);
    SoftLimit limit;
    // Room for the reserve and a few more: a device's own socket and the accepted one each
    // take a descriptor of this process.
    ASSERT_TRUE(limit.leave(64 + 4));
    std::size_t admitted = 0;
    std::size_t refused = 0;
    for (std::size_t i = 1; i <= 6; ++i) {
        simtcp::Knobs knobs;
        knobs.reconnect = false;
        auto& device = addDevice(i, static_cast<std::uint16_t>(1221 + i), knobs);
        ASSERT_TRUE(testkit::waitFor([&] {
            return !recorder.from(device.id(), NET_CMD_REGISTER).empty() ||
                   device.state().closedByPeer > 0;
        })) << i;
        (device.state().closedByPeer > 0 ? refused : admitted) += 1;
    }
    EXPECT_GE(admitted, 1u);
    EXPECT_GE(refused, 1u);
    EXPECT_EQ(GetLanwireStats().connectionsRefused, refused);
    // The reserve is still there for the rest of the program.
    std::vector<int> spare;
    for (int i = 0; i < 60; ++i) spare.push_back(dup(0));
    for (int fd : spare) {
        EXPECT_GE(fd, 0);
        if (fd >= 0) close(fd);
    }
    // Refusals are logged once per period, the first at once.
    const auto rows = logRowsWith("描述符余量不足,拒绝设备连接:1");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].type, 3);
    EXPECT_EQ(rows[0].childType, 4);
}

TEST_F(LinkTest, AFullOutboxRefusesSendsAndAStalledConnectionIsClosedWithoutHoldingOthers) {
    options.sendGap = 0ms;
    options.outboxLimit = 8;
    options.writeStallTimeout = 1s;
    ASSERT_TRUE(startLink());
    simtcp::Knobs knobs;
    knobs.reconnect = false;
    auto& stuck = addDevice(1, 1231, knobs);
    auto& other = addDevice(2, 1232);
    expectRegistered(stuck);
    expectRegistered(other);
    // Counted before the pause: from the pause on, a heartbeat may complete the device's
    // pending read at any moment. One more frame lets that read complete; after it the device
    // reads no more.
    const std::size_t before = stuck.frames().size();
    knobs.readPaused = true;
    stuck.setKnobs(knobs);
    ASSERT_TRUE(
        send(buildConsoleFrame(NET_CMD_SET_GROUP, 1231, 1), address(stuck.config().sourceAddress)));
    ASSERT_TRUE(testkit::waitFor([&] { return stuck.frames().size() > before; }));
    // Large blocks fill the kernel buffers; then the outbox fills and sends are refused.
    const std::vector<std::uint8_t> block(256 * 1024, 0x55);
    bool refused = false;
    for (int i = 0; i < 200 && !refused; ++i) {
        refused =
            SendToDevice(block.data(), static_cast<std::uint32_t>(block.size()),
                         address(stuck.config().sourceAddress)) == LanwireSendResult::OutboxFull;
        if (!refused) std::this_thread::yield();
    }
    EXPECT_TRUE(refused) << "the outbox of a device that reads nothing has no bound";
    // The older call says so too. While the kernel still takes bytes (its buffers may grow to
    // tens of MiB), the link can drain a block between two sends: once they are full, the
    // outbox stays full.
    EXPECT_TRUE(testkit::waitFor([&] {
        return !TCPSend(block.data(), static_cast<std::uint32_t>(block.size()),
                        address(stuck.config().sourceAddress));
    }));
    // The other device is served meanwhile.
    ASSERT_TRUE(
        send(buildConsoleFrame(NET_CMD_SET_GROUP, 1232, 3), address(other.config().sourceAddress)));
    EXPECT_TRUE(other.waitCommand(NET_CMD_SET_GROUP));
    // The stalled connection is closed after the time-out.
    // The connection leaves the list just before its row is written: wait for the row.
    EXPECT_TRUE(testkit::waitFor([] { return GetLanwireStats().connections == 1; }));
    const auto closedRow = "用户断开[sd2]:" + stuck.config().sourceAddress;
    EXPECT_TRUE(testkit::waitFor([&] { return !logRowsWith(closedRow).empty(); }));
    EXPECT_EQ(logRowsWith(closedRow).size(), 1u);
}

TEST_F(LinkTest, ALinkThatIsNotRunningRefusesSends) {
    asio::io_context io;
    asio::ip::tcp::acceptor taken(io, {asio::ip::tcp::v4(), 0});
    EXPECT_FALSE(startLink(taken.local_endpoint().port()));
    EXPECT_FALSE(send(buildConsoleFrame(NET_CMD_PARALLEL, 5, 1, 0, 1, 1), address("127.0.0.2")));
    const auto frame = buildConsoleFrame(NET_CMD_PARALLEL, 5, 1, 0, 1, 1);
    EXPECT_EQ(SendToDevice(frame.data(), 24, address("127.0.0.2")), LanwireSendResult::Stopped);
    ASSERT_TRUE(startLink());
    // No connection from that address: TCPSend still says true, the typed result tells.
    EXPECT_TRUE(send(buildConsoleFrame(NET_CMD_PARALLEL, 5, 1, 0, 1, 1), address("127.0.0.2")));
    EXPECT_EQ(SendToDevice(frame.data(), 24, address("127.0.0.2")),
              LanwireSendResult::NoConnection);
    CancelLanwire();
    EXPECT_FALSE(send(buildConsoleFrame(NET_CMD_PARALLEL, 5, 1, 0, 1, 1), address("127.0.0.2")));
}

TEST_F(LinkTest, TheSocketClosedNoticeIsPostedWithTheAddressByValue) {
    SetWindowHand(&notices);
    ASSERT_TRUE(startLink());
    simtcp::Knobs knobs;
    knobs.reconnect = false;
    auto& device = addDevice(3, 1241, knobs);
    expectRegistered(device);
    device.disconnect();
    ASSERT_TRUE(testkit::waitFor([&] { return notices.peers().size() == 1; }));
    EXPECT_EQ(notices.peers()[0], device.config().sourceAddress);
    EXPECT_EQ(notices.sends(), 0) << "a synchronous send can deadlock the window";
}

TEST_F(LinkTest, DumpFilesPlantedAsSymlinksAreRefusedAndLogged) {
    const std::string target = folder() + "elsewhere.txt";
    { std::ofstream(target) << "keep\n"; }
    std::filesystem::create_symlink(target, folder() + "testNote.ini");
    ASSERT_TRUE(startLink());
    auto& device = addDevice(4, 1251);
    expectRegistered(device);
    EXPECT_EQ(readFile("elsewhere.txt"), "keep\n");
    EXPECT_EQ(logRowsWith("转储文件是符号链接,拒绝写入:" + folder() + "testNote.ini").size(), 1u);
    EXPECT_NE(readFile("sendNote.ini"), "");  // the other dump still opens
}

TEST_F(LinkTest, ConnectionsNeverRegisteredAreClosedAndTheirRowsComeOncePerPeriod) {
    options.registrationTimeout = 300ms;
    options.clock = [this] { return clock.now(); };
    options.heartbeatPass = 5ms;
    ASSERT_TRUE(startLink());
    // The console accepts the registration of this one.
    recorder.setHook([](const Delivery& d) {
        if (d.deviceId == 1261) DoNetReg(d.deviceId, &d.peer);
    });
    simtcp::Knobs once;
    once.reconnect = false;
    auto& kept = addDevice(10, 1261, once);
    expectRegistered(kept);
    // These register, but nobody accepts their registration.
    auto& first = addDevice(11, 1262, once);
    ASSERT_TRUE(first.waitState([](const auto& s) { return s.closedByPeer == 1; }));
    auto& second = addDevice(12, 1263, once);
    ASSERT_TRUE(second.waitState([](const auto& s) { return s.closedByPeer == 1; }));
    EXPECT_EQ(GetLanwireStats().connectionsTimedOut, 2u);
    const std::string row = "未注册或半帧超时,关闭连接:1";
    EXPECT_EQ(logRowsWith(row).size(), 1u) << "the second close waits for the period";
    // The period ends on the link's clock: the next tick writes the waiting count.
    clock.advance(60s);
    EXPECT_TRUE(testkit::waitFor([&] { return logRowsWith(row).size() == 2; }));
    EXPECT_EQ(kept.state().closedByPeer, 0u);
    EXPECT_EQ(GetLanwireStats().connections, 1u);
}

TEST_F(LinkTest, FramesTheReceiveDumpCouldNotWriteAreLoggedWhenWritingResumes) {
    ASSERT_TRUE(startLink());
    auto& device = addDevice(13, 1271, silent());
    expectRegistered(device);
    logRowsWith("");  // the log store has written everything: nothing else writes a file now
    {
        // The disk is full: the next dump line does not fit.
        testkit::FileSizeCap full(std::filesystem::file_size(folder() + "testNote.ini") + 10);
        ASSERT_TRUE(full.set());
        for (int i = 0; i < 4; ++i) device.sendStatus();
        // Each frame is dumped before it is queued for the callback.
        ASSERT_TRUE(recorder.waitCount(1271, NET_CMD_STATUS, 4));
    }
    device.sendStatus();
    ASSERT_TRUE(recorder.waitCount(1271, NET_CMD_STATUS, 5));
    const auto rows = logRowsWith("转储文件写入失败,丢失4帧:" + folder() + "testNote.ini");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].type, 3);
    EXPECT_EQ(rows[0].childType, 8);
    // The dump holds the registration and the frame after the gap, whole.
    const std::string dump = readFile("testNote.ini");
    EXPECT_EQ(std::count(dump.begin(), dump.end(), '\n'), 3);
}
