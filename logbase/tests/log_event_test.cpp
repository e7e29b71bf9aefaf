// logEvent against InsertLogOb: the same line through either entry point stores the same row,
// byte for byte, in a real database.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "log_test_support.h"

namespace {

using logtest::queryRows;
using logtest::Rows;

struct Case {
    const char* name;
    std::function<void()> formatted;  // the line as a call site formatted it
    int type;
    int subType;
    std::string text;
};

std::string repeated(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

const std::string kLong = repeated("设备7;", 400);  // past InsertLogOb's stack buffer
const std::string kWithNul("before\0after", 12);
const std::string kBadUtf8 = "name:\xC3\x28\xFF end";

std::vector<Case> cases() {
    return {
        {"plain", [] { InsertLogOb("%d,%d,'网络初始化成功!'", 1, 1); }, 1, 1, "网络初始化成功!"},
        {"number", [] { InsertLogOb("%d,%d,'设备注册:%d'", 2, 4, 65535); }, 2, 4,
         "设备注册:" + std::to_string(65535)},
        {"negative", [] { InsertLogOb("%d,%d,'errno %d'", 2, 8, -5); }, 2, 8,
         "errno " + std::to_string(-5)},
        {"unsigned", [] { InsertLogOb("%d,%d,'COM%u ok'", 2, 8, 4000000000u); }, 2, 8,
         "COM" + std::to_string(4000000000u) + " ok"},
        {"count", [] { InsertLogOb("%d,%d,'丢弃%llu条'", 3, 8, 18446744073709551615ull); }, 3, 8,
         "丢弃" + std::to_string(18446744073709551615ull) + "条"},
        {"ip", [] { InsertLogOb("%d,%d,'添加用户:%s'", 2, 4, "127.0.0.3"); }, 2, 4,
         "添加用户:127.0.0.3"},
        {"inner quote", [] { InsertLogOb("%d,%d,'%s'", 2, 7, "it's"); }, 2, 7, "it's"},
        {"sql", [] { InsertLogOb("%d,%d,'%s'", 3, 8, "'); DROP TABLE Log;--"); }, 3, 8,
         "'); DROP TABLE Log;--"},
        {"quote at end", [] { InsertLogOb("%d,%d,'%s'", 3, 8, "x' "); }, 3, 8, "x' "},
        {"blanks and line ends", [] { InsertLogOb("%d,%d,'%s'", 2, 6, " a\r\n\t"); }, 2, 6,
         " a\r\n\t"},
        {"empty", [] { InsertLogOb("%d,%d,'%s'", 1, 3, ""); }, 1, 3, ""},
        {"dot after text", [] { InsertLogOb("%d,%d,'%s.'", 2, 7, "任务"); }, 2, 7, "任务."},
        {"long", [] { InsertLogOb("%d,%d,'%s'", 2, 8, kLong.c_str()); }, 2, 8, kLong},
        {"nul", [] { InsertLogOb("%d,%d,'%s'", 2, 8, kWithNul.c_str()); }, 2, 8, kWithNul},
        {"invalid utf-8", [] { InsertLogOb("%d,%d,'%s'", 3, 8, kBadUtf8.c_str()); }, 3, 8,
         kBadUtf8},
        {"type out of range", [] { InsertLogOb("%d,%d,'%s'", 9, 4, "x"); }, 9, 4, "x"},
        {"sub-type zero", [] { InsertLogOb("%d,%d,'%s'", 1, 0, "x'y"); }, 1, 0, "x'y"},
        {"negative type", [] { InsertLogOb("%d,%d,'%s'", -1, 4, "x"); }, -1, 4, "x"},
        {"huge sub-type", [] { InsertLogOb("%d,%d,'%s'", 2, 123456, "x"); }, 2, 123456, "x"},
    };
}

// Every stored row: codes and the content's bytes (hex, so nothing is decoded on the way).
Rows storedRows() {
    return queryRows("select LogType, LogChildType, hex(LogContent), typeof(LogContent) from Log");
}

class LogEventTest : public logtest::LogStoreFixture {};

TEST_F(LogEventTest, StoresTheSameRowsAsTheFormattedLine) {
    const std::vector<Case> table = cases();
    for (const Case& c : table) c.formatted();
    for (const Case& c : table) logEvent(c.type, c.subType, c.text);

    const Rows rows = storedRows();
    ASSERT_EQ(rows.size(), 2 * table.size());
    for (std::size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(rows[table.size() + i], rows[i]) << table[i].name;
    }
    // The table means something: the classified lines kept their codes, the others did not.
    EXPECT_EQ(rows[0][0], "1");
    EXPECT_EQ(rows[1][1], "4");
    EXPECT_EQ(rows[table.size() - 1][0], "0");
}

}  // namespace
