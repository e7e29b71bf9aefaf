// The log store on a real SQLite file: schema, stamping, verbatim content, statements.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <future>
#include <regex>
#include <string>

#include "log_test_support.h"
#include "logbase/log_query.h"

namespace {

using logtest::countRows;
using logtest::queryRows;
using logtest::Rows;

class LogStoreTest : public logtest::LogStoreFixture {};

TEST_F(LogStoreTest, CreatesTablesDisplayRowsDateIndexAndWal) {
    const Rows types = queryRows(
        "select LogTypeCode, LogTypeContent from LogType "
        "where LogTypeCode between 1 and 3 order by LogTypeCode");
    EXPECT_EQ(types, (Rows{{"1", "系统日志"}, {"2", "运行日志"}, {"3", "失败日志"}}));
    const Rows childTypes = queryRows(
        "select LogChildTypeCode, LogChildTypeContent from LogChildType "
        "where LogChildTypeCode between 1 and 8 order by LogChildTypeCode");
    EXPECT_EQ(childTypes, (Rows{{"1", "系统初始化"},
                                {"2", "参数修改"},
                                {"3", "系统退出"},
                                {"4", "设备连接"},
                                {"5", "平行操作"},
                                {"6", "串行操作"},
                                {"7", "定时任务"},
                                {"8", "其它"}}));
    EXPECT_EQ(queryRows("PRAGMA journal_mode"), (Rows{{"wal"}}));
    const Rows plan = queryRows(
        "EXPLAIN QUERY PLAN select * from Log where LogCreateDate >= '2024-01-01' "
        "AND LogCreateDate <= '2024-01-02'");
    ASSERT_FALSE(plan.empty());
    EXPECT_NE(plan[0].back().find("USING INDEX"), std::string::npos) << plan[0].back();
}

TEST_F(LogStoreTest, ReopeningKeepsRowsAndDoesNotDuplicateDisplayRows) {
    InsertLogOb("%d,%d,'%s'", 1, 1, "first run");
    ReleaseLogbaseModule();
    EXPECT_EQ(LogObQueryStatement("select 1"), nullptr) << "a closed store must not answer";
    ASSERT_TRUE(InitLogbaseModule(m_dir.path().string(), logtest::kDbName));  // no trailing '/'
    InsertLogOb("%d,%d,'%s'", 1, 3, "second run");
    EXPECT_EQ(queryRows("select LogContent from Log"), (Rows{{"first run"}, {"second run"}}));
    EXPECT_EQ(queryRows("select count(*) from LogType"), (Rows{{"4"}}));
    EXPECT_EQ(queryRows("select count(*) from LogChildType"), (Rows{{"9"}}));
}

TEST_F(LogStoreTest, StampsLocalDateAndTimeWhenTheLineIsLogged) {
    SetLogbaseClock(&logtest::fakeNow);
    logtest::setLocalTime(2024, 3, 7, 9, 5, 3);
    InsertLogOb("%d,%d,'设备注册:%d'", 2, 4, 7);
    EXPECT_EQ(queryRows("select LogCreateDate, LogCreateTime, LogType, LogChildType, LogContent "
                        "from Log"),
              (Rows{{"2024-03-07", "09:05:03", "2", "4", "设备注册:7"}}));

    // Real clock: today's local date in the fixed form (read before and after, for midnight).
    SetLogbaseClock(nullptr);
    auto today = [] {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        char text[16];
        std::strftime(text, sizeof text, "%Y-%m-%d", &local);
        return std::string(text);
    };
    const std::string before = today();
    InsertLogOb("%d,%d,'%s'", 1, 8, "now");
    const Rows rows =
        queryRows("select LogCreateDate, LogCreateTime from Log where LogContent='now'");
    const std::string after = today();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(rows[0][0] == before || rows[0][0] == after) << rows[0][0];
    EXPECT_TRUE(std::regex_match(rows[0][1], std::regex("[0-2][0-9]:[0-5][0-9]:[0-6][0-9]")));
}

TEST_F(LogStoreTest, StoresQuotesAndSqlInTheContentVerbatim) {
    const char* contents[] = {"it's O'Brien's device",
                              "'); DROP TABLE Log;--",
                              "a;b;c; DELETE FROM Log;",
                              "''",
                              "line\nbreak",
                              "%d %s %%",
                              "名称:'服务器'"};
    for (const char* content : contents) InsertLogOb("%d,%d,'%s'", 3, 8, content);
    const Rows rows = queryRows("select LogContent from Log");
    ASSERT_EQ(rows.size(), std::size(contents));
    for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i][0], contents[i]);
    EXPECT_EQ(queryRows("select count(*) from LogType"), (Rows{{"4"}}));
}

