// The holiday list: its file format and the store's copy.
#include "chronstore/holidays.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>

#include "holiday_file_io.h"

namespace {

constexpr const char* kSection = "Holidays";
constexpr const char* kCountKey = "count";
constexpr int kMaxLoadedHolidays = 10000;

bool readNumber(std::string_view text, int& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::optional<HolidayDate> ParseHolidayDate(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    int year = 0, month = 0, day = 0;
    if (!readNumber(text.substr(0, 4), year) || !readNumber(text.substr(5, 2), month) ||
        !readNumber(text.substr(8, 2), day) || year < 1900)
        return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year{year},
                                           std::chrono::month{static_cast<unsigned>(month)},
                                           std::chrono::day{static_cast<unsigned>(day)}};
    if (!date.ok()) return std::nullopt;
    return MakeHolidayDate(year, month, day);
}

std::string FormatHolidayDate(HolidayDate date) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", date / 10000, date / 100 % 100, date % 100);
    return text;
}

HolidayList NormaliseHolidays(HolidayList dates) {
    std::sort(dates.begin(), dates.end());
    dates.erase(std::unique(dates.begin(), dates.end()), dates.end());
    return dates;
}

bool ListHasHoliday(const HolidayList& dates, int year, int month, int day) {
    return std::binary_search(dates.begin(), dates.end(), MakeHolidayDate(year, month, day));
}

namespace chronstore {

HolidayList loadHolidays(const platform::IniDocument& doc) {
    const int count = std::min(doc.getInt(kSection, kCountKey, 0), kMaxLoadedHolidays);
    HolidayList dates;
    for (int k = 1; k <= count; ++k) {
        const auto value = doc.get(kSection, "date_" + std::to_string(k));
        if (!value) continue;
        if (const auto date = ParseHolidayDate(*value)) dates.push_back(*date);
    }
    return NormaliseHolidays(std::move(dates));
}

void writeHolidays(platform::IniDocument& doc, const HolidayList& dates) {
    doc.setInt(kSection, kCountKey, static_cast<long long>(dates.size()));
    for (std::size_t k = 0; k < dates.size(); ++k)
        doc.set(kSection, "date_" + std::to_string(k + 1), FormatHolidayDate(dates[k]));
}

}  // namespace chronstore

HolidayList ParseHolidays(std::string_view iniText) {
    return chronstore::loadHolidays(platform::IniDocument::parse(iniText));
}

std::string FormatHolidays(std::string_view existingText, const HolidayList& dates) {
    platform::IniDocument doc = platform::IniDocument::parse(existingText);
    chronstore::writeHolidays(doc, dates);
    return doc.toText();
}
