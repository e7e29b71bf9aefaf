// The scan against an injected local clock: day tests in week and date mode, the run states,
// a window already open at start, disabled tasks and tasks that can never start.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "chronstore/chronstore.h"
#include "runner_fixture.h"

namespace chrontest {
namespace {

using ScanTest = RunnerTest;

const std::string kStartLine = "定时开始时间到:28800;28800";  // 08:00:00 reached at 08:00:00

TEST_F(ScanTest, WeekModeRunsOnMondaysOnlyAndEndsAtItsEndTime) {
    TimTaskPoint_ task = makeTask("周一任务", kTaskWeekMode, hms(8, 0, 0), hms(9, 0, 0));
    task.monday = true;
    PlusTTPoint(task);
    m_clock->set(2024, 1, 29, 7, 59, 59);  // Monday
    startRunner();
    ASSERT_TRUE(m_clock->waitSweeps(2));
    EXPECT_EQ(runState(0), kTaskIdle);

    m_clock->set(2024, 1, 29, 8, 0, 0);
    ASSERT_TRUE(waitRunState(0, kTaskRunning));
    EXPECT_EQ(logLines(kStartLine), (Rows{{"1", "7", kStartLine}}));
    EXPECT_TRUE(waitLogLine("执行定时任务:周一任务"));

    m_clock->set(2024, 1, 29, 8, 59, 59);
    ASSERT_TRUE(m_clock->waitSweeps(2));
    EXPECT_EQ(runState(0), kTaskRunning);

    m_clock->set(2024, 1, 29, 9, 0, 0);
    ASSERT_TRUE(waitRunState(0, kTaskEnded));
    EXPECT_EQ(logLines("定时结束时间到:32400;32400"),
              (Rows{{"1", "7", "定时结束时间到:32400;32400"}}));

    // Tuesday, inside the window: nothing happens.
    m_clock->set(2024, 1, 30, 8, 0, 0);
    ASSERT_TRUE(m_clock->waitSweeps(2));
    m_clock->set(2024, 1, 30, 8, 30, 0);
    ASSERT_TRUE(m_clock->waitSweeps(2));
    EXPECT_EQ(runState(0), kTaskEnded);
    EXPECT_EQ(logRows("where LogContent like '定时开始时间到:%'").size(), 1u);

    // The next Monday it runs again and is dispatched again.
    m_clock->set(2024, 2, 5, 8, 0, 0);
    ASSERT_TRUE(waitRunState(0, kTaskRunning));
    EXPECT_EQ(logLines(kStartLine).size(), 2u);
    EXPECT_TRUE(testkit::waitFor([] { return logLines("执行定时任务:周一任务").size() == 2; }));
}

TEST_F(ScanTest, DateRangesIncludeBothEndsAndCompareYearThenMonthThenDay) {
    PlusTTPoint(makeTask("spring", kTaskDateMode, hms(8, 0, 0), hms(9, 0, 0)));
    PlusTTPoint(makeTask("winter", kTaskDateMode, hms(8, 0, 0), hms(9, 0, 0)));
    {
        TimTaskGuard guard;
        TimTaskPoint_& spring = GetTTPointByIndex(0);
        spring.staYear = 2024, spring.staMonth = 3, spring.staDay = 15;
        spring.endYear = 2024, spring.endMonth = 6, spring.endDay = 10;
        TimTaskPoint_& winter = GetTTPointByIndex(1);
        winter.staYear = 2023, winter.staMonth = 11, winter.staDay = 20;
        winter.endYear = 2024, winter.endMonth = 2, winter.endDay = 10;
    }
    struct Day {
        int year, month, day;
        bool spring, winter;
    };
    const std::vector<Day> days = {
        {2024, 3, 14, false, false}, {2024, 3, 15, true, false},  {2024, 4, 1, true, false},
        {2024, 6, 10, true, false},  {2024, 6, 11, false, false}, {2023, 11, 19, false, false},
        {2023, 11, 20, false, true}, {2023, 12, 5, false, true},  {2024, 1, 31, false, true},
        {2024, 2, 10, false, true},  {2024, 2, 11, false, false}, {2025, 4, 1, false, false},
    };
    m_clock->set(2024, 1, 1, 6, 0, 0);
    startRunner();
    for (const Day& d : days) {
        SCOPED_TRACE(std::to_string(d.year) + "-" + std::to_string(d.month) + "-" +
                     std::to_string(d.day));
        m_clock->set(d.year, d.month, d.day, 8, 30, 0);
        ASSERT_TRUE(m_clock->waitSweeps(1));
        EXPECT_EQ(runState(0) == kTaskRunning, d.spring);
        EXPECT_EQ(runState(1) == kTaskRunning, d.winter);
        // Close the window so that the next day starts from "ended".
        m_clock->set(d.year, d.month, d.day, 9, 0, 0);
        ASSERT_TRUE(m_clock->waitSweeps(1));
        EXPECT_NE(runState(0), kTaskRunning);
        EXPECT_NE(runState(1), kTaskRunning);
    }
    EXPECT_EQ(logRows("where LogContent = '定时开始时间到:28800;30600'").size(), 7u);
}

TEST_F(ScanTest, WindowOpenAtStartIsQueuedInTheFirstSweep) {
    TimTaskPoint_ task = makeTask("早班", kTaskWeekMode, hms(8, 0, 0), hms(9, 0, 0));
    task.monday = true;
    PlusTTPoint(task);
    // The state of the task each time the scan reads the clock, i.e. before each check. The
    // hook runs on the scan thread; it owns what it writes to.
    struct Seen {
        std::mutex mutex;
        std::vector<int> states;
    };
    auto seen = std::make_shared<Seen>();
    m_clock->setReadHook([seen] {
        std::lock_guard lock(seen->mutex);
        if (seen->states.size() < 3) seen->states.push_back(GetTTPointByIndex(0).runState);
    });
    m_clock->set(2024, 1, 29, 8, 30, 0);
    startRunner();
    ASSERT_TRUE(testkit::waitFor([&] {
        std::lock_guard lock(seen->mutex);
        return seen->states.size() >= 3;
    }));
    m_clock->setReadHook(nullptr);
    std::lock_guard lock(seen->mutex);
    EXPECT_EQ(seen->states, (std::vector<int>{kTaskIdle, kTaskRunning, kTaskRunning}));
    EXPECT_EQ(logLines("定时开始时间到:28800;30600"),
              (Rows{{"1", "7", "定时开始时间到:28800;30600"}}));
}

TEST_F(ScanTest, DisabledTaskRunsThroughItsStatesButNothingIsSent) {
    registerDevice(21, "D21", "127.0.0.21");
    registerDevice(22, "D22", "127.0.0.22");
    TimTaskPoint_ off = makeTask("停用", kTaskDateMode, hms(8, 0, 0), hms(9, 0, 0), false);
    off.devList = {makeDevice(21, {1, 2, 3})};
    off.devCount = 1;
    PlusTTPoint(off);
    TimTaskPoint_ on = makeTask("启用", kTaskDateMode, hms(8, 31, 0), hms(9, 0, 0));
    on.devList = {makeDevice(22, {1})};
    on.devCount = 1;
    PlusTTPoint(on);

    m_clock->set(2024, 1, 29, 8, 30, 0);
    startRunner();
    ASSERT_TRUE(waitRunState(0, kTaskRunning));
    EXPECT_TRUE(waitLogLine("启动定时[停用]分派线程."));
    // The enabled task queued behind the disabled copy is dispatched, so the copy is gone.
    m_clock->set(2024, 1, 29, 8, 31, 0);
    ASSERT_TRUE(m_recorder.waitFramesTo(22, 1));
    // The wake line names the head of the queue: the enabled task, or the disabled copy if
    // the dispatcher had not dropped it yet.
    EXPECT_EQ(logRows("where LogContent like '开启定时[%].唤醒分派线程.'").size(), 1u);
    m_clock->set(2024, 1, 29, 9, 0, 0);
    ASSERT_TRUE(waitRunState(0, kTaskEnded));
    ASSERT_TRUE(waitRunState(1, kTaskEnded));

    EXPECT_EQ(logLines("定时开始时间到:28800;30600").size(), 1u);
    EXPECT_EQ(logLines("定时结束时间到:32400;32400").size(), 2u);
    EXPECT_EQ(logLines("执行定时任务:启用").size(), 1u);
    EXPECT_TRUE(logLines("执行定时任务:停用").empty());
    EXPECT_TRUE(logRows("where LogContent like '%设备[21]%'").empty());
    EXPECT_TRUE(m_recorder.framesTo(21).empty());
}

TEST_F(ScanTest, TasksThatCanNeverStartStayIdle) {
    // statime equal to endtime: the window is empty.
    PlusTTPoint(makeTask("空窗", kTaskDateMode, hms(8, 30, 0), hms(8, 30, 0)));
    // A type other than date or week mode, with every date and weekday set.
    TimTaskPoint_ odd = makeTask("类型2", 2, hms(8, 0, 0), hms(9, 0, 0));
    odd.sunday = odd.monday = odd.tuesday = odd.wednesday = true;
    odd.thursday = odd.friday = odd.saturday = true;
    PlusTTPoint(odd);
    // A control task, so the test sees the scan at work.
    PlusTTPoint(makeTask("对照", kTaskDateMode, hms(8, 0, 0), hms(9, 0, 0)));

    m_clock->set(2024, 1, 29, 8, 0, 0);
    startRunner();
    ASSERT_TRUE(waitRunState(2, kTaskRunning));
    for (int second : {hms(8, 29, 59), hms(8, 30, 0), hms(8, 30, 1)}) {
        m_clock->set(2024, 1, 29, second / 3600, second / 60 % 60, second % 60);
        ASSERT_TRUE(m_clock->waitSweeps(2));
        EXPECT_EQ(runState(0), kTaskIdle);
        EXPECT_EQ(runState(1), kTaskIdle);
    }
    EXPECT_EQ(logRows("where LogContent like '定时开始时间到:%'").size(), 1u);
    EXPECT_TRUE(logLines("执行定时任务:空窗").empty());
    EXPECT_TRUE(logLines("执行定时任务:类型2").empty());
}

TEST_F(ScanTest, TasksRemovedWhileTheScanRunsAreSkipped) {
    for (int i = 0; i < 300; ++i) {
        PlusTTPoint(makeTask("t" + std::to_string(i), kTaskDateMode, hms(10, 0, 0), hms(11, 0, 0)));
    }
    m_clock->set(2024, 1, 29, 8, 0, 0);
    startRunner();
    // Remove from the end and the front while the scan walks the list.
    while (GetTTPointCount() > 0) {
        RemoveTTPointByIdx(GetTTPointCount() % 2 == 0 ? 0 : GetTTPointCount() - 1);
    }
    PlusTTPoint(makeTask("last", kTaskDateMode, hms(8, 0, 0), hms(9, 0, 0)));
    EXPECT_TRUE(waitRunState(0, kTaskRunning));
    EXPECT_EQ(logRows("where LogContent like '定时开始时间到:%'").size(), 1u);
}

TEST_F(ScanTest, ModuleLinesAndRestartAfterRelease) {
    registerDevice(9, "D9", "127.0.0.9");
    TimTaskPoint_ task = makeTask("重启", kTaskDateMode, hms(8, 0, 0), hms(9, 0, 0));
    task.devList = {makeDevice(9, {16})};
    task.devCount = 1;
    PlusTTPoint(task);
    m_clock->set(2024, 1, 29, 7, 0, 0);
    startRunner();
    ASSERT_TRUE(m_clock->waitSweeps(1));
    ReleaseChronrun();
    // A second start runs tasks and device workers again.
    m_clock->set(2024, 1, 29, 8, 0, 0);
    startRunner();
    ASSERT_TRUE(m_recorder.waitFramesTo(9, 2));
    ReleaseChronrun();

    const Rows module = logRows(
        "where LogType = 1 and LogContent in ('定时任务模块初始化成功.', "
        "'进入定时任务线程', '退出定时任务模块.')");
    const Rows expected = {
        {"1", "7", "进入定时任务线程"},        {"1", "7", "定时任务模块初始化成功."},
        {"1", "7", "退出定时任务模块."},       {"1", "7", "进入定时任务线程"},
        {"1", "7", "定时任务模块初始化成功."}, {"1", "7", "退出定时任务模块."}};
    // The scan thread's first line and the init line race; compare them as pairs.
    ASSERT_EQ(module.size(), expected.size());
    for (std::size_t i = 0; i < module.size(); i += 3) {
        EXPECT_EQ(std::set<Rows::value_type>(module.begin() + i, module.begin() + i + 2),
                  std::set<Rows::value_type>(expected.begin() + i, expected.begin() + i + 2));
        EXPECT_EQ(module[i + 2], expected[i + 2]);
    }
}

}  // namespace
}  // namespace chrontest