// Text from outside (device names, MQTT payloads) is stored as valid UTF-8: each malformed
// sequence becomes U+FFFD, valid text is kept as it is.
TEST_F(LogStoreTest, StoresOnlyValidUtf8) {
    const std::pair<const char*, const char*> cases[] = {
        {"\xff\xfe", "\uFFFD\uFFFD"},
        {"ab\xc3", "ab\uFFFD"},
        {"\xed\xa0\x80x", "\uFFFD\uFFFD\uFFFDx"},  // a surrogate's bytes
        {"\xc0\xaf", "\uFFFD\uFFFD"},              // overlong '/'
        {"名称:服务器", "名称:服务器"},
    };
    for (const auto& [raw, stored] : cases) InsertLogOb("%d,%d,'%s'", 3, 8, raw);
    InsertLogOb("\xff no head");
    // The bytes as stored: a reader that decodes would hide malformed ones.
    const auto hex = [](std::string_view text) {
        std::string out;
        for (const unsigned char c : text)
            out += "0123456789ABCDEF"[c >> 4], out += "0123456789ABCDEF"[c & 15];
        return out;
    };
    const Rows rows = queryRows("select hex(LogContent) from Log order by rowid");
    ASSERT_EQ(rows.size(), std::size(cases) + 1);
    for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(rows[i][0], hex(cases[i].second));
    EXPECT_EQ(rows.back()[0], hex("\uFFFD no head"));
}

TEST_F(LogStoreTest, StoresMalformedLinesWholeAndTheViewerStillListsThem) {
    InsertLogOb("%s", "no head at all");
    InsertLogOb("%d,%d,'%s'", 7, 1, "type out of range");
    InsertLogOb("%d,%d,'%s'", 2, 9, "sub-type out of range");
    EXPECT_EQ(queryRows("select LogType, LogChildType, LogContent from Log"),
              (Rows{{"0", "0", "no head at all"},
                    {"0", "0", "7,1,'type out of range'"},
                    {"0", "0", "2,9,'sub-type out of range'"}}));
    const Rows joined = queryRows(
        "select LogTypeContent, LogChildTypeContent from Log, LogType, LogChildType "
        "where Log.LogType=LogType.LogTypeCode AND Log.LogChildType=LogChildType.LogChildTypeCode");
    EXPECT_EQ(joined.size(), 3u);
}

TEST_F(LogStoreTest, LongContentIsNotCut) {
    const std::string longText(5000, 'x');
    InsertLogOb("%d,%d,'%s'", 2, 8, longText.c_str());
    EXPECT_EQ(queryRows("select length(LogContent) from Log"), (Rows{{"5000"}}));
}

TEST_F(LogStoreTest, StatementsReportFailureAndReadSafelyOutOfRange) {
    LogObLockLogbase();
    EXPECT_EQ(LogObQueryStatement("select nonsense from nowhere"), nullptr);
    EXPECT_EQ(LogObQueryStatement(""), nullptr);
    std::unique_ptr<NWSqlStatement> empty = LogObQueryStatement("select * from Log");
    LogObUnlockLogbase();
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->IsEmpty());
    EXPECT_FALSE(empty->NextRow());
    EXPECT_TRUE(empty->ValueString(0).empty());

    InsertLogOb("%d,%d,'%s'", 1, 1, "only");
    std::unique_ptr<NWSqlStatement> one = LogObQueryStatement("select LogContent, NULL from Log");
    ASSERT_NE(one, nullptr);
    EXPECT_FALSE(one->IsEmpty());
    EXPECT_TRUE(one->ValueString(0).empty());  // before the first row
    ASSERT_TRUE(one->NextRow());
    EXPECT_EQ(one->ValueString(0).toUtf8(), "only");
    EXPECT_TRUE(one->ValueString(1).empty());  // SQL NULL
    EXPECT_TRUE(one->ValueString(2).empty());
    EXPECT_TRUE(one->ValueString(-1).empty());
    EXPECT_FALSE(one->NextRow());
    EXPECT_FALSE(one->NextRow());
    EXPECT_TRUE(one->ValueString(0).empty());
}

