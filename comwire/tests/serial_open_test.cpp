// Opening and closing the serial link: refused numbers, line settings, exclusivity, the
// monitor thread's life and its log lines.
#include <termios.h>

#include "comwire_test_support.h"
#include "line_settings.h"

namespace {

using comwiretest::countLog;
using comwiretest::SerialTest;

// Set the override before any thread of the test program exists.
[[maybe_unused]] const auto& g_links = comwiretest::comLinks();

speed_t slaveSpeed(const serialsim::PtyPair& pty) {
    termios tio{};
    tcgetattr(pty.slave(), &tio);
    return cfgetospeed(&tio);
}

TEST_F(SerialTest, PortZeroAndAboveFifteenAreRefusedWithoutTouchingTheDevice) {
    ASSERT_TRUE(comwiretest::comLinks().link(16, m_pty.slavePath()));
    ASSERT_TRUE(comwiretest::comLinks().link(20, m_pty.slavePath()));
    termios tio{};
    ASSERT_EQ(tcgetattr(m_pty.slave(), &tio), 0);
    cfsetospeed(&tio, B1200);
    cfsetispeed(&tio, B1200);
    ASSERT_EQ(tcsetattr(m_pty.slave(), TCSANOW, &tio), 0);

    EXPECT_EQ(open(0), 0);
    EXPECT_EQ(open(16), 0);
    EXPECT_EQ(open(20), 0);
    EXPECT_FALSE(m_port.IsHandleValid());
    EXPECT_FALSE(m_port.IsMonitorAlive());
    // The device still has the speed set above: nobody opened and configured it.
    EXPECT_EQ(slaveSpeed(m_pty), B1200);
    EXPECT_EQ(countLog({2, 8, "串口监视线程创建"}), 0);
}

TEST_F(SerialTest, OpenSetsTheLineStartsTheMonitorAndCloseEndsIt) {
    termios cooked{};
    ASSERT_EQ(tcgetattr(m_pty.slave(), &cooked), 0);
    cooked.c_lflag |= ICANON | ECHO;
    ASSERT_EQ(tcsetattr(m_pty.slave(), TCSANOW, &cooked), 0);
    ASSERT_EQ(open(), 1);
    EXPECT_TRUE(m_port.IsHandleValid());
    EXPECT_TRUE(m_port.IsLinkRunning());
    EXPECT_TRUE(testkit::waitFor([&] { return m_port.IsMonitorAlive(); }));
    termios tio{};
    ASSERT_EQ(tcgetattr(m_pty.slave(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B9600);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);  // raw: no line editing, no echo

    m_port.ReleaseCmdSerialPort();
    EXPECT_FALSE(m_port.IsMonitorAlive());
    EXPECT_FALSE(m_port.IsHandleValid());
    EXPECT_FALSE(m_port.IsLinkRunning());
    EXPECT_EQ(countLog({2, 8, "串口监视线程创建"}), 1);
    EXPECT_EQ(countLog({2, 8, "串口监视线程进入"}), 1);
    EXPECT_EQ(countLog({2, 8, "串口线程检测1"}), 1);
    EXPECT_EQ(countLog({2, 8, "串口模块退出"}), 1);
    // Ended by the shutdown event, so the loop's leaving line is not written.
    EXPECT_EQ(countLog({2, 8, "串口监视线程退出."}), 0);

    // Closed means closed: a second release only notes that no thread exists, and the port
    // can be opened again.
    m_port.ReleaseCmdSerialPort();
    EXPECT_EQ(countLog({2, 8, "串口线程检测0"}), 1);
    EXPECT_EQ(countLog({2, 8, "串口模块退出"}), 1);
    EXPECT_EQ(open(), 1);
    EXPECT_TRUE(m_port.IsHandleValid());
}

TEST_F(SerialTest, ParityLettersAndStopBitCodesMapOntoTheLine) {
    struct Case {
        char16_t parity;
        unsigned stopBits;
        tcflag_t expected;  // bits of PARENB | PARODD | CMSPAR | CSTOPB
    };
    const Case cases[] = {
        {u'N', 0, 0},
        {u'e', 0, PARENB},
        {u'O', 2, PARENB | PARODD | CSTOPB},
        {u'm', 1, PARENB | PARODD | CMSPAR | CSTOPB},
        {u'S', 0, PARENB | CMSPAR},
        {u'X', 7, 0},  // unknown letter: none; unknown stop code: one stop bit
    };
    for (const auto& c : cases) {
        ASSERT_EQ(open(1, c.parity, c.stopBits), 1);
        termios tio{};
        ASSERT_EQ(tcgetattr(m_pty.slave(), &tio), 0);
        // A pseudo-terminal always reports PARENB clear; the rest of the framing sticks.
        EXPECT_EQ(tio.c_cflag & (PARODD | CMSPAR | CSTOPB), c.expected & ~PARENB)
            << "parity " << static_cast<char>(c.parity) << " stop code " << c.stopBits;
        EXPECT_EQ(comwire::parityFlags(c.parity) | comwire::stopBitFlags(c.stopBits), c.expected);
        m_port.ReleaseCmdSerialPort();
    }
}

TEST_F(SerialTest, MissingDeviceOrAPortAlreadyInUseFailsToOpen) {
    comwiretest::comLinks().unlink(2);
    EXPECT_EQ(open(2), 0);
    EXPECT_EQ(countLog({2, 8, "串口监视线程创建"}), 0);

    ASSERT_EQ(open(1), 1);
    CSerialPortComd second;
    comwiretest::ChunkCollector other;
    EXPECT_EQ(second.InitCmdSerialPort(other.callback(), nullptr, 1, 9600, u'N', 8, 0), 0);
    EXPECT_FALSE(second.IsHandleValid());
    m_port.ReleaseCmdSerialPort();
    EXPECT_EQ(second.InitCmdSerialPort(other.callback(), nullptr, 1, 9600, u'N', 8, 0), 1);
}

TEST_F(SerialTest, OpeningAgainWithoutCloseReplacesTheMonitor) {
    ASSERT_EQ(open(), 1);
    ASSERT_EQ(open(), 1);
    EXPECT_EQ(countLog({2, 8, "串口监视线程创建"}), 2);
    EXPECT_EQ(countLog({2, 8, "串口模块退出"}), 1);
    ASSERT_TRUE(comwiretest::writeMaster(m_pty, {0x55}));
    EXPECT_TRUE(testkit::waitFor([&] { return m_chunks.bytes().size() == 1; }));
}

}  // namespace
