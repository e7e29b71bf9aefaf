// The receive path: framing, checks, the dispatch thread, the receive queue bound, the dump.
#include <algorithm>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <regex>
#include <set>

#include "link_fixture.h"
#include "protocol/device_frames.h"

using namespace linktest;
using namespace protocol;

namespace {

std::vector<std::uint8_t> statusFrame(std::uint16_t id, std::uint32_t tag) {
    StatusPayload status;
    status.header.deviceId = id;
    status.header.value = tag;
    status.outlets = expandChannelWord(static_cast<std::uint16_t>(tag));
    return buildStatusFrame(NET_CMD_STATUS, status);
}

// A status report as a simulated device in its initial state sends it.
std::vector<std::uint8_t> simStatus(std::uint16_t id, std::uint32_t tag) {
    StatusPayload status;
    status.header.deviceId = id;
    status.header.value = tag;
    return buildStatusFrame(NET_CMD_STATUS, status);
}

std::vector<std::uint32_t> tagsOf(const std::vector<Delivery>& deliveries) {
    std::vector<std::uint32_t> tags;
    for (const auto& d : deliveries) tags.push_back(decodeHeader(d.bytes)->value);
    return tags;
}

std::vector<std::uint32_t> range(std::uint32_t from, std::uint32_t to) {
    std::vector<std::uint32_t> out;
    for (std::uint32_t i = from; i < to; ++i) out.push_back(i);
    return out;
}

}  // namespace

TEST_F(LinkTest, FramesReachTheCallbackWithIdPeerAndExactBytesOnOneThread) {
    ASSERT_TRUE(startLink());
    auto& a = addDevice(10, 501);
    auto& b = addDevice(11, 502);
    expectRegistered(a);
    expectRegistered(b);
    a.sendStatus(NET_CMD_STATUS, 77);
    b.sendStepDone();
    ASSERT_TRUE(recorder.waitCount(501, NET_CMD_STATUS, 1));
    ASSERT_TRUE(recorder.waitCount(502, NET_CMD_STEP_DONE, 1));

    const Delivery reg = recorder.from(501, NET_CMD_REGISTER).front();
    EXPECT_EQ(ipOf(reg.peer), "127.0.0.12");
    EXPECT_EQ(reg.bytes.size(), 65u);
    const auto decoded = decodeRegister(reg.bytes);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->name, "SIM501");
    EXPECT_EQ(recorder.from(501, NET_CMD_STATUS).front().bytes, simStatus(501, 77));
    EXPECT_EQ(ipOf(recorder.from(502, NET_CMD_STEP_DONE).front().peer), "127.0.0.13");

    std::set<std::thread::id> threads;
    for (const auto& d : recorder.all()) threads.insert(d.thread);
    EXPECT_EQ(threads.size(), 1u) << "one dispatch thread calls the callback";
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
}

TEST_F(LinkTest, TwoStatusFramesInOne52ByteBlockNowGiveTwoFrames) {
    ASSERT_TRUE(startLink());
    auto& device = addDevice(12, 503);
    expectRegistered(device);
    std::vector<std::uint8_t> block = statusFrame(503, 1);
    const auto second = statusFrame(503, 2);
    block.insert(block.end(), second.begin(), second.end());
    ASSERT_EQ(block.size(), 52u);
    device.sendRaw(block);  // one write
    ASSERT_TRUE(recorder.waitCount(503, NET_CMD_STATUS, 2));
    EXPECT_EQ(tagsOf(recorder.from(503, NET_CMD_STATUS)), (std::vector<std::uint32_t>{1, 2}));
}

TEST_F(LinkTest, FramesSplitIntoPiecesAreJoined) {
    ASSERT_TRUE(startLink());
    simtcp::Knobs knobs;
    knobs.splitSize = 3;
    knobs.pieceDelay = 2ms;
    auto& device = addDevice(13, 504, knobs);
    expectRegistered(device);  // the 65-byte registration came in 22 pieces
    device.sendStatus(NET_CMD_STATUS, 9);
    ASSERT_TRUE(recorder.waitCount(504, NET_CMD_STATUS, 1));
    EXPECT_EQ(recorder.from(504, NET_CMD_STATUS).front().bytes, simStatus(504, 9));
}

