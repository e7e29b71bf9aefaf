// `vantrel --headless` under a fake service manager: NOTIFY_SOCKET names a datagram socket the
// test reads, WATCHDOG_USEC asks for a 200 ms watchdog. Ready comes once the link listens,
// watchdog pings while healthy and none while the engine's thread is blocked (test hook),
// stopping on SIGTERM.
#include <gtest/gtest.h>
#include <sys/un.h>

#include <cerrno>
#include <cstdlib>

#include "vantrel_process.h"

namespace {

using namespace proctest;
using namespace std::chrono_literals;

// The service manager's end: a Unix datagram socket in the test's folder.
class NotifySocket {
public:
    explicit NotifySocket(const fs::path& path) {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
        m_bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~NotifySocket() { ::close(m_fd); }
    bool bound() const { return m_bound; }
    // The next message within `limit`; nothing when none came.
    std::optional<std::string> next(std::chrono::milliseconds limit) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(limit.count())) != 1) return std::nullopt;
        char buffer[4096];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n < 0) return std::nullopt;
        return std::string(buffer, static_cast<std::size_t>(n));
    }
    // Reads until a message holding `text` arrives; false when none did within `limit`.
    bool waitFor(const std::string& text, std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left <= 0ms) return false;
            const auto message = next(left);
            if (!message) return false;
            m_seen.push_back(*message);
            if (message->find(text) != std::string::npos) return true;
        }
    }
    const std::vector<std::string>& seen() const { return m_seen; }

private:
    int m_fd = -1;
    bool m_bound = false;
    std::vector<std::string> m_seen;
};

// True when something listens on the loopback `port`: it cannot be bound again. (No connection
// is made, so the program sees nothing of the check.)
bool portTaken(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool taken =
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno == EADDRINUSE;
    ::close(fd);
    return taken;
}

// The environment the child inherits: the fake manager and a 200 ms watchdog.
class ServiceNotify : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(socket.bound());
        ::setenv("NOTIFY_SOCKET", (folder.path() / "notify").c_str(), 1);
        ::setenv("WATCHDOG_USEC", "200000", 1);
        ::unsetenv("WATCHDOG_PID");
    }
    void TearDown() override {
        ::unsetenv("NOTIFY_SOCKET");
        ::unsetenv("WATCHDOG_USEC");
        ::unsetenv("VANTREL_TEST_BLOCK_ENGINE");
    }
    std::vector<std::string> args() const {
        return {"--headless", "--data-dir=" + folder.path().string()};
    }

    testkit::TempDir folder;
    NotifySocket socket{folder.path() / "notify"};
    const int port = freePort();
};

TEST_F(ServiceNotify, ReadyOnceListeningWatchdogWhileHealthyStoppingOnSigterm) {
    Console console(folder, folder.path().string(), port, args(), true);
    ASSERT_TRUE(console.started());
    ASSERT_TRUE(socket.waitFor("READY=1", 30s)) << console.errors();
    EXPECT_NE(socket.seen().back().find("STATUS=0 devices online"), std::string::npos);
    EXPECT_TRUE(portTaken(port));
    EXPECT_TRUE(fs::exists(folder.path() / "Vantrel_DB.db3"));

    // Pings every 100 ms: two in a row prove they repeat.
    EXPECT_TRUE(socket.waitFor("WATCHDOG=1", 10s));
    EXPECT_TRUE(socket.waitFor("WATCHDOG=1", 10s));

    console.signal(SIGTERM);
    EXPECT_TRUE(socket.waitFor("STOPPING=1", 10s));
    const auto status = console.waitExit(10s);
    ASSERT_TRUE(status.has_value());
    ASSERT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0) << console.errors();
}

TEST_F(ServiceNotify, NoWatchdogWhileTheEngineThreadIsBlocked) {
    ::setenv("VANTREL_TEST_BLOCK_ENGINE", "1", 1);
    Console console(folder, folder.path().string(), port, args(), true);
    ASSERT_TRUE(console.started());
    ASSERT_TRUE(socket.waitFor("READY=1", 30s)) << console.errors();
    // A healthy service sends about ten pings in this second (see the test above).
    EXPECT_FALSE(socket.waitFor("WATCHDOG=1", 1s));
}

}  // namespace