TEST_F(LogStoreTest, ChangesNeedAnOpenStoreAndOneTransactionAtATime) {
    EXPECT_FALSE(LogObCommitTrans());  // nothing begun
    EXPECT_FALSE(LogObExecuteLogbase("not sql"));
    LogObLockLogbase();
    LogObLockLogbase();  // re-entrant
    EXPECT_TRUE(LogObBeginTrans());
    EXPECT_FALSE(LogObBeginTrans());
    EXPECT_TRUE(LogObExecuteLogbase("delete From Log"));
    EXPECT_TRUE(LogObCommitTrans());
    LogObUnlockLogbase();
    LogObUnlockLogbase();

    ReleaseLogbaseModule();
    EXPECT_FALSE(LogObBeginTrans());
    EXPECT_FALSE(LogObExecuteLogbase("delete From Log"));
    EXPECT_FALSE(LogObCommitTrans());
    EXPECT_EQ(LogObQueryStatement("select 1"), nullptr);
}

TEST_F(LogStoreTest, CallersDoNotWaitWhileTheDatabaseIsHeldAndKeepTheirCallTime) {
    SetLogbaseClock(&logtest::fakeNow);
    logtest::setLocalTime(2024, 3, 7, 10, 0, 0);
    LogObLockLogbase();
    ASSERT_TRUE(LogObBeginTrans());  // holds the write lock: the writer cannot store anything
    auto logger = std::async(std::launch::async, [] {
        for (int i = 0; i < 200; ++i) InsertLogOb("%d,%d,'held %d'", 2, 8, i);
    });
    EXPECT_EQ(logger.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    logtest::setLocalTime(2024, 3, 8, 11, 0, 0);  // later than the calls
    // The open change sees only what was committed before it.
    EXPECT_EQ(countRows(), 0);
    EXPECT_TRUE(LogObCommitTrans());
    LogObUnlockLogbase();
    EXPECT_EQ(countRows("where LogCreateDate='2024-03-07' AND LogCreateTime='10:00:00'"), 200);
}

TEST_F(LogStoreTest, ReleaseRollsBackAChangeLeftOpenAndStillStoresQueuedLines) {
    InsertLogOb("%d,%d,'%s'", 1, 1, "kept");
    LogObLockLogbase();
    ASSERT_TRUE(LogObBeginTrans());
    ASSERT_TRUE(LogObExecuteLogbase("delete From Log"));
    InsertLogOb("%d,%d,'%s'", 1, 3, "queued while held");
    ReleaseLogbaseModule();  // same thread holds the store lock: must not deadlock
    LogObUnlockLogbase();
    ASSERT_TRUE(InitLogbaseModule(m_dir.path().string(), logtest::kDbName));
    EXPECT_EQ(queryRows("select LogContent from Log"), (Rows{{"kept"}, {"queued while held"}}));
}

TEST(LogStoreOpenTest, FailsForAMissingFolderOrNameOrAFileThatIsNoDatabase) {
    testkit::TempDir dir;
    EXPECT_FALSE(InitLogbaseModule(dir.file("no/such/folder/"), logtest::kDbName));
    EXPECT_FALSE(InitLogbaseModule(dir.path().string(), ""));
    {
        std::ofstream junk(dir.file("junk.db3"), std::ios::binary);
        junk << std::string(8192, 'j');
    }
    EXPECT_FALSE(InitLogbaseModule(dir.path().string(), "junk.db3"));
    EXPECT_EQ(LogObQueryStatement("select 1"), nullptr);
}

}  // namespace

namespace {

// Pages of the newest lines first: the limit, the type filter, and `before` taking up where
// the last page ended.
TEST_F(LogStoreTest, PagesListTheNewestLinesFirstAndGoOnBeforeTheLastOne) {
    for (int i = 1; i <= 5; ++i) logEvent(i % 2 ? 2 : 3, 8, "line" + std::to_string(i));
    logbase::LogFilter filter{"0000-00-00", "9999-12-31", std::nullopt, std::nullopt};
    const auto texts = [](const std::vector<logbase::LogEntry>& page) {
        std::vector<std::string> out;
        for (const auto& e : page) out.push_back(e.row.content);
        return out;
    };
    const auto first = logbase::queryLogPage(filter, 2, std::nullopt);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(texts(*first), (std::vector<std::string>{"line5", "line4"}));
    EXPECT_EQ((*first)[1].type, 3);
    const auto second = logbase::queryLogPage(filter, 2, static_cast<int>((*first)[1].seq));
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(texts(*second), (std::vector<std::string>{"line3", "line2"}));
    filter.type = 2;
    EXPECT_EQ(texts(*logbase::queryLogPage(filter, 10, std::nullopt)),
              (std::vector<std::string>{"line5", "line3", "line1"}));
}

}  // namespace
