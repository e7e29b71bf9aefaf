// Shared helpers for the log store tests: a fixture with a fresh database, a settable clock
// and reading query results back as UTF-8.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <string>
#include <vector>

#include "logbase/log_clock.h"
#include "logbase/logbase.h"
#include "testkit/wait_for.h"

namespace logtest {

inline constexpr const char* kDbName = "Vantrel_DB.db3";

using Rows = std::vector<std::vector<std::string>>;

// Runs a query the way the viewer does (lock, query, unlock, then read).
inline Rows queryRows(const std::string& sql) {
    LogObLockLogbase();
    std::unique_ptr<NWSqlStatement> statement = LogObQueryStatement(sql);
    LogObUnlockLogbase();
    Rows rows;
    EXPECT_NE(statement, nullptr) << sql;
    if (!statement) return rows;
    EXPECT_EQ(statement->IsEmpty(), statement->RowCount() == 0);
    while (statement->NextRow()) {
        std::vector<std::string> row;
        for (int c = 0; c < statement->ColumnCount(); ++c) {
            row.push_back(statement->ValueString(c).toUtf8());
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

inline long long countRows(const std::string& where = "") {
    const Rows rows = queryRows("select count(*) from Log " + where);
    return rows.size() == 1 && !rows[0].empty() ? std::stoll(rows[0][0]) : -1;
}

// A clock tests set to a chosen local time.
inline std::atomic<long long> g_fakeSeconds{0};
inline std::chrono::system_clock::time_point fakeNow() {
    return std::chrono::system_clock::time_point(std::chrono::seconds(g_fakeSeconds.load()));
}
inline void setLocalTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    g_fakeSeconds.store(static_cast<long long>(std::mktime(&tm)));
}

class LogStoreFixture : public ::testing::Test {
protected:
    void SetUp() override {
        SetLogbaseClock(nullptr);
        ASSERT_TRUE(InitLogbaseModule(m_dir.path().string() + "/", kDbName));
    }
    void TearDown() override {
        ReleaseLogbaseModule();
        SetLogbaseClock(nullptr);
    }
    testkit::TempDir m_dir;
};

}  // namespace logtest
