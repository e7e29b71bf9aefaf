// One accepted device connection: its socket, read whenever its I/O thread's poller reports
// news, a stream framer, and its own paced write queue. Writes go straight to the socket and
// resume on the writable edge when it is full; a frame due later is written when the poller's
// timer wakes the connection. Everything that touches the socket runs on the connection's I/O
// thread (its executor is that thread's event loop). In steady state a heartbeat round trip
// allocates nothing: the frames of the ids on the connection are kept and copied into the
// buffer of the frame being written.
#pragma once

#include <netinet/in.h>

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <span>
#include <unordered_map>
#include <vector>

#include "protocol/console_frames.h"
#include "protocol/stream_framer.h"
#include "send_item.h"

namespace lanwire {

class CTcpServer;
class SocketPoller;

class TcpConnection : public std::enable_shared_from_this<TcpConnection> {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // Takes `fd` (a connected, non-blocking socket) over; `poller` belongs to `context`.
    TcpConnection(CTcpServer& server, asio::io_context& context, SocketPoller& poller, int fd,
                  const sockaddr_in& peer, std::uint64_t serial);
    ~TcpConnection();

    const sockaddr_in& peer() const { return m_peer; }
    // Tells this connection apart from earlier and later ones from the same address.
    std::uint64_t serial() const { return m_serial; }

    // Starts reading, and the registration time-out. Any thread.
    void start();
    // The poller's news for this socket (epoll event bits). I/O thread only.
    void onEvents(std::uint32_t events);
    // The poller's timer for a wake asked for `due`; a wake no longer wanted is ignored. I/O
    // thread only.
    void onWake(TimePoint due);
    // A registration on this connection was accepted: the registration time-out no longer
    // applies. Any thread.
    void markRegistered() { m_registered = true; }
    // Queues a frame: order kept, at least the send gap between two writes. Heartbeats are
    // paced per device id: at most one waits per id, and it waits for the heartbeat gap since
    // the last heartbeat to that id; once due it goes ahead of queued commands. False when the
    // command outbox is full (heartbeats are never refused). Any thread.
    bool enqueue(SendItem item);
    // Closes the socket without further notices (the entry has left the list). Any thread.
    void close();
    // The same, directly; only while no I/O thread runs.
    void closeNow();

private:
    // Reads until the socket is empty; closes on end of stream or an error.
    void readAll();
    // Frames the bytes just read and delivers the whole ones.
    void consume(std::span<const std::uint8_t> bytes);
    // `due` rounded up to the heartbeat grid, which every connection shares: the heartbeats
    // of many devices then go out in one wake of the I/O thread instead of one wake each. A
    // heartbeat written in its slot is next due the gap after the slot (the gap is a whole
    // number of steps), so the grid keeps the rate the gap sets; two writes to one id are at
    // least the gap less half a step (5 ms at most) apart.
    TimePoint heartbeatSlot(TimePoint due) const;
    void addHeartbeat(const protocol::ConsoleFrame& frame);
    void addCommand(SendItem item);
    // The time the next frame may be written, and whether it is a heartbeat (a due heartbeat
    // comes before commands); false if none.
    bool nextDue(TimePoint& due, bool& heartbeat) const;
    void pump();
    // Writes what is left of the frame being written: true once all of it is out; false
    // while the socket is full (the writable edge resumes it) or after a failure (closed).
    bool writeSome();
    // Books a frame written whole.
    void finishWrite();
    void armStallCheck(TimePoint at);
    // Closes a connection that never registered, or that holds an incomplete frame, once its
    // time is up.
    void armRegistrationCheck();
    void armPartialCheck(TimePoint at);
    void checkPartial();
    void timeOut();
    void checkStall();
    void fail(const char* tag);

    struct IdState {
        protocol::ConsoleFrame heartbeat{};  // the id's heartbeat frame
        TimePoint last{};                    // the slot (or time) of its last heartbeat
        TimePoint due{};                     // the first id's waiting heartbeat (see below)
        bool written = false;                // `last` holds a time
        bool waiting = false;                // at most one heartbeat waits per id
    };
    struct DueHeartbeat {
        TimePoint due;
        std::uint16_t id;
    };
    // The state of every id heard on this connection. Nearly every connection carries one
    // device, so the first id's state, and its waiting heartbeat, live in the connection
    // itself; the waiting heartbeats of other ids are in m_heartbeatsDue.
    IdState& idState(std::uint16_t id);
    // The waiting heartbeat due first (then the lowest id); false if none waits.
    bool earliestHeartbeat(DueHeartbeat& next) const;

    // What every heartbeat touches comes first and together: a wake or an answer then costs
    // few cache lines of a connection among thousands.
    bool m_closed = false;
    bool m_writeActive = false;
    bool m_wakeArmed = false;         // the poller wakes this connection at m_wakeAt
    bool m_lastWasHeartbeat = false;  // then a waiting command goes before the next heartbeat
    bool m_writingHeartbeat = false;
    bool m_hasFirstId = false;
    std::uint16_t m_firstId = 0;
    std::uint16_t m_writingId = 0;  // the heartbeat's device id
    int m_fd;
    TimePoint m_wakeAt{};
    TimePoint m_lastWrite = TimePoint::min();
    TimePoint m_writingDue{};  // the slot the heartbeat being written was due in
    // Write progress: a write pending since m_writeStarted for the stall time-out closes.
    TimePoint m_writeStarted{};
    // The frame being written: a command's bytes, or a heartbeat copied into the connection.
    std::span<const std::uint8_t> m_writing;
    std::size_t m_written = 0;  // bytes of m_writing already written
    IdState m_firstIdState;
    protocol::ConsoleFrame m_writingHeartbeatFrame{};
    std::vector<DueHeartbeat> m_heartbeatsDue;  // heap: earliest, then lowest id first
    CTcpServer& m_server;
    SocketPoller& m_poller;
    const sockaddr_in m_peer;
    const std::uint64_t m_serial;
    // Reading (into the poller's buffer).
    protocol::StreamFramer m_framer;
    std::chrono::steady_clock::time_point m_partialSince{};  // by the server's clock
    std::deque<SendItem> m_outbox;

    // Seldom touched.
    asio::any_io_executor m_executor;
    std::atomic<std::size_t> m_commandsQueued{0};  // commands handed in and not yet written
    std::unordered_map<std::uint16_t, IdState> m_otherIds;
    SendItem m_writingCommand;
    // Time-outs of a silent or half-sent peer (steady clock, like every I/O timer).
    std::atomic<bool> m_registered{false};
    asio::steady_timer m_registrationTimer;
    asio::steady_timer m_partialTimer;
    TimePoint m_partialStarted{};
    asio::steady_timer m_stallTimer;
    bool m_stallArmed = false;
};

}  // namespace lanwire
