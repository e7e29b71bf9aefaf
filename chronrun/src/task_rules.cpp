// The time tests a scan applies to each task, and what follows from them.
#include "chronrun/task_rules.h"

#include <chrono>
#include <map>
#include <tuple>

namespace chronrun {
namespace {

constexpr std::uint32_t kSecondsPerDay = 24 * 3600;
constexpr int kNextStartHorizonDays = 800;

std::optional<std::chrono::sys_days> toDays(int year, int month, int day) {
    using namespace std::chrono;
    const year_month_day date{std::chrono::year{year}, std::chrono::month{unsigned(month)},
                              std::chrono::day{unsigned(day)}};
    if (month < 1 || day < 1 || !date.ok()) return std::nullopt;
    return sys_days{date};
}

ChronrunLocalTime localTimeAt(std::chrono::sys_days day, std::uint32_t seconds) {
    const std::chrono::year_month_day date{day};
    return ChronrunLocalTime{int(date.year()),          int(unsigned(date.month())),
                             int(unsigned(date.day())), int(std::chrono::weekday{day}.c_encoding()),
                             int(seconds / 3600),       int(seconds % 3600 / 60),
                             int(seconds % 60)};
}

}  // namespace

std::uint32_t secondsOfDay(const ChronrunLocalTime& now) {
    const int seconds = now.hour * 3600 + now.minute * 60 + now.second;
    return seconds < 0 ? 0u : static_cast<std::uint32_t>(seconds);
}

bool dayTestHolds(const TimTaskPoint_& task, const ChronrunLocalTime& now) {
    switch (task.ttType) {
        case kTaskDateMode: {
            // Lexicographic order on (year, month, day): a later month with an earlier day of
            // month is still later.
            const auto today = std::make_tuple(now.year, now.month, now.day);
            const auto first =
                std::make_tuple(int{task.staYear}, int{task.staMonth}, int{task.staDay});
            const auto last =
                std::make_tuple(int{task.endYear}, int{task.endMonth}, int{task.endDay});
            return first <= today && today <= last;
        }
        case kTaskWeekMode:
            return TaskRunsOnWeekday(task, now.weekday);
        default:
            return false;
    }
}

bool startTestHolds(const TimTaskPoint_& task, const ChronrunLocalTime& now) {
    const std::uint32_t seconds = secondsOfDay(now);
    return dayTestHolds(task, now) && task.statime <= seconds && seconds < task.endtime;
}

bool endTestHolds(const TimTaskPoint_& task, std::uint32_t secondsNow) {
    return secondsNow >= task.endtime;
}

bool holidaySkips(const TimTaskPoint_& task, const ChronrunLocalTime& now,
                  const HolidayList& holidays) {
    return task.skipHolidays && ListHasHoliday(holidays, now.year, now.month, now.day);
}

std::optional<ChronrunLocalTime> nextStart(const TimTaskPoint_& task, const ChronrunLocalTime& now,
                                           const HolidayList& holidays) {
    const auto today = toDays(now.year, now.month, now.day);
    // A start time of 24 h or more is never reached by a clock.
    if (!task.ttEnable || !today || task.statime >= kSecondsPerDay) return std::nullopt;
    auto starts = [&](const ChronrunLocalTime& at) {
        return startTestHolds(task, at) && !holidaySkips(task, at, holidays);
    };
    const std::uint32_t seconds = secondsOfDay(now);
    if (task.runState != kTaskRunning) {
        const ChronrunLocalTime at = localTimeAt(*today, std::max(seconds, task.statime));
        if (starts(at)) return at;
    }
    std::chrono::sys_days first = *today + std::chrono::days{1};
    std::optional<std::chrono::sys_days> last;
    if (task.ttType == kTaskDateMode) {
        const auto from = toDays(task.staYear, task.staMonth, task.staDay);
        if (from && *from > first) first = *from;
        last = toDays(task.endYear, task.endMonth, task.endDay);
    }
    for (int offset = 0; offset < kNextStartHorizonDays; ++offset) {
        const std::chrono::sys_days day = first + std::chrono::days{offset};
        if (last && day > *last) break;
        const ChronrunLocalTime at = localTimeAt(day, task.statime);
        if (starts(at)) return at;
    }
    return std::nullopt;
}

std::vector<DueDevice> dueDevices(const std::vector<TimTaskPoint_>& tasks,
                                  const ChronrunLocalTime& now, const HolidayList& holidays) {
    std::map<std::uint16_t, DueDevice> due;
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        const TimTaskPoint_& task = tasks[i];
        if (!task.ttEnable || !startTestHolds(task, now) || holidaySkips(task, now, holidays))
            continue;
        for (std::size_t k = 0; k < task.devList.size(); ++k) {
            const DueDevice candidate{task.devList[k].devID, i, k};
            auto [entry, inserted] = due.try_emplace(candidate.devID, candidate);
            // A device listed twice in one task gets its later entry, as the runner sends it.
            const std::size_t held = entry->second.taskIndex;
            if (!inserted && (held == i || startedLater(task, i, tasks[held], held)))
                entry->second = candidate;
        }
    }
    std::vector<DueDevice> result;
    result.reserve(due.size());
    for (const auto& [id, device] : due) result.push_back(device);
    return result;
}

}  // namespace chronrun
