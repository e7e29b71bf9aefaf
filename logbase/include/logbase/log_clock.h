// The clock that stamps log lines, replaceable so that tests can log on chosen dates.
#pragma once

#include <chrono>

#include "logbase/logbase_export.h"

using LogClockFn = std::chrono::system_clock::time_point (*)();

// Lines logged from now on take their date and time from `clock`; null restores the system
// clock. The stamp is local time, taken when logEvent or InsertLogOb is called.
LOGBASE_EXPORT void SetLogbaseClock(LogClockFn clock);
