// A simulated 16-outlet sequencer: connects from its own loopback address, registers, answers
// heartbeats and reacts to console frames like plausible firmware, with knobs for failures.
// It records every frame it receives so tests can assert on bytes and timing.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace simtcp {

// What the device says about itself in its registration.
struct DeviceConfig {
    std::uint16_t id = 1;
    std::string name;             // UTF-8; up to 10 characters U+0001..U+00FF
    std::string sourceAddress;    // local address to connect from, e.g. "127.0.0.2"
    std::uint32_t ipAddress = 0;  // the device's own idea of its address
    std::uint32_t mask = 0xFFFFFF00;
    std::uint32_t gateway = 0;
    std::array<std::uint8_t, 6> mac{};
    std::uint8_t group = 0;   // 0 none, 1..6
    std::uint8_t mode = 0;    // 0 parallel, 1 serial
    std::uint8_t number = 0;  // 1-based number within the group
    bool onOff = false;
    std::uint16_t outlets = 0;  // bit k = outlet k+1
};

// Behaviour that tests and demos change at run time.
struct Knobs {
    bool answerHeartbeats = true;
    std::chrono::milliseconds heartbeatDelay{0};  // answer each heartbeat this late
    std::chrono::milliseconds stepDelay{20};      // parallel/serial: time per outlet
    bool statusEachStep = true;                   // a status report after every outlet step
    std::size_t splitSize = 0;                    // > 0: frames leave in pieces of this size
    std::chrono::milliseconds pieceDelay{3};      // pause between two pieces
    bool coalesce = false;                        // frames of one reaction leave in one write
    std::size_t garbageBefore = 0;                // random non-marker bytes before each frame
    bool reconnect = true;                        // connect again when the console closes
    std::chrono::milliseconds reconnectDelay{200};
    bool recordFrames = true;  // keep every received frame (counts always)
    // False: carries out switching orders but never reports the step done.
    bool reportStepDone = true;
    // Further ids this device answers heartbeats for, as a gateway would.
    std::vector<std::uint16_t> gatewayIds;
    // Also registers each gateway id after its own registration on every connect (a gateway
    // announcing the devices behind it), with its own id in the name and the addresses.
    bool registerGatewayIds = false;
    bool readPaused = false;  // stop reading from the console (its writes then back up)
};

struct DeviceState {
    bool connected = false;
    unsigned connects = 0;      // successful connections so far
    unsigned closedByPeer = 0;  // connections the console closed
    std::uint8_t group = 0;
    std::uint8_t mode = 0;
    std::uint8_t number = 0;
    bool onOff = false;
    std::uint16_t outlets = 0;
    bool stepping = false;  // a parallel/serial order is being carried out
};

// One console frame as the device received it.
struct ReceivedFrame {
    std::chrono::steady_clock::time_point at;
    std::vector<std::uint8_t> bytes;
    std::uint8_t command() const { return bytes.size() > 8 ? bytes[8] : 0; }
    // Parameter byte 0..3 (frame offsets 20..23).
    std::uint8_t param(std::size_t i) const { return bytes.size() > 20 + i ? bytes[20 + i] : 0; }
};

class SimDevice {
public:
    class Impl;
    explicit SimDevice(std::shared_ptr<Impl> impl);
    ~SimDevice();
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    std::uint16_t id() const;
    const DeviceConfig& config() const;
    DeviceState state() const;

    Knobs knobs() const;
    void setKnobs(const Knobs& knobs);

    // Connects (again) and sends the registration; reconnects per the knobs.
    void connect();
    // Closes the connection and stays away until connect().
    void disconnect();

    // Frames of the device's own making, shaped by the knobs (split, coalesce, garbage).
    void sendRegistration();
    void sendStatus(std::uint8_t command = 3, std::uint32_t headerValue = 0);
    void sendStepDone();
    void sendFrame(std::vector<std::uint8_t> frame);
    // Bytes exactly as given, in one write.
    void sendRaw(std::vector<std::uint8_t> bytes);

    // Received frames, oldest first.
    std::vector<ReceivedFrame> frames() const;
    std::vector<ReceivedFrame> frames(std::uint8_t command) const;
    void clearFrames();
    // Called on the device's network thread with every frame received; set it before
    // connecting (used by the tool's --verbose).
    void setFrameObserver(std::function<void(const ReceivedFrame&)> observer);
    // Frames received with `command` since the start (also when not recorded).
    std::uint64_t received(std::uint8_t command) const;
    // Waits until `condition(frames)` holds; false after `timeout`.
    bool waitFrames(const std::function<bool(const std::vector<ReceivedFrame>&)>& condition,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // Waits until at least `count` frames with `command` have arrived.
    bool waitCommand(std::uint8_t command, std::size_t count = 1,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // Waits until the state satisfies `condition`.
    bool waitState(const std::function<bool(const DeviceState&)>& condition,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

private:
    std::shared_ptr<Impl> m_impl;
};

}  // namespace simtcp
