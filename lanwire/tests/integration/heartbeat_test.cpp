// Heartbeat supervision: counters per tick, the offline notice, removal, answers, addresses.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <vector>

#include <asio.hpp>

#include "link_fixture.h"
#include "protocol/console_frames.h"
#include "protocol/device_frames.h"

using namespace linktest;
using namespace protocol;

namespace {

class HeartbeatTest : public LinkTest {
protected:
    // Heartbeat thread driven by the manual clock: one tick per advanceTick().
    void useManualClock() {
        options.clock = [this] { return clock.now(); };
        options.heartbeatPass = 1ms;
    }
    void advanceTick() {
        const std::uint64_t before = GetLanwireStats().ticks;
        clock.advance(options.tickPeriod + 1ms);
        ASSERT_TRUE(testkit::waitFor([&] { return GetLanwireStats().ticks == before + 1; }));
    }
    int counterOf(std::uint16_t id) {
        for (const auto& e : GetLanwireTickTable()) {
            if (e.deviceId == id) return e.counter;
        }
        return -100;  // no entry
    }
};

}  // namespace

TEST_F(HeartbeatTest, SilentDeviceGoesOfflineAtTheFourthTickAndLeavesAtTheFifth) {
    useManualClock();
    ASSERT_TRUE(startLink());
    simtcp::Knobs knobs = silent();
    knobs.reconnect = false;
    auto& device = addDevice(0, 401, knobs);
    expectRegistered(device);
    const sockaddr_in peer = address(device.config().sourceAddress, 0);
    ASSERT_TRUE(DoNetReg(401, &peer));
    ASSERT_TRUE(device.waitCommand(NET_CMD_HEARTBEAT, 1));
    EXPECT_EQ(counterOf(401), 3);

    const std::uint64_t queuedBefore = GetLanwireStats().framesQueued;
    for (int expected : {2, 1, 0}) {
        advanceTick();
        EXPECT_EQ(counterOf(401), expected);
    }
    EXPECT_EQ(GetLanwireStats().framesQueued, queuedBefore) << "no notice before the 4th tick";
    EXPECT_TRUE(recorder.from(401, NET_CMD_OFFLINE).empty());

    advanceTick();  // 4th: the offline notice
    EXPECT_EQ(counterOf(401), -1);
    EXPECT_EQ(GetLanwireStats().framesQueued, queuedBefore + 1);
    ASSERT_TRUE(recorder.waitCount(401, NET_CMD_OFFLINE, 1));
    const Delivery notice = recorder.from(401, NET_CMD_OFFLINE).front();
    const OfflineNotice expected = buildOfflineNotice(401);
    EXPECT_EQ(notice.bytes, std::vector<std::uint8_t>(expected.begin(), expected.end()));
    EXPECT_EQ(ipOf(notice.peer), device.config().sourceAddress);
    EXPECT_EQ(GetLanwireStats().connections, 1u);

    advanceTick();  // 5th: entry and connection gone
    EXPECT_EQ(counterOf(401), -100);
    EXPECT_EQ(GetLanwireStats().connections, 0u);
    // The dropped connection is closed, so the device knows it has to come back.
    EXPECT_TRUE(device.waitState([](const auto& s) { return s.closedByPeer == 1; }));

    const auto zero = logRowsWith("心跳计数为零,离线包加入处理数组:401");
    ASSERT_EQ(zero.size(), 1u);
    EXPECT_EQ(zero[0].type, 3);
    EXPECT_EQ(zero[0].childType, 4);
    const auto removed = logRowsWith("AllMap计时移除设备:401");
    ASSERT_EQ(removed.size(), 1u);
    EXPECT_EQ(removed[0].type, 3);
    EXPECT_EQ(removed[0].childType, 4);
    EXPECT_EQ(recorder.from(401, NET_CMD_OFFLINE).size(), 1u);
}

