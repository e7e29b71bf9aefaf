// The command queue: frame building, the sender loop with its keep-alive, and the watchdog.
#include <thread>

#include "comwire_test_support.h"

namespace {

using comwiretest::SerialTest;
using Bytes = std::vector<std::uint8_t>;

[[maybe_unused]] const auto& g_links = comwiretest::comLinks();

TEST(CommandFrame, CommandHighByteFirstThenPayloadThenTwoZeros) {
    const Bytes payload = {0x41, 0x42};
    EXPECT_EQ(comwire::PackCommandFrame(0x1234, payload),
              (Bytes{0x12, 0x34, 0x41, 0x42, 0x00, 0x00}));
    EXPECT_TRUE(comwire::PackCommandFrame(0x1234, {}).empty());
}

class CommandQueueTest : public SerialTest {
protected:
    void SetUp() override {
        SerialTest::SetUp();
        comwire::CommandQueueTiming fast;
        fast.sendGap = std::chrono::milliseconds(1);
        fast.idlePause = std::chrono::milliseconds(2);
        fast.keepAlive = std::chrono::hours(1);  // no keep-alive unless a test wants one
        fast.watchdogTick = std::chrono::milliseconds(1);
        m_port.SetCommandQueueTiming(fast);
    }
    void TearDown() override {
        m_port.ReleaseCmdSerialPort();
        if (m_sender.joinable()) m_sender.join();
        if (m_watchdog.joinable()) m_watchdog.join();
        SerialTest::TearDown();
    }
    void startThreads() {
        m_sender = std::thread(&CSerialPortComd::SendComDataThread, &m_port);
        m_watchdog = std::thread(&CSerialPortComd::JudgeNoRecvDataThread, &m_port);
    }

    std::thread m_sender;
    std::thread m_watchdog;
};

TEST_F(CommandQueueTest, QueuedCommandsGoOutAsFramesInOrder) {
    ASSERT_EQ(open(), 1);
    m_port.PlusSendData(0x1234, "AB");
    m_port.PlusSendData(0x0102, u"é");  // wide text travels as UTF-8
    m_port.PlusSendData(0x0505, "");
    m_port.PlusSendData(0x0606, u"");
    EXPECT_EQ(m_port.QueuedCommandCount(), 2u);
    startThreads();
    const Bytes expected = {0x12, 0x34, 0x41, 0x42, 0x00, 0x00, 0x01, 0x02, 0xC3, 0xA9, 0x00, 0x00};
    EXPECT_EQ(comwiretest::readMaster(m_pty, expected.size()), expected);
    EXPECT_TRUE(testkit::waitFor([&] { return m_port.QueuedCommandCount() == 0; }));
}

TEST_F(CommandQueueTest, IdleLinkSendsKeepAliveAndCloseEndsBothLoops) {
    comwire::CommandQueueTiming timing;
    timing.sendGap = std::chrono::milliseconds(1);
    timing.idlePause = std::chrono::milliseconds(2);
    timing.keepAlive = std::chrono::milliseconds(20);
    timing.watchdogTick = std::chrono::milliseconds(1);
    timing.watchdogWindow = std::chrono::milliseconds(5);
    m_port.SetCommandQueueTiming(timing);
    ASSERT_EQ(open(), 1);
    startThreads();
    // Two keep-alives at least; a slow reader may find more, and nothing else goes out.
    const Bytes sent = comwiretest::readMaster(m_pty, 6);
    ASSERT_GE(sent.size(), 6u);
    for (std::size_t k = 0; k < sent.size(); ++k) EXPECT_EQ(sent[k], "abc"[k % 3]) << k;

    // With the default pacing the loops sleep 100 ms at a time; the close wakes them at once.
    m_port.SetCommandQueueTiming(comwire::CommandQueueTiming{});
    m_port.ReleaseCmdSerialPort();
    m_sender.join();
    m_watchdog.join();
    EXPECT_FALSE(m_port.IsLinkRunning());
}

TEST_F(CommandQueueTest, OpeningEmptiesTheQueueAndLoopsStartedBeforeOpenEndAtOnce) {
    m_port.PlusSendData(0x1111, "stale");
    startThreads();  // the link is not running yet
    m_sender.join();
    m_watchdog.join();
    ASSERT_EQ(open(), 1);
    EXPECT_EQ(m_port.QueuedCommandCount(), 0u);
}

}  // namespace
