// Cell texts, form checks and task numbering of the timed-task editor.
#include "consolecore/tim_task_rules.h"

#include <algorithm>
#include <cstdio>
#include <tuple>

namespace consolecore {

std::string timeOfDayText(std::uint32_t seconds) {
    char text[32];
    const std::uint32_t rest = seconds % 3600;
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", seconds / 3600, rest / 60, rest % 60);
    return text;
}

std::string taskDateText(unsigned year, unsigned month, unsigned day) {
    char text[40];
    std::snprintf(text, sizeof text, "%u-%u-%u", year, month, day);
    return text;
}

std::string weekdayText(const TimTaskPoint_& task) {
    static const char* const kDays[7] = {"日", "一", "二", "三", "四", "五", "六"};
    std::string text;
    for (int day = 0; day < 7; ++day) {
        if (TaskRunsOnWeekday(task, day)) text += kDays[day];
    }
    return text;
}

std::string taskTypeText(std::uint8_t type) {
    if (type == kTaskDateMode) return "日期模式";
    if (type == kTaskWeekMode) return "星期模式";
    return std::to_string(type);
}

int nextTaskNumber(std::vector<std::uint16_t> numbers) {
    if (numbers.empty()) return 1;
    std::sort(numbers.begin(), numbers.end());
    const std::size_t n = numbers.size();
    for (std::size_t l = 1; l < n; ++l) {
        const int candidate = static_cast<int>(l) + 1;
        if (numbers[l] > candidate && numbers[l - 1] != candidate) return candidate;
    }
    return numbers[n - 1] + 1;
}

bool TaskDate::operator<(const TaskDate& other) const {
    return std::tie(year, month, day) < std::tie(other.year, other.month, other.day);
}

TaskCheck checkTaskForm(const TaskForm& form, bool editingWithoutSelection) {
    if (editingWithoutSelection) return TaskCheck::NothingSelected;
    if (form.name.empty()) return TaskCheck::EmptyName;
    if (form.type == kTaskDateMode && form.endDate < form.startDate) {
        return TaskCheck::StartDateAfterEnd;
    }
    if (form.type == kTaskWeekMode &&
        std::none_of(form.weekdays.begin(), form.weekdays.end(), [](bool on) { return on; })) {
        return TaskCheck::NoWeekday;
    }
    if (form.startTime >= form.endTime) return TaskCheck::StartNotBeforeEnd;
    return TaskCheck::Ok;
}

const char* taskCheckMessage(TaskCheck check) {
    switch (check) {
        case TaskCheck::NothingSelected:
            return "编辑状态下未选择选项!";
        case TaskCheck::EmptyName:
            return "名称不能为空!";
        case TaskCheck::StartDateAfterEnd:
            return "开始日期不能大于结束日期!";
        case TaskCheck::NoWeekday:
            return "请选择星期!";
        case TaskCheck::StartNotBeforeEnd:
            return "开始时间要小于结束时间!";
        case TaskCheck::Ok:
            break;
    }
    return "";
}

TimTaskPoint_ buildTask(const TaskForm& form, const std::vector<DeviceOnOff_>& devices) {
    TimTaskPoint_ task;
    SetTimName(task, form.name);
    task.ttEnable = 1;
    task.runState = kTaskIdle;
    task.ttType = static_cast<std::uint8_t>(form.type);
    task.staYear = static_cast<std::uint16_t>(form.startDate.year);
    task.staMonth = static_cast<std::uint8_t>(form.startDate.month);
    task.staDay = static_cast<std::uint8_t>(form.startDate.day);
    task.endYear = static_cast<std::uint16_t>(form.endDate.year);
    task.endMonth = static_cast<std::uint8_t>(form.endDate.month);
    task.endDay = static_cast<std::uint8_t>(form.endDate.day);
    task.sunday = form.weekdays[0];
    task.monday = form.weekdays[1];
    task.tuesday = form.weekdays[2];
    task.wednesday = form.weekdays[3];
    task.thursday = form.weekdays[4];
    task.friday = form.weekdays[5];
    task.saturday = form.weekdays[6];
    task.statime = form.startTime;
    task.endtime = form.endTime;
    task.skipHolidays = form.skipHolidays;
    task.devList = devices;
    task.devCount = static_cast<std::uint16_t>(task.devList.size());
    return task;
}

}  // namespace consolecore
