// Holidays: dates on which tasks that opt in (skipHolidays) do not start. Kept in
// "Holidays.ini" beside TimingTask.ini: section [Holidays], count=N, date_1=YYYY-MM-DD ...
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chronstore/chronstore_export.h"

// year * 10000 + month * 100 + day, so that dates order as numbers.
using HolidayDate = std::int32_t;
using HolidayList = std::vector<HolidayDate>;  // ascending, no repeats

constexpr HolidayDate MakeHolidayDate(int year, int month, int day) {
    return year * 10000 + month * 100 + day;
}
// A real calendar date written YYYY-MM-DD (years 1900..9999); nothing otherwise.
CHRONSTORE_EXPORT std::optional<HolidayDate> ParseHolidayDate(std::string_view text);
CHRONSTORE_EXPORT std::string FormatHolidayDate(HolidayDate date);
// Sorts and drops repeats.
CHRONSTORE_EXPORT HolidayList NormaliseHolidays(HolidayList dates);
CHRONSTORE_EXPORT bool ListHasHoliday(const HolidayList& dates, int year, int month, int day);

// The dates a Holidays.ini text holds; entries that are not real dates are skipped.
CHRONSTORE_EXPORT HolidayList ParseHolidays(std::string_view iniText);
// The text `existingText` becomes with `dates` written key by key.
CHRONSTORE_EXPORT std::string FormatHolidays(std::string_view existingText,
                                             const HolidayList& dates);

// The store's list, loaded by InitChronstoreAt from <folder>/Holidays.ini. All take the store
// lock themselves (it is re-entrant, so they may be called with it held).
CHRONSTORE_EXPORT HolidayList GetHolidays();
CHRONSTORE_EXPORT void SetHolidays(HolidayList dates);
CHRONSTORE_EXPORT bool IsHoliday(int year, int month, int day);
// Writes the list in one atomic replacement; false when the file could not be written.
CHRONSTORE_EXPORT bool SaveHolidaysToFile();