// A device that answers after its offline notice was queued, but before the notice reached
// the callback, is online: the stale notice is dropped, so its record, row and supervision
// stay (before, the notice removed them all and left its connection open, unsupervised).
TEST_F(HeartbeatTest, AnOfflineNoticeOvertakenByAnAnswerIsDropped) {
    useManualClock();
    ASSERT_TRUE(startLink());
    simtcp::Knobs knobs = silent();
    knobs.reconnect = false;
    auto& device = addDevice(0, 409, knobs);
    expectRegistered(device);
    const sockaddr_in peer = address(device.config().sourceAddress, 0);
    ASSERT_TRUE(DoNetReg(409, &peer));
    // The callback is busy with a status frame while the notice is queued and the answer comes.
    // Shared with the hook, which may still run on the link's thread when the test ends.
    struct Gate {
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        std::atomic<bool> busy{false};
        void open() {
            if (!opened.exchange(true)) release.set_value();
        }
        std::atomic<bool> opened{false};
    };
    const auto gate = std::make_shared<Gate>();
    // A failed assertion must not leave the link's thread waiting.
    const std::unique_ptr<Gate, void (*)(Gate*)> openAtEnd(gate.get(), [](Gate* g) { g->open(); });
    recorder.setHook([gate](const Delivery& delivery) {
        if (delivery.command() != NET_CMD_STATUS || gate->busy.exchange(true)) return;
        gate->released.wait();
    });
    device.sendStatus();
    ASSERT_TRUE(testkit::waitFor([&] { return gate->busy.load(); }));
    for (int tick = 0; tick < 4; ++tick) advanceTick();
    ASSERT_EQ(counterOf(409), -1);
    device.sendFrame(buildDeviceHeader(NET_CMD_HEARTBEAT_ACK, 409));
    ASSERT_TRUE(testkit::waitFor([&] { return counterOf(409) == 3; }));
    gate->open();
    // Frames are handed over in order: once this one is in, the notice was dispatched.
    device.sendStatus();
    ASSERT_TRUE(recorder.waitCount(409, NET_CMD_STATUS, 2));
    EXPECT_TRUE(recorder.from(409, NET_CMD_OFFLINE).empty());
    EXPECT_EQ(counterOf(409), 3);
    EXPECT_EQ(logRowsWith("离线包已过时,设备仍在线:409").size(), 1u);
}

TEST_F(HeartbeatTest, AnsweringDeviceStaysUnderSupervisionTickAfterTick) {
    useManualClock();
    ASSERT_TRUE(startLink());
    auto& device = addDevice(1, 402);
    expectRegistered(device);
    const sockaddr_in peer = address(device.config().sourceAddress);
    DoNetReg(402, &peer);
    for (int tick = 0; tick < 25; ++tick) {
        advanceTick();
        // The next answer resets the counter before the following tick.
        ASSERT_TRUE(testkit::waitFor([&] { return counterOf(402) == 3; })) << "tick " << tick;
    }
    EXPECT_TRUE(recorder.from(402, NET_CMD_OFFLINE).empty());
    EXPECT_EQ(GetLanwireStats().connections, 1u);
    // Answers are never handed to the callback.
    EXPECT_TRUE(recorder.from(402, NET_CMD_HEARTBEAT_ACK).empty());
}

TEST_F(HeartbeatTest, WithAFastRealTickAnswersKeepOneDeviceAliveWhileASilentOneDrops) {
    // Fast, yet slow enough that a loaded machine still answers within three ticks.
    options.tickPeriod = 100ms;
    options.heartbeatPass = 5ms;
    options.heartbeatGap = 5ms;
    ASSERT_TRUE(startLink());
    auto& alive = addDevice(2, 403);
    simtcp::Knobs knobs = silent();
    knobs.reconnect = false;
    auto& quiet = addDevice(3, 404, knobs);
    expectRegistered(alive);
    expectRegistered(quiet);
    const sockaddr_in a = address(alive.config().sourceAddress);
    const sockaddr_in q = address(quiet.config().sourceAddress);
    DoNetReg(403, &a);
    DoNetReg(404, &q);
    ASSERT_TRUE(recorder.waitCount(404, NET_CMD_OFFLINE, 1));
    // Run on for 15 more ticks: the answering device never goes offline.
    const std::uint64_t ticks = GetLanwireStats().ticks;
    ASSERT_TRUE(testkit::waitFor([&] { return GetLanwireStats().ticks >= ticks + 15; }, 20s));
    EXPECT_TRUE(recorder.from(403, NET_CMD_OFFLINE).empty());
    EXPECT_EQ(GetLanwireTickTable().size(), 1u);
    EXPECT_GT(alive.received(NET_CMD_HEARTBEAT), 15u);
}

