// The inside of a simulated device: its socket and timers live on one strand; what tests
// read (state, received frames, knobs) sits behind one mutex with a condition variable.
#pragma once

#include <array>
#include <asio.hpp>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <random>

#include "change_signal.h"
#include "protocol/stream_framer.h"
#include "simtcp/sim_device.h"

namespace simtcp {

class SimDevice::Impl : public std::enable_shared_from_this<SimDevice::Impl> {
public:
    Impl(asio::io_context& context, const asio::ip::tcp::endpoint& target, DeviceConfig config,
         Knobs knobs, std::shared_ptr<ChangeSignal> fleetSignal);

    const DeviceConfig& config() const { return m_config; }

    // Thread-safe entry points; the work happens on the strand.
    void connect();
    void disconnect();
    void shutdown(std::function<void()> done);
    void send(std::vector<std::uint8_t> frame, bool shaped);
    void sendStatus(std::uint8_t command, std::uint32_t headerValue);
    void sendRegistration();

    // Read side, for tests.
    DeviceState state() const;
    Knobs knobs() const;
    void setKnobs(const Knobs& knobs);
    std::vector<ReceivedFrame> frames() const;
    void clearFrames();
    void setFrameObserver(std::function<void(const ReceivedFrame&)> observer);
    std::uint64_t received(std::uint8_t command) const;
    bool waitFrames(const std::function<bool(const std::vector<ReceivedFrame>&)>& condition,
                    std::chrono::milliseconds timeout) const;
    bool waitState(const std::function<bool(const DeviceState&)>& condition,
                   std::chrono::milliseconds timeout) const;

private:
    struct Chunk {
        std::vector<std::uint8_t> bytes;
        std::chrono::milliseconds pauseAfter{0};
    };

    // On the strand.
    void doConnect();
    void closeSocket();
    void onConnectionLost(unsigned generation);
    void scheduleReconnect();
    void readNext(unsigned generation);
    void onFrame(std::span<const std::uint8_t> bytes);
    void react(std::uint8_t command, const std::array<std::uint8_t, 4>& params);
    void answerHeartbeat(unsigned generation, std::uint16_t id);
    void startSteps(std::uint8_t command, bool on);
    void step(unsigned stepGeneration, std::uint8_t command, bool on, int index);
    void emit(std::vector<std::uint8_t> frame);
    void emitStatus(std::uint8_t command, std::uint32_t headerValue = 0);
    void flush();
    void enqueueShaped(std::vector<std::uint8_t> bytes);
    void pumpWrites();

    // The registration of this device, or of gateway id `id` behind it.
    std::vector<std::uint8_t> registrationFrame();
    std::vector<std::uint8_t> registrationFrame(std::uint16_t id);
    void updateState(const std::function<void(DeviceState&)>& change);
    Knobs currentKnobs() const;

    const DeviceConfig m_config;
    const std::shared_ptr<ChangeSignal> m_fleetSignal;
    const asio::ip::tcp::endpoint m_target;
    asio::any_io_executor m_strand;
    std::unique_ptr<asio::ip::tcp::socket> m_socket;
    asio::steady_timer m_reconnectTimer;
    asio::steady_timer m_stepTimer;
    asio::steady_timer m_writeTimer;
    unsigned m_generation = 0;      // bumped for every connection, to ignore stale handlers
    unsigned m_stepGeneration = 0;  // bumped for every switching order
    bool m_wanted = false;          // connect() called and disconnect() not since
    bool m_stopped = false;

    std::array<std::uint8_t, 4096> m_readBuffer{};
    protocol::StreamFramer m_framer{protocol::FrameOrigin::Console};
    std::vector<std::uint8_t> m_batch;  // frames of the current reaction when coalescing
    std::deque<Chunk> m_writeQueue;
    Chunk m_writing;
    bool m_writeActive = false;
    bool m_writePaused = false;
    std::mt19937 m_random;

    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    DeviceState m_state;
    Knobs m_knobs;
    std::vector<ReceivedFrame> m_frames;
    std::array<std::uint64_t, 256> m_counts{};
    std::function<void(const ReceivedFrame&)> m_observer;
};

}  // namespace simtcp
