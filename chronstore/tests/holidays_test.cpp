// The holiday list and the per-task opt-in, in their own file and beside TimingTask.ini.
#include <gtest/gtest.h>

#include <string>

#include "chronstore/chronstore.h"
#include "chronstore/holidays.h"
#include "chronstore/task_file.h"
#include "platform/ini_profile.h"
#include "task_fixtures.h"
#include "testkit/wait_for.h"

namespace {

using chronstore_test::makeTask;
using chronstore_test::slurp;

TEST(HolidayDates, OnlyRealDatesWrittenYyyyMmDdAreTaken) {
    const struct {
        const char* text;
        HolidayDate expected;  // 0: refused
    } cases[] = {{"2024-02-29", 20240229}, {"2023-02-29", 0}, {"2024-13-01", 0},
                 {"2024-1-01", 0},         {"24-01-01xx", 0}, {"1899-12-31", 0},
                 {"2024-12-31", 20241231}, {"2024-00-10", 0}, {"+024-01-01", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto date = ParseHolidayDate(c.text);
        EXPECT_EQ(date.value_or(0), c.expected);
        if (date) {
            EXPECT_EQ(FormatHolidayDate(*date), c.text);
        }
    }
    EXPECT_EQ(ParseHolidays("[Holidays]\ncount=4\ndate_1=2025-01-01\ndate_2=bad\n"
                            "date_4=2024-10-01\ndate_5=2024-05-01\n"),
              (HolidayList{20241001, 20250101}));
}

TEST(HolidayStore, SavedHolidaysAndOptInsReloadAndTheTaskFileKeepsItsFormat) {
    testkit::TempDir dir;
    const std::string folder = (dir.path() / "TimingTask").string();
    ASSERT_TRUE(InitChronstoreAt(folder));
    TimTaskPoint_ optedIn = makeTask("节日", 1);
    optedIn.skipHolidays = true;
    PlusTTPoint(optedIn);
    PlusTTPoint(makeTask("平日", 1));
    SetHolidays({20251001, 20250101, 20251001});
    ASSERT_TRUE(SaveTimPointToFile());
    ASSERT_TRUE(SaveHolidaysToFile());
    EXPECT_EQ(slurp(folder + "/Holidays.ini"),
              "[Holidays]\ncount=2\ndate_1=2025-01-01\ndate_2=2025-10-01\n");

    // The task file holds every described key; the opt-in is one more key in its section.
    const std::string text = slurp(folder + "/TimingTask.ini");
    const auto doc = platform::IniDocument::parse(text);
    EXPECT_EQ(doc.getInt("TimingTask", "ttCount", -1), 2);
    EXPECT_EQ(doc.get("Timing_1", "skipHolidays"), "1");
    EXPECT_FALSE(doc.get("Timing_2", "skipHolidays").has_value());
    for (const char* key :
         {"timName", "ttEnable", "ttType", "staYear", "staMonth", "staDay", "endYear", "endMonth",
          "endDay", "sunday", "saturday", "statime", "endtime", "devCount", "devID_1", "devLED_1"})
        EXPECT_TRUE(doc.get("Timing_2", key).has_value()) << key;
    // Without the opt-in the text is exactly what a file without holidays was.
    TimTaskPoint_ plain = optedIn;
    plain.skipHolidays = false;
    EXPECT_EQ(FormatTimTasks("", {plain}), FormatTimTasks("", {makeTask("节日", 1)}));

    ReleaseChronstore();
    SetHolidays({});
    ASSERT_TRUE(InitChronstoreAt(folder));
    EXPECT_EQ(GetHolidays(), (HolidayList{20250101, 20251001}));
    EXPECT_TRUE(IsHoliday(2025, 10, 1));
    EXPECT_FALSE(IsHoliday(2025, 10, 2));
    TimTaskGuard guard;
    ASSERT_EQ(GetTTPointCount(), 2);
    EXPECT_TRUE(GetTTPointByIndex(0).skipHolidays);
    EXPECT_FALSE(GetTTPointByIndex(1).skipHolidays);
    EXPECT_EQ(GetTimNameUtf8(GetTTPointByIndex(1)), "平日");

    // Opting out again writes 0 over the earlier 1 rather than leaving it behind.
    GetTTPointByIndex(0).skipHolidays = false;
    ASSERT_TRUE(SaveTimPointToFile());
    EXPECT_EQ(platform::loadIniFile(folder + "/TimingTask.ini")->get("Timing_1", "skipHolidays"),
              "0");
    ReleaseChronstore();
}

}  // namespace
