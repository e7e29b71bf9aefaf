// CSerialPortComd: open and close for callers, the narrow write, and the command queue.
#include "comwire/serial_port_comd.h"

#include <cstring>
#include <memory>

#include "diskkit/text_convert.h"
#include "logbase/log_codes.h"
#include "logbase/logbase.h"

namespace {

constexpr unsigned kHighestPort = 15;

// Milliseconds of a monotonic clock, wrapping at 32 bits like a tick counter.
std::uint32_t tickCount() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

}  // namespace

namespace comwire {

std::vector<std::uint8_t> PackCommandFrame(std::uint16_t command,
                                           std::span<const std::uint8_t> payload) {
    if (payload.empty()) return {};
    std::vector<std::uint8_t> frame;
    frame.reserve(payload.size() + 4);
    frame.push_back(static_cast<std::uint8_t>(command >> 8));
    frame.push_back(static_cast<std::uint8_t>(command & 0xFF));
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.push_back(0);
    frame.push_back(0);
    return frame;
}

}  // namespace comwire

CSerialPortComd::CSerialPortComd() = default;

CSerialPortComd::~CSerialPortComd() {
    if (MonitorStarted() || IsHandleValid()) ReleaseCmdSerialPort();
}

int CSerialPortComd::InitCmdSerialPort(SerialReceiveCallback callback,
                                       platform::MessageTarget* owner, unsigned portNumber,
                                       unsigned baudRate, char16_t parity, unsigned dataBits,
                                       unsigned stopBitCode) {
    if (portNumber == 0 || portNumber > kHighestPort) return 0;
    // Opening again without a close first would leave the old monitor thread behind.
    if (MonitorStarted() || IsHandleValid()) ReleaseCmdSerialPort();
    if (!OpenComPort(owner, portNumber, baudRate, parity, dataBits, stopBitCode)) return 0;
    m_opened.store(true);
    if (StartMonitor(std::move(callback))) {
        logEvent(logcode::kRun, logcode::kOther, "串口监视线程创建");
    }
    m_keepAliveTick.store(tickCount());
    m_watchdogTick.store(tickCount());
    m_linkRunning.store(true);
    std::lock_guard lock(m_queueLock);
    m_commands.clear();
    return 1;
}

void CSerialPortComd::ReleaseCmdSerialPort() {
    {
        std::lock_guard lock(m_pauseLock);
        m_linkRunning.store(false);
    }
    m_pauseWake.notify_all();
    // The monitor thread is never suspended here; the check line tells whether it exists.
    const bool threadExists = MonitorStarted();
    logEvent(logcode::kRun, logcode::kOther, threadExists ? "串口线程检测1" : "串口线程检测0");
    // Also ends the thread when an I/O error had already invalidated the handle.
    StopMonitor();
    // Every open is closed with this line, whatever state an I/O error left the port in.
    if (m_opened.exchange(false)) logEvent(logcode::kRun, logcode::kOther, "串口模块退出");
}

void CSerialPortComd::WriteToPort(const char* text, int length) {
    WriteToPort(reinterpret_cast<const unsigned char*>(text), length, false);
}

void CSerialPortComd::PlusSendData(std::uint16_t command, const char* text) {
    if (text == nullptr) return;
    const std::size_t length = std::strlen(text);
    if (length == 0) return;
    st_SendCommand_tag entry;
    entry.command = command;
    entry.data.assign(text, text + length);
    entry.length = static_cast<int>(length);
    std::lock_guard lock(m_queueLock);
    m_commands.push_back(std::move(entry));
}

void CSerialPortComd::PlusSendData(std::uint16_t command, const char16_t* text) {
    if (text == nullptr || text[0] == 0) return;
    const std::unique_ptr<char[]> narrow(WideCharToChar(text));
    if (narrow) PlusSendData(command, narrow.get());
}

std::size_t CSerialPortComd::QueuedCommandCount() const {
    std::lock_guard lock(m_queueLock);
    return m_commands.size();
}

int CSerialPortComd::SendComDataThread(void* self) {
    static_cast<CSerialPortComd*>(self)->SendComData();
    return 1;
}

int CSerialPortComd::JudgeNoRecvDataThread(void* self) {
    static_cast<CSerialPortComd*>(self)->JudgeDataCount();
    return 1;
}

void CSerialPortComd::SetCommandQueueTiming(const comwire::CommandQueueTiming& timing) {
    std::lock_guard lock(m_pauseLock);
    m_timing = timing;
}

bool CSerialPortComd::pause(std::chrono::milliseconds delay) {
    std::unique_lock lock(m_pauseLock);
    return !m_pauseWake.wait_for(lock, delay, [this] { return !m_linkRunning.load(); });
}

void CSerialPortComd::SendComData() {
    while (m_linkRunning.load()) {
        comwire::CommandQueueTiming timing;
        {
            std::lock_guard lock(m_pauseLock);
            timing = m_timing;
        }
        st_SendCommand_tag first;
        bool haveCommand = false;
        {
            std::lock_guard lock(m_queueLock);
            if (!m_commands.empty()) {
                first = m_commands.front();
                haveCommand = true;
            }
        }
        if (haveCommand) {
            std::vector<std::uint8_t> frame;
            const int length = PackSendPack(first, frame);
            if (length > 0) WriteToPort(frame.data(), length, false);
            {
                std::lock_guard lock(m_queueLock);
                if (!m_commands.empty()) m_commands.erase(m_commands.begin());
            }
            if (!pause(timing.sendGap)) return;
            continue;
        }
        const std::uint32_t now = tickCount();
        const std::uint32_t since = m_keepAliveTick.load();
        if (now < since) {
            m_keepAliveTick.store(now);  // the tick counter wrapped
        } else if (now - since >= static_cast<std::uint32_t>(timing.keepAlive.count())) {
            WriteToPort("abc", 3);
            m_keepAliveTick.store(now);
        }
        if (!pause(timing.idlePause)) return;
    }
}

int CSerialPortComd::PackSendPack(const st_SendCommand_tag& entry,
                                  std::vector<std::uint8_t>& frame) const {
    if (entry.length <= 0 || entry.data.empty()) return 0;
    const std::size_t length = std::min(entry.data.size(), static_cast<std::size_t>(entry.length));
    frame = comwire::PackCommandFrame(entry.command, std::span(entry.data.data(), length));
    return static_cast<int>(frame.size());
}

void CSerialPortComd::JudgeDataCount() {
    while (m_linkRunning.load()) {
        comwire::CommandQueueTiming timing;
        {
            std::lock_guard lock(m_pauseLock);
            timing = m_timing;
        }
        if (!pause(timing.watchdogTick)) return;
        // Nothing in the system acts on a window without data; the window only restarts.
        const std::uint32_t now = tickCount();
        const std::uint32_t since = m_watchdogTick.load();
        if (now < since ||
            now - since >= static_cast<std::uint32_t>(timing.watchdogWindow.count())) {
            m_watchdogTick.store(now);
        }
    }
}
