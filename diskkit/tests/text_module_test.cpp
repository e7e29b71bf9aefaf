// WideCharToChar and GetModuleDir.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "diskkit/module_dir.h"
#include "diskkit/text_convert.h"

namespace {

std::string convert(const char16_t* text) {
    std::unique_ptr<char[]> buffer(WideCharToChar(text));
    if (!buffer) return "<null>";
    return std::string(buffer.get());
}

TEST(WideCharToCharTest, EmptyTextGivesOnlyTheTerminator) {
    std::unique_ptr<char[]> buffer(WideCharToChar(u""));
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer[0], '\0');
}

TEST(WideCharToCharTest, ConvertsToZeroTerminatedUtf8) {
    EXPECT_EQ(convert(u"COM3"), "COM3");
    EXPECT_EQ(convert(u"串口打开失败"), "串口打开失败");
    EXPECT_EQ(convert(u"\U0001F600"), "\xF0\x9F\x98\x80");
    const std::string converted = convert(u"é1");
    EXPECT_EQ(converted,
              "\xC3\xA9"
              "1");
    EXPECT_EQ(std::strlen(converted.c_str()), 3u);
}

TEST(WideCharToCharTest, RejectsNullAndReplacesUnpairedSurrogates) {
    EXPECT_EQ(WideCharToChar(nullptr), nullptr);
    const char16_t lowFirst[] = {0xDC00, 0xD800, u'a', 0};
    EXPECT_EQ(convert(lowFirst),
              "\xEF\xBF\xBD\xEF\xBF\xBD"
              "a");
    const char16_t highAtEnd[] = {u'a', 0xD800, 0};
    EXPECT_EQ(convert(highAtEnd), "a\xEF\xBF\xBD");
}

TEST(ModuleDirTest, CutsAtTheLastSlash) {
    EXPECT_EQ(ModuleDirOf("/opt/apps/run"), "/opt/apps");
    EXPECT_EQ(ModuleDirOf("/opt/apps/"), "/opt/apps");
    EXPECT_EQ(ModuleDirOf("/run"), "");  // root folder: "" + "/name" is still right
    EXPECT_EQ(ModuleDirOf("run"), "");
    EXPECT_EQ(ModuleDirOf(""), "");
}

TEST(ModuleDirTest, GivesTheFolderOfThisTestProgramWithoutTrailingSlash) {
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe");
    const std::string dir = GetModuleDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_NE(dir.back(), '/');
    EXPECT_EQ(dir, exe.parent_path().string());
}

}  // namespace
