// Local date and time stamps of log lines.
#pragma once

#include <chrono>
#include <string>

namespace logbase {

struct LogStamp {
    std::string date;  // "YYYY-MM-DD"
    std::string time;  // "HH:MM:SS"
};

// Local-time stamp of `when`. Cached per thread for the current second, since every line of a
// busy second would otherwise repeat the same time-zone conversion.
LogStamp stampOf(std::chrono::system_clock::time_point when);

// The local date ("YYYY-MM-DD") `days` calendar days before the day of `when`.
std::string dateDaysBefore(std::chrono::system_clock::time_point when, int days);

// Now, on the clock that stamps log lines (SetLogbaseClock).
std::chrono::system_clock::time_point logNow();

}  // namespace logbase
