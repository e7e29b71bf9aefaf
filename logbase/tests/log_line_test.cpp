// ParseLogLine: the head "<type>,<sub-type>,'" and the content between the quotes.
#include "logbase/log_line.h"

#include <gtest/gtest.h>

namespace {

void expectLine(std::string_view line, int type, int childType, const std::string& content) {
    const LogLine parsed = ParseLogLine(line);
    EXPECT_EQ(parsed.type, type) << line;
    EXPECT_EQ(parsed.childType, childType) << line;
    EXPECT_EQ(parsed.content, content) << line;
}

TEST(LogLineTest, SplitsWellFormedLines) {
    expectLine("2,4,'设备注册:7'", 2, 4, "设备注册:7");
    expectLine("1,1,''", 1, 1, "");
    expectLine("3,8,'x'\r\n", 3, 8, "x");  // line end after the closing quote
    expectLine("3,8,'x' ", 3, 8, "x");
    expectLine("01,08,'x'", 1, 8, "x");
}

TEST(LogLineTest, KeepsQuotesInsideTheContent) {
    expectLine("2,7,'it's'", 2, 7, "it's");
    expectLine("2,7,'''", 2, 7, "'");
    expectLine("3,8,''); DROP TABLE Log;--'", 3, 8, "'); DROP TABLE Log;--");
    expectLine("2,7,'a'b'c'", 2, 7, "a'b'c");
}

TEST(LogLineTest, ContentWithoutClosingQuoteRunsToTheEnd) {
    expectLine("1,8,'", 1, 8, "");
    expectLine("1,8,'abc", 1, 8, "abc");
    expectLine("1,8,'a'b", 1, 8, "a'b");
}

TEST(LogLineTest, MalformedOrOutOfRangeHeadsKeepTheWholeLineUnclassified) {
    const int u = kUnclassifiedLogCode;
    for (const char* line :
         {"", "hello", "1,1,x'", "1,1'x'", "1,,'x'", ",1,'x'", "-1,1,'x'", "0,1,'x'", "4,1,'x'",
          "1,0,'x'", "1,9,'x'", "1 ,1,'x'", "99999,1,'x'", "1,1", "1,"}) {
        expectLine(line, u, u, line);
    }
}

}  // namespace
