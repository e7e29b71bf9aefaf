// Task names and the TimingTask.ini load and write rules, on text.
#include <gtest/gtest.h>

#include <string>

#include "chronstore/task_file.h"
#include "task_fixtures.h"

namespace {

using chronstore_test::makeTask;

TEST(TaskName, LongNamesAreCutTo19UnitsNeverInsideASurrogatePair) {
    TimTaskPoint_ task;
    SetTimName(task, u"abcdefghijklmnopqrstuvwxyz0123");  // 30 characters
    EXPECT_EQ(GetTimName(task), u"abcdefghijklmnopqrs");
    EXPECT_EQ(task.timName[19], u'\0');

    // 18 units, then a pair that would straddle the limit: the pair is dropped whole.
    std::u16string name(18, u'x');
    name += u"\U0001F600tail";
    SetTimName(task, name);
    EXPECT_EQ(GetTimName(task), std::u16string(18, u'x'));

    SetTimNameUtf8(task, "开机任务");
    EXPECT_EQ(GetTimNameUtf8(task), "开机任务");
    SetTimName(task, std::u16string_view(u"ab\0cd", 5));
    EXPECT_EQ(GetTimName(task), u"ab");
}

TEST(TaskFileLoad, OutletPatternForms) {
    const auto tasks = ParseTimTasks(
        "[TimingTask]\nttCount=1\n[Timing_1]\ndevCount=5\n"
        "devID_1=1\ndevLED_1=1010\n"
        "devID_2=2\ndevLED_2=11111111111111111111\n"
        "devID_3=3\n"
        "devID_4=4\ndevLED_4=1x1\n"
        "devID_5=5\ndevLED_5=开1\n",
        1);
    ASSERT_EQ(tasks.size(), 1u);
    ASSERT_EQ(tasks[0].devList.size(), 5u);
    EXPECT_EQ(tasks[0].devCount, 5);
    auto onOutlets = [](const DeviceOnOff_& d) {
        std::string s;
        for (auto led : d.devLED) s += led ? '1' : '0';
        return s;
    };
    EXPECT_EQ(onOutlets(tasks[0].devList[0]), "1010000000000000");
    EXPECT_EQ(onOutlets(tasks[0].devList[1]), "1111111111111111");
    EXPECT_EQ(onOutlets(tasks[0].devList[2]), "0000000000000000");  // missing key
    EXPECT_EQ(onOutlets(tasks[0].devList[3]), "1010000000000000");  // other characters: off
    EXPECT_EQ(onOutlets(tasks[0].devList[4]), "0100000000000000");  // counted in characters
    for (int k = 0; k < 5; ++k) EXPECT_EQ(tasks[0].devList[k].devID, k + 1);
}

TEST(TaskFileLoad, DeviceEntriesWithoutAnIdKeyAreNotLoaded) {
    const auto tasks = ParseTimTasks(
        "[TimingTask]\nttCount=1\n[Timing_1]\ndevCount=3000\ndevLED_1=1\ndevID_7=7\n", 1);
    ASSERT_EQ(tasks.size(), 1u);
    ASSERT_EQ(tasks[0].devList.size(), 1u);
    EXPECT_EQ(tasks[0].devList[0].devID, 7);
    EXPECT_EQ(tasks[0].devCount, 1);
}

TEST(TaskFileLoad, NumbersKeepTheirLowBitsAndWeekdaysTestTheLowByte) {
    const auto tasks = ParseTimTasks(
        "[TimingTask]\nttCount=1\n[Timing_1]\nsunday=256\nmonday=257\ntuesday=-1\n"
        "wednesday=+1\nttEnable=512\nttType=257\nstaYear=70000\nstaMonth=300\nstatime=4294967295\n"
        "endtime=-2\ndevCount=65537\ndevID_1=65541\n",
        1);
    ASSERT_EQ(tasks.size(), 1u);
    const TimTaskPoint_& t = tasks[0];
    EXPECT_FALSE(t.sunday);
    EXPECT_TRUE(t.monday);
    EXPECT_FALSE(t.tuesday);    // a sign is not a digit: "-1" reads as 0
    EXPECT_FALSE(t.wednesday);  // and so does "+1"
    EXPECT_EQ(t.ttEnable, 0);
    EXPECT_EQ(t.ttType, 1);
    EXPECT_EQ(t.staYear, 70000 & 0xFFFF);
    EXPECT_EQ(t.staMonth, 300 & 0xFF);
    EXPECT_EQ(t.statime, 4294967295u);
    EXPECT_EQ(t.endtime, 0u);         // "-2"
    ASSERT_EQ(t.devList.size(), 1u);  // 65537 keeps its low 16 bits: 1
    EXPECT_EQ(t.devList[0].devID, 5);
}

TEST(TaskFileLoad, HandEditedFileWithMissingKeysJunkAndTooFewSections) {
    const std::string name30 = "abcdefghijklmnopqrstuvwxyz0123";
    const auto tasks = ParseTimTasks(
        "[TimingTask]\r\nttCount = 3junk\r\n"
        "[timing_1]\r\n timName = " +
            name30 +
            "\r\nttEnable=yes\r\nttType=1\r\n"
            "statime=28800 seconds\r\nendtime=\r\nwednesday=1\r\ndevCount=2\r\n"
            "devID_1=abc\r\ndevLED_1=\r\n",
        1);
    ASSERT_EQ(tasks.size(), 3u);
    const TimTaskPoint_& first = tasks[0];
    EXPECT_EQ(GetTimNameUtf8(first), name30.substr(0, 19));
    EXPECT_EQ(first.ttEnable, 0);  // no digits
    EXPECT_EQ(first.ttType, 1);
    EXPECT_EQ(first.statime, 28800u);
    EXPECT_EQ(first.endtime, 0u);  // empty value: the default
    EXPECT_TRUE(first.wednesday);
    ASSERT_EQ(first.devList.size(), 1u);  // devID_2 is missing: no entry, not a device 0
    EXPECT_EQ(first.devList[0].devID, 0);
    EXPECT_EQ(first.devCount, 1);
    for (const auto& task : {tasks[1], tasks[2]}) {
        // Sections that are not there: every default.
        EXPECT_EQ(GetTimNameUtf8(task), "tim");
        EXPECT_EQ(task.ttEnable, 0);
        EXPECT_EQ(task.ttType, 0);
        EXPECT_EQ(task.staYear, 0);
        EXPECT_EQ(task.statime, 0u);
        EXPECT_EQ(task.endtime, 0u);
        EXPECT_FALSE(task.sunday || task.monday || task.saturday);
        EXPECT_TRUE(task.devList.empty());
        EXPECT_EQ(task.devCount, 0);
    }
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        EXPECT_EQ(tasks[i].timID, static_cast<int>(i) + 1);
        EXPECT_EQ(tasks[i].runState, kTaskIdle);
    }
}

