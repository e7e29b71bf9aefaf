// The event log viewer's filters, as the viewer builds them from its combo codes, and its
// delete, run on a real log store: what each selects or deletes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "consoletools/log_query.h"
#include "log_test_support.h"
#include "logbase/log_query.h"

namespace {

using logbase::LogRow;
using Rows = std::vector<LogRow>;
using Contents = std::vector<std::string>;

// The lines the viewer lists for a date range and the two combo codes; the test fails if the
// viewer builds no filter or the store answers nothing.
Rows viewerQuery(const std::string& start, const std::string& end, int type, int childType) {
    const auto filter = consoletools::logFilterOf(start, end, type, childType);
    EXPECT_TRUE(filter.has_value()) << type << "/" << childType;
    if (!filter) return {};
    const auto rows = logbase::queryLog(*filter);
    EXPECT_TRUE(rows.has_value());
    return rows.value_or(Rows{});
}

Contents contents(const Rows& rows) {
    Contents out;
    for (const auto& row : rows) out.push_back(row.content);
    return out;
}

Contents everything() {
    return contents(viewerQuery("0000-00-00", "9999-99-99", 4, 9));
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
    const Rows rows = viewerQuery("2024-03-06", "2024-03-08", 4, 9);
    EXPECT_EQ(contents(rows), (Contents{"start-up 6th", "device 7 on 7th", "parallel 7th",
                                        "device failed 7th", "device 8 on 8th"}));
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0],
              (LogRow{"2024-03-06", "12:30:45", "系统日志", "系统初始化", "start-up 6th"}));
    EXPECT_EQ(rows[3].typeText, "失败日志");
    EXPECT_EQ(rows[3].subTypeText, "设备连接");
    EXPECT_EQ(viewerQuery("2023-01-01", "2024-12-31", 4, 9).size(), 7u);
}

TEST_F(LogViewerQueryTest, FiltersBySubTypeTypeAndBoth) {
    EXPECT_EQ(contents(viewerQuery("2024-03-01", "2024-03-31", 4, 4)),
              (Contents{"device 7 on 7th", "device failed 7th", "device 8 on 8th"}));
    EXPECT_EQ(contents(viewerQuery("2024-03-01", "2024-03-31", 2, 9)),
              (Contents{"device 7 on 7th", "parallel 7th", "device 8 on 8th"}));
    EXPECT_EQ(contents(viewerQuery("2024-03-01", "2024-03-31", 2, 4)),
              (Contents{"device 7 on 7th", "device 8 on 8th"}));
    EXPECT_EQ(contents(viewerQuery("2024-01-01", "2024-12-31", 1, 3)), (Contents{"exit october"}));
    EXPECT_TRUE(viewerQuery("2024-01-01", "2024-12-31", 1, 7).empty());
}

TEST_F(LogViewerQueryTest, OneDayRangeListsOnlyThatDay) {
    EXPECT_EQ(contents(viewerQuery("2024-03-07", "2024-03-07", 4, 9)),
              (Contents{"device 7 on 7th", "parallel 7th", "device failed 7th"}));
    EXPECT_EQ(contents(viewerQuery("2024-10-01", "2024-10-01", 4, 9)), (Contents{"exit october"}));
}

TEST_F(LogViewerQueryTest, StartAfterEndRunsAndYieldsNoRows) {
    const auto rows = logbase::queryLog(
        consoletools::logFilterOf("2024-03-08", "2024-03-06", 4, 9).value_or(logbase::LogFilter{}));
    ASSERT_TRUE(rows.has_value());
    EXPECT_TRUE(rows->empty());
}

TEST_F(LogViewerQueryTest, RunningTheSameQueryTwiceGivesTheSameRows) {
    const Rows first = viewerQuery("2024-03-06", "2024-03-08", 4, 9);
    EXPECT_EQ(viewerQuery("2024-03-06", "2024-03-08", 4, 9), first);
    EXPECT_EQ(first.size(), 5u);
}

TEST_F(LogViewerQueryTest, CodesOutsideTheCombosGiveNoFilterAndDatesAreOnlyValues) {
    EXPECT_FALSE(consoletools::logFilterOf("2024-03-07", "2024-03-09", 0, 9));
    EXPECT_FALSE(consoletools::logFilterOf("2024-03-07", "2024-03-09", 4, 10));
    // A date that tries to change the statement is compared as text and matches nothing.
    EXPECT_TRUE(viewerQuery("2024' OR '1'='1", "2024' OR '1'='1", 4, 9).empty());
    EXPECT_EQ(everything().size(), 7u);
    EXPECT_EQ(logbase::formatLogDate(2024, 3, 7), "2024-03-07");
}

TEST_F(LogViewerQueryTest, DeleteOneSubTypeThenEverything) {
    ASSERT_TRUE(logbase::deleteLog(4));
    EXPECT_EQ(everything(), (Contents{"start-up 6th", "parallel 7th", "exit october"}));

    // A line logged just before the delete is part of what it deletes.
    InsertLogOb("%d,%d,'%s'", 2, 6, "logged just before");
    ASSERT_TRUE(logbase::deleteLog(std::nullopt));
    EXPECT_TRUE(everything().empty());
    // The display rows stay: a new line is listed with its texts.
    InsertLogOb("%d,%d,'%s'", 3, 8, "after the delete");
    EXPECT_EQ(everything(), (Contents{"after the delete"}));
}

TEST_F(LogViewerQueryTest, ClosedStoreAnswersNothing) {
    ReleaseLogbaseModule();
    EXPECT_FALSE(logbase::queryLog(logbase::LogFilter{"2024-01-01", "2024-12-31", {}, {}}));
    EXPECT_FALSE(logbase::deleteLog(std::nullopt));
}

}  // namespace
