// The event log viewer's four queries and its delete, as the viewer builds them, run on a real
// log store: what each selects or deletes.
#include <gtest/gtest.h>

#include <string>

#include "consoletools/log_query.h"
#include "log_test_support.h"

namespace {

using logtest::queryRows;
using logtest::Rows;

// The viewer's own statement for a date range and the two combo codes; the test fails if
// the viewer builds none.
std::string viewerQuery(const std::string& start, const std::string& end, int type, int childType) {
    const auto sql = consoletools::logQueryStatement(start, end, type, childType);
    EXPECT_TRUE(sql.has_value()) << type << "/" << childType;
    return sql.value_or("");
}

Rows contents(const Rows& rows) {
    Rows out;
    for (const auto& row : rows) out.push_back({row.at(4)});
    return out;
}

class LogViewerQueryTest : public logtest::LogStoreFixture {
protected:
    void SetUp() override {
        LogStoreFixture::SetUp();
        SetLogbaseClock(&logtest::fakeNow);
        logAt(2023, 12, 31, 1, 4, "year before");
        logAt(2024, 3, 6, 1, 1, "start-up 6th");
        logAt(2024, 3, 7, 2, 4, "device 7 on 7th");
        logAt(2024, 3, 7, 2, 5, "parallel 7th");
        logAt(2024, 3, 7, 3, 4, "device failed 7th");
        logAt(2024, 3, 8, 2, 4, "device 8 on 8th");
        logAt(2024, 10, 1, 1, 3, "exit october");  // "10" sorts after "03" as text
    }

    void logAt(int year, int month, int day, int type, int childType, const char* content) {
        logtest::setLocalTime(year, month, day, 12, 30, 45);
        InsertLogOb("%d,%d,'%s'", type, childType, content);
    }
};

TEST_F(LogViewerQueryTest, AllTypesAllSubTypesListsEveryLineOfTheRangeWithDisplayTexts) {
    const Rows rows = queryRows(viewerQuery("2024-03-06", "2024-03-08", 4, 9));
    EXPECT_EQ(contents(rows), (Rows{{"start-up 6th"},
                                    {"device 7 on 7th"},
                                    {"parallel 7th"},
                                    {"device failed 7th"},
                                    {"device 8 on 8th"}}));
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0], (std::vector<std::string>{"2024-03-06", "12:30:45", "系统日志", "系统初始化",
                                                 "start-up 6th"}));
    EXPECT_EQ(rows[3][2], "失败日志");
    EXPECT_EQ(rows[3][3], "设备连接");
    EXPECT_EQ(queryRows(viewerQuery("2023-01-01", "2024-12-31", 4, 9)).size(), 7u);
}

TEST_F(LogViewerQueryTest, FiltersBySubTypeTypeAndBoth) {
    EXPECT_EQ(contents(queryRows(viewerQuery("2024-03-01", "2024-03-31", 4, 4))),
              (Rows{{"device 7 on 7th"}, {"device failed 7th"}, {"device 8 on 8th"}}));
    EXPECT_EQ(contents(queryRows(viewerQuery("2024-03-01", "2024-03-31", 2, 9))),
              (Rows{{"device 7 on 7th"}, {"parallel 7th"}, {"device 8 on 8th"}}));
    EXPECT_EQ(contents(queryRows(viewerQuery("2024-03-01", "2024-03-31", 2, 4))),
              (Rows{{"device 7 on 7th"}, {"device 8 on 8th"}}));
    EXPECT_EQ(contents(queryRows(viewerQuery("2024-01-01", "2024-12-31", 1, 3))),
              (Rows{{"exit october"}}));
    EXPECT_TRUE(queryRows(viewerQuery("2024-01-01", "2024-12-31", 1, 7)).empty());
}

TEST_F(LogViewerQueryTest, OneDayRangeListsOnlyThatDay) {
    EXPECT_EQ(contents(queryRows(viewerQuery("2024-03-07", "2024-03-07", 4, 9))),
              (Rows{{"device 7 on 7th"}, {"parallel 7th"}, {"device failed 7th"}}));
    EXPECT_EQ(contents(queryRows(viewerQuery("2024-10-01", "2024-10-01", 4, 9))),
              (Rows{{"exit october"}}));
}

TEST_F(LogViewerQueryTest, StartAfterEndRunsAndYieldsNoRows) {
    LogObLockLogbase();
    std::unique_ptr<NWSqlStatement> statement =
        LogObQueryStatement(viewerQuery("2024-03-08", "2024-03-06", 4, 9));
    LogObUnlockLogbase();
    ASSERT_NE(statement, nullptr);
    EXPECT_TRUE(statement->IsEmpty());
    EXPECT_FALSE(statement->NextRow());
}

TEST_F(LogViewerQueryTest, RunningTheSameQueryTwiceGivesTheSameRows) {
    const std::string sql = viewerQuery("2024-03-06", "2024-03-08", 4, 9);
    const Rows first = queryRows(sql);
    EXPECT_EQ(queryRows(sql), first);
    EXPECT_EQ(first.size(), 5u);
}

TEST_F(LogViewerQueryTest, CodesOutsideTheCombosAndDatesThatAreNotDatesGiveNoStatement) {
    EXPECT_FALSE(consoletools::logQueryStatement("2024-03-07", "2024-03-09", 0, 9));
    EXPECT_FALSE(consoletools::logQueryStatement("2024-03-07", "2024-03-09", 4, 10));
    EXPECT_FALSE(consoletools::logQueryStatement("2024' OR '1'='1", "2024-03-09", 4, 9));
    EXPECT_FALSE(consoletools::logDeleteStatement(0));
    EXPECT_FALSE(consoletools::logDeleteStatement(10));
    EXPECT_EQ(consoletools::formatLogDate(2024, 3, 7), "2024-03-07");
}

TEST_F(LogViewerQueryTest, DeleteOneSubTypeThenEverything) {
    const auto sql = consoletools::logDeleteStatement(4);
    ASSERT_TRUE(sql);
    LogObLockLogbase();
    ASSERT_TRUE(LogObBeginTrans());
    ASSERT_TRUE(LogObExecuteLogbase(*sql));
    ASSERT_TRUE(LogObCommitTrans());
    LogObUnlockLogbase();
    EXPECT_EQ(contents(queryRows(viewerQuery("2023-01-01", "2024-12-31", 4, 9))),
              (Rows{{"start-up 6th"}, {"parallel 7th"}, {"exit october"}}));

    // A line logged just before the delete is part of what it deletes.
    InsertLogOb("%d,%d,'%s'", 2, 6, "logged just before");
    LogObLockLogbase();
    ASSERT_TRUE(LogObBeginTrans());
    ASSERT_TRUE(LogObExecuteLogbase(consoletools::logDeleteStatement(9).value_or("")));
    ASSERT_TRUE(LogObCommitTrans());
    LogObUnlockLogbase();
    EXPECT_EQ(logtest::countRows(), 0);
    EXPECT_EQ(queryRows("select count(*) from LogChildType"), (Rows{{"9"}}));
}

}  // namespace
