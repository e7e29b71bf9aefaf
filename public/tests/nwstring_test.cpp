// NWString: construction from UTF-8 and UTF-16, copies, moves and malformed input.
#include "public/nwstring.h"

#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <utility>

static_assert(std::has_virtual_destructor_v<NWString>);

namespace {

std::u16string textOf(const NWString& s) {
    return std::u16string(s.getString());
}

TEST(NWStringTest, EmptyStringsHoldOnlyTheTerminator) {
    const NWString fromNothing;
    const NWString fromNullNarrow(static_cast<const char*>(nullptr));
    const NWString fromNullWide(static_cast<const char16_t*>(nullptr));
    const NWString fromEmpty("");
    for (const NWString* s : {&fromNothing, &fromNullNarrow, &fromNullWide, &fromEmpty}) {
        ASSERT_NE(s->getString(), nullptr);
        EXPECT_EQ(s->getString()[0], u'\0');
        EXPECT_EQ(s->length(), 0u);
        EXPECT_TRUE(s->empty());
        EXPECT_EQ(s->toUtf8(), "");
    }
}

TEST(NWStringTest, ConvertsUtf8IncludingChineseAndAstralCharacters) {
    EXPECT_EQ(textOf(NWString("设备注册:7")), u"设备注册:7");
    EXPECT_EQ(textOf(NWString("系统日志")), u"系统日志");
    // U+1F600 needs a surrogate pair in UTF-16.
    const NWString astral("a\xF0\x9F\x98\x80z");
    ASSERT_EQ(astral.length(), 4u);
    EXPECT_EQ(astral.getString()[1], 0xD83D);
    EXPECT_EQ(astral.getString()[2], 0xDE00);
    // The single-byte device-name mapping (bytes 0x80-0xFF as U+0080-U+00FF) survives.
    EXPECT_EQ(textOf(NWString("\xC3\xA9")), std::u16string(1, char16_t{0xE9}));
    // A string_view is not cut at an embedded zero.
    EXPECT_EQ(NWString(std::string_view("a\0b", 3)).length(), 3u);
}

TEST(NWStringTest, MalformedUtf8BecomesReplacementCharacters) {
    const char16_t r = 0xFFFD;
    struct Case {
        const char* bytes;
        std::u16string expected;
    };
    const Case cases[] = {
        {"\xC0\xAF", {r, r}},                // overlong '/'
        {"x\xE4\xBD", {u'x', r}},            // truncated at the end
        {"\xED\xA0\x80", {r, r, r}},         // encoded surrogate
        {"\xF4\x90\x80\x80", {r, r, r, r}},  // above U+10FFFF
        {"\x80"
         "a",
         {r, u'a'}},  // stray continuation byte
        {"\xFF", {r}},
        {"\xE4\xBDx", {r, u'x'}},  // sequence broken by an ASCII byte
    };
    for (const Case& c : cases) {
        EXPECT_EQ(textOf(NWString(c.bytes)), c.expected) << c.bytes;
    }
}

TEST(NWStringTest, WideCopiesAreIndependentOfTheirSource) {
    char16_t source[] = u"定时任务";
    const NWString s(source);
    source[0] = u'X';
    EXPECT_EQ(textOf(s), u"定时任务");
    EXPECT_NE(s.getString(), source);

    NWString copy(s);
    EXPECT_EQ(copy, s);
    EXPECT_NE(copy.getString(), s.getString());
    NWString assigned;
    assigned = copy;
    copy = NWString(u"changed");
    EXPECT_EQ(textOf(assigned), u"定时任务");
    EXPECT_EQ(textOf(copy), u"changed");
}

TEST(NWStringTest, MovedFromStringStaysEmptyAndTerminated) {
    NWString source("平行操作");
    NWString target(std::move(source));
    EXPECT_EQ(textOf(target), u"平行操作");
    EXPECT_EQ(source.getString()[0], u'\0');  // NOLINT(bugprone-use-after-move)
    EXPECT_TRUE(source.empty());

    NWString other("x");
    other = std::move(target);
    EXPECT_EQ(textOf(other), u"平行操作");
    EXPECT_TRUE(target.empty());  // NOLINT(bugprone-use-after-move)
}

TEST(NWStringTest, Utf8RoundTripAndUnpairedSurrogates) {
    const std::string text = "串行操作 a\xF0\x9F\x98\x80 '); DROP TABLE Log;--";
    EXPECT_EQ(NWString(text.c_str()).toUtf8(), text);
    const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00, 0};
    EXPECT_EQ(NWString(lone).toUtf8(),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD");
    const char16_t highAtEnd[] = {u'a', 0xDBFF, 0};
    EXPECT_EQ(NWString(highAtEnd).toUtf8(), "a\xEF\xBF\xBD");
}

}  // namespace
