// The send path: per-device pacing and order, no waiting on other devices, drops, the dump.
#include <regex>
#include <sstream>

#include "link_fixture.h"
#include "protocol/console_frames.h"
#include "protocol/device_frames.h"

using namespace linktest;
using namespace protocol;

namespace {

bool send(const ConsoleFrame& frame, const sockaddr_in& to) {
    return TCPSend(frame.data(), static_cast<std::uint32_t>(frame.size()), to);
}

}  // namespace

TEST_F(LinkTest, FramesToOneDeviceKeepOrderAndGapWhileAnotherDeviceIsNotDelayed) {
    ASSERT_TRUE(startLink());
    auto& slow = addDevice(30, 601, silent());
    auto& other = addDevice(31, 602, silent());
    expectRegistered(slow);
    expectRegistered(other);
    const sockaddr_in a = address(slow.config().sourceAddress);
    const sockaddr_in b = address(other.config().sourceAddress);
    for (std::uint8_t outlet = 1; outlet <= 5; ++outlet) {
        ASSERT_TRUE(send(buildConsoleFrame(NET_CMD_CHANNEL, 601, outlet, 1), a));
    }
    ASSERT_TRUE(send(buildConsoleFrame(NET_CMD_CHANNEL, 602, 9, 1), b));
    ASSERT_TRUE(slow.waitCommand(NET_CMD_CHANNEL, 5));
    ASSERT_TRUE(other.waitCommand(NET_CMD_CHANNEL, 1));

    const auto frames = slow.frames(NET_CMD_CHANNEL);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].param(0), i + 1) << "queue order";
    }
    // The gaps are measured where the link writes: arrival times on the device side also
    // carry its reading thread's scheduling delays.
    // A write is logged when it completes, which may be just after the device read it.
    std::vector<Written> written;
    ASSERT_TRUE(testkit::waitFor([&] {
        written = writes.to(slow.config().sourceAddress, NET_CMD_CHANNEL);
        return written.size() == 5;
    }));
    for (std::size_t i = 1; i < written.size(); ++i) {
        EXPECT_GE(written[i].at - written[i - 1].at, 10ms) << i;
    }
    // The other device's frame did not wait behind the 40 ms of pacing to the first one.
    std::vector<Written> otherWritten;
    ASSERT_TRUE(testkit::waitFor([&] {
        otherWritten = writes.to(other.config().sourceAddress, NET_CMD_CHANNEL);
        return otherWritten.size() == 1;
    }));
    EXPECT_LT(otherWritten[0].at, written[1].at);
    EXPECT_LT(other.frames(NET_CMD_CHANNEL).front().at, frames.back().at);
}

TEST_F(LinkTest, AFrameForAnAddressWithoutConnectionIsDroppedAndReachesNoOtherDevice) {
    ASSERT_TRUE(startLink());
    auto& bystander = addDevice(40, 1, silent());
    expectRegistered(bystander);
    const std::uint64_t dropped = GetLanwireStats().sendsDropped;
    const std::uint64_t sent = GetLanwireStats().framesSent;
    EXPECT_TRUE(send(buildConsoleFrame(NET_CMD_CHANNEL, 1, 1, 1), address("127.0.0.250")));
    EXPECT_TRUE(testkit::waitFor([&] { return GetLanwireStats().sendsDropped == dropped + 1; }));
    // A misrouted frame would reach the only connection before this probe.
    EXPECT_TRUE(send(buildConsoleFrame(NET_CMD_SET_GROUP, 1, 2),
                     address(bystander.config().sourceAddress)));
    ASSERT_TRUE(bystander.waitCommand(NET_CMD_SET_GROUP));
    EXPECT_EQ(bystander.received(NET_CMD_CHANNEL), 0u);
    EXPECT_TRUE(testkit::waitFor([&] { return GetLanwireStats().framesSent >= sent + 1; }));
    EXPECT_EQ(GetLanwireStats().framesSent, sent + 1);
}

