// When a task starts and ends: the day, start and end tests of the scan, the holiday skip,
// the next start, and which task's pattern a device should have now. The runner and the
// console's views use these same functions.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "chronrun/chronrun_export.h"
#include "chronrun/chronrun_options.h"
#include "chronstore/holidays.h"
#include "chronstore/tim_task.h"

namespace chronrun {

// Seconds after local midnight; milliseconds do not exist here, so the granularity is 1 s.
CHRONRUN_EXPORT std::uint32_t secondsOfDay(const ChronrunLocalTime& now);

// Date mode: today lies in the inclusive date range, compared year, then month, then day.
// Week mode: today's weekday flag is set. Any other type: never.
CHRONRUN_EXPORT bool dayTestHolds(const TimTaskPoint_& task, const ChronrunLocalTime& now);

// The day test holds and statime <= now < endtime.
CHRONRUN_EXPORT bool startTestHolds(const TimTaskPoint_& task, const ChronrunLocalTime& now);

// now >= endtime.
CHRONRUN_EXPORT bool endTestHolds(const TimTaskPoint_& task, std::uint32_t secondsNow);

// The task opted in and today is on the holiday list: it does not start today.
CHRONRUN_EXPORT bool holidaySkips(const TimTaskPoint_& task, const ChronrunLocalTime& now,
                                  const HolidayList& holidays);

// When the enabled task starts next, at `now` or later: now itself when its window is open and
// it is not running (the scan starts it at once), else the first day from today on whose start
// test holds at statime and that is not skipped as a holiday. Nothing for a disabled task or
// when no start lies within about two years.
CHRONRUN_EXPORT std::optional<ChronrunLocalTime> nextStart(const TimTaskPoint_& task,
                                                           const ChronrunLocalTime& now,
                                                           const HolidayList& holidays);

// A device and the task whose pattern it should have now.
struct DueDevice {
    std::uint16_t devID = 0;
    std::size_t taskIndex = 0;    // into the task list given
    std::size_t deviceIndex = 0;  // into that task's devList
};
// Every device named by an enabled task whose window is open now (start test, no holiday
// skip), with the task that started last (latest statime; the later one in the list on a
// tie), in ascending device id order.
CHRONRUN_EXPORT std::vector<DueDevice> dueDevices(const std::vector<TimTaskPoint_>& tasks,
                                                  const ChronrunLocalTime& now,
                                                  const HolidayList& holidays);

// Whether task `a` (at index ia) started later than task `b` (at ib) on the same day.
inline bool startedLater(const TimTaskPoint_& a, std::size_t ia, const TimTaskPoint_& b,
                         std::size_t ib) {
    return a.statime != b.statime ? a.statime > b.statime : ia > ib;
}

}  // namespace chronrun
