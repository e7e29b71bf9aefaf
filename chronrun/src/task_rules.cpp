// The time tests a scan applies to each task.
#include "task_rules.h"

#include <tuple>

namespace chronrun {

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

}  // namespace chronrun
