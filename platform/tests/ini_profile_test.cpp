// Profile files on disk: defaults, one-key writes, the atomic batch, crash safety.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/ini_profile.h"
#include "testkit/wait_for.h"

namespace platform {
namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void spit(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::size_t entriesIn(const std::filesystem::path& folder) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++n;
    return n;
}

TEST(IniProfile, MissingFileGivesDefaultsAndTheFirstWriteCreatesIt) {
    testkit::TempDir dir;
    const std::string path = dir.file("t.ini");
    EXPECT_EQ(readProfileString(path, "S", "k", "dflt"), "dflt");
    EXPECT_EQ(readProfileInt(path, "S", "k", 17), 17);
    EXPECT_FALSE(std::filesystem::exists(path));

    ASSERT_TRUE(writeProfileString(path, "S", "k", "v"));
    EXPECT_EQ(slurp(path), "[S]\nk=v\n");
    EXPECT_EQ(entriesIn(dir.path()), 1u);  // no temp file left behind
    EXPECT_EQ(readProfileString(path, "S", "k", "dflt"), "v");
    EXPECT_EQ(readProfileString(path, "S", "other", "dflt"), "dflt");
    EXPECT_EQ(readProfileString(path, "T", "k", "dflt"), "dflt");
}

TEST(IniProfile, IntegerReadsOnARealFile) {
    testkit::TempDir dir;
    const std::string path = dir.file("n.ini");
    spit(path, "[N]\r\ndigits = 12abc\r\nnone=abc\r\nneg=-4\r\nempty=\r\n");
    EXPECT_EQ(readProfileInt(path, "N", "digits", 5), 12);
    EXPECT_EQ(readProfileInt(path, "N", "none", 5), 0);
    EXPECT_EQ(readProfileInt(path, "N", "neg", 5), 0);
    EXPECT_EQ(readProfileInt(path, "N", "empty", 5), 5);
    EXPECT_EQ(readProfileInt(path, "N", "missing", 5), 5);
}

// What a read refuses, promptly and with its reason: a FIFO (never waited on for a writer),
// a folder, a file over the size bound, a binary file; and what it accepts.
TEST(IniProfile, ReadsRefuseFifosFoldersOversizedAndBinaryFilesWithTheirReason) {
    testkit::TempDir dir;
    struct Case {
        const char* name;
        void (*make)(const std::string& path);
        bool loads;
        const char* reason;
    };
    const Case cases[] = {
        {"missing", [](const std::string&) {}, true, ""},
        {"text", [](const std::string& path) { spit(path, "[A]\nk=v\n"); }, true, ""},
        {"FIFO", [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }, false,
         "不是普通文件"},
        {"folder", [](const std::string& path) { std::filesystem::create_directory(path); }, false,
         "是文件夹,不是普通文件"},
        {"at the bound",
         [](const std::string& path) {
             spit(path, "[A]\nk=v\n");
             std::filesystem::resize_file(path, kMaxIniFileBytes);
         },
         false, "二进制文件,不是文本"},  // the bound itself is read; the zero fill is binary
        {"over the bound",
         [](const std::string& path) {
             spit(path, "[A]\nk=v\n");
             std::filesystem::resize_file(path, kMaxIniFileBytes + 1);
         },
         false, "大于16 MiB"},
        {"binary", [](const std::string& path) { spit(path, std::string("[A]\nk=\0v\n", 9)); },
         false, "二进制文件,不是文本"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.path().string() + "/f" + std::to_string(n++) + ".ini";
        c.make(path);
        const IniLoad load = readIniFile(path);
        EXPECT_EQ(load.document.has_value(), c.loads);
        EXPECT_EQ(load.problem, c.reason);
        if (c.loads && std::filesystem::exists(path)) {
            EXPECT_EQ(load.document->getString("A", "k", "-"), "v");
        }
    }
}

TEST(IniProfile, KeyWrittenTwiceIsReplacedInPlaceOnDisk) {
    testkit::TempDir dir;
    const std::string path = dir.file("t.ini");
    spit(path, "[A]\r\nx=1\r\ny=2\r\n\r\n[B]\r\nz=3\r\n");
    ASSERT_TRUE(writeProfileString(path, "A", "x", "first"));
    ASSERT_TRUE(writeProfileString(path, "A", "x", "second"));
    ASSERT_TRUE(writeProfileString(path, "A", "w", "new"));
    EXPECT_EQ(slurp(path), "[A]\r\nx=second\r\ny=2\r\nw=new\r\n\r\n[B]\r\nz=3\r\n");
}

TEST(IniProfile, WritesFailCleanlyWhereTheFileCannotBe) {
    testkit::TempDir dir;
    EXPECT_FALSE(writeProfileString(dir.file("no-such-folder/t.ini"), "S", "k", "v"));
    // A directory in the file's place is neither read nor replaced.
    std::filesystem::create_directory(dir.path() / "adir");
    const std::string asDir = dir.file("adir");
    EXPECT_EQ(readProfileString(asDir, "S", "k", "d"), "d");
    EXPECT_FALSE(loadIniFile(asDir).has_value());
    IniBatchWriter batch(asDir);
    EXPECT_FALSE(batch.loaded());
    batch.set("S", "k", "v");
    EXPECT_FALSE(batch.commit());
    EXPECT_TRUE(std::filesystem::is_directory(asDir));
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

TEST(IniProfile, BatchAppliesManyWritesInOneReplacementAndKeepsPermissions) {
    testkit::TempDir dir;
    const std::string path = dir.file("t.ini");
    spit(path, "[Keep]\nold=1\n[S]\nk0=stale\n");
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);

    IniBatchWriter batch(path);
    ASSERT_TRUE(batch.loaded());
    for (int i = 0; i < 500; ++i) ASSERT_TRUE(batch.setInt("S", "k" + std::to_string(i), i));
    // Nothing reaches the disk before commit.
    EXPECT_EQ(slurp(path), "[Keep]\nold=1\n[S]\nk0=stale\n");
    ASSERT_TRUE(batch.commit());

    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino);  // a new file was renamed into place
    EXPECT_EQ(after.st_mode & 07777, 0600u);
    const auto doc = loadIniFile(path);
    ASSERT_TRUE(doc.has_value());
    EXPECT_EQ(doc->getInt("Keep", "old", -1), 1);
    for (int i = 0; i < 500; ++i) EXPECT_EQ(doc->getInt("S", "k" + std::to_string(i), -1), i);
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

TEST(IniProfile, AbandonedBatchLeavesTheOldFileIntact) {
    testkit::TempDir dir;
    const std::string path = dir.file("t.ini");
    const std::string original = "[S]\r\nk=1\r\n; note\r\n";
    spit(path, original);
    {
        IniBatchWriter batch(path);
        batch.set("S", "k", "2");
        batch.set("T", "x", "y");
        EXPECT_EQ(batch.document().getString("S", "k", ""), "2");
    }
    EXPECT_EQ(slurp(path), original);
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

// A writer process killed at arbitrary moments while it replaces the file again and again
// must leave one of the complete versions, never a mix or a truncated file.
TEST(IniProfile, KilledWriterLeavesAWholeOldOrNewFile) {
    testkit::TempDir dir;
    const std::string path = dir.file("t.ini");
    IniDocument a, b;
    for (int i = 0; i < 4000; ++i) {
        a.setInt("S" + std::to_string(i / 40), "key" + std::to_string(i), i);
        b.set("S" + std::to_string(i / 40), "key" + std::to_string(i),
              "value-" + std::to_string(i));
    }
    const std::string textA = a.toText(), textB = b.toText();
    ASSERT_TRUE(replaceFileAtomically(path, textA));

    for (int round = 0; round < 6; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) {
                replaceFileAtomically(path, textB);
                replaceFileAtomically(path, textA);
            }
        }
        // Any moment is a valid moment to crash; vary it per round.
        std::this_thread::sleep_for(std::chrono::milliseconds(3 + 7 * round));
        ASSERT_EQ(::kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status));
        const std::string now = slurp(path);
        EXPECT_TRUE(now == textA || now == textB) << "round " << round << " size " << now.size();
    }
}

}  // namespace
}  // namespace platform