TEST(TaskFileLoad, CountsFromADamagedFileAreBounded) {
    EXPECT_TRUE(ParseTimTasks("[TimingTask]\nttCount=-4\n", 1).empty());
    EXPECT_TRUE(ParseTimTasks("", 1).empty());
    EXPECT_TRUE(ParseTimTasks(std::string("\0\xFF\n[\n=\n", 7), 1).empty());
    EXPECT_EQ(ParseTimTasks("[TimingTask]\nttCount=2147483647\n", 1).size(),
              static_cast<std::size_t>(kMaxLoadedTasks));
    // devCount 65535 entries, of which only devID_1 is there; the device budget caps the
    // entries looked at across tasks, so the sixth task gets none.
    std::string text = "[TimingTask]\nttCount=20\n";
    for (int n = 1; n <= 20; ++n)
        text += "[Timing_" + std::to_string(n) + "]\ndevCount=65535\ndevID_1=9\n";
    const auto tasks = ParseTimTasks(text, 1);
    ASSERT_EQ(tasks.size(), 20u);
    for (std::size_t n = 0; n < tasks.size(); ++n) {
        EXPECT_EQ(tasks[n].devList.size(), n < 5 ? 1u : 0u) << n;
        EXPECT_EQ(tasks[n].devCount, tasks[n].devList.size());
    }
}

