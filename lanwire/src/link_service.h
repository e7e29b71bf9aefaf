// CLinkService: the link on top of the TCP server. Checks and queues received frames, answers
// heartbeats, supervises registered devices, runs the receive callback on its own thread and
// dumps every frame.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "frame_dump.h"
#include "lanwire/lanwire.h"
#include "lanwire/lanwire_options.h"
#include "protocol/console_frames.h"
#include "recv_queue.h"
#include "tcp_server.h"
#include "tick_table.h"

namespace lanwire {

class CLinkService {
public:
    CLinkService();
    ~CLinkService();
    CLinkService(const CLinkService&) = delete;
    CLinkService& operator=(const CLinkService&) = delete;

    bool init(std::uint16_t port, LanwireRecvCallback callback);
    bool cancel();
    LanwireSendResult send(const std::uint8_t* data, std::uint32_t length,
                           const sockaddr_in& destination);
    // False when the id is online at another address (the registration is refused).
    bool doNetReg(std::uint32_t deviceId, const sockaddr_in* address);
    bool deleteTickDevice(std::uint16_t deviceId);
    // Ends supervision and closes the device's connection unless another supervised id uses it.
    bool dropNetDevice(std::uint16_t deviceId);
    void setWindow(platform::MessageTarget* target) { m_server.setWindow(target); }

    void setOptions(const LanwireOptions& options);
    LanwireOptions options() const;
    std::uint16_t port() const { return m_server.port(); }
    LanwireStats stats() const;
    std::vector<LanwireTickEntry> tickTable() const;

private:
    void openDump(FrameDump& dump, const std::string& path, std::uintmax_t limit);
    // A heartbeat answered by its supervised address: true, and the next heartbeat is in
    // `heartbeat`, for the connection the answer came on.
    bool onFrame(std::span<const std::uint8_t> frame, const sockaddr_in& peer,
                 std::uint64_t connection, protocol::ConsoleFrame& heartbeat);
    // The supervised address of `id` when it differs from `peer` and is still connected;
    // heartbeat-table lock held.
    std::optional<sockaddr_in> onlineElsewhereLocked(std::uint16_t id,
                                                     const sockaddr_in& peer) const;
    // Checks a frame against the heartbeat table as the dispatch thread takes it, so that it
    // sees every registration handled before: a registration for an id online on another
    // connection is held, a device frame for an id supervised on another connection is
    // dropped. True: the frame goes to the callback.
    bool admit(RecvRecord& record, const LanwireOptions& options);
    // Counts a dropped device frame and logs it, at most once per period and address.
    // Dispatch thread only.
    void noteForged(const RecvRecord& record, std::uint8_t command, const LanwireOptions& options);
    // Holds a refused registration (the latest per id); heartbeat-table lock held.
    void holdRegistration(RecvRecord record, std::chrono::steady_clock::time_point since);
    // Queues every held registration whose id has become free (its connection closed or its
    // device reported offline) and drops those held too long. No lock held.
    void releaseHeld();
    // Removes the id's supervision entry; its connection is closed when `closeConnection` or
    // after its offline notice, unless another supervised id uses it.
    void endSupervision(std::uint16_t deviceId, bool closeConnection);
    // Logs the refused registration and posts WM_DEVICE_ID_CONFLICT; no lock held.
    void reportConflict(std::uint16_t id, const sockaddr_in& newcomer, const sockaddr_in& online);
    void onAddress(const sockaddr_in& peer);
    void dispatchLoop(LanwireOptions options);
    void heartbeatLoop(LanwireOptions options, std::chrono::steady_clock::time_point started);
    void runTick();
    void stopThreads();

    std::mutex m_lifecycle;  // serialises init and cancel
    mutable std::mutex m_optionsLock;
    LanwireOptions m_options;
    int m_counterStart = 3;

    std::atomic<bool> m_running{false};
    LanwireRecvCallback m_callback;
    RecvQueue m_recvQueue;
    std::thread m_dispatchThread;
    std::thread m_heartbeatThread;
    std::mutex m_heartbeatWaitLock;
    std::condition_variable m_heartbeatWake;
    bool m_heartbeatStop = false;

    // Heartbeat table; its lock comes before the server's connection-list and send-queue
    // locks, and before the receive-queue lock.
    mutable std::mutex m_tickLock;
    TickTable m_tickTable;
    // Refused registrations waiting for their id's connection to go, by id; under m_tickLock
    // as are the hold time and clock.
    struct HeldRegistration {
        RecvRecord record;
        std::chrono::steady_clock::time_point since;
    };
    std::map<std::uint16_t, HeldRegistration> m_held;
    std::chrono::milliseconds m_registrationHold{10000};
    Clock m_clock;

    // When each address last had a dropped device frame logged; dispatch thread only.
    std::map<in_addr_t, std::chrono::steady_clock::time_point> m_forgedLogged;

    FrameDump m_recvDump{"NetData", ' '};
    FrameDump m_sendDump{"SendDataNote", '.'};
    CTcpServer m_server{m_sendDump};

    std::atomic<std::uint64_t> m_ticks{0};
    std::atomic<std::uint64_t> m_framesForged{0};
};

// The process-wide link.
CLinkService& linkService();

}  // namespace lanwire
