// The data folder rule, its application to this process, and the installed layout.
#include "public/data_folder.h"
#include "public/install_layout.h"
#include "public/work_path.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "testkit/wait_for.h"

namespace {

struct RuleCase {
    const char* name;
    DataFolderFacts facts;
    const char* expected;
};

TEST(DataFolderTest, ChoosesByOverrideWritabilityAndXdg) {
    const RuleCase cases[] = {
        {"override wins", {"/srv/data", "/opt/v/bin/", true, false, "/x", "/home/u"}, "/srv/data/"},
        {"writable program folder", {"", "/b/bin/", true, false, "/x", "/home/u"}, "/b/bin/"},
        {"read-only: XDG",
         {"", "/usr/bin/", false, false, "/x/share//", "/home/u"},
         "/x/share/vantrel/"},
        {"read-only, no XDG: HOME",
         {"", "/usr/bin/", false, false, "", "/home/u/"},
         "/home/u/.local/share/vantrel/"},
        {"relative XDG is ignored",
         {"", "/usr/bin/", false, false, "rel", "/home/u"},
         "/home/u/.local/share/vantrel/"},
        {"installed, writable by root",
         {"", "/usr/bin/", true, true, "", "/root"},
         "/root/.local/share/vantrel/"},
        {"nowhere", {"", "/usr/bin/", false, false, "", ""}, ""},
    };
    for (const RuleCase& c : cases) EXPECT_EQ(ChooseDataFolder(c.facts), c.expected) << c.name;
}

TEST(DataFolderTest, ResolvesThisProcessAndMakesARequestedFolder) {
    // The test program runs from a writable build tree: its own folder.
    const DataFolderResult own = ResolveDataFolder("");
    EXPECT_EQ(own.folder, GetCurWorkPath()) << own.error;

    testkit::TempDir temp;
    const std::string nested = temp.file("a/b");
    const DataFolderResult made = ResolveDataFolder(nested);
    EXPECT_EQ(made.folder, nested + "/") << made.error;
    EXPECT_TRUE(std::filesystem::is_directory(nested));

    std::ofstream(temp.file("plain")) << "x";
    const DataFolderResult onFile = ResolveDataFolder(temp.file("plain"));
    EXPECT_TRUE(onFile.folder.empty());
    EXPECT_NE(onFile.error.find(temp.file("plain")), std::string::npos) << onFile.error;
}

TEST(InstallLayoutTest, FindsTheHelpBesideTheProgramThenInTheInstalledDocs) {
    testkit::TempDir temp;
    const std::string bin = temp.file("bin") + "/";
    std::filesystem::create_directories(bin);
    const std::string name = "Lumatrel_Note.html";
    EXPECT_FALSE(IsInstalledLayout(bin));
    EXPECT_EQ(HelpDocumentPath(bin, name), bin + name);  // nowhere: where it was expected

    const std::string docs = temp.file("share/doc/vantrel") + "/";
    std::filesystem::create_directories(docs);
    std::ofstream(docs + name) << "installed";
    EXPECT_TRUE(IsInstalledLayout(bin));
    EXPECT_EQ(std::filesystem::canonical(HelpDocumentPath(bin, name)),
              std::filesystem::canonical(docs + name));

    std::ofstream(bin + name) << "beside";
    EXPECT_EQ(HelpDocumentPath(bin, name), bin + name);
}

}  // namespace
