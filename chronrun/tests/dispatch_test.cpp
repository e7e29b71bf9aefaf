// The dispatcher: order, the 3 s gap between tasks, no lost wake-ups, all devices of a task
// at once and one frame at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "chronstore/chronstore.h"
#include "runner_fixture.h"
#include "testkit/process_threads.h"

namespace chrontest {
namespace {

using namespace std::chrono_literals;

// Slower than the other tests, so that scheduling jitter stays small against the gaps.
class DispatchTimingTest : public RunnerTest {
protected:
    DispatchTimingTest() : RunnerTest(20) {}
};

using DispatchTest = RunnerTest;

TEST_F(DispatchTimingTest, TwoTasksDueInTheSameSecondAreQueuedTogetherAndDispatched3sApart) {
    registerDevice(31, "D31", "127.0.0.31");
    registerDevice(32, "D32", "127.0.0.32");
    TimTaskPoint_ first = makeTask("first", kTaskDateMode, hms(8, 0, 0), hms(9, 0, 0));
    first.devList = {makeDevice(31, {1})};
    first.devCount = 1;
    PlusTTPoint(first);
    TimTaskPoint_ second = makeTask("second", kTaskDateMode, hms(8, 0, 0), hms(9, 0, 0));
    second.devList = {makeDevice(32, {2})};
    second.devCount = 1;
    PlusTTPoint(second);

    // Both states at every read of the clock, i.e. before each task's check.
    struct Seen {
        std::mutex mutex;
        std::vector<std::pair<int, int>> states;
    };
    auto seen = std::make_shared<Seen>();
    auto armed = std::make_shared<std::atomic<bool>>(false);
    FakeClock* clock = m_clock.get();
    m_clock->setReadHook([seen, armed, clock] {
        std::lock_guard lock(seen->mutex);
        if (seen->states.size() < 1000) {
            seen->states.emplace_back(GetTTPointByIndex(0).runState, GetTTPointByIndex(1).runState);
        }
        // The time moves on after a sweep's last read (the scan reads once per task, two tasks),
        // so no sweep sees the first task before 8:00 and the second after it.
        if (clock->reads() % 2 == 0 && armed->exchange(false)) clock->set(2024, 1, 29, 8, 0, 0);
    });
    m_clock->set(2024, 1, 29, 7, 59, 59);
    startRunner();
    ASSERT_TRUE(m_clock->waitSweeps(1));
    armed->store(true);
    ASSERT_TRUE(m_recorder.waitFramesTo(32, 1));
    ASSERT_TRUE(m_recorder.waitFramesTo(31, 1));
    m_clock->setReadHook(nullptr);
    {
        // Started in one sweep: exactly one read (the second task's) saw the first running and
        // the second not yet.
        std::lock_guard lock(seen->mutex);
        EXPECT_EQ(std::count(seen->states.begin(), seen->states.end(), std::pair{1, 0}), 1);
        EXPECT_EQ(std::count(seen->states.begin(), seen->states.end(), std::pair{0, 1}), 0);
    }
    EXPECT_LT(m_recorder.framesTo(31).front().at, m_recorder.framesTo(32).front().at);
    // The dispatcher starts its 3 s pause right after handing out each task.
    const auto gaps = m_clock->pausesOf(kChronrunTaskGap);
    ASSERT_GE(gaps.size(), 2u);
    const auto gap = m_clock->toRunnerTime(gaps[1] - gaps[0]);
    EXPECT_GE(gap, 3000ms);
    EXPECT_LT(gap, 6000ms);  // one pause, however late the thread woke; two would be 6 s
    const Rows lines = logRows("where LogContent like '执行定时任务:%'");
    EXPECT_EQ(lines, (Rows{{"2", "7", "执行定时任务:first"}, {"2", "7", "执行定时任务:second"}}));
    EXPECT_EQ(logLines("设备数量:1").size(), 2u);
}

TEST_F(DispatchTest, EveryQueuedTaskIsDispatchedInOrderWhateverTheDispatcherWasDoing) {
    constexpr int kTasks = 12;
    for (int i = 0; i < kTasks; ++i) {
        PlusTTPoint(makeTask("T" + std::to_string(i), kTaskDateMode, hms(8, 0, i), hms(9, 0, 0)));
    }
    m_clock->set(2024, 1, 29, 7, 0, 0);
    startRunner();
    for (int i = 0; i < kTasks; ++i) {
        m_clock->set(2024, 1, 29, 8, 0, i);
        ASSERT_TRUE(m_clock->waitSweeps(1));
        // Now and then let the dispatcher catch up, so that it is parked or in its gap when
        // the next copy arrives.
        if (i % 3 == 0) {
            ASSERT_TRUE(waitLogLine("执行定时任务:T" + std::to_string(i)));
        }
    }
    // Each task's device count is logged right after its name: wait for the last of both.
    ASSERT_TRUE(testkit::waitFor([&] {
        return logRows("where LogContent like '执行定时任务:%'").size() == kTasks &&
               logLines("设备数量:0").size() == kTasks;
    }));
    Rows expected;
    for (int i = 0; i < kTasks; ++i) {
        expected.push_back({"2", "7", "执行定时任务:T" + std::to_string(i)});
    }
    EXPECT_EQ(logRows("where LogContent like '执行定时任务:%'"), expected);
}

TEST_F(DispatchTimingTest, AllDevicesOfATaskStartTogetherAndTheirFramesNeverOverlap) {
    const std::vector<std::uint16_t> ids = {71, 72, 73};
    TimTaskPoint_ task = makeTask("三台", kTaskDateMode, hms(8, 0, 0), hms(9, 0, 0));
    for (std::uint16_t id : ids) {
        registerDevice(id, "D" + std::to_string(id), "127.0.0." + std::to_string(id));
        task.devList.push_back(makeDevice(id, {3}));
    }
    task.devCount = static_cast<std::uint16_t>(ids.size());
    PlusTTPoint(task);
    m_clock->set(2024, 1, 29, 8, 0, 0);
    startRunner();
    for (std::uint16_t id : ids) ASSERT_TRUE(m_recorder.waitFramesTo(id, 16));

    std::vector<std::chrono::steady_clock::time_point> firstFrames;
    for (std::uint16_t id : ids) firstFrames.push_back(m_recorder.framesTo(id).front().at);
    const auto [earliest, latest] = std::minmax_element(firstFrames.begin(), firstFrames.end());
    // Not one after another (that would be 16 x 1.1 s apart).
    EXPECT_LT(m_clock->toRunnerTime(*latest - *earliest), 1100ms);
    EXPECT_EQ(m_recorder.maxConcurrent(), 1);
    EXPECT_EQ(m_recorder.frames().size(), 48u);
    // Each frame's row is logged just after the frame is sent.
    EXPECT_TRUE(testkit::waitFor(
        [&] { return logRows("where LogContent like '[三台][D7_][%-%].'").size() == 48u; }));
}

// Slower still: the runner's own work on 640 frames must stay small against the second of
// start spread it is allowed, under sanitizers and a busy machine too.
class TaskStartTest : public RunnerTest {
protected:
    TaskStartTest() : RunnerTest(10) {}
};

// 40 devices were 5 batches of 8 senders, the last finishing about 95 s after the start.
TEST_F(TaskStartTest, FortyDevicesOfATaskAllStartWithinASecondAndNoneWaitsForABatch) {
    constexpr int kDevices = 40;
    TimTaskPoint_ task = makeTask("四十台", kTaskDateMode, hms(8, 0, 0), hms(9, 0, 0));
    for (int i = 0; i < kDevices; ++i) {
        const auto id = static_cast<std::uint16_t>(1000 + i);
        registerDevice(id, "D" + std::to_string(id),
                       "127.0." + std::to_string(1 + i / 200) + "." + std::to_string(1 + i % 200));
        task.devList.push_back(makeDevice(id, {1}));
    }
    task.devCount = kDevices;
    PlusTTPoint(task);
    const int threadsBefore = testkit::processThreads();
    m_clock->set(2024, 1, 29, 8, 0, 0);
    const auto started = std::chrono::steady_clock::now();
    startRunner();
    ASSERT_TRUE(waitLogLine("定时任务[四十台]进入设备[1039]线程"));
    const int runnerThreads = testkit::processThreads() - threadsBefore;
    for (int i = 0; i < kDevices; ++i) {
        ASSERT_TRUE(m_recorder.waitFramesTo(static_cast<std::uint16_t>(1000 + i), 16));
    }

    std::vector<std::chrono::steady_clock::time_point> firsts;
    std::chrono::steady_clock::time_point last = started;
    for (int i = 0; i < kDevices; ++i) {
        const std::vector<SentFrame> frames =
            m_recorder.framesTo(static_cast<std::uint16_t>(1000 + i));
        firsts.push_back(frames.front().at);
        last = std::max(last, frames.back().at);
    }
    const auto [earliest, latest] = std::minmax_element(firsts.begin(), firsts.end());
    EXPECT_LE(m_clock->toRunnerTime(*latest - *earliest), 1000ms);
    // One device's run is 1.5 s + 15 x 1.1 s = 18 s; each frame waits at least its pause
    // after the one before, so a slow wake-up here (multiplied by the clock's scale) moves the
    // rest of that device's frames on. A second batch would end past 37 s. (The real-time
    // figure, within 20 s for 1000 devices, is bench/chronrun's chronrun_task_start_bench.)
    EXPECT_LE(m_clock->toRunnerTime(last - started), 30000ms);
    EXPECT_LT(runnerThreads, 16);
}

}  // namespace
}  // namespace chrontest
