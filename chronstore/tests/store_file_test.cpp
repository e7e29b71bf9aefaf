// The store against real TimingTask.ini files in a temporary folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "chronstore/chronstore.h"
#include "diskkit/module_dir.h"
#include "platform/ini_profile.h"
#include "task_fixtures.h"
#include "testkit/wait_for.h"

namespace {

using chronstore_test::makeTask;
using chronstore_test::slurp;
using chronstore_test::spit;

class StoreFile : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = (m_dir.path() / "TimingTask").string();
        ASSERT_TRUE(InitChronstoreAt(m_folder));
    }
    void TearDown() override { ReleaseChronstore(); }
    std::string file() const { return m_folder + "/TimingTask.ini"; }
    void restart() {
        ReleaseChronstore();
        ASSERT_TRUE(InitChronstoreAt(m_folder));
    }

    testkit::TempDir m_dir;
    std::string m_folder;
};

TEST_F(StoreFile, NoFileLoadsNothingAndTheFirstSaveCreatesIt) {
    EXPECT_TRUE(std::filesystem::is_directory(m_folder));  // folder made at init
    EXPECT_FALSE(std::filesystem::exists(file()));         // the file is not
    EXPECT_EQ(GetTTPointCount(), 0);
    EXPECT_EQ(GetTTFilePath(), file());
    ASSERT_TRUE(SaveTimPointToFile());
    EXPECT_EQ(slurp(file()), "[TimingTask]\nttCount=0\n");

    PlusTTPoint(makeTask("a", 1));
    ASSERT_TRUE(SaveTimPointToFile());
    restart();
    EXPECT_EQ(GetTTPointCount(), 1);
}

TEST_F(StoreFile, ThreeSavedLastRemovedLeavesTheStaleSectionAndLoadsTwo) {
    PlusTTPoint(makeTask("one", 1));
    PlusTTPoint(makeTask("two", 2));
    PlusTTPoint(makeTask("three", 3));
    ASSERT_TRUE(SaveTimPointToFile());
    RemoveTTPointByIdx(2);
    ASSERT_TRUE(SaveTimPointToFile());

    const auto doc = platform::loadIniFile(file());
    ASSERT_TRUE(doc.has_value());
    EXPECT_EQ(doc->getInt("TimingTask", "ttCount", -1), 2);
    EXPECT_TRUE(doc->hasSection("Timing_3"));
    EXPECT_EQ(doc->getString("Timing_3", "timName", ""), "three");

    restart();
    ASSERT_EQ(GetTTPointCount(), 2);
    TimTaskGuard guard;
    EXPECT_EQ(GetTimNameUtf8(GetTTPointByIndex(0)), "one");
    EXPECT_EQ(GetTimNameUtf8(GetTTPointByIndex(1)), "two");
}

TEST_F(StoreFile, FewerDevicesKeepStaleDeviceKeysThatTheLoadIgnores) {
    PlusTTPoint(makeTask("t", 3));
    ASSERT_TRUE(SaveTimPointToFile());
    TimTaskPoint_ changed = makeTask("t", 1);
    ModifyTTPoint(0, changed);
    ASSERT_TRUE(SaveTimPointToFile());
    const std::string text = slurp(file());
    EXPECT_NE(text.find("devCount=1\n"), std::string::npos);
    EXPECT_NE(text.find("devID_3=102\n"), std::string::npos);
    restart();
    TimTaskGuard guard;
    EXPECT_EQ(GetTTPointByIndex(0).devList.size(), 1u);
}

TEST_F(StoreFile, TaskWithoutDevicesWritesCountZeroAndNoDeviceKeys) {
    PlusTTPoint(makeTask("idle", 0));
    ASSERT_TRUE(SaveTimPointToFile());
    const std::string text = slurp(file());
    EXPECT_NE(text.find("devCount=0\n"), std::string::npos);
    EXPECT_EQ(text.find("devID_"), std::string::npos);
    EXPECT_EQ(text.find("devLED_"), std::string::npos);
}

TEST_F(StoreFile, SaveEqualsKeyByKeyProfileWritesOverAnExistingFile) {
    const std::string existing =
        "; hand note\r\n[TimingTask]\r\nttCount=4\r\n[Timing_1]\r\ntimName=old\r\n"
        "extra=kept\r\ndevID_5=55\r\n\r\n[Timing_4]\r\ntimName=stale\r\n";
    spit(file(), existing);
    restart();
    ASSERT_EQ(GetTTPointCount(), 4);
    ReleaseChronstore();
    PlusTTPoint(makeTask("新", 2));
    PlusTTPoint(makeTask("second", 0));
    ASSERT_TRUE(SaveTimPointToFile());

    // The same keys, one profile write at a time, on a copy of the old file.
    const std::string reference = (m_dir.path() / "reference.ini").string();
    spit(reference, existing);
    auto w = [&](const std::string& s, const std::string& k, const std::string& v) {
        ASSERT_TRUE(platform::writeProfileString(reference, s, k, v));
    };
    w("TimingTask", "ttCount", "2");
    const char* days[] = {"sunday",   "monday", "tuesday", "wednesday",
                          "thursday", "friday", "saturday"};
    const char* names[] = {"新", "second"};
    for (int i = 0; i < 2; ++i) {
        const std::string s = "Timing_" + std::to_string(i + 1);
        w(s, "timName", names[i]);
        for (auto [k, v] : {std::pair{"ttEnable", "1"},
                            {"ttType", "1"},
                            {"staYear", "2024"},
                            {"staMonth", "3"},
                            {"staDay", "15"},
                            {"endYear", "2024"},
                            {"endMonth", "6"},
                            {"endDay", "10"}})
            w(s, k, v);
        for (int d = 0; d < 7; ++d) w(s, days[d], d == 1 || d == 5 ? "1" : "0");
        w(s, "statime", "28800");
        w(s, "endtime", "32430");
        w(s, "devCount", i == 0 ? "2" : "0");
        if (i == 0) {
            w(s, "devID_1", "100");
            w(s, "devLED_1", "1000000000000000");
            w(s, "devID_2", "101");
            w(s, "devLED_2", "0100000000000000");
        }
    }
    EXPECT_EQ(slurp(file()), slurp(reference));
}

