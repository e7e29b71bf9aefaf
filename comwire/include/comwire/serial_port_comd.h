// CSerialPortComd: the serial link as callers use it: open, write, close, plus a command
// queue with its sender and watchdog thread entries for callers that start them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "comwire/comwire_export.h"
#include "comwire/serial_port.h"
#include "diskkit/local_mutex.h"

// One queued command: its code and payload (not zero-terminated).
struct st_SendCommand_tag {
    std::uint16_t command = 0;
    std::vector<std::uint8_t> data;
    int length = 0;
};

namespace comwire {

// The frame of one queued command: command high byte, low byte, payload, two zero bytes.
// Empty for an empty payload.
COMWIRE_EXPORT std::vector<std::uint8_t> PackCommandFrame(std::uint16_t command,
                                                          std::span<const std::uint8_t> payload);

// Pacing of the queue sender and the watchdog; the defaults are the link's own.
struct CommandQueueTiming {
    std::chrono::milliseconds sendGap{30};     // after each queued frame
    std::chrono::milliseconds idlePause{100};  // between looks at an empty queue
    std::chrono::milliseconds keepAlive{500};  // idle time before "abc" is sent
    std::chrono::milliseconds watchdogTick{100};
    std::chrono::milliseconds watchdogWindow{550};
};

}  // namespace comwire

class COMWIRE_EXPORT CSerialPortComd : public CSerialPort {
public:
    CSerialPortComd();
    // Closes the port if it is open. Threads started on SendComDataThread or
    // JudgeNoRecvDataThread must have been joined after ReleaseCmdSerialPort before this.
    ~CSerialPortComd() override;
    // A live port, its thread and its locks are not copyable.
    CSerialPortComd(const CSerialPortComd&) = delete;
    CSerialPortComd& operator=(const CSerialPortComd&) = delete;

    // Opens COM`portNumber` and starts its monitor thread. 0 for port 0 or above 15 (without
    // touching any device) and when the device cannot be opened; 1 when open.
    int InitCmdSerialPort(SerialReceiveCallback callback, platform::MessageTarget* owner,
                          unsigned portNumber, unsigned baudRate, char16_t parity,
                          unsigned dataBits, unsigned stopBitCode);
    // Ends the queue loops and the monitor thread and closes the device. Never waits for the
    // GUI; it waits only for a receive callback that is running to return.
    void ReleaseCmdSerialPort();

    using CSerialPort::WriteToPort;
    // The narrow-text form; it never logs the bytes.
    void WriteToPort(const char* text, int length);

    // Queue `text` (up to its terminating zero) under `command`; an empty text queues nothing.
    void PlusSendData(std::uint16_t command, const char* text);
    // The wide form: converted to UTF-8 first.
    void PlusSendData(std::uint16_t command, const char16_t* text);
    std::size_t QueuedCommandCount() const;

    // Thread entry: runs SendComData on the object `self` points to; returns 1.
    static int SendComDataThread(void* self);
    // Sends queued commands one by one while the link runs, and "abc" after idle time.
    void SendComData();
    // Thread entry: runs JudgeDataCount; returns 1.
    static int JudgeNoRecvDataThread(void* self);
    // The no-receive watchdog: restarts its window while the link runs.
    void JudgeDataCount();

    void SetCommandQueueTiming(const comwire::CommandQueueTiming& timing);
    bool IsLinkRunning() const { return m_linkRunning.load(); }

private:
    int PackSendPack(const st_SendCommand_tag& entry, std::vector<std::uint8_t>& frame) const;
    // Waits `delay` or until the link stops; false when it stopped.
    bool pause(std::chrono::milliseconds delay);

    mutable LocalMutex m_queueLock;
    std::vector<st_SendCommand_tag> m_commands;
    std::atomic<bool> m_linkRunning{false};
    std::atomic<bool> m_opened{false};  // from a successful open until its release
    std::atomic<std::uint32_t> m_keepAliveTick{0};
    std::atomic<std::uint32_t> m_watchdogTick{0};
    mutable std::mutex m_pauseLock;  // also guards m_timing
    std::condition_variable m_pauseWake;
    comwire::CommandQueueTiming m_timing;
};
