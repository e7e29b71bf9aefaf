// When a task starts and ends: the day test, the start test and the end test of the scan.
#pragma once

#include <cstdint>

#include "chronrun/chronrun_options.h"
#include "chronstore/tim_task.h"

namespace chronrun {

// Seconds after local midnight; milliseconds do not exist here, so the granularity is 1 s.
std::uint32_t secondsOfDay(const ChronrunLocalTime& now);

// Date mode: today lies in the inclusive date range, compared year, then month, then day.
// Week mode: today's weekday flag is set. Any other type: never.
bool dayTestHolds(const TimTaskPoint_& task, const ChronrunLocalTime& now);

// The day test holds and statime <= now < endtime.
bool startTestHolds(const TimTaskPoint_& task, const ChronrunLocalTime& now);

// now >= endtime.
bool endTestHolds(const TimTaskPoint_& task, std::uint32_t secondsNow);

}  // namespace chronrun
