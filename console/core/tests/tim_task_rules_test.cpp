// The timed-task editor's rules and the should-be/is view, without a display.
#include <gtest/gtest.h>

#include <map>

#include "consolecore/task_view.h"
#include "consolecore/tim_task_rules.h"

using namespace consolecore;

namespace {

TEST(TimTaskRules, NextTaskNumberFillsTheLowestGapAboveAUsedOne) {
    const std::vector<std::pair<std::vector<std::uint16_t>, int>> cases = {
        {{}, 1},     {{1, 2, 4}, 3}, {{1, 2, 3}, 4}, {{2, 3}, 4},
        {{3, 5}, 2}, {{5, 3}, 2},    {{1, 3}, 2},    {{7}, 8}};
    for (const auto& [numbers, expected] : cases) EXPECT_EQ(nextTaskNumber(numbers), expected);
}

TEST(TimTaskRules, FormChecksInTheirOrder) {
    TaskForm good;
    good.name = u"任务";
    good.startDate = {2024, 3, 5};
    good.endDate = {2024, 3, 5};
    good.startTime = 8 * 3600;
    good.endTime = 8 * 3600 + 1;
    auto with = [&](auto change) {
        TaskForm form = good;
        change(form);
        return form;
    };
    EXPECT_EQ(checkTaskForm(good, false), TaskCheck::Ok);
    EXPECT_EQ(checkTaskForm(with([](TaskForm& f) { f.name.clear(); }), true),
              TaskCheck::NothingSelected);
    EXPECT_EQ(checkTaskForm(with([](TaskForm& f) { f.name.clear(); }), false),
              TaskCheck::EmptyName);
    EXPECT_EQ(checkTaskForm(with([](TaskForm& f) {
                                f.endDate = {2024, 2, 29};
                            }),
                            false),
              TaskCheck::StartDateAfterEnd);
    EXPECT_EQ(checkTaskForm(with([](TaskForm& f) { f.type = kTaskWeekMode; }), false),
              TaskCheck::NoWeekday);
    EXPECT_EQ(checkTaskForm(with([](TaskForm& f) { f.endTime = f.startTime; }), false),
              TaskCheck::StartNotBeforeEnd);
}

TEST(TaskView, RowsShowTheTaskThatStartedLastAgainstWhatTheDeviceReports) {
    auto task = [](std::int32_t id, const char* name, std::uint32_t start, std::uint16_t dev,
                   int outlet) {
        TimTaskPoint_ t;
        t.timID = id;
        SetTimNameUtf8(t, name);
        t.ttEnable = 1;
        t.ttType = kTaskWeekMode;
        t.monday = true;
        t.statime = start;
        t.endtime = 12 * 3600;
        DeviceOnOff_ d;
        d.devID = dev;
        d.devLED[outlet - 1] = 1;
        t.devList = {d};
        return t;
    };
    const std::vector<TimTaskPoint_> tasks = {
        task(1, "早", 8 * 3600, 5, 1), task(2, "晚", 9 * 3600, 5, 2), task(3, "灯", 8 * 3600, 6, 3),
        task(4, "无", 8 * 3600, 7, 4)};
    std::map<std::uint16_t, DeviceSnapshot> registry;
    registry[5].name = "D5";
    registry[5].online = true;
    registry[5].leds[1] = true;  // as task 2 wants
    registry[6].name = "D6";
    registry[6].online = true;
    registry[6].leds[0] = true;  // task 3 wants outlet 3
    const DeviceLookup lookup = [&](std::uint16_t id) -> std::optional<DeviceSnapshot> {
        const auto found = registry.find(id);
        if (found == registry.end()) return std::nullopt;
        return found->second;
    };
    const ChronrunLocalTime monday{2024, 1, 29, 1, 10, 0, 0};
    const auto rows = computeTaskView(tasks, {}, monday, lookup);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].devID, 5);
    EXPECT_EQ(rows[0].timID, 2);
    EXPECT_EQ(rows[0].taskName, "晚");
    EXPECT_FALSE(rows[0].mismatch());
    EXPECT_EQ(rows[1].deviceName, "D6");
    EXPECT_TRUE(rows[1].should[2]);
    EXPECT_TRUE(rows[1].mismatch());
    EXPECT_EQ(rows[2].devID, 7);  // not registered: shown offline, not as a mismatch
    EXPECT_FALSE(rows[2].online);
    EXPECT_FALSE(rows[2].mismatch());
    // Tuesday: no window open.
    EXPECT_TRUE(computeTaskView(tasks, {}, {2024, 1, 30, 2, 10, 0, 0}, lookup).empty());
}

}  // namespace
