// Start-up and shutdown order of the console's modules.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "chronstore/chronstore.h"
#include "consolecore/console_session.h"
#include "consolecore/device_channel.h"
#include "core_test_support.h"
#include "lanwire/lanwire.h"
#include "lanwire/lanwire_options.h"
#include "logbase/log_codes.h"
#include "testkit/wait_for.h"

using namespace consolecore;

namespace {

// Holds a listening TCP socket on an ephemeral loopback port.
class BusyPort {
public:
    BusyPort() {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_fd, 1);
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
    }
    ~BusyPort() { ::close(m_fd); }
    std::uint16_t port() const { return m_port; }

private:
    int m_fd = -1;
    std::uint16_t m_port = 0;
};

class ConsoleSessionTest : public ::testing::Test {
protected:
    SessionOptions options(std::uint16_t port) {
        SessionOptions o;
        o.programFolder = m_dir.path().string() + "/";
        o.taskFolder = m_dir.file("TimingTask");
        o.port = port;
        LanwireOptions link;
        link.programFolder = o.programFolder;
        SetLanwireOptions(link);
        return o;
    }
    void TearDown() override { ReleaseLogbaseModule(); }
    testkit::TempDir m_dir;
};

// The log shows the order: the store is open before the link logs its start, the runner
// starts after the link, and at stop the runner leaves before the link's heartbeat thread.
TEST_F(ConsoleSessionTest, StartsModulesInOrderAndStopsThemAgain) {
    coretest::IgnoredMessages ignored;
    CDeviceChannel channel{ignored};
    beginApplication();
    {
        ConsoleSession session(channel, options(0));
        session.start();
        EXPECT_TRUE(session.linkStarted());
        EXPECT_NE(GetLanwirePort(), 0);
        EXPECT_TRUE(std::filesystem::exists(m_dir.file("Vantrel_DB.db3")));
        EXPECT_EQ(GetTTPointCount(), 0);
        session.stop();
        EXPECT_EQ(GetLanwirePort(), 0);
        std::uint8_t frame[24] = {};
        EXPECT_FALSE(TCPSend(frame, sizeof frame, sockaddr_in{}));
        session.stop();  // a second stop does nothing
    }
    endApplication();

    const std::vector<coretest::LogRow> steps = {
        {logcode::kSystem, logcode::kStartup, "网络初始化成功!"},
        {logcode::kSystem, logcode::kTimedTask, "定时任务模块初始化成功."},
        {logcode::kSystem, logcode::kTimedTask, "退出定时任务模块."},
        {logcode::kFailure, logcode::kDeviceLink, "退出心跳计数线程"},
    };
    std::vector<coretest::LogRow> seen;
    for (const auto& row : coretest::readLog()) {
        if (std::find(steps.begin(), steps.end(), row) != steps.end()) seen.push_back(row);
    }
    EXPECT_EQ(seen, steps);
}

TEST_F(ConsoleSessionTest, TakenPortLogsFailureAndTheConsoleRunsOn) {
    BusyPort busy;
    coretest::IgnoredMessages ignored;
    CDeviceChannel channel{ignored};
    ConsoleSession session(channel, options(busy.port()));
    session.start();
    EXPECT_FALSE(session.linkStarted());
    EXPECT_EQ(coretest::countLog({3, 1, "网络初始化失败!"}), 1);
    EXPECT_EQ(coretest::countLog({1, 1, "网络初始化成功!"}), 0);
    session.stop();
}

}  // namespace
