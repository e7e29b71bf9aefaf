// The rules of the timed-task editor that need no widgets: the task list's cell texts, the
// checks before a task is stored with their messages, and the next free task number.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "chronstore/tim_task.h"

namespace consolecore {

// "%02d:%02d:%02d" of seconds after midnight.
std::string timeOfDayText(std::uint32_t seconds);
// "%d-%d-%d".
std::string taskDateText(unsigned year, unsigned month, unsigned day);
// The set days' characters joined, Sunday first: "日一二三四五六".
std::string weekdayText(const TimTaskPoint_& task);
// "日期模式", "星期模式" (the words of the form), or the decimal number of a type only a
// hand-edited file can hold.
std::string taskTypeText(std::uint8_t type);

// The number of a new task: 1 with no tasks; else, over the numbers sorted ascending as
// s[0..n-1], the first l in 1..n-1 with s[l] > l+1 and s[l-1] != l+1 gives l+1; else
// s[n-1] + 1. (1,2,4 gives 3; 1,2,3 gives 4; 2,3 gives 4; 3,5 gives 2.)
int nextTaskNumber(std::vector<std::uint16_t> numbers);

struct TaskDate {
    int year = 0;
    int month = 0;
    int day = 0;
    bool operator<(const TaskDate& other) const;
    bool operator==(const TaskDate&) const = default;
};

// What the editor's fields hold when Save is pressed.
struct TaskForm {
    std::u16string name;
    int type = kTaskDateMode;  // the type drop-down's index
    TaskDate startDate;
    TaskDate endDate;
    std::array<bool, 7> weekdays{};  // Sunday first
    std::uint32_t startTime = 0;     // seconds after midnight
    std::uint32_t endTime = 0;
    bool skipHolidays = false;  // 节假日不执行
    bool operator==(const TaskForm&) const = default;
};

enum class TaskCheck {
    Ok,
    NothingSelected,
    EmptyName,
    StartDateAfterEnd,
    NoWeekday,
    StartNotBeforeEnd
};

// The checks in their order; `editingWithoutSelection` is the first of them.
TaskCheck checkTaskForm(const TaskForm& form, bool editingWithoutSelection);
// The message box text of a failed check; empty for Ok.
const char* taskCheckMessage(TaskCheck check);

// The record a valid form stores: enabled, idle, both dates and all seven flags in either
// mode, and the devices given.
TimTaskPoint_ buildTask(const TaskForm& form, const std::vector<DeviceOnOff_>& devices);

}  // namespace consolecore
