// GetCurWorkPath: the executable's folder with a trailing '/'.
#include "public/work_path.h"
#include "public/data_path.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

TEST(WorkPathTest, SplitsTheFolderOffAnExecutablePath) {
    EXPECT_EQ(WorkPathOf("/opt/vantrel/bin/vantrel"), "/opt/vantrel/bin/");
    EXPECT_EQ(WorkPathOf("/vantrel"), "/");  // program in the root folder
    EXPECT_EQ(WorkPathOf("/opt/dir.with.dots/run.exe"), "/opt/dir.with.dots/");
    EXPECT_EQ(WorkPathOf("vantrel"), "");
    EXPECT_EQ(WorkPathOf(""), "");
}

TEST(WorkPathTest, GivesTheFolderOfThisTestProgram) {
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe");
    const std::string path = GetCurWorkPath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.back(), '/');
    EXPECT_EQ(path, exe.parent_path().string() + "/");
    EXPECT_TRUE(std::filesystem::exists(path + exe.filename().string()));
}

}  // namespace

namespace {

TEST(DataPathTest, IsTheProgramFolderUntilChosenAndEndsInASlash) {
    EXPECT_EQ(GetDataPath(), GetCurWorkPath());
    SetDataPath("/var/lib/vantrel");
    EXPECT_EQ(GetDataPath(), "/var/lib/vantrel/");
    SetDataPath("/srv/data/");
    EXPECT_EQ(GetDataPath(), "/srv/data/");
    SetDataPath("");
    EXPECT_EQ(GetDataPath(), GetCurWorkPath());
}

}  // namespace
