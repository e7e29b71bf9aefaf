// TimTaskPoint_ and DeviceOnOff_: one timed task and one device of it, passed by value
// between the console, the store and the runner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "chronstore/chronstore_export.h"

constexpr std::size_t kTimNameUnits = 20;      // UTF-16 units including the terminating NUL
constexpr std::size_t kTimNameMaxLength = 19;  // units of text a name keeps
constexpr std::size_t kDeviceOutletCount = 16;

enum : std::uint8_t { kTaskIdle = 0, kTaskRunning = 1, kTaskEnded = 2 };
enum : std::uint8_t { kTaskDateMode = 0, kTaskWeekMode = 1 };

struct DeviceOnOff_ {
    std::uint16_t devID = 0;
    std::uint8_t devLED[kDeviceOutletCount] = {};  // index k is outlet k+1; 1 on, 0 off
};

struct TimTaskPoint_ {
    std::int32_t timID = 0;     // task number, never written to the file
    std::uint8_t ttEnable = 0;  // non-zero: enabled
    std::uint8_t runState = 0;  // kTaskIdle / kTaskRunning / kTaskEnded, memory only
    std::uint8_t ttType = 0;    // kTaskDateMode / kTaskWeekMode; other values never run
    char16_t timName[kTimNameUnits] = {};
    std::uint16_t staYear = 0;
    std::uint8_t staMonth = 0;
    std::uint8_t staDay = 0;
    std::uint16_t endYear = 0;
    std::uint8_t endMonth = 0;
    std::uint8_t endDay = 0;
    bool sunday = false;
    bool monday = false;
    bool tuesday = false;
    bool wednesday = false;
    bool thursday = false;
    bool friday = false;
    bool saturday = false;
    std::uint32_t statime = 0;  // seconds after local midnight
    std::uint32_t endtime = 0;
    std::uint16_t devCount = 0;  // kept equal to devList.size() by the store
    std::vector<DeviceOnOff_> devList;
    bool skipHolidays = false;  // does not start on a date of the holiday list
};

// Stores `name` in task.timName, cut to 19 UTF-16 units (never inside a surrogate pair).
CHRONSTORE_EXPORT void SetTimName(TimTaskPoint_& task, std::u16string_view name);
CHRONSTORE_EXPORT void SetTimNameUtf8(TimTaskPoint_& task, std::string_view utf8Name);
CHRONSTORE_EXPORT std::u16string GetTimName(const TimTaskPoint_& task);
CHRONSTORE_EXPORT std::string GetTimNameUtf8(const TimTaskPoint_& task);

// The weekday flag for 0 = Sunday .. 6 = Saturday; false for any other number.
CHRONSTORE_EXPORT bool TaskRunsOnWeekday(const TimTaskPoint_& task, int weekday);
