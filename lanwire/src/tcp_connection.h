// One accepted device connection: its socket, read whenever its I/O thread's poller reports
// news, a stream framer, and its own paced write queue. Writes go straight to the socket and
// resume on the writable edge when it is full. Everything that touches the socket runs on the
// connection's I/O thread (its executor is that thread's event loop).
#pragma once

#include <netinet/in.h>

#include <array>
#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>

#include "protocol/stream_framer.h"
#include "send_item.h"

namespace lanwire {

class CTcpServer;
class SocketPoller;

class TcpConnection : public std::enable_shared_from_this<TcpConnection> {
public:
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
    using TimePoint = std::chrono::steady_clock::time_point;

    // Reads until the socket is empty; closes on end of stream or an error.
    void readAll();
    // Frames the `count` bytes just read into the read buffer and delivers the whole ones.
    void consume(std::size_t count);
    // `due` rounded up to the heartbeat grid, which every connection shares: the heartbeats
    // of many devices then go out in one wake of the I/O thread instead of one wake each. A
    // heartbeat written in its slot is next due the gap after the slot (the gap is a whole
    // number of steps), so the grid keeps the rate the gap sets; two writes to one id are at
    // least the gap less half a step (5 ms at most) apart.
    TimePoint heartbeatSlot(TimePoint due) const;
    void addHeartbeat(SendItem item);
    void addCommand(SendItem item);
    // After a frame was queued: a timer armed for a later frame must not hold it back.
    void queued();
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

    CTcpServer& m_server;
    SocketPoller& m_poller;
    int m_fd;
    asio::any_io_executor m_executor;
    asio::steady_timer m_timer;
    const sockaddr_in m_peer;
    const std::uint64_t m_serial;

    // Reading.
    std::array<std::uint8_t, 8192> m_readBuffer{};
    protocol::StreamFramer m_framer;
    std::chrono::steady_clock::time_point m_partialSince{};  // by the server's clock
    // Time-outs of a silent or half-sent peer (steady clock, like every I/O timer).
    std::atomic<bool> m_registered{false};
    asio::steady_timer m_registrationTimer;
    asio::steady_timer m_partialTimer;
    TimePoint m_partialStarted{};

    // Writing.
    std::deque<SendItem> m_outbox;
    std::atomic<std::size_t> m_commandsQueued{0};  // commands handed in and not yet written
    std::unordered_map<std::uint16_t, SendItem> m_heartbeats;       // at most one waits per id
    std::set<std::pair<TimePoint, std::uint16_t>> m_heartbeatsDue;  // waiting ids by due time
    std::unordered_map<std::uint16_t, TimePoint> m_lastHeartbeat;   // per id
    SendItem m_writing;                                             // the frame being written
    std::size_t m_written = 0;  // bytes of m_writing already written
    bool m_writingHeartbeat = false;
    std::uint16_t m_writingId = 0;  // the heartbeat's device id
    TimePoint m_writingDue{};       // the slot it was due in
    bool m_writeActive = false;
    bool m_timerArmed = false;
    TimePoint m_lastWrite = TimePoint::min();
    bool m_lastWasHeartbeat = false;  // then a waiting command goes before the next heartbeat
    // Write progress: a write pending since m_writeStarted for the stall time-out closes.
    asio::steady_timer m_stallTimer;
    bool m_stallArmed = false;
    TimePoint m_writeStarted{};

    bool m_closed = false;
};

}  // namespace lanwire
