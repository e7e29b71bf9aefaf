// The shared schedule rules (next start, the task a device should follow now) and the
// runner's holiday skip and re-apply.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "chronrun/task_rules.h"
#include "chronstore/chronstore.h"
#include "chronstore/holidays.h"
#include "runner_fixture.h"

namespace chrontest {
namespace {

using chronrun::dueDevices;
using chronrun::nextStart;

ChronrunLocalTime at(int year, int month, int day, int hour, int minute, int second) {
    FakeClock clock(1);
    clock.set(year, month, day, hour, minute, second);
    return clock.localNow();
}

std::string text(const std::optional<ChronrunLocalTime>& t) {
    if (!t) return "none";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d w%d", t->year, t->month,
                  t->day, t->hour, t->minute, t->second, t->weekday);
    return buffer;
}

TEST(NextStart, SameDayTestsAsTheScanAcrossMonthAndYearEnds) {
    TimTaskPoint_ monday = makeTask("周一", kTaskWeekMode, hms(8, 0, 0), hms(9, 0, 0));
    monday.monday = true;
    TimTaskPoint_ range = makeTask("区间", kTaskDateMode, hms(22, 0, 0), hms(23, 0, 0));
    range.staYear = 2024, range.staMonth = 12, range.staDay = 30;
    range.endYear = 2025, range.endMonth = 1, range.endDay = 2;
    TimTaskPoint_ running = monday;
    running.runState = kTaskRunning;
    TimTaskPoint_ holiday = monday;
    holiday.skipHolidays = true;
    TimTaskPoint_ disabled = monday;
    disabled.ttEnable = 0;
    TimTaskPoint_ lateStart = monday;
    lateStart.statime = 24 * 3600;
    lateStart.endtime = 25 * 3600;
    const HolidayList holidays = {20250106};
    const struct {
        const char* name;
        const TimTaskPoint_& task;
        ChronrunLocalTime now;
        const char* expected;
    } cases[] = {
        // Sunday 2024-12-29: the next Monday is in the next month... and year.
        {"week, next day", monday, at(2024, 12, 29, 12, 0, 0), "2024-12-30 08:00:00 w1"},
        {"week, open window starts now", monday, at(2024, 12, 30, 8, 30, 5),
         "2024-12-30 08:30:05 w1"},
        {"week, running: next week", running, at(2024, 12, 30, 8, 30, 0), "2025-01-06 08:00:00 w1"},
        {"week, after the window", monday, at(2024, 12, 30, 9, 0, 0), "2025-01-06 08:00:00 w1"},
        {"week, holiday skipped", holiday, at(2024, 12, 31, 0, 0, 0), "2025-01-13 08:00:00 w1"},
        {"week, Jan 31 to Feb", monday, at(2024, 1, 30, 0, 0, 0), "2024-02-05 08:00:00 w1"},
        {"date, before the range", range, at(2024, 11, 1, 0, 0, 0), "2024-12-30 22:00:00 w1"},
        {"date, over the year end", range, at(2024, 12, 31, 23, 0, 0), "2025-01-01 22:00:00 w3"},
        {"date, last day", range, at(2025, 1, 2, 21, 0, 0), "2025-01-02 22:00:00 w4"},
        {"date, past the range", range, at(2025, 1, 2, 23, 0, 0), "none"},
        {"disabled", disabled, at(2024, 12, 29, 12, 0, 0), "none"},
        {"start past midnight", lateStart, at(2024, 12, 29, 12, 0, 0), "none"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(text(nextStart(c.task, c.now, holidays)), c.expected);
    }
}

TEST(DueDevices, TheOpenTaskThatStartedLastWins) {
    TimTaskPoint_ early = makeTask("早", kTaskDateMode, hms(8, 0, 0), hms(12, 0, 0));
    early.devList = {makeDevice(5, {1}), makeDevice(6, {1})};
    TimTaskPoint_ late = makeTask("晚", kTaskDateMode, hms(9, 0, 0), hms(12, 0, 0));
    late.devList = {makeDevice(6, {2})};
    TimTaskPoint_ off = makeTask("停", kTaskDateMode, hms(10, 0, 0), hms(12, 0, 0), false);
    off.devList = {makeDevice(5, {3})};
    TimTaskPoint_ skipped = makeTask("节", kTaskDateMode, hms(10, 0, 0), hms(12, 0, 0));
    skipped.skipHolidays = true;
    skipped.devList = {makeDevice(5, {4})};
    const std::vector<TimTaskPoint_> tasks = {early, late, off, skipped};

    const auto due = dueDevices(tasks, at(2024, 5, 1, 10, 30, 0), {20240501});
    ASSERT_EQ(due.size(), 2u);
    EXPECT_EQ(due[0].devID, 5);
    EXPECT_EQ(due[0].taskIndex, 0u);
    EXPECT_EQ(due[1].devID, 6);
    EXPECT_EQ(due[1].taskIndex, 1u);
    // Not a holiday: the opted-in task is open and started last for device 5.
    EXPECT_EQ(dueDevices(tasks, at(2024, 5, 2, 10, 30, 0), {20240501})[0].taskIndex, 3u);
    EXPECT_TRUE(dueDevices(tasks, at(2024, 5, 1, 12, 0, 0), {}).empty());
}

using ScheduleRunnerTest = RunnerTest;

TEST_F(ScheduleRunnerTest, AnOptedInTaskDoesNotStartOnAHolidayAndSaysSoOncePerDay) {
    registerDevice(31, "D31", "127.0.0.31");
    TimTaskPoint_ skip = makeTask("假日停", kTaskDateMode, hms(8, 0, 0), hms(9, 0, 0));
    skip.skipHolidays = true;
    skip.devList = {makeDevice(31, {1})};
    PlusTTPoint(skip);
    SetHolidays({20240129});
    m_clock->set(2024, 1, 29, 8, 0, 0);
    startRunner();
    ASSERT_TRUE(m_clock->waitSweeps(3));
    m_clock->set(2024, 1, 29, 8, 30, 0);
    ASSERT_TRUE(m_clock->waitSweeps(3));
    EXPECT_EQ(logLines("节假日跳过定时任务:假日停"),
              (Rows{{"1", "7", "节假日跳过定时任务:假日停"}}));
    EXPECT_EQ(runState(0), kTaskIdle);

    m_clock->set(2024, 1, 30, 8, 0, 0);  // no holiday: it runs
    ASSERT_TRUE(m_recorder.waitFramesTo(31, 16));
    EXPECT_EQ(logLines("节假日跳过定时任务:假日停").size(), 1u);
    SetHolidays({});
}

TEST_F(ScheduleRunnerTest, ADeviceThatRegistersAgainGetsThePatternOfTheTaskThatStartedLast) {
    registerDevice(32, "D32", "127.0.0.32");
    TimTaskPoint_ first = makeTask("先", kTaskDateMode, hms(8, 0, 0), hms(9, 0, 0));
    first.devList = {makeDevice(32, {1})};
    PlusTTPoint(first);
    TimTaskPoint_ second = makeTask("后", kTaskDateMode, hms(8, 0, 1), hms(9, 0, 0));
    second.devList = {makeDevice(32, {2})};
    PlusTTPoint(second);
    EXPECT_FALSE(ReapplyChronrunTask(32));  // runner not started
    m_clock->set(2024, 1, 29, 8, 0, 1);
    startRunner();
    ASSERT_TRUE(waitLogLine("定时任务[后]执行设备[D32]完成."));
    const std::size_t before = m_recorder.framesTo(32).size();

    EXPECT_FALSE(ReapplyChronrunTask(33));  // named by no task
    ASSERT_TRUE(ReapplyChronrunTask(32));
    ASSERT_TRUE(m_recorder.waitFramesTo(32, before + 16));
    const std::vector<SentFrame> frames = m_recorder.framesTo(32);
    for (int outlet = 1; outlet <= 16; ++outlet)
        EXPECT_EQ(frames[before + outlet - 1].bytes[21], outlet == 2 ? 1 : 0);
    EXPECT_EQ(logLines("定时任务[后]重新应用到设备[D32]"),
              (Rows{{"2", "7", "定时任务[后]重新应用到设备[D32]"}}));

    m_clock->set(2024, 1, 29, 9, 0, 0);
    ASSERT_TRUE(waitRunState(0, kTaskEnded));  // one sweep ends them one after the other
    ASSERT_TRUE(waitRunState(1, kTaskEnded));
    EXPECT_FALSE(ReapplyChronrunTask(32));  // nothing running any more
}

// A device that comes back while its frames are being sent has lost the ones already sent:
// it gets the whole pattern again after them. One whose job still waits for it gets that job,
// not a second one.
TEST_F(ScheduleRunnerTest, ADeviceBackInTheMiddleOfItsFramesGetsThePatternAgain) {
    registerDevice(34, "D34", "127.0.0.34");
    TimTaskPoint_ task = makeTask("中途", kTaskDateMode, hms(8, 0, 0), hms(9, 0, 0));
    task.devList = {makeDevice(34, {3}), makeDevice(35, {3})};  // 35 is not online
    PlusTTPoint(task);
    m_recorder.closeGate();
    m_clock->set(2024, 1, 29, 8, 0, 0);
    startRunner();
    ASSERT_TRUE(waitLogLine("定时任务[中途]进入设备[35]线程"));
    EXPECT_FALSE(ReapplyChronrunTask(35));  // its job waits for it and sets every outlet
    ASSERT_TRUE(testkit::waitFor([&] { return m_recorder.entered() == 1; }));
    EXPECT_TRUE(ReapplyChronrunTask(34));  // outlet 1 is leaving: the device needs all again
    m_recorder.openGate();
    ASSERT_TRUE(m_recorder.waitFramesTo(34, 32));
    const std::vector<SentFrame> frames = m_recorder.framesTo(34);
    for (int k = 0; k < 32; ++k) EXPECT_EQ(frames[k].bytes[20], k % 16 + 1);
    EXPECT_EQ(logLines("定时任务[中途]重新应用到设备[D34]").size(), 1u);
    EXPECT_TRUE(logLines("定时任务[中途]重新应用到设备[35]").empty());
}

}  // namespace
}  // namespace chrontest
