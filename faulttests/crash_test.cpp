// Processes killed with SIGKILL while they write: the task file is the old or the new one,
// complete; the log database opens cleanly and holds every row stored before the kill.
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "chronstore/chronstore.h"
#include "testkit/wait_for.h"

extern char** environ;

namespace {

// The child process with its stdout on a pipe.
class Child {
public:
    explicit Child(const std::vector<std::string>& args) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::vector<char*> argv;
        std::vector<std::string> all{FAULT_CRASH_CHILD};
        all.insert(all.end(), args.begin(), args.end());
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, FAULT_CRASH_CHILD, &actions, nullptr, argv.data(), environ) != 0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        m_out = ::fdopen(fds[0], "r");
    }
    ~Child() {
        kill();
        if (m_out) std::fclose(m_out);
    }
    bool running() const { return m_pid > 0 && m_out; }
    // The next progress line; empty when the child has ended.
    std::string line() {
        char buffer[128];
        if (!m_out || !std::fgets(buffer, sizeof buffer, m_out)) return {};
        return buffer;
    }
    // SIGKILL and reap; true when the child died of the signal (not of its own error).
    bool kill() {
        if (m_pid <= 0) return false;
        ::kill(m_pid, SIGKILL);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    }

private:
    pid_t m_pid = -1;
    std::FILE* m_out = nullptr;
};

// Reads progress lines "<word> <n>" until n reaches `target`; the last n seen, -1 on end.
long waitProgress(Child& child, long target) {
    long n = -1;
    while (n < target) {
        const std::string text = child.line();
        if (text.empty()) return -1;
        n = std::stol(text.substr(text.find(' ') + 1));
    }
    return n;
}

// Regular files in the folder and below.
std::size_t countFiles(const std::string& folder) {
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        files += entry.is_regular_file();
    }
    return files;
}

TEST(KilledWhileSaving, TaskFileIsAlwaysTheOldOrTheNewOneComplete) {
    testkit::TempDir dir;
    const std::string folder = dir.path().string();
    int midWrite = 0;
    for (int round = 0; round < 12; ++round) {
        const std::size_t filesBefore = countFiles(folder);
        Child child({"save", folder});
        ASSERT_TRUE(child.running());
        // Kill at varying depths into the save that follows the n-th announcement (a save
        // of 300 tasks takes tens of milliseconds here: formatting, writing, syncing).
        ASSERT_GE(waitProgress(child, 2 + round % 3), 0) << "the child stopped on its own";
        std::this_thread::sleep_for(std::chrono::milliseconds(7 * round));
        ASSERT_TRUE(child.kill());
        midWrite += countFiles(folder) > filesBefore;

        ASSERT_TRUE(InitChronstoreAt(folder));
        ASSERT_EQ(GetTTPointCount(), 300) << "round " << round;
        const std::string name = GetTimNameUtf8(GetTTPointByIndex(0));
        ASSERT_TRUE(name == "A" || name == "B") << name;
        const std::size_t devices = name == "A" ? 10 : 4;
        for (int i = 0; i < 300; ++i) {
            const auto& task = GetTTPointByIndex(i);
            ASSERT_EQ(GetTimNameUtf8(task), name) << "task " << i << ", round " << round;
            ASSERT_EQ(task.devList.size(), devices) << "task " << i << ", round " << round;
            ASSERT_EQ(task.statime, static_cast<std::uint32_t>(i * 60));
        }
        ReleaseChronstore();
    }
    // A kill between creating the temp file and renaming it leaves the temp file behind
    // (harmless: the loader never reads it).
    std::printf("[ crash    ] kills that caught a save mid-write: %d of 12\n", midWrite);
}

struct Database {
    explicit Database(const std::string& path) {
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            db = nullptr;
        }
    }
    ~Database() { sqlite3_close(db); }
    std::vector<std::string> column(const std::string& sql) const {
        std::vector<std::string> values;
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
            return values;
        }
        while (sqlite3_step(statement) == SQLITE_ROW) {
            const auto* text = sqlite3_column_text(statement, 0);
            values.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
        }
        sqlite3_finalize(statement);
        return values;
    }
    sqlite3* db = nullptr;
};

TEST(KilledWhileLogging, DatabaseStaysReadableWithEveryStoredRow) {
    testkit::TempDir dir;
    const std::string folder = dir.path().string() + "/";
    for (int round = 0; round < 6; ++round) {
        const std::string tag = "r" + std::to_string(round);
        Child child({"log", folder, tag});
        ASSERT_TRUE(child.running());
        const long stored = waitProgress(child, 500 + 700 * round);
        ASSERT_GE(stored, 0) << "the child stopped on its own";
        // Let it log on into its next batch before the kill.
        std::this_thread::sleep_for(std::chrono::milliseconds(3 * round));
        ASSERT_TRUE(child.kill());

        Database db(folder + "Vantrel_DB.db3");
        ASSERT_NE(db.db, nullptr);
        EXPECT_EQ(db.column("PRAGMA integrity_check"), std::vector<std::string>{"ok"});
        const auto rows =
            db.column("SELECT LogContent FROM Log WHERE LogContent LIKE '" + tag + " row %'");
        std::set<long> numbers;
        for (const auto& row : rows) numbers.insert(std::stol(row.substr(tag.size() + 5)));
        EXPECT_EQ(numbers.size(), rows.size()) << "a row was stored twice";
        ASSERT_GE(static_cast<long>(numbers.size()), stored) << "round " << round;
        // One writer in order: what is there is a prefix 0..m-1 of what was logged.
        EXPECT_EQ(*numbers.rbegin(), static_cast<long>(numbers.size()) - 1);
        // Earlier rounds' rows survived this round's kill too.
        for (int earlier = 0; earlier < round; ++earlier) {
            const std::string t = "r" + std::to_string(earlier);
            EXPECT_FALSE(
                db.column("SELECT 1 FROM Log WHERE LogContent = '" + t + " row 0'").empty())
                << t;
        }
    }
}

}  // namespace