TEST_F(HeartbeatTest, AnswerForAnIdWithoutEntryIsDroppedWithoutAHeartbeat) {
    ASSERT_TRUE(startLink());
    auto& device = addDevice(4, 405, silent());
    expectRegistered(device);
    device.sendFrame(buildDeviceHeader(NET_CMD_HEARTBEAT_ACK, 405));
    device.sendStatus();
    ASSERT_TRUE(recorder.waitCount(405, NET_CMD_STATUS, 1));
    // A heartbeat queued for that answer would reach the device before this frame.
    const ConsoleFrame probe = buildConsoleFrame(NET_CMD_SET_GROUP, 405, 2);
    ASSERT_TRUE(TCPSend(probe.data(), probe.size(), address(device.config().sourceAddress)));
    ASSERT_TRUE(device.waitCommand(NET_CMD_SET_GROUP));
    EXPECT_EQ(device.received(NET_CMD_HEARTBEAT), 0u);
}

TEST_F(HeartbeatTest, DoNetRegAgainRefreshesTheCounterAndSendsAnotherHeartbeat) {
    useManualClock();
    ASSERT_TRUE(startLink());
    auto& first = addDevice(5, 406, silent());
    expectRegistered(first);
    const sockaddr_in a = address(first.config().sourceAddress);
    DoNetReg(406, &a);
    ASSERT_TRUE(first.waitCommand(NET_CMD_HEARTBEAT, 1));
    advanceTick();
    EXPECT_EQ(counterOf(406), 2);
    DoNetReg(406, &a);
    ASSERT_TRUE(first.waitCommand(NET_CMD_HEARTBEAT, 2));
    const auto heartbeat = first.frames(NET_CMD_HEARTBEAT).back().bytes;
    const ConsoleFrame expected = buildHeartbeatFrame(406);
    EXPECT_EQ(heartbeat, std::vector<std::uint8_t>(expected.begin(), expected.end()));
    const auto table = GetLanwireTickTable();
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(ipOf(table[0].address), first.config().sourceAddress);
    EXPECT_EQ(table[0].counter, 3);

    const auto created = logRowsWith("0注册成功发送一次心跳包:406");
    const auto refreshed = logRowsWith("1注册成功发送一次心跳包:406");
    ASSERT_EQ(created.size(), 1u);
    ASSERT_EQ(refreshed.size(), 1u);
    EXPECT_EQ(created[0].type, 2);
    EXPECT_EQ(created[0].childType, 4);
    EXPECT_EQ(refreshed[0].type, 2);

    EXPECT_TRUE(DeleteTickDevice(406));
    EXPECT_TRUE(GetLanwireTickTable().empty());
}