TEST_F(LinkTest, GarbageTruncatedOversizedAndSplitFramesNeverDisturbAnotherDevice) {
    ASSERT_TRUE(startLink());
    simtcp::Knobs rough;
    rough.garbageBefore = 5;
    rough.splitSize = 4;
    rough.pieceDelay = 1ms;
    auto& bad = addDevice(14, 505, rough);
    auto& good = addDevice(15, 506);
    expectRegistered(bad);
    expectRegistered(good);

    constexpr std::uint32_t kFrames = 200;
    std::thread goodSender([&] {
        for (std::uint32_t i = 0; i < kFrames; ++i) good.sendRaw(statusFrame(506, i));
    });
    // The bad device: a truncated frame, a header claiming 9000 bytes, one claiming 19, junk
    // that starts like a marker, then valid frames through the garbage-and-split knobs.
    for (std::uint32_t i = 0; i < 20; ++i) {
        auto truncated = statusFrame(505, 1000 + i);
        truncated.resize(13);
        bad.sendRaw(truncated);
        bad.sendRaw(buildDeviceHeader(NET_CMD_STATUS, 505, 0, 9000));
        bad.sendRaw(buildDeviceHeader(NET_CMD_STATUS, 505, 0, 19));
        bad.sendRaw({0xFE, 0xFC, 0xFD, 0x00, 0x11});
        bad.sendFrame(statusFrame(505, i));
    }
    goodSender.join();
    ASSERT_TRUE(recorder.waitCount(506, NET_CMD_STATUS, kFrames));
    ASSERT_TRUE(recorder.waitCount(505, NET_CMD_STATUS, 20));
    EXPECT_EQ(tagsOf(recorder.from(506, NET_CMD_STATUS)), range(0, kFrames));
    for (const auto& d : recorder.from(506, NET_CMD_STATUS)) EXPECT_EQ(ipOf(d.peer), "127.0.0.17");
    // Every frame the bad device got through is whole; the broken ones cost bytes, not frames.
    for (const auto& d : recorder.from(505, NET_CMD_STATUS)) {
        EXPECT_EQ(d.bytes.size(), 26u);
        EXPECT_EQ(d.bytes, statusFrame(505, decodeHeader(d.bytes)->value));
    }
    EXPECT_GT(GetLanwireStats().bytesDiscarded, 0u);
}

TEST_F(LinkTest, APartialFrameOlderThanFiveSecondsIsDroppedNotJoined) {
    options.clock = [this] { return clock.now(); };
    ASSERT_TRUE(startLink());
    auto& device = addDevice(16, 507);
    expectRegistered(device);
    const std::string ip = device.config().sourceAddress;
    auto fromDevice = [&](std::size_t count) {
        return recorder.wait([&](const std::vector<Delivery>& all) {
            return static_cast<std::size_t>(
                       std::count_if(all.begin(), all.end(),
                                     [&](const auto& d) { return ipOf(d.peer) == ip; })) >= count;
        });
    };
    auto head = simStatus(507, 1);
    head.resize(10);

    // Within 5 s the head of a frame is completed by whatever comes next, as a split frame
    // is: the result is the head and the first 16 bytes of the next frame.
    device.sendRaw(head);
    ASSERT_TRUE(testkit::waitFor([] { return GetLanwireStats().bytesPending == 10; }));
    const auto third = simStatus(507, 3);
    device.sendRaw(third);
    ASSERT_TRUE(fromDevice(2));
    auto joined = head;
    joined.insert(joined.end(), third.begin(), third.begin() + 16);
    EXPECT_EQ(recorder.all().back().bytes, joined);
    ASSERT_TRUE(testkit::waitFor([] { return GetLanwireStats().bytesPending == 0; }));

    // A head left alone for more than 5 s is dropped: the next frame arrives intact.
    device.sendRaw(head);
    ASSERT_TRUE(testkit::waitFor([] { return GetLanwireStats().bytesPending == 10; }));
    const std::uint64_t discarded = GetLanwireStats().bytesDiscarded;
    clock.advance(5001ms);
    device.sendRaw(simStatus(507, 5));
    ASSERT_TRUE(fromDevice(3));
    EXPECT_EQ(recorder.all().back().bytes, simStatus(507, 5));
    EXPECT_EQ(GetLanwireStats().bytesDiscarded, discarded + 10);
}

