// Shared pieces of the serial link tests: COM numbers pointed at pseudo-terminals, a fresh
// log store per test, a recording prompt, and a callback that collects chunks.
#pragma once

#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "comwire/comwire.h"
#include "logbase/logbase.h"
#include "platform/prompt.h"
#include "serialsim/com_port_links.h"
#include "serialsim/pty_pair.h"
#include "testkit/wait_for.h"

namespace comwiretest {

// COM1..COM20 point at links in a temporary folder; set before any test thread runs.
inline serialsim::ComPortLinks& comLinks() {
    static serialsim::ComPortLinks links;
    return links;
}

struct LogRow {
    int type;
    int subType;
    std::string content;
    bool operator==(const LogRow&) const = default;
};

inline std::vector<LogRow> readLog() {
    std::vector<LogRow> rows;
    LogObLockLogbase();
    auto statement =
        LogObQueryStatement("SELECT LogType, LogChildType, LogContent FROM Log ORDER BY rowid");
    LogObUnlockLogbase();
    if (!statement) return rows;
    while (statement->NextRow()) {
        rows.push_back({std::stoi(statement->ValueUtf8(0)), std::stoi(statement->ValueUtf8(1)),
                        statement->ValueUtf8(2)});
    }
    return rows;
}

inline int countLog(const LogRow& wanted) {
    int n = 0;
    for (const auto& row : readLog()) n += row == wanted;
    return n;
}

class RecordingPrompt : public platform::Prompt {
public:
    struct Shown {
        std::string text;
        std::string caption;
        platform::PromptIcon icon;
    };
    void showMessage(const std::string& text, const std::string& caption,
                     platform::PromptIcon icon) override {
        std::lock_guard lock(m_mutex);
        m_shown.push_back({text, caption, icon});
    }
    std::vector<Shown> shown() const {
        std::lock_guard lock(m_mutex);
        return m_shown;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Shown> m_shown;
};

// Collects every chunk the link hands to the callback, checking the zero byte after each.
class ChunkCollector {
public:
    SerialReceiveCallback callback() {
        return [this](serialPortInfo& info, const unsigned char* bytes) {
            std::lock_guard lock(m_mutex);
            m_ports.push_back(info.portNumber);
            m_chunks.emplace_back(bytes, bytes + info.byteCount);
            m_zeroAfter = m_zeroAfter && bytes[info.byteCount] == 0;
        };
    }
    std::vector<std::vector<std::uint8_t>> chunks() const {
        std::lock_guard lock(m_mutex);
        return m_chunks;
    }
    std::vector<std::uint8_t> bytes() const {
        std::lock_guard lock(m_mutex);
        std::vector<std::uint8_t> all;
        for (const auto& c : m_chunks) all.insert(all.end(), c.begin(), c.end());
        return all;
    }
    std::vector<std::uint32_t> ports() const {
        std::lock_guard lock(m_mutex);
        return m_ports;
    }
    bool zeroAfterEveryChunk() const {
        std::lock_guard lock(m_mutex);
        return m_zeroAfter;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::vector<std::uint8_t>> m_chunks;
    std::vector<std::uint32_t> m_ports;
    bool m_zeroAfter = true;
};

// Bytes waiting in the slave's input queue (the queue the port reads from).
inline int waitingInput(const serialsim::PtyPair& pty) {
    int n = -1;
    ioctl(pty.slave(), FIONREAD, &n);
    return n;
}

// Everything the port wrote that the master can read within `timeout`, until `count` bytes.
inline std::vector<std::uint8_t> readMaster(
    const serialsim::PtyPair& pty, std::size_t count,
    std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::vector<std::uint8_t> got;
    testkit::waitFor(
        [&] {
            int n = 0;
            if (ioctl(pty.master(), FIONREAD, &n) == 0 && n > 0) {
                std::vector<std::uint8_t> buffer(static_cast<std::size_t>(n));
                const ssize_t r = ::read(pty.master(), buffer.data(), buffer.size());
                if (r > 0) got.insert(got.end(), buffer.begin(), buffer.begin() + r);
            }
            return got.size() >= count;
        },
        timeout);
    return got;
}

inline bool writeMaster(const serialsim::PtyPair& pty, const std::vector<std::uint8_t>& bytes) {
    return ::write(pty.master(), bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

// A log store in a fresh folder and COM1 on a fresh pseudo-terminal.
class SerialTest : public ::testing::Test {
protected:
    void SetUp() override {
        comLinks();
        ASSERT_TRUE(InitLogbaseModule(m_dir.path().string() + "/", "Vantrel_DB.db3"));
        ASSERT_TRUE(m_pty.valid());
        ASSERT_TRUE(comLinks().link(1, m_pty.slavePath()));
        m_port.SetPrompt(&m_prompt);
    }
    void TearDown() override {
        m_port.ReleaseCmdSerialPort();
        ReleaseLogbaseModule();
    }
    int open(unsigned com = 1, char16_t parity = u'N', unsigned stopBits = 0) {
        return openWith(m_chunks.callback(), com, parity, stopBits);
    }
    // Opens and waits until the monitor watches the port, so bytes sent next are not purged
    // by its start.
    int openWith(SerialReceiveCallback callback, unsigned com = 1, char16_t parity = u'N',
                 unsigned stopBits = 0) {
        const int result =
            m_port.InitCmdSerialPort(std::move(callback), nullptr, com, 9600, parity, 8, stopBits);
        if (result == 1) {
            EXPECT_TRUE(testkit::waitFor([&] { return m_port.IsMonitorAlive(); }));
        }
        return result;
    }

    testkit::TempDir m_dir;
    serialsim::PtyPair m_pty;
    RecordingPrompt m_prompt;
    ChunkCollector m_chunks;
    CSerialPortComd m_port;
};

}  // namespace comwiretest
