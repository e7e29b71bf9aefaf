// Shared set-up of the link tests: a log store and dump folder in a temp folder, the link on
// an ephemeral port, a recorder behind the receive callback, and simulated devices.
#pragma once

#include <arpa/inet.h>

#include <gtest/gtest.h>
#include <future>
#include <mutex>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lanwire/lanwire.h"
#include "lanwire/lanwire_options.h"
#include "platform/message_target.h"
#include "simtcp/sim_fleet.h"
#include "testkit/wait_for.h"

namespace linktest {

using namespace std::chrono_literals;

sockaddr_in address(const std::string& ip, std::uint16_t port = 0);
std::string ipOf(const sockaddr_in& address);

// One call of the receive callback.
struct Delivery {
    std::uint32_t deviceId = 0;
    sockaddr_in peer{};
    std::vector<std::uint8_t> bytes;
    std::thread::id thread;
    std::chrono::steady_clock::time_point at;
    std::uint8_t command() const { return bytes.size() > 11 ? bytes[11] : 0; }
};

// Records every delivery; a test may install a hook that runs inside the callback.
class Recorder {
public:
    int onFrame(std::uint32_t id, sockaddr_in peer, const std::uint8_t* data, std::int32_t length);
    std::vector<Delivery> all() const;
    std::vector<Delivery> from(std::uint16_t id, std::uint8_t command) const;
    bool wait(const std::function<bool(const std::vector<Delivery>&)>& condition,
              std::chrono::milliseconds timeout = 20s) const;
    bool waitCount(std::uint16_t id, std::uint8_t command, std::size_t count,
                   std::chrono::milliseconds timeout = 20s) const;
    void setHook(std::function<void(const Delivery&)> hook);

private:
    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    std::vector<Delivery> m_deliveries;
    std::function<void(const Delivery&)> m_hook;
};

// Messages the link posts to its window: WM_LINK_SOCKET_CLOSED peers and
// WM_DEVICE_ID_CONFLICT notices; a synchronous send is counted apart.
class ClosedNotices : public platform::MessageTarget {
public:
    void post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;
    void send(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;
    std::vector<std::string> peers() const;
    struct Conflict {
        std::uintptr_t id;
        std::string newcomer;
        std::string online;
    };
    std::vector<Conflict> conflicts() const;
    int sends() const { return m_sends.load(); }

private:
    mutable std::mutex m_lock;
    std::vector<std::string> m_peers;
    std::vector<Conflict> m_conflicts;
    std::atomic<int> m_sends{0};
};

// Every frame the link wrote, with the time the write completed (link-side timing, free of
// the receiving thread's scheduling delays).
struct Written {
    std::string ip;
    std::uint8_t command = 0;
    std::uint16_t deviceId = 0;
    std::chrono::steady_clock::time_point at;
};
class WriteLog {
public:
    void add(const sockaddr_in& peer, const std::uint8_t* data, std::size_t length,
             std::chrono::steady_clock::time_point at);
    std::vector<Written> to(const std::string& ip, std::uint8_t command) const;

private:
    mutable std::mutex m_lock;
    std::vector<Written> m_writes;
};

// A steady clock that moves only when told.
class ManualClock {
public:
    std::chrono::steady_clock::time_point now() const {
        return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(m_ns.load()));
    }
    void advance(std::chrono::milliseconds by) {
        m_ns += std::chrono::duration_cast<std::chrono::nanoseconds>(by).count();
    }

private:
    std::atomic<std::int64_t> m_ns{1'000'000'000'000};
};

// Log rows whose content is exactly `content`, oldest first.
struct LogRow {
    int type = 0;
    int childType = 0;
    std::string content;
};
std::vector<LogRow> logRowsWith(const std::string& content);

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Options the next start uses; tests change them before startLink().
    LanwireOptions options;
    bool startLink(std::uint16_t port = 0);
    std::uint16_t port() const { return GetLanwirePort(); }

    // A fleet aimed at the link; devices connect from 127.0.<a>.<b> given by index.
    simtcp::SimFleet& fleet();
    simtcp::SimDevice& addDevice(std::size_t index, std::uint16_t id, simtcp::Knobs knobs = {});
    static simtcp::Knobs silent();

    // Waits until the callback has seen the device's registration.
    void expectRegistered(const simtcp::SimDevice& device);

    // Starts the link with its only I/O loop, registers device `id` (connecting from `index`)
    // and holds the loop inside the write of that device's first heartbeat until
    // releaseIoLoop(), at the latest when the test ends. False if a step failed.
    bool startLinkHeldAtFirstHeartbeat(std::size_t index, std::uint16_t id);
    void releaseIoLoop();

    std::string folder() const { return m_folder; }
    std::string readFile(const std::string& name) const;

    Recorder recorder;
    WriteLog writes;
    ManualClock clock;
    // Set as the link's window by tests that watch WM_LINK_SOCKET_CLOSED; outlives TearDown.
    ClosedNotices notices;

private:
    std::string m_folder;
    std::unique_ptr<simtcp::SimFleet> m_fleet;
    std::promise<void> m_release;
    std::once_flag m_releaseOnce;
};

}  // namespace linktest
