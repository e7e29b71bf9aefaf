// Local-time stamps of log lines, with a per-thread cache of the last second.
#include "log_time.h"

#include <cstdio>
#include <ctime>

namespace logbase {

LogStamp stampOf(std::chrono::system_clock::time_point when) {
    thread_local std::time_t cachedSecond = -1;
    thread_local LogStamp cached;
    const std::time_t second = std::chrono::system_clock::to_time_t(when);
    if (second != cachedSecond) {
        std::tm local{};
        if (localtime_r(&second, &local) == nullptr) return LogStamp{"0000-00-00", "00:00:00"};
        char date[32];
        char time[32];
        std::snprintf(date, sizeof date, "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1,
                      local.tm_mday);
        std::snprintf(time, sizeof time, "%02d:%02d:%02d", local.tm_hour, local.tm_min,
                      local.tm_sec);
        cached = LogStamp{date, time};
        cachedSecond = second;
    }
    return cached;
}

std::string dateDaysBefore(std::chrono::system_clock::time_point when, int days) {
    const std::time_t second = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    if (localtime_r(&second, &local) == nullptr) return "0000-00-00";
    // Noon of the day, so a daylight-saving change never moves the result to another date.
    local.tm_mday -= days;
    local.tm_hour = 12;
    local.tm_min = 0;
    local.tm_sec = 0;
    local.tm_isdst = -1;
    if (std::mktime(&local) == static_cast<std::time_t>(-1)) return "0000-00-00";
    char date[32];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday);
    return date;
}

}  // namespace logbase