TEST_F(LinkTest, SentFramesAreDumpedButHeartbeatsAreNot) {
    ASSERT_TRUE(startLink());
    auto& device = addDevice(32, 603, silent());
    expectRegistered(device);
    const sockaddr_in peer = address(device.config().sourceAddress);
    DoNetReg(603, &peer);
    ASSERT_TRUE(send(buildConsoleFrame(NET_CMD_CHANNEL, 603, 3, 1), peer));
    ASSERT_TRUE(send(buildConsoleFrame(NET_CMD_SET_MODE, 603, 1), peer));
    ASSERT_TRUE(device.waitCommand(NET_CMD_SET_MODE));
    ASSERT_EQ(device.received(NET_CMD_HEARTBEAT), 1u);
    // The dump line is written when the write completes, just after the device may read it.
    std::vector<std::string> lines;
    ASSERT_TRUE(testkit::waitFor([&] {
        lines.clear();
        std::stringstream in(readFile("sendNote.ini"));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines.size() >= 3;
    }));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "[SendDataNote]");
    const std::regex key(R"(^\d{14}-(\d+)=(.*)$)");
    std::smatch m1;
    std::smatch m2;
    ASSERT_TRUE(std::regex_match(lines[1], m1, key)) << lines[1];
    ASSERT_TRUE(std::regex_match(lines[2], m2, key)) << lines[2];
    EXPECT_EQ(m1[2].str(),
              "FA.FD.FC.FE.18.00.00.00.68.00.00.00.00.00.00.00.5B.02.00.00.03.01.00.00.");
    EXPECT_EQ(std::stoul(m2[1].str()), std::stoul(m1[1].str()) + 1);
}

TEST_F(LinkTest, ALongerFrameWithTheHeartbeatCommandGoesWholeAsACommand) {
    // Heartbeats are kept as fixed-size console frames; a frame of another size that carries
    // the heartbeat command must neither be cut to that size nor overrun it.
    ASSERT_TRUE(startLink());
    auto& device = addDevice(33, 604, silent());
    expectRegistered(device);
    const sockaddr_in peer = address(device.config().sourceAddress);
    const ConsoleFrame heartbeat = buildHeartbeatFrame(604);
    std::vector<std::uint8_t> longer(heartbeat.begin(), heartbeat.end());
    longer.resize(40, 0x5A);
    longer[4] = static_cast<std::uint8_t>(longer.size());
    ASSERT_TRUE(TCPSend(longer.data(), static_cast<std::uint32_t>(longer.size()), peer));
    ASSERT_TRUE(testkit::waitFor([&] {
        for (const auto& frame : device.frames(NET_CMD_HEARTBEAT)) {
            if (frame.bytes == longer) return true;
        }
        return false;
    }));
    EXPECT_TRUE(testkit::waitFor(
        [&] { return readFile("sendNote.ini").find(".5A.5A.") != std::string::npos; }));
}

TEST_F(LinkTest, ACommandWaitingItsSendGapIsNotHeldUntilTheNextHeartbeat) {
    // The I/O thread's one timer is armed for the device's next heartbeat, some 250 ms out; a
    // second command, due one send gap after the first, must bring it forward.
    options.ioThreads = 1;
    ASSERT_TRUE(startLink());
    auto& device = addDevice(34, 605);
    expectRegistered(device);
    const sockaddr_in peer = address(device.config().sourceAddress);
    ASSERT_TRUE(DoNetReg(605, &peer));
    ASSERT_TRUE(device.waitCommand(NET_CMD_HEARTBEAT, 2));
    // Room for the answer to come back: the next heartbeat is then about 230 ms away.
    std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(send(buildConsoleFrame(NET_CMD_CHANNEL, 605, 1, 1), peer));
    ASSERT_TRUE(send(buildConsoleFrame(NET_CMD_CHANNEL, 605, 2, 1), peer));
    std::vector<Written> written;
    ASSERT_TRUE(testkit::waitFor([&] {
        written = writes.to(device.config().sourceAddress, NET_CMD_CHANNEL);
        return written.size() == 2;
    }));
    EXPECT_GE(written[1].at - written[0].at, 10ms);
    EXPECT_LT(written[1].at - written[0].at, 150ms);
}

