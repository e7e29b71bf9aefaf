// The real program in a child process for the process tests: started from a link in a temp
// folder (its database, task folder and lock file stay there), its output in files beside it.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/socket.h>
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

#include "testkit/free_port.h"
#include "testkit/wait_for.h"

extern char** environ;

namespace proctest {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A loopback port free at the time of asking (the program needs a real one to listen on).
int freePort() {
    return testkit::freeListenPort();
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
// `extraArgs` follow --port and --lock-dir (and --web-port=0 when they name no web port). Headless
// runs get neither a display nor a Qt platform in their environment; window runs get the offscreen
// platform. With `user` set (only root can), the program runs as that uid and gid through setpriv.
class Console {
public:
    Console(const testkit::TempDir& folder, const std::string& lockDir, int port = freePort(),
            std::vector<std::string> extraArgs = {}, bool headless = false,
            std::optional<uid_t> user = std::nullopt)
        : m_folder(folder.path()) {
        const fs::path exe = m_folder / "vantrel";
        std::error_code ec;
        fs::create_hard_link(VANTREL_PROGRAM, exe, ec);
        if (ec) fs::copy_file(VANTREL_PROGRAM, exe, ec);
        const std::string portArg = "--port=" + std::to_string(port);
        const std::string lock = "--lock-dir=" + lockDir;
        std::vector<std::string> env;
        if (!headless) env.emplace_back("QT_QPA_PLATFORM=offscreen");
        for (char** e = environ; *e; ++e) {
            const std::string entry(*e);
            if (entry.rfind("QT_QPA_PLATFORM=", 0) == 0) continue;
            if (headless && entry.rfind("DISPLAY=", 0) == 0) continue;
            if (headless && entry.rfind("WAYLAND_DISPLAY=", 0) == 0) continue;
            env.push_back(entry);
        }
        std::vector<std::string> asUser;
        if (user) {
            const std::string id = std::to_string(*user);
            asUser = {"/usr/bin/setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups"};
        }
        std::vector<char*> argv;
        for (auto& arg : asUser) argv.push_back(arg.data());
        argv.insert(argv.end(), {const_cast<char*>(exe.c_str()), const_cast<char*>(portArg.c_str()),
                                 const_cast<char*>(lock.c_str())});
        // No HTTP API unless the test asks for one: parallel tests would share its default port.
        if (std::none_of(extraArgs.begin(), extraArgs.end(),
                         [](const std::string& arg) { return arg.rfind("--web-port", 0) == 0; })) {
            extraArgs.emplace_back("--web-port=0");
        }
        for (auto& arg : extraArgs) argv.push_back(arg.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, (m_folder / "stdout").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, (m_folder / "stderr").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
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

}  // namespace proctest
