// Device workers: the 16 frames and their pacing, a device that registers late, and release
// while workers wait, settle or send.
#include <gtest/gtest.h>

#include <future>
#include <string>
#include <vector>

#include "chronstore/chronstore.h"
#include "devroster/devroster.h"
#include "runner_fixture.h"

namespace chrontest {
namespace {

using namespace std::chrono_literals;

class PacingTest : public RunnerTest {
protected:
    PacingTest() : RunnerTest(20) {}
};

// Real pauses: a release must not wait for them.
class RealPauseTest : public RunnerTest {
protected:
    RealPauseTest() : RunnerTest(1) {}
};

using WorkerTest = RunnerTest;

void addTask(const std::string& name, std::vector<DeviceOnOff_> devices) {
    TimTaskPoint_ task = makeTask(name, kTaskDateMode, hms(8, 0, 0), hms(9, 0, 0));
    task.devCount = static_cast<std::uint16_t>(devices.size());
    task.devList = std::move(devices);
    PlusTTPoint(task);
}

TEST_F(PacingTest, SixteenFramesCarryEachOutletStateAtLeast1100msApart) {
    registerDevice(7, "Dev7", "127.0.0.7");
    addTask("灯光", {makeDevice(7, {1, 2})});
    m_clock->set(2024, 1, 29, 8, 0, 0);
    startRunner();
    ASSERT_TRUE(waitLogLine("定时任务[灯光]执行设备[Dev7]完成."));

    const std::vector<SentFrame> frames = m_recorder.framesTo(7);
    ASSERT_EQ(frames.size(), 16u);
    for (int outlet = 1; outlet <= 16; ++outlet) {
        SCOPED_TRACE(outlet);
        const SentFrame& frame = frames[outlet - 1];
        const std::uint8_t state = outlet <= 2 ? 1 : 0;
        const std::vector<std::uint8_t> expected = {
            0xFA,  0xFD, 0xFC, 0xFE, 0x18, 0x00, 0x00,
            0x00,  0x68, 0x00, 0x00, 0x00, 0x00, 0x00,
            0x00,  0x00, 0x07, 0x00, 0x00, 0x00, static_cast<std::uint8_t>(outlet),
            state, 0x00, 0x00};
        EXPECT_EQ(frame.bytes, expected);
        EXPECT_EQ(frame.to.sin_addr.s_addr, ipv4("127.0.0.7").sin_addr.s_addr);
        EXPECT_EQ(frame.to.sin_port, ipv4("127.0.0.7", 40000).sin_port);
        if (outlet > 1) {
            EXPECT_GE(m_clock->toRunnerTime(frame.at - frames[outlet - 2].at), 1100ms);
        }
    }
    EXPECT_LT(m_clock->toRunnerTime(frames.back().at - frames.front().at), 15 * 2000ms);

    Rows expected = {{"2", "7", "定时任务[灯光]开始设备[7]线程"},
                     {"2", "7", "定时任务[灯光]进入设备[7]线程"},
                     {"2", "7", "定时任务[灯光]开始执行设备[Dev7]"}};
    for (int outlet = 1; outlet <= 16; ++outlet) {
        expected.push_back(
            {"2", "7",
             "[灯光][Dev7][" + std::to_string(outlet) + "-" + (outlet <= 2 ? "1" : "0") + "]."});
    }
    expected.push_back({"2", "7", "定时任务[灯光]执行设备[Dev7]完成."});
    EXPECT_EQ(logRows("where LogContent like '%Dev7%' or LogContent like '%设备[7]%'"), expected);
}

TEST_F(WorkerTest, OfflineDeviceWaitsUntilItRegistersWithoutHoldingUpTheOther) {
    registerDevice(41, "On41", "127.0.0.41");
    addTask("两台", {makeDevice(42, {5}), makeDevice(41, {4})});
    m_clock->set(2024, 1, 29, 8, 0, 0);
    startRunner();
    ASSERT_TRUE(waitLogLine("定时任务[两台]执行设备[On41]完成."));
    EXPECT_EQ(m_recorder.framesTo(41).size(), 16u);
    EXPECT_TRUE(m_recorder.framesTo(42).empty());
    EXPECT_TRUE(logLines("定时任务[两台]找不到设备[42]").empty());

    const auto registered = std::chrono::steady_clock::now();
    registerDevice(42, "Late42", "127.0.0.42");
    ASSERT_TRUE(waitLogLine("定时任务[两台]执行设备[Late42]完成."));
    const std::vector<SentFrame> late = m_recorder.framesTo(42);
    ASSERT_EQ(late.size(), 16u);
    EXPECT_GT(late.front().at, registered);
    for (int outlet = 1; outlet <= 16; ++outlet) {
        EXPECT_EQ(late[outlet - 1].bytes[20], outlet);
        EXPECT_EQ(late[outlet - 1].bytes[21], outlet == 5 ? 1 : 0);
    }
    EXPECT_EQ(late.front().to.sin_addr.s_addr, ipv4("127.0.0.42").sin_addr.s_addr);
}

TEST_F(RealPauseTest, ReleaseEndsWaitingAndSettlingWorkersAtOnceWithoutSending) {
    // 50 is online (its worker settles 1.5 s before the first frame); 51 never comes, and
    // since the registry is not empty its worker re-looks only every second.
    registerDevice(50, "D50", "127.0.0.50");
    addTask("等待", {makeDevice(50, {1}), makeDevice(51, {1})});
    m_clock->set(2024, 1, 29, 8, 0, 0);
    startRunner();
    ASSERT_TRUE(waitLogLine("定时任务[等待]进入设备[50]线程"));
    ASSERT_TRUE(waitLogLine("定时任务[等待]进入设备[51]线程"));
    // 50 settles on the pacing thread; 51 waits without a thread of its own.
    ASSERT_TRUE(testkit::waitFor([] { return deviceWorkerThreads() == 1; }));

    const auto before = std::chrono::steady_clock::now();
    ReleaseChronrun();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 400ms);
    EXPECT_EQ(deviceWorkerThreads(), 0);
    EXPECT_TRUE(m_recorder.frames().empty());
    EXPECT_EQ(logLines("定时任务[等待]找不到设备[51]"),
              (Rows{{"3", "7", "定时任务[等待]找不到设备[51]"}}));
    EXPECT_EQ(logLines("定时任务[等待]执行设备[D50]完成.").size(), 1u);
    EXPECT_TRUE(logLines("定时任务[等待]找不到设备[50]").empty());
}

TEST_F(RealPauseTest, ReleaseWithAnEmptyRegistryIsPromptToo) {
    addTask("空表", {makeDevice(60, {1})});
    m_clock->set(2024, 1, 29, 8, 0, 0);
    startRunner();
    ASSERT_TRUE(waitLogLine("定时任务[空表]进入设备[60]线程"));
    const auto before = std::chrono::steady_clock::now();
    ReleaseChronrun();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 400ms);
    EXPECT_EQ(logLines("定时任务[空表]找不到设备[60]").size(), 1u);
}