TEST_F(LinkTest, OrdersToManyDevicesLeaveTogetherNotTenMillisecondsApart) {
    ASSERT_TRUE(startLink());
    constexpr std::size_t kDevices = 40;
    for (std::size_t i = 0; i < kDevices; ++i) {
        addDevice(40 + i, static_cast<std::uint16_t>(610 + i), silent());
    }
    ASSERT_TRUE(fleet().waitAll([](const simtcp::SimDevice& d) { return d.state().connected; }));
    for (std::size_t i = 0; i < kDevices; ++i) expectRegistered(fleet().device(i));
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < kDevices; ++i) {
        const auto& d = fleet().device(i);
        ASSERT_TRUE(send(buildConsoleFrame(NET_CMD_PARALLEL, d.id(), 1, 0,
                                           static_cast<std::uint8_t>(i + 1), kDevices),
                         address(d.config().sourceAddress)));
    }
    ASSERT_TRUE(fleet().waitAll(
        [](const simtcp::SimDevice& d) { return d.received(NET_CMD_PARALLEL) == 1; }));
    // One send thread pausing 10 ms per frame would need 390 ms from the first write to the
    // last; here the orders left side by side.
    std::chrono::steady_clock::time_point first = std::chrono::steady_clock::time_point::max();
    std::chrono::steady_clock::time_point last{};
    for (std::size_t i = 0; i < kDevices; ++i) {
        std::vector<Written> w;
        ASSERT_TRUE(testkit::waitFor([&] {
            w = writes.to(fleet().device(i).config().sourceAddress, NET_CMD_PARALLEL);
            return w.size() == 1;
        }));
        first = std::min(first, w[0].at);
        last = std::max(last, w[0].at);
        EXPECT_GE(w[0].at, start);
    }
    EXPECT_LT(last - first, (kDevices - 1) * 10ms);
    // And every device carried the order out.
    for (std::size_t i = 0; i < kDevices; ++i) {
        ASSERT_TRUE(recorder.waitCount(fleet().device(i).id(), NET_CMD_STEP_DONE, 1));
    }
}

TEST_F(LinkTest, FramesFromManyThreadsReachDevicesOnEveryIoThreadCompleteAndInOrder) {
    // Connections are spread over three I/O threads; four caller threads send to all of them
    // at once, so frames cross from every thread to every other one.
    options.ioThreads = 3;
    options.sendGap = 0ms;
    ASSERT_TRUE(startLink());
    constexpr int kDevices = 9;
    constexpr int kSenders = 4;
    constexpr int kFramesPerSender = 15;
    std::vector<simtcp::SimDevice*> devices;
    std::vector<sockaddr_in> peers;
    for (int i = 0; i < kDevices; ++i) {
        auto& device = addDevice(40 + i, static_cast<std::uint16_t>(620 + i), silent());
        expectRegistered(device);
        devices.push_back(&device);
        peers.push_back(address(device.config().sourceAddress));
    }
    const std::uint64_t droppedBefore = GetLanwireStats().sendsDropped;
    std::vector<std::thread> senders;
    for (int s = 0; s < kSenders; ++s) {
        senders.emplace_back([&, s] {
            for (int n = 1; n <= kFramesPerSender; ++n) {
                for (int i = 0; i < kDevices; ++i) {
                    // Outlet: the sender; state: the sequence number within that sender.
                    send(buildConsoleFrame(NET_CMD_CHANNEL, static_cast<std::uint16_t>(620 + i),
                                           static_cast<std::uint8_t>(s + 1),
                                           static_cast<std::uint8_t>(n)),
                         peers[i]);
                }
            }
        });
    }
    for (auto& t : senders) t.join();
    for (int i = 0; i < kDevices; ++i) {
        ASSERT_TRUE(devices[i]->waitCommand(NET_CMD_CHANNEL, kSenders * kFramesPerSender))
            << "device " << i;
        // Each sender's frames arrive in the order that sender queued them.
        std::vector<int> last(kSenders + 1, 0);
        for (const auto& frame : devices[i]->frames(NET_CMD_CHANNEL)) {
            const auto sender = frame.param(0);
            ASSERT_GE(sender, 1u);
            ASSERT_LE(sender, static_cast<unsigned>(kSenders));
            EXPECT_EQ(static_cast<int>(frame.param(1)), last[sender] + 1)
                << "device " << i << ", sender " << sender;
            last[sender] = static_cast<int>(frame.param(1));
        }
    }
    EXPECT_EQ(GetLanwireStats().sendsDropped, droppedBefore);
}

