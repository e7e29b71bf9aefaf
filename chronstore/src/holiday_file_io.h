// Reading the holiday list from and writing it into a Holidays.ini document.
#pragma once

#include "chronstore/holidays.h"
#include "platform/ini_document.h"

namespace chronstore {

HolidayList loadHolidays(const platform::IniDocument& doc);
void writeHolidays(platform::IniDocument& doc, const HolidayList& dates);

}  // namespace chronstore
