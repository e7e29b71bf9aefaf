// CSerialPort: one serial device with its monitor thread, pending-write list and receive
// callback.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "comwire/comwire_export.h"
#include "platform/message_target.h"
#include "platform/prompt.h"

namespace comwire {
class ManualEvent;
}

// Handed to the receive callback with every chunk.
struct serialPortInfo {
    std::uint32_t portNumber = 0;  // the COM number the port was opened with
    std::uint32_t byteCount = 0;   // bytes read into the chunk; 0 after a failed read
};

// Called on the monitor thread for every chunk. The chunk holds byteCount bytes and one zero
// byte after them; it belongs to the link and is freed when the callback returns. The callback
// runs outside the port lock; it should hand the bytes over quickly (copy and post), because
// closing the port waits for it to return.
using SerialReceiveCallback = std::function<void(serialPortInfo&, const unsigned char*)>;

// The largest backlog read in one pass; more waiting bytes are left to the next purge.
inline constexpr int kMaxSerialChunk = 1024;

class COMWIRE_EXPORT CSerialPort {
public:
    CSerialPort();
    virtual ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // Switches the receive-path test log on or off.
    void SetSerialTest(bool on) { m_serialTest.store(on); }

    // Message boxes of the write and read error paths go here; null means the process-wide
    // default of this library's platform layer.
    void SetPrompt(platform::Prompt* prompt) { m_prompt.store(prompt); }

    // Copies `length` bytes into a write request for the monitor thread and returns at once.
    // Dropped while the port is closed or its handle has gone invalid after an I/O error.
    void WriteToPort(const unsigned char* data, int length, bool logBytes);

    // Whether the device handle is usable (open and not invalidated by an I/O error).
    bool IsHandleValid() const { return m_handleValid.load(); }
    // Whether the monitor thread is running and watching the port.
    bool IsMonitorAlive() const { return m_threadAlive.load(); }
    unsigned PortNumber() const { return m_portNumber.load(); }
    // Write requests not yet written (failed ones stay until the next write request).
    std::size_t PendingWriteCount() const;

protected:
    // Opens COM`portNumber` (its Linux device, platform/serial_ports.h) for exclusive use and
    // sets the line; a handle left open from before is closed first. False when the device
    // cannot be opened. A refused line setting is logged, and the port stays open with the
    // settings it had.
    bool OpenComPort(platform::MessageTarget* owner, unsigned portNumber, unsigned baudRate,
                     char16_t parity, unsigned dataBits, unsigned stopBitCode);
    // Starts the monitor thread; false when the thread cannot be made.
    bool StartMonitor(SerialReceiveCallback callback);
    // Ends the monitor thread (also when the handle went invalid), closes the device and
    // resets the events. Returns whether a monitor thread was running.
    bool StopMonitor();
    bool MonitorStarted() const { return m_monitor.joinable(); }

private:
    struct WriteRequest {
        std::vector<unsigned char> data;
        bool logBytes = false;
    };
    enum class WriteResult { Written, Failed };
    // A message box decided under the port lock and shown after it is released.
    struct ErrorBox {
        std::string text;
        std::string caption;
    };

    void monitorLoop();
    void flushPendingWrites();
    WriteResult writeRequest(const WriteRequest& request, std::optional<ErrorBox>& box);
    bool waitWritable();
    void drainReceiveQueue();
    // What a failed write or read does to the port (operation "WriteFile" or "ReadFile"): the
    // handle is invalidated for the kinds that end it; returns the box to show, if any.
    std::optional<ErrorBox> onFault(int error, const char* operation);
    void invalidateHandle();
    void closeHandle();
    void showError(const ErrorBox& box);

    SerialReceiveCallback m_callback;
    std::atomic<bool> m_serialTest{false};
    std::atomic<bool> m_running{false};
    std::thread m_monitor;
    mutable std::mutex m_portLock;  // the device handle and the pending-write list
    std::atomic<bool> m_threadAlive{false};
    // Wait order: shutdown, write request; the port's own readiness comes third.
    std::unique_ptr<comwire::ManualEvent> m_shutdownEvent;
    std::unique_ptr<comwire::ManualEvent> m_writeEvent;
    int m_fd = -1;
    std::atomic<bool> m_handleValid{false};
    std::atomic<platform::MessageTarget*> m_owner{nullptr};
    std::atomic<unsigned> m_portNumber{0};
    std::list<WriteRequest> m_pendingWrites;
    std::atomic<platform::Prompt*> m_prompt{nullptr};
};
