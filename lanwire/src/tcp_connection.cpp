// Reading, paced writing and closing of one device connection.
#include "tcp_connection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "socket_poller.h"
#include "tcp_server.h"

namespace lanwire {

namespace {

using namespace std::chrono_literals;

// The step of the heartbeat grid: the heartbeat gap cut into steps of about 10 ms.
std::chrono::nanoseconds heartbeatStep(std::chrono::milliseconds gap) {
    if (gap <= 0ms) return 0ns;
    const auto steps = std::max<std::int64_t>(1, (gap + 5ms) / 10ms);
    return std::chrono::nanoseconds(gap) / steps;
}

// Orders the heap of waiting heartbeats: earliest first, and by id within a time.
constexpr auto laterHeartbeat = [](const auto& a, const auto& b) {
    return a.due != b.due ? a.due > b.due : a.id > b.id;
};

}  // namespace

TcpConnection::TcpConnection(CTcpServer& server, asio::io_context& context, SocketPoller& poller,
                             int fd, const sockaddr_in& peer, std::uint64_t serial)
    : m_fd(fd),
      m_server(server),
      m_poller(poller),
      m_peer(peer),
      m_serial(serial),
      m_executor(context.get_executor()),
      m_registrationTimer(m_executor),
      m_partialTimer(m_executor),
      m_stallTimer(m_executor) {}

TcpConnection::~TcpConnection() {
    // A connection dropped while the server stops may never have run its close.
    m_server.adjustPending(m_framer.pendingBytes(), 0);
    if (m_fd >= 0) ::close(m_fd);
}

void TcpConnection::start() {
    asio::post(m_executor, [self = shared_from_this()] {
        if (self->m_closed) return;
        self->armRegistrationCheck();
        // The first report comes at once (the socket is writable), and reads what is there.
        if (!self->m_poller.add(self->m_fd, self->m_serial, self)) self->fail("rev1");
    });
}

void TcpConnection::armRegistrationCheck() {
    const auto timeout = m_server.config().registrationTimeout;
    if (timeout <= std::chrono::milliseconds::zero()) return;
    m_registrationTimer.expires_after(timeout);
    m_registrationTimer.async_wait([self = shared_from_this()](const std::error_code& error) {
        if (error || self->m_closed || self->m_registered) return;
        self->timeOut();
    });
}

void TcpConnection::armPartialCheck(TimePoint at) {
    m_partialTimer.expires_at(at);  // a wait for an earlier partial frame ends aborted
    m_partialTimer.async_wait([self = shared_from_this()](const std::error_code& error) {
        if (!error) self->checkPartial();
    });
}

void TcpConnection::checkPartial() {
    if (m_closed || m_framer.pendingBytes() == 0) return;
    const TimePoint deadline = m_partialStarted + m_server.config().partialFrameHoldLimit;
    if (std::chrono::steady_clock::now() >= deadline) {
        timeOut();
        return;
    }
    armPartialCheck(deadline);
}

void TcpConnection::timeOut() {
    m_server.connectionTimedOut(*this);
    closeNow();
}

void TcpConnection::onEvents(std::uint32_t events) {
    if (m_closed) return;
    if ((events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0) readAll();
    if (m_closed || !m_writeActive || (events & (EPOLLOUT | EPOLLHUP | EPOLLERR)) == 0) return;
    if (writeSome()) {
        finishWrite();
        pump();
    }
}

void TcpConnection::onWake(TimePoint due) {
    if (!m_wakeArmed || due != m_wakeAt) return;  // an earlier wake took its place
    m_wakeArmed = false;
    pump();
}

void TcpConnection::readAll() {
    const std::span<std::uint8_t> buffer = m_poller.readBuffer();
    for (;;) {
        const ssize_t count = ::recv(m_fd, buffer.data(), buffer.size(), 0);
        if (count > 0) {
            consume(buffer.first(static_cast<std::size_t>(count)));
            // A short read emptied the socket: the next bytes raise a new edge.
            if (m_closed || static_cast<std::size_t>(count) < buffer.size()) return;
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        // A peer that closed its side is gone as much as one that reset: drop it now, so
        // that the device can connect again without being refused as a duplicate.
        fail("rev1");
        return;
    }
}

void TcpConnection::consume(std::span<const std::uint8_t> bytes) {
    const auto now = m_server.now();
    const std::size_t pendingBefore = m_framer.pendingBytes();
    if (pendingBefore > 0 && now - m_partialSince > m_server.config().partialFrameTimeout) {
        m_framer.reset();  // stale bytes must not be joined to new ones
        m_server.addDiscarded(pendingBefore);
    }
    const std::uint64_t discardedBefore = m_framer.discardedBytes();
    const bool wasPartial = m_framer.pendingBytes() > 0;
    bool completedOne = false;
    bool heartbeatQueued = false;
    m_framer.append(bytes);
    while (auto frame = m_framer.next()) {
        completedOne = true;
        protocol::ConsoleFrame heartbeat{};
        if (m_server.deliverFrame(*frame, m_peer, m_serial, heartbeat) && !m_closed) {
            addHeartbeat(heartbeat);
            heartbeatQueued = true;
        }
    }
    // The counters are shared by every I/O thread: touched only when they change.
    if (m_framer.discardedBytes() != discardedBefore) {
        m_server.addDiscarded(m_framer.discardedBytes() - discardedBefore);
    }
    // The partial frame now buffered started with this read unless it was already waiting.
    if (m_framer.pendingBytes() > 0 && (completedOne || !wasPartial)) {
        m_partialSince = now;
        const auto holdLimit = m_server.config().partialFrameHoldLimit;
        if (holdLimit > std::chrono::milliseconds::zero()) {
            m_partialStarted = std::chrono::steady_clock::now();
            armPartialCheck(m_partialStarted + holdLimit);
        }
    }
    if (m_framer.pendingBytes() != pendingBefore) {
        m_server.adjustPending(pendingBefore, m_framer.pendingBytes());
    }
    if (heartbeatQueued) pump();
}

bool TcpConnection::enqueue(SendItem item) {
    const bool heartbeat = item.isHeartbeat();
    if (!heartbeat && m_commandsQueued.fetch_add(1) >= m_server.config().outboxLimit) {
        --m_commandsQueued;
        return false;
    }
    asio::post(m_executor,
               [self = shared_from_this(), item = std::move(item), heartbeat]() mutable {
                   if (self->m_closed) {
                       if (!heartbeat) --self->m_commandsQueued;
                       return;
                   }
                   if (heartbeat) {
                       protocol::ConsoleFrame frame{};
                       std::copy(item.bytes.begin(), item.bytes.end(), frame.begin());
                       self->addHeartbeat(frame);
                   } else {
                       self->addCommand(std::move(item));
                   }
                   self->pump();
               });
    return true;
}

TcpConnection::TimePoint TcpConnection::heartbeatSlot(TimePoint due) const {
    const auto step = heartbeatStep(m_server.config().heartbeatGap);
    const auto sinceEpoch = due.time_since_epoch();
    if (step <= 0ns || sinceEpoch <= decltype(sinceEpoch)::zero()) return due;
    const auto steps = (sinceEpoch + step - decltype(sinceEpoch)(1)) / step;
    return TimePoint(std::chrono::duration_cast<TimePoint::duration>(steps * step));
}

TcpConnection::IdState& TcpConnection::idState(std::uint16_t id) {
    if (!m_hasFirstId) {
        m_hasFirstId = true;
        m_firstId = id;
    }
    return id == m_firstId ? m_firstIdState : m_otherIds[id];
}

void TcpConnection::addHeartbeat(const protocol::ConsoleFrame& frame) {
    const std::uint16_t id = consoleFrameDeviceId(frame);
    IdState& state = idState(id);
    if (state.waiting) return;  // one waiting heartbeat per id is enough
    state.waiting = true;
    state.heartbeat = frame;
    const TimePoint due = state.written ? heartbeatSlot(state.last + m_server.config().heartbeatGap)
                                        : TimePoint::min();
    if (&state == &m_firstIdState) {
        state.due = due;
        return;
    }
    m_heartbeatsDue.push_back(DueHeartbeat{due, id});
    std::push_heap(m_heartbeatsDue.begin(), m_heartbeatsDue.end(), laterHeartbeat);
}

bool TcpConnection::earliestHeartbeat(DueHeartbeat& next) const {
    bool found = false;
    if (m_hasFirstId && m_firstIdState.waiting) {
        next = DueHeartbeat{m_firstIdState.due, m_firstId};
        found = true;
    }
    if (!m_heartbeatsDue.empty() && (!found || laterHeartbeat(next, m_heartbeatsDue.front()))) {
        next = m_heartbeatsDue.front();
        found = true;
    }
    return found;
}

void TcpConnection::addCommand(SendItem item) {
    m_outbox.push_back(std::move(item));
}

bool TcpConnection::nextDue(TimePoint& due, bool& heartbeat) const {
    const TimePoint gapEnd = m_lastWrite + m_server.config().sendGap;
    // A heartbeat whose time has come goes ahead of every queued command: a device kept busy
    // with commands must still hear from its supervision. It takes one send gap like any
    // frame, and after a heartbeat a waiting command has the next turn, so commands keep
    // moving however short the heartbeat gap.
    DueHeartbeat next{};
    if (earliestHeartbeat(next)) {
        const TimePoint heartbeatDue = std::max(gapEnd, next.due);
        if (m_outbox.empty() || (heartbeatDue <= gapEnd && !m_lastWasHeartbeat)) {
            due = heartbeatDue;
            heartbeat = true;
            return true;
        }
    }
    if (m_outbox.empty()) return false;
    due = gapEnd;
    heartbeat = false;
    return true;
}

void TcpConnection::pump() {
    // Frames written whole at once are booked here and the next one is taken in the same
    // pass; a frame that waits for the socket resumes from onEvents.
    while (!m_closed && !m_writeActive) {
        TimePoint due;
        bool heartbeat = false;
        if (!nextDue(due, heartbeat)) return;
        const TimePoint now = std::chrono::steady_clock::now();
        // A command's turn that came late may find a heartbeat due by now: that goes first.
        DueHeartbeat next{};
        if (!heartbeat && !m_lastWasHeartbeat && earliestHeartbeat(next) && next.due <= now) {
            heartbeat = true;
        }
        if (now < due) {
            // A wake already asked for at or before `due` pumps again in time.
            if (!m_wakeArmed || due < m_wakeAt) {
                m_wakeArmed = true;
                m_wakeAt = due;
                m_poller.wakeAt(due, shared_from_this());
            }
            return;
        }
        m_writingHeartbeat = heartbeat;
        m_writingId = 0;
        m_writingDue = TimePoint::min();
        if (heartbeat) {
            earliestHeartbeat(next);
            m_writingDue = next.due;
            m_writingId = next.id;
            if (!m_hasFirstId || next.id != m_firstId) {  // the first id's waits inline
                std::pop_heap(m_heartbeatsDue.begin(), m_heartbeatsDue.end(), laterHeartbeat);
                m_heartbeatsDue.pop_back();
            }
            IdState& state = idState(m_writingId);
            state.waiting = false;
            m_writingHeartbeatFrame = state.heartbeat;
            m_writing = m_writingHeartbeatFrame;
        } else {
            m_writingCommand = std::move(m_outbox.front());
            m_writing = m_writingCommand.bytes;
            m_outbox.pop_front();
            --m_commandsQueued;
        }
        m_written = 0;
        m_writeActive = true;
        m_writeStarted = now;
        if (!writeSome()) {
            // Waits for the socket to drain (or failed): the stall check watches the wait.
            if (!m_closed && !m_stallArmed) {
                armStallCheck(m_writeStarted + m_server.config().writeStallTimeout);
            }
            return;
        }
        finishWrite();
    }
}

bool TcpConnection::writeSome() {
    while (m_written < m_writing.size()) {
        const ssize_t count =
            ::send(m_fd, m_writing.data() + m_written, m_writing.size() - m_written, MSG_NOSIGNAL);
        if (count > 0) {
            m_written += static_cast<std::size_t>(count);
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
        fail("sd1");
        return false;
    }
    return true;
}

void TcpConnection::finishWrite() {
    m_writeActive = false;
    m_lastWrite = std::chrono::steady_clock::now();
    m_lastWasHeartbeat = m_writingHeartbeat;
    if (m_writingHeartbeat) {
        // Written in its slot (within half a step): the next one is due a whole period after
        // the slot, so the writes that share a busy slot do not slow their devices' rate down.
        const bool inSlot =
            m_writingDue != TimePoint::min() &&
            m_lastWrite - m_writingDue < heartbeatStep(m_server.config().heartbeatGap) / 2;
        IdState& state = idState(m_writingId);
        state.last = inSlot ? m_writingDue : m_lastWrite;
        state.written = true;
    }
    m_server.frameWritten(m_writing, m_writingHeartbeat, m_peer, m_lastWrite);
    m_writing = {};
    m_writingCommand = SendItem{};  // a large command's bytes are not kept
}

void TcpConnection::armStallCheck(TimePoint at) {
    m_stallArmed = true;
    m_stallTimer.expires_at(at);
    m_stallTimer.async_wait([self = shared_from_this()](const std::error_code&) {
        self->m_stallArmed = false;
        self->checkStall();
    });
}

void TcpConnection::checkStall() {
    if (m_closed || !m_writeActive) return;
    const TimePoint deadline = m_writeStarted + m_server.config().writeStallTimeout;
    if (std::chrono::steady_clock::now() >= deadline) {
        // The peer has stopped reading: its kernel buffers are full and nothing moves.
        fail("sd2");
        return;
    }
    armStallCheck(deadline);
}

void TcpConnection::fail(const char* tag) {
    m_server.connectionFailed(*this, tag);
    closeNow();
}

void TcpConnection::close() {
    asio::post(m_executor, [self = shared_from_this()] { self->closeNow(); });
}

void TcpConnection::closeNow() {
    if (m_closed) return;
    m_closed = true;
    m_server.adjustPending(m_framer.pendingBytes(), 0);
    m_framer.reset();
    m_poller.remove(m_fd, m_serial);
    ::shutdown(m_fd, SHUT_RDWR);
    ::close(m_fd);
    m_fd = -1;
    m_wakeArmed = false;
    m_stallTimer.cancel();
    m_registrationTimer.cancel();
    m_partialTimer.cancel();
    m_commandsQueued -= m_outbox.size();
    m_outbox.clear();
    m_hasFirstId = false;
    m_firstIdState = IdState{};
    m_otherIds.clear();
    m_heartbeatsDue.clear();
}

}  // namespace lanwire