TEST_F(HeartbeatTest, DuplicateConnectionIsRefusedClosedAndTheHeartbeatResent) {
    ASSERT_TRUE(startLink());
    auto& device = addDevice(7, 408, silent());
    expectRegistered(device);
    const sockaddr_in peer = address(device.config().sourceAddress);
    DoNetReg(408, &peer);
    ASSERT_TRUE(device.waitCommand(NET_CMD_HEARTBEAT, 1));

    // A second connection from the same address.
    asio::io_context io;
    asio::ip::tcp::socket second(io);
    second.open(asio::ip::tcp::v4());
    second.bind({asio::ip::make_address(device.config().sourceAddress), 0});
    second.connect({asio::ip::make_address("127.0.0.1"), port()});
    std::array<std::uint8_t, 16> buffer{};
    std::error_code error;
    const std::size_t n = second.read_some(asio::buffer(buffer), error);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(error, asio::error::eof) << "the refused connection is closed";

    // The supervised device gets its heartbeat again, on its listed connection.
    ASSERT_TRUE(device.waitCommand(NET_CMD_HEARTBEAT, 2));
    EXPECT_EQ(GetLanwireStats().connections, 1u);
    const auto rows = logRowsWith("carraySocket列表中已有设备:" + device.config().sourceAddress);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].type, 3);
    EXPECT_EQ(rows[0].childType, 4);
}

TEST_F(HeartbeatTest, AnsweringDeviceGetsAtMostOneHeartbeatPer100ms) {
    ASSERT_TRUE(startLink());
    auto& device = addDevice(8, 409);
    expectRegistered(device);
    const sockaddr_in peer = address(device.config().sourceAddress);
    const auto start = std::chrono::steady_clock::now();
    DoNetReg(409, &peer);
    ASSERT_TRUE(device.waitCommand(NET_CMD_HEARTBEAT, 6));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // Written at least 100 ms apart, although the device answers at once.
    // The write is logged when it completes, which may be just after the device read it.
    std::vector<Written> beats;
    ASSERT_TRUE(testkit::waitFor([&] {
        beats = writes.to(device.config().sourceAddress, NET_CMD_HEARTBEAT);
        return beats.size() >= 6;
    }));
    for (std::size_t i = 1; i < beats.size(); ++i) {
        EXPECT_GE(beats[i].at - beats[i - 1].at, 100ms) << i;
    }
    EXPECT_GE(elapsed, 500ms);
}

TEST_F(HeartbeatTest, HeartbeatsOfSeveralDevicesShareGridSlotsAtTheRateTheGapSets) {
    options.heartbeatGap = 50ms;  // five steps of 10 ms
    constexpr auto kStep = 10ms;
    ASSERT_TRUE(startLink());
    auto& first = addDevice(5, 406);
    auto& second = addDevice(6, 407);
    for (auto* device : {&first, &second}) {
        expectRegistered(*device);
        const sockaddr_in peer = address(device->config().sourceAddress);
        ASSERT_TRUE(DoNetReg(device->id(), &peer));
    }
    for (auto* device : {&first, &second}) {
        const std::string ip = device->config().sourceAddress;
        ASSERT_TRUE(
            testkit::waitFor([&] { return writes.to(ip, NET_CMD_HEARTBEAT).size() >= 14; }));
        const auto beats = writes.to(ip, NET_CMD_HEARTBEAT);
        // After the first (sent at registration), heartbeats go out at the start of a step
        // that every connection shares, not at each device's own phase. A loaded machine
        // delays some writes past the first half of their step (a third of them seen here).
        int inSlot = 0;
        for (std::size_t i = 1; i < beats.size(); ++i) {
            if (beats[i].at.time_since_epoch() % kStep < kStep / 2) ++inSlot;
        }
        EXPECT_GE(inSlot * 10, static_cast<int>(beats.size() - 1) * 6) << device->id();
        // Writes spread over a slot do not add up: the period stays the gap. If they added
        // up, no period would be shorter than the gap plus a step; on a loaded machine many
        // writes come late, so a quarter of the periods on the gap decides.
        std::vector<std::chrono::nanoseconds> periods;
        for (std::size_t i = 2; i < beats.size(); ++i)
            periods.push_back(beats[i].at - beats[i - 1].at);
        std::nth_element(periods.begin(), periods.begin() + periods.size() / 4, periods.end());
        EXPECT_LT(periods[periods.size() / 4], options.heartbeatGap + 3ms) << device->id();
    }
}
