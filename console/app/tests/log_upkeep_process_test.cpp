// The event log's upkeep through the real program: vantrel --backup beside a running headless
// service (a complete copy, or an error and no file), and [Log] KeepDays applied at start.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>
#include <string>
#include <vector>

#include "vantrel_process.h"

namespace {

using proctest::Console;
using proctest::logContents;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Runs `vantrel --data-dir=DATA --backup=FILE` from its own temp folder; its exit status.
struct Backup {
    int status = -1;
    std::string errors;
};
Backup runBackup(const std::string& dataDir, const std::string& file) {
    testkit::TempDir own;
    testkit::TempDir lock;
    Console backup(own, lock.path().string(), proctest::freePort(),
                   {"--data-dir=" + dataDir, "--backup=" + file}, true);
    const auto status = backup.waitExit(30s);
    Backup result;
    if (status && WIFEXITED(*status)) result.status = WEXITSTATUS(*status);
    result.errors = backup.errors();
    return result;
}

std::vector<std::string> filesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

TEST(BackupProcess, CopiesEveryCommittedRowWhileTheServiceRuns) {
    testkit::TempDir data;
    testkit::TempDir lock;
    testkit::TempDir out;
    Console service(data, lock.path().string(), proctest::freePort(), {"--headless"}, true);
    ASSERT_TRUE(service.started());
    ASSERT_TRUE(
        testkit::waitFor([&] { return proctest::contains(service.log(), "网络初始化成功!"); }, 30s))
        << service.errors();
    const std::vector<std::string> committed = service.log();

    const fs::path file = out.path() / "copy.db3";
    const Backup backup = runBackup(data.path().string(), file.string());
    ASSERT_EQ(backup.status, 0) << backup.errors;
    const std::vector<std::string> copied = logContents(file);
    ASSERT_GE(copied.size(), committed.size());
    EXPECT_EQ(std::vector<std::string>(copied.begin(), copied.begin() + committed.size()),
              committed);
    // The copy stands alone: no temporary or journal files beside it.
    EXPECT_EQ(filesIn(out.path()), std::vector<std::string>{"copy.db3"});

    service.signal(SIGTERM);
    ASSERT_TRUE(service.waitExit(30s));
}

// A database file made by hand in `folder`.
void makeDatabase(const fs::path& folder, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((folder / "Vantrel_DB.db3").c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

TEST(BackupProcess, FailsWithOneLineAndLeavesNoFile) {
    testkit::TempDir empty;
    testkit::TempDir foreign;
    testkit::TempDir good;
    testkit::TempDir out;
    makeDatabase(foreign.path(), "CREATE TABLE Other(x)");
    makeDatabase(good.path(), "CREATE TABLE Log(LogContent TEXT)");
    struct Case {
        std::string dataDir;
        std::string file;
        const char* says;
    };
    const Case cases[] = {
        {empty.path().string(), (out.path() / "a.db3").string(), "Vantrel_DB.db3"},
        {foreign.path().string(), (out.path() / "b.db3").string(), "not an event log"},
        {good.path().string(), (out.path() / "missing" / "c.db3").string(), "c.db3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const Backup backup = runBackup(c.dataDir, c.file);
        EXPECT_EQ(backup.status, 1);
        EXPECT_EQ(backup.errors.rfind("vantrel: backup to " + c.file + " failed: ", 0), 0u)
            << backup.errors;
        EXPECT_NE(backup.errors.find(c.says), std::string::npos) << backup.errors;
        EXPECT_TRUE(filesIn(out.path()).empty());
        EXPECT_FALSE(fs::exists(empty.path() / "Vantrel_DB.db3"));  // never created
    }
}

TEST(RetentionProcess, KeepDaysFromTheSettingsDeletesOldRowsAtStart) {
    testkit::TempDir data;
    testkit::TempDir lock;
    {
        Console first(data, lock.path().string(), proctest::freePort(), {"--headless"}, true);
        ASSERT_TRUE(testkit::waitFor(
            [&] { return proctest::contains(first.log(), "网络初始化成功!"); }, 30s));
        first.signal(SIGTERM);
        ASSERT_TRUE(first.waitExit(30s));
    }
    makeDatabase(data.path(),
                 "INSERT INTO Log(LogCreateDate, LogCreateTime, LogType, LogChildType, LogContent)"
                 " VALUES('2001-01-01', '08:00:00', 2, 5, 'ancient'),"
                 " ('2001-01-02', '08:00:00', 2, 5, 'ancient')");
    std::ofstream(data.path() / "Vantrel.ini") << "[Log]\nKeepDays=30\n";

    Console second(data, lock.path().string(), proctest::freePort(), {"--headless"}, true);
    ASSERT_TRUE(
        testkit::waitFor([&] { return proctest::contains(second.log(), "删除过期日志2条"); }, 30s))
        << second.errors();
    EXPECT_FALSE(proctest::contains(second.log(), "ancient"));
    second.signal(SIGTERM);
    ASSERT_TRUE(second.waitExit(30s));
}

}  // namespace
