// The write path and the receive path of the serial link over a real pseudo-terminal.
#include <atomic>
#include <thread>

#include "comwire_test_support.h"

namespace {

using comwiretest::countLog;
using comwiretest::readLog;
using comwiretest::SerialTest;
using Bytes = std::vector<std::uint8_t>;

[[maybe_unused]] const auto& g_links = comwiretest::comLinks();

const Bytes kReadRequest = {0xC3, 0x40, 0x02, 0x00, 0x3C, 0xD4};

// A callback that stops on its first chunk until the test opens the gate.
class GatedCallback {
public:
    SerialReceiveCallback callback() {
        return [this](serialPortInfo& info, const unsigned char* bytes) {
            std::unique_lock lock(m_mutex);
            m_chunks.emplace_back(bytes, bytes + info.byteCount);
            m_inside = true;
            m_cv.notify_all();
            m_cv.wait(lock, [this] { return m_open; });
            m_inside = false;
        };
    }
    bool waitInside() {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::seconds(10), [this] { return m_inside; });
    }
    void open() {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_cv.notify_all();
    }
    std::vector<Bytes> chunks() {
        std::lock_guard lock(m_mutex);
        return m_chunks;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_inside = false;
    bool m_open = false;
    std::vector<Bytes> m_chunks;
};

TEST_F(SerialTest, WrittenBytesLeaveUnchangedAndInOrder) {
    ASSERT_EQ(open(), 1);
    m_port.WriteToPort(kReadRequest.data(), 6, false);
    const Bytes frame(38, 0xA5);
    m_port.WriteToPort(frame.data(), 38, false);
    m_port.WriteToPort("abc", 3);
    Bytes expected = kReadRequest;
    expected.insert(expected.end(), frame.begin(), frame.end());
    expected.insert(expected.end(), {'a', 'b', 'c'});
    EXPECT_EQ(comwiretest::readMaster(m_pty, expected.size()), expected);
    EXPECT_TRUE(testkit::waitFor([&] { return m_port.PendingWriteCount() == 0; }));
}

TEST_F(SerialTest, WriteBeforeOpenIsDropped) {
    m_port.WriteToPort(kReadRequest.data(), 6, true);
    EXPECT_EQ(m_port.PendingWriteCount(), 0u);
    ASSERT_EQ(open(), 1);
    m_port.WriteToPort("Z", 1);
    // Only the byte written after the open arrives.
    EXPECT_EQ(comwiretest::readMaster(m_pty, 1), Bytes{'Z'});
    EXPECT_EQ(comwiretest::readMaster(m_pty, 1, std::chrono::milliseconds(100)), Bytes{});
}

TEST_F(SerialTest, ReceivedBytesReachTheCallbackWithPortNumberAndTrailingZero) {
    ASSERT_EQ(open(), 1);
    const Bytes sent = {0xC3, 0x40, 0x03, 0x22, 0x00, 0xFF};
    ASSERT_TRUE(comwiretest::writeMaster(m_pty, sent));
    ASSERT_TRUE(testkit::waitFor([&] { return m_chunks.bytes().size() >= sent.size(); }));
    EXPECT_EQ(m_chunks.bytes(), sent);
    for (auto port : m_chunks.ports()) EXPECT_EQ(port, 1u);
    EXPECT_TRUE(m_chunks.zeroAfterEveryChunk());
}

TEST_F(SerialTest, BacklogAboveOneChunkStaysUnreadUntilAWritePurgesIt) {
    GatedCallback gate;
    ASSERT_EQ(openWith(gate.callback()), 1);
    ASSERT_TRUE(comwiretest::writeMaster(m_pty, {0x01}));
    ASSERT_TRUE(gate.waitInside());
    // While the monitor is held in the callback, 1025 bytes pile up in the driver.
    ASSERT_TRUE(comwiretest::writeMaster(m_pty, Bytes(1025, 0x7E)));
    ASSERT_TRUE(testkit::waitFor([&] { return comwiretest::waitingInput(m_pty) == 1025; }));
    gate.open();
    // The monitor goes back to waiting without reading them; nothing new arrives to wake it.
    ASSERT_TRUE(testkit::waitFor([&] { return !gate.chunks().empty(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // a chance to misbehave
    EXPECT_EQ(gate.chunks().size(), 1u);
    EXPECT_EQ(comwiretest::waitingInput(m_pty), 1025);

    // A write throws the unread bytes away; what comes after it is read normally.
    m_port.WriteToPort("x", 1);
    ASSERT_EQ(comwiretest::readMaster(m_pty, 1), Bytes{'x'});
    EXPECT_EQ(comwiretest::waitingInput(m_pty), 0);
    ASSERT_TRUE(comwiretest::writeMaster(m_pty, {0x02, 0x03}));
    ASSERT_TRUE(testkit::waitFor([&] {
        std::size_t n = 0;
        for (const auto& c : gate.chunks()) n += c.size();
        return n >= 3;
    }));
    const auto chunks = gate.chunks();
    Bytes after;
    for (std::size_t i = 1; i < chunks.size(); ++i) {
        after.insert(after.end(), chunks[i].begin(), chunks[i].end());
    }
    EXPECT_EQ(after, (Bytes{0x02, 0x03}));
}

TEST_F(SerialTest, BacklogOfExactlyOneChunkIsReadWhole) {
    GatedCallback gate;
    ASSERT_EQ(openWith(gate.callback()), 1);
    ASSERT_TRUE(comwiretest::writeMaster(m_pty, {0x01}));
    ASSERT_TRUE(gate.waitInside());
    Bytes big(1024);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_TRUE(comwiretest::writeMaster(m_pty, big));
    ASSERT_TRUE(testkit::waitFor([&] { return comwiretest::waitingInput(m_pty) == 1024; }));
    gate.open();
    ASSERT_TRUE(testkit::waitFor([&] { return gate.chunks().size() == 2; }));
    EXPECT_EQ(gate.chunks()[1], big);
}

TEST_F(SerialTest, WritesAndReadsLogOnlyWhenAskedTo) {
    ASSERT_EQ(open(), 1);
    m_port.WriteToPort(kReadRequest.data(), 6, false);
    ASSERT_EQ(comwiretest::readMaster(m_pty, 6), kReadRequest);
    ASSERT_TRUE(comwiretest::writeMaster(m_pty, {0x10, 0x20}));
    ASSERT_TRUE(testkit::waitFor([&] { return m_chunks.bytes().size() == 2; }));
    for (const auto& row : readLog()) {
        EXPECT_NE(row.type, 1) << row.content;  // the receive-path test log is off
        EXPECT_EQ(row.content.find("串口发送"), std::string::npos);
        EXPECT_EQ(row.content.find("write ok"), std::string::npos);
    }

    m_port.WriteToPort(kReadRequest.data(), 6, true);
    ASSERT_EQ(comwiretest::readMaster(m_pty, 6), kReadRequest);
    EXPECT_TRUE(testkit::waitFor([&] { return countLog({2, 8, "write ok"}) == 1; }));
    EXPECT_EQ(countLog({2, 8, "串口发送:C34002003CD4"}), 1);
}

// The program sets one prompt for the whole process; the serial link is a library of its own
// and must show its boxes there when no prompt was given to the port.
TEST_F(SerialTest, APortWithoutItsOwnPromptShowsItsBoxOnTheProgramsDefaultPrompt) {
    struct DefaultPrompt {
        explicit DefaultPrompt(platform::Prompt* prompt) { platform::setDefaultPrompt(prompt); }
        ~DefaultPrompt() { platform::setDefaultPrompt(nullptr); }
    } programPrompt(&m_prompt);
    m_port.SetPrompt(nullptr);
    ASSERT_EQ(open(), 1);
    m_pty.hangUp();
    m_port.WriteToPort(kReadRequest.data(), 6, true);
    ASSERT_TRUE(testkit::waitFor([&] { return !m_port.IsHandleValid(); }));
    ASSERT_TRUE(
        testkit::waitFor([&] { return m_prompt.shown().size() == 1; }, std::chrono::seconds(2)));
    EXPECT_EQ(m_prompt.shown()[0].caption, "COM WriteFile Error");
}

TEST_F(SerialTest, WriteErrorInvalidatesTheHandleShowsTheBoxAndLaterWritesAreDropped) {
    ASSERT_EQ(open(), 1);
    m_pty.hangUp();  // the adapter is gone: writes to the port fail with an I/O error
    m_port.WriteToPort(kReadRequest.data(), 6, true);
    ASSERT_TRUE(testkit::waitFor([&] { return !m_port.IsHandleValid(); }));
    ASSERT_TRUE(testkit::waitFor([&] { return m_prompt.shown().size() == 1; }));
    const auto shown = m_prompt.shown();
    EXPECT_EQ(shown[0].text, "COM1 ERROR_BAD_COMMAND，WriteFile() Error Code:22");
    EXPECT_EQ(shown[0].caption, "COM WriteFile Error");
    EXPECT_EQ(shown[0].icon, platform::PromptIcon::Error);
    EXPECT_EQ(countLog({2, 8, "ERROR_BAD_COMMAND"}), 1);
    // The failed request stays; a new one is dropped.
    EXPECT_EQ(m_port.PendingWriteCount(), 1u);
    m_port.WriteToPort("x", 1);
    EXPECT_EQ(m_port.PendingWriteCount(), 1u);
    EXPECT_TRUE(m_port.IsMonitorAlive());

    // Closing still ends the monitor thread.
    m_port.ReleaseCmdSerialPort();
    EXPECT_FALSE(m_port.IsMonitorAlive());
    EXPECT_EQ(countLog({2, 8, "串口模块退出"}), 1);
}

TEST_F(SerialTest, CloseWaitsOnlyForABusyCallbackAndThenCompletes) {
    GatedCallback gate;
    ASSERT_EQ(openWith(gate.callback()), 1);
    ASSERT_TRUE(comwiretest::writeMaster(m_pty, {0x01}));
    ASSERT_TRUE(gate.waitInside());
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        m_port.ReleaseCmdSerialPort();
        closed = true;
    });
    // The close has begun (the link no longer runs) and waits for the callback.
    ASSERT_TRUE(testkit::waitFor([&] { return !m_port.IsLinkRunning(); }));
    EXPECT_FALSE(closed.load());
    gate.open();
    closer.join();
    EXPECT_TRUE(closed.load());
    EXPECT_FALSE(m_port.IsMonitorAlive());
    EXPECT_FALSE(m_port.IsHandleValid());
}

}  // namespace
