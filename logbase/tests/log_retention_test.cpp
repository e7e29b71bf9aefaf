// Deleting rows older than the kept days: exactly those go, the count is logged once, and
// lines logged meanwhile are all stored.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "log_test_support.h"

namespace {

using logtest::countRows;
using logtest::queryRows;
using namespace std::chrono_literals;

constexpr const char* kCountLine = "where LogContent like '删除过期日志%'";

class LogRetentionTest : public logtest::LogStoreFixture {
protected:
    void TearDown() override {
        SetLogKeepDays(0);
        LogStoreFixture::TearDown();
    }
    // `count` rows dated `date`, stored in one change.
    static void addRows(const std::string& date, int count) {
        LogObLockLogbase();
        ASSERT_TRUE(LogObBeginTrans());
        ASSERT_TRUE(LogObExecuteLogbase(
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
            std::to_string(count) +
            ") INSERT INTO Log(LogCreateDate, LogCreateTime, LogType, LogChildType, LogContent) "
            "SELECT '" +
            date + "', '12:00:00', 2, 5, 'old ' || i FROM n"));
        ASSERT_TRUE(LogObCommitTrans());
        LogObUnlockLogbase();
    }
    static bool countLogged() { return countRows(kCountLine) > 0; }
};

TEST_F(LogRetentionTest, DeletesExactlyTheOlderDaysWhileLinesKeepComing) {
    SetLogbaseClock(logtest::fakeNow);
    logtest::setLocalTime(2026, 3, 10, 0, 30, 0);
    // Kept 3 days: from 03-07 on. 03-06 and before go, across the month boundary too.
    addRows("2026-02-27", 900);
    addRows("2026-03-06", 1300);
    addRows("2026-03-07", 700);
    addRows("2026-03-10", 200);

    // Lines logged while the deletion runs in batches.
    SetLogKeepDays(3);
    std::thread logger([] {
        for (int i = 0; i < 3000; ++i) logEvent(2, 5, "new " + std::to_string(i));
    });
    logger.join();
    ASSERT_TRUE(testkit::waitFor([] { return countLogged(); }, 20s));

    const auto line =
        queryRows(std::string("select LogType, LogChildType, LogContent from Log ") + kCountLine);
    ASSERT_EQ(line.size(), 1u);
    EXPECT_EQ(line[0], (std::vector<std::string>{"1", "8", "删除过期日志2200条"}));
    EXPECT_EQ(countRows("where LogCreateDate < '2026-03-07'"), 0);
    EXPECT_EQ(countRows("where LogContent like 'old %'"), 900);
    EXPECT_EQ(countRows("where LogCreateDate = '2026-03-07'"), 700);
    // Every line from the logger is there exactly once.
    EXPECT_EQ(queryRows("select count(*), count(distinct LogContent) from Log "
                        "where LogContent like 'new %' and LogCreateDate = '2026-03-10'"),
              (logtest::Rows{{"3000", "3000"}}));
}

TEST_F(LogRetentionTest, RunsAgainEachIntervalAndStaysQuietWhenNothingIsOld) {
    SetLogbaseClock(logtest::fakeNow);
    logtest::setLocalTime(2026, 5, 2, 9, 0, 0);
    addRows("2026-05-01", 10);
    SetLogKeepDays(1, 5ms);  // keeps 05-01 and 05-02
    // Several runs pass with nothing to delete: the line count stays zero.
    logEvent(2, 5, "marker");
    ASSERT_TRUE(
        testkit::waitFor([] { return countRows("where LogContent = 'marker'") == 1; }, 20s));
    EXPECT_EQ(countRows(kCountLine), 0);

    logtest::setLocalTime(2026, 5, 3, 0, 0, 1);  // a new day: 05-01 is now too old
    ASSERT_TRUE(testkit::waitFor([] { return countLogged(); }, 20s));
    EXPECT_EQ(queryRows(std::string("select LogContent from Log ") + kCountLine)[0][0],
              "删除过期日志10条");
    EXPECT_EQ(countRows("where LogCreateDate = '2026-05-01'"), 0);
}

}  // namespace