// Heartbeat gap against send gap: heartbeats rarer than the send slots, and heartbeats due at
// every slot (which must not starve the commands either).
struct PriorityCase {
    std::chrono::milliseconds heartbeatGap;
    int commands;
};

class HeartbeatPriorityTest : public LinkTest,
                              public ::testing::WithParamInterface<PriorityCase> {};

TEST_P(HeartbeatPriorityTest, HeartbeatsGoAheadOfQueuedCommandsSoABusyDeviceStaysOnline) {
    // The commands take a second at the 10 ms gap; supervision reports a device whose answers
    // stop for three 100 ms ticks.
    options.tickPeriod = 100ms;
    options.heartbeatPass = 5ms;
    options.heartbeatGap = GetParam().heartbeatGap;
    ASSERT_TRUE(startLink());
    auto& device = addDevice(60, 701);
    expectRegistered(device);
    const sockaddr_in peer = address(device.config().sourceAddress);
    ASSERT_TRUE(DoNetReg(701, &peer));
    ASSERT_TRUE(device.waitCommand(NET_CMD_HEARTBEAT, 2));
    const int kCommands = GetParam().commands;
    const auto commandCount = static_cast<std::size_t>(kCommands);
    for (int k = 0; k < kCommands; ++k) {
        ASSERT_EQ(SendToDevice(
                      buildConsoleFrame(NET_CMD_CHANNEL, 701, static_cast<std::uint8_t>(k % 16 + 1),
                                        static_cast<std::uint8_t>(k / 16))
                          .data(),
                      24, peer),
                  LanwireSendResult::Queued);
    }
    ASSERT_TRUE(device.waitCommand(NET_CMD_CHANNEL, commandCount))
        << device.received(NET_CMD_CHANNEL) << " of " << kCommands << " commands arrived";
    EXPECT_TRUE(recorder.from(701, NET_CMD_OFFLINE).empty()) << "declared offline while busy";
    const auto commands = device.frames(NET_CMD_CHANNEL);
    for (int k = 0; k < kCommands; ++k) {
        EXPECT_EQ(commands[k].param(0), k % 16 + 1) << "queue order";
        EXPECT_EQ(commands[k].param(1), k / 16) << "queue order";
    }
    // Heartbeats went out among the commands, and the commands kept their gap.
    std::vector<Written> written;
    ASSERT_TRUE(testkit::waitFor([&] {
        written = writes.to(device.config().sourceAddress, NET_CMD_CHANNEL);
        return written.size() == commandCount;
    }));
    for (std::size_t i = 1; i < written.size(); ++i) {
        EXPECT_GE(written[i].at - written[i - 1].at, 10ms) << i;
    }
    std::size_t heartbeatsAmongCommands = 0;
    for (const auto& h : writes.to(device.config().sourceAddress, NET_CMD_HEARTBEAT)) {
        heartbeatsAmongCommands += h.at > written.front().at && h.at < written.back().at;
    }
    EXPECT_GE(heartbeatsAmongCommands, 10u);
}

INSTANTIATE_TEST_SUITE_P(Gaps, HeartbeatPriorityTest,
                         ::testing::Values(PriorityCase{50ms, 100}, PriorityCase{5ms, 50}));
