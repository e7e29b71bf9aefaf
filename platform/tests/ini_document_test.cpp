// Profile rules on INI text: look-ups, integer reads, in-place writes, odd input.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/ini_document.h"

namespace platform {
namespace {

TEST(IniInteger, LeadingDigitsOnlyAndWrapAround) {
    EXPECT_EQ(profileIntFromText("42"), 42);
    EXPECT_EQ(profileIntFromText("12abc"), 12);
    EXPECT_EQ(profileIntFromText("  7  "), 7);
    EXPECT_EQ(profileIntFromText("abc"), 0);
    EXPECT_EQ(profileIntFromText("x1"), 0);
    EXPECT_EQ(profileIntFromText("0x10"), 0);
    EXPECT_EQ(profileIntFromText("-"), 0);
    EXPECT_EQ(profileIntFromText("-5"), 0);  // a sign is not a digit
    EXPECT_EQ(profileIntFromText("+3z"), 0);
    EXPECT_EQ(profileIntFromText("- 5"), 0);
    EXPECT_EQ(profileIntFromText("4294967295"), -1);
    EXPECT_EQ(profileIntFromText("4294967297"), 1);
    EXPECT_EQ(profileIntFromText("99999999999999999999999"), -159383553);
}

TEST(IniDocument, MissingSectionKeyAndEmptyValueGiveDefaults) {
    const auto doc = IniDocument::parse("[A]\nk=v\nempty=\nword=abc\n");
    EXPECT_EQ(doc.getString("B", "k", "def"), "def");
    EXPECT_EQ(doc.getString("A", "nope", "def"), "def");
    EXPECT_EQ(doc.getString("A", "k", "def"), "v");
    EXPECT_EQ(doc.getString("A", "empty", "def"), "");  // present but empty is not missing
    EXPECT_EQ(doc.getInt("A", "empty", 9), 9);          // an empty number is the default
    EXPECT_EQ(doc.getInt("A", "word", 9), 0);           // no digits reads as 0
    EXPECT_EQ(doc.getInt("A", "missing", -3), -3);
    EXPECT_FALSE(doc.get("A", "missing").has_value());
    EXPECT_TRUE(doc.hasSection("a"));
    EXPECT_FALSE(doc.hasSection("B"));
}

TEST(IniDocument, NamesMatchCaseInsensitivelyAndBlanksAroundEqualsAreIgnored) {
    const auto doc = IniDocument::parse("  [ Timing_1 ]  \n\t timName \t=  一号 任务 \t\nX=1\n");
    EXPECT_EQ(doc.getString("timing_1", "TIMNAME", ""), "一号 任务");
    EXPECT_EQ(doc.getString("TIMING_1", "x", ""), "1");
}

TEST(IniDocument, WriteReplacesInPlaceThenAppendsToSectionThenAddsSection) {
    auto doc = IniDocument::parse("; header comment\n[A]\na=1\nb=2\n\n[B]\nc=3\n");
    ASSERT_TRUE(doc.set("a", "A", "10"));   // in place, original key spelling kept
    ASSERT_TRUE(doc.set("A", "new", "x"));  // appended before the blank separator line
    ASSERT_TRUE(doc.set("C", "d", "4"));    // new section at the end
    ASSERT_TRUE(doc.setInt("B", "c", -7));
    EXPECT_EQ(doc.toText(), "; header comment\n[A]\na=10\nb=2\nnew=x\n\n[B]\nc=-7\n[C]\nd=4\n");
}

TEST(IniDocument, KeyWrittenTwiceKeepsOneLineWithTheLastValue) {
    IniDocument doc;
    ASSERT_TRUE(doc.set("S", "k", "first"));
    ASSERT_TRUE(doc.set("S", "other", "o"));
    ASSERT_TRUE(doc.set("S", "K", "second"));
    EXPECT_EQ(doc.toText(), "[S]\nk=second\nother=o\n");
    EXPECT_EQ(doc.getString("s", "k", ""), "second");
}

TEST(IniDocument, DuplicateSectionsAndKeysUseTheFirstForReadAndWrite) {
    auto doc = IniDocument::parse("[S]\nk=1\nk=2\n[T]\n[S]\nk=3\nonly2=y\n");
    EXPECT_EQ(doc.getString("S", "k", ""), "1");
    EXPECT_EQ(doc.getString("S", "only2", "def"), "def");
    ASSERT_TRUE(doc.set("S", "k", "9"));
    ASSERT_TRUE(doc.set("S", "only2", "z"));
    EXPECT_EQ(doc.toText(), "[S]\nk=9\nk=2\nonly2=z\n[T]\n[S]\nk=3\nonly2=y\n");
}

TEST(IniDocument, CrlfFilesKeepTheirLineEndsAndUntouchedLinesStayByteForByte) {
    const std::string text = "[A]\r\n  spaced = v \r\n;c=1\r\nnoequals\r\n[B]\r\nk=1";
    auto doc = IniDocument::parse(text);
    EXPECT_EQ(doc.getString("A", "spaced", ""), "v");
    EXPECT_EQ(doc.getString("B", "k", ""), "1");
    EXPECT_EQ(doc.getString("A", ";c", "none"), "none");  // comments never match
    ASSERT_TRUE(doc.set("B", "k", "2"));
    ASSERT_TRUE(doc.set("A", "added", "3"));
    EXPECT_EQ(doc.toText(),
              "[A]\r\n  spaced = v \r\n;c=1\r\nnoequals\r\nadded=3\r\n[B]\r\nk=2\r\n");
}

TEST(IniDocument, StrayCarriageReturnsAtLineEndsAreDropped) {
    const auto doc = IniDocument::parse("[A]\nk=7\r\r\nmid=a\rb\n");
    EXPECT_EQ(doc.getString("A", "k", ""), "7");
    EXPECT_EQ(doc.getString("A", "mid", ""), "a\rb");  // inside a line it is kept
    EXPECT_EQ(doc.toText(), "[A]\nk=7\nmid=a\rb\n");
    EXPECT_EQ(IniDocument::parse(doc.toText()).toText(), doc.toText());
}

TEST(IniDocument, ByteOrderMarkIsSkippedForLookUpAndKept) {
    auto doc = IniDocument::parse("\xEF\xBB\xBF[TimingTask]\nttCount=2\n");
    EXPECT_EQ(doc.getInt("TimingTask", "ttCount", 0), 2);
    ASSERT_TRUE(doc.set("TimingTask", "ttCount", "3"));
    EXPECT_EQ(doc.toText(), "\xEF\xBB\xBF[TimingTask]\nttCount=3\n");
}

TEST(IniDocument, KeysBeforeAnySectionAndBrokenHeadersNeverMatch) {
    auto doc = IniDocument::parse("k=0\n[Broken\nk=1\n[S]\nk=2\n");
    EXPECT_EQ(doc.getString("S", "k", ""), "2");
    EXPECT_FALSE(doc.hasSection("Broken"));
    EXPECT_EQ(doc.getString("", "k", "def"), "def");
}

TEST(IniDocument, UnwritableNamesAreRefusedAndValuesStayOneLine) {
    IniDocument doc;
    EXPECT_FALSE(doc.set("", "k", "v"));
    EXPECT_FALSE(doc.set("S]x", "k", "v"));
    EXPECT_FALSE(doc.set("S\n[T", "k", "v"));
    EXPECT_FALSE(doc.set("S", "", "v"));
    EXPECT_FALSE(doc.set("S", "a=b", "v"));
    EXPECT_FALSE(doc.set("S", ";k", "v"));
    EXPECT_FALSE(doc.set("S", "[k", "v"));
    EXPECT_FALSE(doc.set("S", "k\r\nx", "v"));
    EXPECT_EQ(doc.toText(), "");
    ASSERT_TRUE(doc.set("S", "k", "line1\r\n[Evil]\nx=1"));
    EXPECT_EQ(doc.toText(), "[S]\nk=line1  [Evil] x=1\n");
    EXPECT_FALSE(IniDocument::parse(doc.toText()).hasSection("Evil"));
}

TEST(IniDocument, VeryLongLinesRoundTrip) {
    const std::string longValue(1 << 20, 'v');
    IniDocument doc;
    ASSERT_TRUE(doc.set("S", "long", longValue));
    ASSERT_TRUE(doc.set("S", "after", "1"));
    const auto again = IniDocument::parse(doc.toText());
    EXPECT_EQ(again.getString("S", "long", ""), longValue);
    EXPECT_EQ(again.getInt("S", "after", 0), 1);
}

TEST(IniDocument, BinaryJunkIsKeptAndDoesNotDisturbOtherSections) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 200; ++round) {
        std::string junk(static_cast<std::size_t>(rng() % 300), '\0');
        for (char& c : junk) c = static_cast<char>(rng() & 0xFF);
        const std::string text = junk + "\n[Good]\nk=5\n";
        auto doc = IniDocument::parse(text);
        ASSERT_TRUE(doc.set("Good", "n", "6"));
        const auto again = IniDocument::parse(doc.toText());
        // The junk may itself open a section named "Good" first; otherwise ours is found.
        if (junk.find("Good") == std::string::npos) {
            EXPECT_EQ(again.getInt("Good", "k", -1), 5) << round;
            EXPECT_EQ(again.getInt("Good", "n", -1), 6) << round;
        }
        // Parsing what we wrote gives the same text again.
        EXPECT_EQ(again.toText(), doc.toText()) << round;
    }
}

}  // namespace
}  // namespace platform

// A section's keys in file order, a repeated key once with its first value; comments and
// lines without '=' are no keys.
TEST(IniDocumentEntries, ListTheKeysOfTheFirstMatchingSectionAsGetReadsThem) {
    const auto doc = platform::IniDocument::parse(
        "[users]\nb = 2\n;c=3\nnoise\na=1\nB=9\n[Other]\nz=0\n[Users]\nd=4\n");
    const std::vector<std::pair<std::string, std::string>> expected{{"b", "2"}, {"a", "1"}};
    EXPECT_EQ(doc.entries("Users"), expected);
    EXPECT_TRUE(doc.entries("Missing").empty());
}
