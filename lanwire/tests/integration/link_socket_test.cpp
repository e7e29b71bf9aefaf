// The socket side of a connection: reads that find more than one buffer's worth waiting,
// writes that find the socket full and resume when the device reads again, and more sockets
// ready at once than one batch of the thread's epoll set takes.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "link_fixture.h"
#include "protocol/console_frames.h"
#include "protocol/device_frames.h"

using namespace linktest;
using namespace protocol;

TEST_F(LinkTest, ABurstOfManyBuffersInOneWriteIsReadToTheLastFrame) {
    ASSERT_TRUE(startLink());
    auto& device = addDevice(21, 2101);
    expectRegistered(device);
    // Far more than one read takes; a reader that stopped after a full buffer would wait
    // for bytes that never come.
    constexpr std::uint32_t kFrames = 1500;
    std::vector<std::uint8_t> burst;
    for (std::uint32_t tag = 0; tag < kFrames; ++tag) {
        StatusPayload status;
        status.header.deviceId = 2101;
        status.header.value = tag;
        const auto frame = buildStatusFrame(NET_CMD_STATUS, status);
        burst.insert(burst.end(), frame.begin(), frame.end());
    }
    ASSERT_GT(burst.size(), 4 * 8192u);
    device.sendRaw(burst);
    ASSERT_TRUE(recorder.waitCount(2101, NET_CMD_STATUS, kFrames));
    const auto got = recorder.from(2101, NET_CMD_STATUS);
    ASSERT_EQ(got.size(), kFrames);
    for (std::uint32_t tag = 0; tag < kFrames; ++tag) {
        ASSERT_EQ(decodeHeader(got[tag].bytes)->value, tag) << "frame " << tag;
    }
}

TEST_F(LinkTest, WritesThatFoundTheSocketFullResumeWhenTheDeviceReadsAgain) {
    options.sendGap = 0ms;
    options.outboxLimit = 4;
    options.writeStallTimeout = 60s;
    ASSERT_TRUE(startLink());
    // A peer that reads only when the test says so.
    const int peer = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(peer, 0);
    const sockaddr_in from = address("127.0.0.77");
    const sockaddr_in console = address("127.0.0.1", port());
    ASSERT_EQ(::bind(peer, reinterpret_cast<const sockaddr*>(&from), sizeof from), 0);
    ASSERT_EQ(::connect(peer, reinterpret_cast<const sockaddr*>(&console), sizeof console), 0);
    const timeval patience{20, 0};  // a write that never resumes fails the test, not hangs it
    ::setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    ASSERT_TRUE(testkit::waitFor([] { return GetLanwireStats().connections == 1; }));
    // Blocks until the outbox refuses: the socket is full and a write waits for it.
    const std::vector<std::uint8_t> block(256 * 1024, 0x55);
    std::size_t queued = 0;
    bool refused = false;
    while (!refused && queued < 400) {
        const auto result =
            SendToDevice(block.data(), static_cast<std::uint32_t>(block.size()), from);
        ASSERT_NE(result, LanwireSendResult::NoConnection);
        refused = result == LanwireSendResult::OutboxFull;
        if (!refused) ++queued;
    }
    ASSERT_TRUE(refused);
    // The peer reads again: the writes resume, and a frame queued after the blocks arrives
    // behind every byte of them.
    const auto order = buildConsoleFrame(NET_CMD_SET_GROUP, 2201, 4);
    std::size_t expected = queued * block.size() + order.size();
    std::vector<std::uint8_t> tail;
    bool orderQueued = false;
    std::size_t got = 0;
    std::vector<std::uint8_t> buffer(64 * 1024);
    while (got < expected) {
        if (!orderQueued) {
            orderQueued = TCPSend(order.data(), static_cast<std::uint32_t>(order.size()), from);
        }
        const ssize_t count = ::recv(peer, buffer.data(), buffer.size(), 0);
        ASSERT_GT(count, 0);
        got += static_cast<std::size_t>(count);
        tail.insert(tail.end(), buffer.begin(), buffer.begin() + count);
        if (tail.size() > order.size()) tail.erase(tail.begin(), tail.end() - order.size());
    }
    ::close(peer);
    EXPECT_TRUE(orderQueued);
    EXPECT_EQ(got, expected);
    EXPECT_TRUE(std::equal(order.begin(), order.end(), tail.begin()));
}

TEST_F(LinkTest, MoreDevicesReadyAtOnceThanOneBatchAllRegister) {
    // The only I/O loop is held inside the write of the first heartbeat while 300 devices
    // connect and send their registrations: when it is let go, more sockets are ready than one
    // batch takes (256), and nothing else arrives to wake the loop for the rest.
    ASSERT_TRUE(startLinkHeldAtFirstHeartbeat(1000, 5000));

    constexpr std::size_t kReady = 300;
    for (std::size_t i = 1; i <= kReady; ++i) {
        addDevice(1000 + i, static_cast<std::uint16_t>(5000 + i));
    }
    ASSERT_TRUE(testkit::waitFor([] { return GetLanwireStats().connections == kReady + 1; }));
    releaseIoLoop();
    for (std::size_t i = 1; i <= kReady; ++i) expectRegistered(fleet().device(i));
}