TEST_F(WorkerTest, ReleaseDoesNotReturnWhileAWorkerIsInsideASendAndNothingIsSentAfter) {
    registerDevice(61, "D61", "127.0.0.61");
    addTask("发送中", {makeDevice(61, {1, 2, 3})});
    m_recorder.closeGate();
    m_clock->set(2024, 1, 29, 8, 0, 0);
    startRunner();
    ASSERT_TRUE(testkit::waitFor([&] { return m_recorder.entered() == 1; }));

    auto released = std::async(std::launch::async, [] { ReleaseChronrun(); });
    EXPECT_EQ(released.wait_for(300ms), std::future_status::timeout);
    EXPECT_EQ(m_recorder.returned(), 0);
    m_recorder.openGate();
    ASSERT_EQ(released.wait_for(10s), std::future_status::ready);
    // The send had finished, and the worker stopped before its next frame.
    EXPECT_EQ(m_recorder.returned(), 1);
    EXPECT_EQ(m_recorder.entered(), 1);
    EXPECT_EQ(deviceWorkerThreads(), 0);
    EXPECT_EQ(logLines("[发送中][D61][1-1].").size(), 1u);
    EXPECT_EQ(logLines("定时任务[发送中]执行设备[D61]完成.").size(), 1u);
}

TEST_F(WorkerTest, DeviceThatLeavesAfterItWasFoundIsStillSentToAtItsAddress) {
    registerDevice(81, "D81", "127.0.0.81");
    addTask("离开", {makeDevice(81, {16})});
    m_clock->set(2024, 1, 29, 8, 0, 0);
    startRunner();
    ASSERT_TRUE(m_recorder.waitFramesTo(81, 1));
    RemoveDevFromObjDevInfoMap(81);
    RemoveFromDevArray(81);
    ASSERT_TRUE(waitLogLine("定时任务[离开]执行设备[D81]完成."));
    const std::vector<SentFrame> frames = m_recorder.framesTo(81);
    ASSERT_EQ(frames.size(), 16u);
    EXPECT_EQ(frames.back().bytes[21], 1);
    EXPECT_EQ(frames.back().to.sin_addr.s_addr, ipv4("127.0.0.81").sin_addr.s_addr);
}

}  // namespace
}  // namespace chrontest
