// The real program in its own process: a stop signal closes it in order with its log kept,
// and the single-instance lock file is never taken through a planted link or from another
// user. Each run uses a link to the program in a temp folder, so its database, task folder
// and lock file stay there.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "testkit/wait_for.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A loopback port free at the time of asking (the program needs a real one to listen on).
int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

std::string slurp(const fs::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Log contents in the order they were stored; empty while the database is not there.
std::vector<std::string> logContents(const fs::path& db) {
    std::vector<std::string> rows;
    if (!fs::exists(db)) return rows;
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(db.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(raw, 2000);
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(raw, "SELECT LogContent FROM Log ORDER BY rowid", -1, &stmt,
                               nullptr) == SQLITE_OK) {
            while (sqlite3_step(stmt) == SQLITE_ROW) {
                rows.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
            }
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close_v2(raw);
    return rows;
}

bool contains(const std::vector<std::string>& rows, const std::string& text) {
    return std::find(rows.begin(), rows.end(), text) != rows.end();
}

// The program started from a link in a temp folder, its output in files beside it.
class Console {
public:
    Console(const testkit::TempDir& folder, const std::string& lockDir, int port = freePort())
        : m_folder(folder.path()) {
        const fs::path exe = m_folder / "vantrel";
        std::error_code ec;
        fs::create_hard_link(VANTREL_PROGRAM, exe, ec);
        if (ec) fs::copy_file(VANTREL_PROGRAM, exe, ec);
        const std::string portArg = "--port=" + std::to_string(port);
        const std::string lock = "--lock-dir=" + lockDir;
        std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen"};
        for (char** e = environ; *e; ++e) {
            if (std::string(*e).rfind("QT_QPA_PLATFORM=", 0) != 0) env.emplace_back(*e);
        }
        std::vector<char*> argv = {const_cast<char*>(exe.c_str()),
                                   const_cast<char*>(portArg.c_str()),
                                   const_cast<char*>(lock.c_str()), nullptr};
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, (m_folder / "stdout").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, (m_folder / "stderr").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (posix_spawn(&m_pid, exe.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        if (m_pid > 0) m_pidfd = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
    }
    ~Console() {
        if (m_pid > 0 && !m_status) {
            ::kill(m_pid, SIGKILL);
            waitExit(10s);
        }
        if (m_pidfd >= 0) ::close(m_pidfd);
    }

    bool started() const { return m_pid > 0 && m_pidfd >= 0; }
    void signal(int number) const { ::kill(m_pid, number); }
    // The wait status once the process ended within `limit`; nothing if it is still running.
    std::optional<int> waitExit(std::chrono::milliseconds limit) {
        if (m_status) return m_status;
        pollfd p{m_pidfd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(limit.count())) != 1) return std::nullopt;
        int status = 0;
        if (::waitpid(m_pid, &status, 0) == m_pid) m_status = status;
        return m_status;
    }
    std::vector<std::string> log() const { return logContents(m_folder / "Vantrel_DB.db3"); }
    std::string errors() const { return slurp(m_folder / "stderr"); }

private:
    fs::path m_folder;
    pid_t m_pid = -1;
    int m_pidfd = -1;
    std::optional<int> m_status;
};

TEST(VantrelProcess, EachStopSignalClosesInOrderWithExitZeroAndTheLogKept) {
    for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(::strsignal(number));
        testkit::TempDir folder;
        Console console(folder, folder.path().string());
        ASSERT_TRUE(console.started());
        // Fully started: the runner is the last module to start.
        ASSERT_TRUE(testkit::waitFor(
            [&] { return contains(console.log(), "定时任务模块初始化成功."); }, 30s))
            << console.errors();
        console.signal(number);
        const auto status = console.waitExit(5s);
        ASSERT_TRUE(status.has_value()) << "still running 5 s after the signal";
        ASSERT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status);
        EXPECT_EQ(WEXITSTATUS(*status), 0);
        // The runner stopped before the link, and the link's last line reached the database.
        const auto rows = console.log();
        const auto runner = std::find(rows.begin(), rows.end(), "退出定时任务模块.");
        const auto link = std::find(rows.begin(), rows.end(), "退出心跳计数线程");
        ASSERT_NE(link, rows.end());
        EXPECT_LT(runner, link);
    }
}

// A lock file that is a planted symlink, or that another user owns, stops the start with a
// message on stderr; nothing is created or changed through it.
TEST(VantrelProcess, PlantedOrForeignLockFileIsRefusedAndLeftAlone) {
    struct Case {
        const char* name;
        bool needsRoot;
        void (*plant)(const fs::path& lock, const fs::path& target);
        const char* says;
    };
    const Case cases[] = {
        {"symlink to a missing file", false,
         [](const fs::path& lock, const fs::path& target) { fs::create_symlink(target, lock); },
         "symbolic link"},
        {"symlink to a private file", false,
         [](const fs::path& lock, const fs::path& target) {
             std::ofstream(target) << "secret";
             fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
             fs::create_symlink(target, lock);
         },
         "symbolic link"},
        {"file of another user", true,
         [](const fs::path& lock, const fs::path&) {
             std::ofstream(lock).flush();
             ASSERT_EQ(::chown(lock.c_str(), 65534, 65534), 0);
         },
         "another user"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsRoot && ::geteuid() != 0) continue;  // only root can give a file away
        testkit::TempDir folder;
        const fs::path lock = folder.path() / "vantrel.lock";
        const fs::path target = folder.path() / "target";
        c.plant(lock, target);
        const bool targetExisted = fs::exists(target);
        const auto targetPerms = targetExisted ? fs::status(target).permissions() : fs::perms{};

        Console console(folder, folder.path().string());
        ASSERT_TRUE(console.started());
        const auto status = console.waitExit(30s);
        ASSERT_TRUE(status.has_value());
        ASSERT_TRUE(WIFEXITED(*status));
        EXPECT_EQ(WEXITSTATUS(*status), 1);
        EXPECT_NE(console.errors().find(lock.string()), std::string::npos) << console.errors();
        EXPECT_NE(console.errors().find(c.says), std::string::npos) << console.errors();
        EXPECT_FALSE(fs::exists(folder.path() / "Vantrel_DB.db3"));  // no module started
        EXPECT_EQ(fs::exists(target), targetExisted);
        if (targetExisted) {
            EXPECT_EQ(fs::status(target).permissions(), targetPerms);
        }
    }
}

// Two users each have their own lock folder: the second console starts, and only its link
// fails, on the port the first one holds.
TEST(VantrelProcess, ASecondUsersConsoleStartsAndFailsOnlyOnThePort) {
    testkit::TempDir firstFolder;
    testkit::TempDir secondFolder;
    const int port = freePort();
    Console first(firstFolder, firstFolder.path().string(), port);
    ASSERT_TRUE(testkit::waitFor([&] { return contains(first.log(), "网络初始化成功!"); }, 30s));
    Console second(secondFolder, secondFolder.path().string(), port);
    ASSERT_TRUE(
        testkit::waitFor([&] { return contains(second.log(), "定时任务模块初始化成功."); }, 30s));
    EXPECT_TRUE(contains(second.log(), "网络初始化失败!"));
    for (Console* console : {&first, &second}) {
        console->signal(SIGTERM);
        const auto status = console->waitExit(5s);
        ASSERT_TRUE(status.has_value());
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    }
}

// The lock file the program creates is private to its user.
TEST(VantrelProcess, LockFileIsCreatedPrivate) {
    testkit::TempDir folder;
    Console console(folder, folder.path().string());
    ASSERT_TRUE(console.started());
    ASSERT_TRUE(
        testkit::waitFor([&] { return contains(console.log(), "定时任务模块初始化成功."); }, 30s));
    struct stat st {};
    ASSERT_EQ(::lstat((folder.path() / "vantrel.lock").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_uid, ::geteuid());
    console.signal(SIGTERM);
    EXPECT_TRUE(console.waitExit(5s).has_value());
}

}  // namespace
