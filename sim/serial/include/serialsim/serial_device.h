// A configurable sequencer on a serial line: answers the parameter read request with a
// 38-byte reply and takes new parameters from a write request, over a real pseudo-terminal.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "serialsim/pty_pair.h"

namespace serialsim {

struct DeviceParameters {
    std::uint16_t deviceNumber = 0;
    std::array<std::uint8_t, 10> name{};  // single-byte characters, zero-padded
    std::array<std::uint8_t, 4> ip{};     // first octet first
    std::array<std::uint8_t, 4> mask{};
    std::array<std::uint8_t, 4> gateway{};
    std::array<std::uint8_t, 6> mac{};
    std::array<std::uint8_t, 4> serverIp{};
    bool operator==(const DeviceParameters&) const = default;
};

// A sample device: number 300, name "Rack-A", 192.168.1.50/24 via .1, server .10.
DeviceParameters sampleParameters();
// The name field for an ASCII name (cut to 10 bytes).
std::array<std::uint8_t, 10> nameField(const std::string& name);

// The device side of the wire format, written independently of the console's code.
std::uint16_t modbusCrc(std::span<const std::uint8_t> bytes);
std::vector<std::uint8_t> encodeReply(const DeviceParameters& parameters);  // 38 bytes
// The parameters of a 38-byte write request (C3 40 01 ...); false when it is not one.
bool decodeWriteRequest(std::span<const std::uint8_t> frame, DeviceParameters& out);

// How a reply leaves the device.
struct ReplyShape {
    std::vector<std::size_t> pieces;     // sizes of the leading pieces; the rest goes last
    std::vector<std::uint8_t> trailing;  // extra bytes sent after the 38
};

class SimSerialDevice {
public:
    explicit SimSerialDevice(DeviceParameters initial = sampleParameters());
    ~SimSerialDevice();
    SimSerialDevice(const SimSerialDevice&) = delete;
    SimSerialDevice& operator=(const SimSerialDevice&) = delete;

    bool valid() const { return m_pty.valid(); }
    const std::string& slavePath() const { return m_pty.slavePath(); }

    DeviceParameters parameters() const;
    void setParameters(const DeviceParameters& parameters);
    void setReplyShape(ReplyShape shape);
    // A silent device never answers a read request.
    void setSilent(bool silent);
    // Called on the device thread after each reply piece but the last (argument: pieces sent
    // so far), e.g. to wait until the port has taken the piece so the next one arrives apart.
    void setBetweenPieces(std::function<void(std::size_t)> hook);

    int readsAnswered() const { return m_readsAnswered.load(); }
    int writesApplied() const { return m_writesApplied.load(); }
    // Every complete request frame received, in order (read and write requests).
    std::vector<std::vector<std::uint8_t>> requests() const;
    // Bytes that were not part of a valid request.
    std::size_t discardedBytes() const;

private:
    void run();
    void consume();
    void answerRead();

    PtyPair m_pty;
    int m_stopFd = -1;
    mutable std::mutex m_mutex;  // everything below except the counters
    DeviceParameters m_parameters;
    ReplyShape m_shape;
    bool m_silent = false;
    std::function<void(std::size_t)> m_betweenPieces;
    std::vector<std::uint8_t> m_input;
    std::vector<std::vector<std::uint8_t>> m_requests;
    std::size_t m_discarded = 0;
    std::atomic<int> m_readsAnswered{0};
    std::atomic<int> m_writesApplied{0};
    std::thread m_thread;
};

}  // namespace serialsim