TEST_F(StoreFile, RunStateAndNumbersAreNotSavedAndALaterLoadContinuesTheCounter) {
    PlusTTPoint(makeTask("a", 0));
    PlusTTPoint(makeTask("b", 0));
    {
        TimTaskGuard guard;
        GetTTPointByIndex(0).runState = kTaskRunning;
        GetTTPointByIndex(0).timID = 77;
        GetTTPointByIndex(1).runState = kTaskEnded;
    }
    ASSERT_TRUE(SaveTimPointToFile());
    EXPECT_EQ(slurp(file()).find("timID"), std::string::npos);
    EXPECT_EQ(slurp(file()).find("runState"), std::string::npos);

    restart();
    int firstId = 0;
    {
        TimTaskGuard guard;
        ASSERT_EQ(GetTTPointCount(), 2);
        firstId = GetTTPointByIndex(0).timID;
        EXPECT_EQ(GetTTPointByIndex(1).timID, firstId + 1);
        EXPECT_EQ(GetTTPointByIndex(0).runState, kTaskIdle);
        EXPECT_EQ(GetTTPointByIndex(1).runState, kTaskIdle);
    }
    restart();  // the counter carries on within one process
    TimTaskGuard guard;
    EXPECT_EQ(GetTTPointByIndex(0).timID, firstId + 2);
}

// Runs in the child: loads and exits 0 when the tasks are numbered 1..3 in file order.
void loadAndCheckNumbering(const testkit::TempDir& dir, const std::string& folder) {
    InitChronstoreAt(folder);
    bool ok = GetTTPointCount() == 3;
    {
        TimTaskGuard guard;
        const char* names[] = {"x", "y", "z"};
        for (int i = 0; ok && i < 3; ++i) {
            ok = GetTTPointByIndex(i).timID == i + 1 &&
                 GetTimNameUtf8(GetTTPointByIndex(i)) == names[i];
        }
    }
    std::filesystem::remove_all(dir.path());  // the child's own folder
    std::exit(ok ? 0 : 1);
}

// A fresh process numbers the tasks 1..n in file order. Runs in a re-executed child so
// the counter starts as it does at program start.
TEST(StoreFreshProcess, TasksAreNumberedFromOneInFileOrder) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    testkit::TempDir dir;
    const std::string folder = (dir.path() / "TimingTask").string();
    std::filesystem::create_directories(folder);
    spit(folder + "/TimingTask.ini",
         "[TimingTask]\nttCount=3\n[Timing_1]\ntimName=x\n[Timing_2]\ntimName=y\n"
         "[Timing_3]\ntimName=z\n");
    EXPECT_EXIT(loadAndCheckNumbering(dir, folder), ::testing::ExitedWithCode(0), "");
}

TEST_F(StoreFile, NamesRoundTripInUtf8AndLongOnesAreCut) {
    spit(file(),
         "[TimingTask]\nttCount=2\n[Timing_1]\ntimName=夜间关机\n"
         "[Timing_2]\ntimName=abcdefghijklmnopqrstuvwxyz0123\n");
    restart();
    {
        TimTaskGuard guard;
        EXPECT_EQ(GetTimNameUtf8(GetTTPointByIndex(0)), "夜间关机");
        EXPECT_EQ(GetTimNameUtf8(GetTTPointByIndex(1)), "abcdefghijklmnopqrs");
    }
    ASSERT_TRUE(SaveTimPointToFile());
    EXPECT_NE(slurp(file()).find("timName=abcdefghijklmnopqrs\n"), std::string::npos);
}

TEST(StoreDefaultFolder, TheFileLivesInTimingTaskBesideTheProgram) {
    const std::filesystem::path folder = GetModuleDir() + "/TimingTask";
    const bool existed = std::filesystem::exists(folder);
    ASSERT_TRUE(InitChronstore());
    EXPECT_EQ(GetTTFilePath(), folder.string() + "/TimingTask.ini");
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    ReleaseChronstore();
    if (!existed) std::filesystem::remove_all(folder);
}

TEST(StoreFailures, AnUncreatableFolderLoadsNothingAndSavesFail) {
    testkit::TempDir dir;
    const std::string folder = (dir.path() / "missing" / "TimingTask").string();
    ASSERT_TRUE(InitChronstoreAt(folder));
    EXPECT_EQ(GetTTPointCount(), 0);
    PlusTTPoint(makeTask("x", 1));
    EXPECT_FALSE(SaveTimPointToFile());
    EXPECT_FALSE(std::filesystem::exists(folder));
    ReleaseChronstore();

    // The file's place taken by a folder: nothing loads, and the save does not clobber it.
    const std::string blocked = (dir.path() / "TimingTask").string();
    std::filesystem::create_directories(blocked + "/TimingTask.ini");
    ASSERT_TRUE(InitChronstoreAt(blocked));
    EXPECT_EQ(GetTTPointCount(), 0);
    PlusTTPoint(makeTask("x", 1));
    EXPECT_FALSE(SaveTimPointToFile());
    EXPECT_TRUE(std::filesystem::is_directory(blocked + "/TimingTask.ini"));
    ReleaseChronstore();
}

}  // namespace