TEST(TaskFileWrite, KeysInOrderAndNoDeviceKeysForATaskWithoutDevices) {
    std::vector<TimTaskPoint_> tasks{makeTask("早班", 2), makeTask("empty", 0)};
    tasks[0].devList[1].devLED[15] = 7;  // any non-zero state is written as "1"
    EXPECT_EQ(FormatTimTasks("", tasks),
              "[TimingTask]\nttCount=2\n"
              "[Timing_1]\ntimName=早班\nttEnable=1\nttType=1\nstaYear=2024\nstaMonth=3\n"
              "staDay=15\nendYear=2024\nendMonth=6\nendDay=10\nsunday=0\nmonday=1\n"
              "tuesday=0\nwednesday=0\nthursday=0\nfriday=1\nsaturday=0\nstatime=28800\n"
              "endtime=32430\ndevCount=2\ndevID_1=100\ndevLED_1=1000000000000000\n"
              "devID_2=101\ndevLED_2=0100000000000001\n"
              "[Timing_2]\ntimName=empty\nttEnable=1\nttType=1\nstaYear=2024\nstaMonth=3\n"
              "staDay=15\nendYear=2024\nendMonth=6\nendDay=10\nsunday=0\nmonday=1\n"
              "tuesday=0\nwednesday=0\nthursday=0\nfriday=1\nsaturday=0\nstatime=28800\n"
              "endtime=32430\ndevCount=0\n");
}

TEST(TaskFileWrite, RoundTripKeepsEveryFieldAndStaleKeysStay) {
    std::vector<TimTaskPoint_> tasks{makeTask("one", 3), makeTask("two", 1, 900)};
    tasks[1].ttType = kTaskDateMode;
    tasks[1].sunday = tasks[1].saturday = true;
    tasks[1].statime = 0xFFFFFFF0u;  // beyond a signed 32-bit number: still read back as it is
    const std::string first = FormatTimTasks("", tasks);

    tasks[0].devList.resize(1);
    tasks.pop_back();
    const std::string second = FormatTimTasks(first, tasks);
    EXPECT_NE(second.find("ttCount=1\n"), std::string::npos);
    EXPECT_NE(second.find("[Timing_2]"), std::string::npos);   // stale section kept
    EXPECT_NE(second.find("devID_3=102"), std::string::npos);  // stale device key kept

    const auto loaded = ParseTimTasks(first, 1);
    ASSERT_EQ(loaded.size(), 2u);
    const auto& t = loaded[1];
    EXPECT_EQ(GetTimNameUtf8(t), "two");
    EXPECT_EQ(t.ttType, kTaskDateMode);
    EXPECT_TRUE(t.sunday && t.saturday && t.monday && t.friday);
    EXPECT_FALSE(t.tuesday || t.wednesday || t.thursday);
    EXPECT_EQ(t.statime, 0xFFFFFFF0u);
    EXPECT_EQ(t.endtime, 9u * 3600 + 30);
    EXPECT_EQ(t.staYear, 2024);
    EXPECT_EQ(t.staMonth, 3);
    EXPECT_EQ(t.staDay, 15);
    EXPECT_EQ(t.endYear, 2024);
    EXPECT_EQ(t.endMonth, 6);
    EXPECT_EQ(t.endDay, 10);
    ASSERT_EQ(t.devList.size(), 1u);
    EXPECT_EQ(t.devList[0].devID, 900);
    EXPECT_EQ(t.devList[0].devLED[0], 1);

    const auto reloaded = ParseTimTasks(second, 5);
    ASSERT_EQ(reloaded.size(), 1u);
    EXPECT_EQ(reloaded[0].timID, 5);
    EXPECT_EQ(reloaded[0].devList.size(), 1u);
}

}  // namespace