TEST_F(LinkTest, The2001stRecordIsDroppedWhileTheCallbackIsBlockedButNotARegistration) {
    ASSERT_TRUE(startLink());
    auto& device = addDevice(17, 508);
    expectRegistered(device);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> blocked{false};
    recorder.setHook([&](const Delivery& d) {
        if (d.command() == NET_CMD_STATUS && !blocked.exchange(true)) released.wait();
    });
    // A failed assertion must not leave the link's thread waiting.
    std::once_flag opened;
    const auto open = [&] { std::call_once(opened, [&] { release.set_value(); }); };
    const std::unique_ptr<void, std::function<void(void*)>> openAtEnd(&opened,
                                                                      [&](void*) { open(); });
    constexpr std::uint32_t kSent = 2100;
    std::vector<std::uint8_t> burst;
    for (std::uint32_t i = 0; i < kSent; ++i) {
        const auto f = statusFrame(508, i);
        burst.insert(burst.end(), f.begin(), f.end());
    }
    const LanwireStats before = GetLanwireStats();
    device.sendRaw(burst);
    ASSERT_TRUE(testkit::waitFor([&] {
        const LanwireStats s = GetLanwireStats();
        return s.framesQueued + s.framesDropped - before.framesQueued - before.framesDropped >=
               kSent;
    }));
    const LanwireStats full = GetLanwireStats();
    EXPECT_EQ(full.framesQueued - before.framesQueued, 2000u);
    EXPECT_EQ(full.framesDropped - before.framesDropped, kSent - 2000);
    EXPECT_EQ(full.receiveQueue, 2000u);
    // A device registering meanwhile is not dropped with the status frames: a whole fleet
    // registering at once must not wait for the registration time-out to try again.
    auto& late = addDevice(50, 511);
    ASSERT_TRUE(testkit::waitFor([] { return GetLanwireStats().receiveQueue == 2001u; }))
        << "the registration was dropped at the full queue";
    open();
    expectRegistered(late);
    ASSERT_TRUE(recorder.waitCount(508, NET_CMD_STATUS, 2000));
    EXPECT_EQ(tagsOf(recorder.from(508, NET_CMD_STATUS)), range(0, 2000));
    EXPECT_TRUE(testkit::waitFor([] { return GetLanwireStats().receiveQueue == 0; }));
}

TEST_F(LinkTest, ReceivedFramesAreDumpedButHeartbeatAnswersAreNot) {
    ASSERT_TRUE(startLink());
    auto& device = addDevice(18, 509, silent());
    expectRegistered(device);
    device.sendFrame(buildDeviceHeader(NET_CMD_HEARTBEAT_ACK, 509));
    device.sendStatus(NET_CMD_STATUS, 0x0102);
    ASSERT_TRUE(recorder.waitCount(509, NET_CMD_STATUS, 1));
    const std::string dump = readFile("testNote.ini");
    std::vector<std::string> lines;
    std::stringstream in(dump);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u) << dump;
    EXPECT_EQ(lines[0], "[NetData]");
    const std::regex key(R"(^\d{14}-(\d+)=((?:[0-9A-F]{2} )+)$)");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[1], match, key)) << lines[1];
    EXPECT_EQ(match[2].str().size(), 65u * 3);  // the registration
    ASSERT_TRUE(std::regex_match(lines[2], match, key)) << lines[2];
    EXPECT_EQ(match[2].str(),
              "FE FC FD FA 00 00 00 1A 00 00 00 03 00 00 01 02 00 00 01 FD 00 00 00 00 00 00 ");
}

TEST_F(LinkTest, LostConnectionIsLoggedRemovedAndReportedToTheWindow) {
    SetWindowHand(&notices);
    ASSERT_TRUE(startLink());
    auto& device = addDevice(19, 510);
    expectRegistered(device);
    simtcp::Knobs knobs = device.knobs();
    knobs.reconnect = false;
    device.setKnobs(knobs);
    device.disconnect();
    ASSERT_TRUE(testkit::waitFor([] { return GetLanwireStats().connections == 0; }));
    // The notice is posted after the connection has left the list, outside its lock.
    ASSERT_TRUE(testkit::waitFor([this] { return !notices.peers().empty(); }));
    EXPECT_EQ(notices.peers(), (std::vector<std::string>{"127.0.0.21"}))
        << ::testing::PrintToString(notices.peers());
    const auto rows = logRowsWith("用户断开[rev1]:127.0.0.21");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].type, 2);
    EXPECT_EQ(rows[0].childType, 4);
    EXPECT_EQ(logRowsWith("添加用户:127.0.0.21").size(), 1u);
}
