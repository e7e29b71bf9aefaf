// Reading, paced writing and closing of one device connection.
#include "tcp_connection.h"

#include "tcp_server.h"

namespace lanwire {

TcpConnection::TcpConnection(CTcpServer& server, asio::ip::tcp::socket socket,
                             const sockaddr_in& peer)
    : m_server(server),
      m_socket(std::move(socket)),
      m_executor(m_socket.get_executor()),
      m_timer(m_executor),
      m_peer(peer) {}

TcpConnection::~TcpConnection() {
    // A connection dropped while the server stops may never have run its close.
    m_server.adjustPending(m_framer.pendingBytes(), 0);
}

void TcpConnection::start() {
    asio::post(m_executor, [self = shared_from_this()] { self->readNext(); });
}

void TcpConnection::readNext() {
    if (m_closed) return;
    m_socket.async_read_some(
        asio::buffer(m_readBuffer),
        [self = shared_from_this()](const std::error_code& error, std::size_t count) {
            self->onRead(error, count);
        });
}

void TcpConnection::onRead(const std::error_code& error, std::size_t count) {
    if (m_closed) return;
    if (error) {
        // A peer that closed its side is gone as much as one that reset: drop it now, so
        // that the device can connect again without being refused as a duplicate.
        fail("rev1");
        return;
    }
    const auto now = m_server.now();
    const std::size_t pendingBefore = m_framer.pendingBytes();
    if (pendingBefore > 0 && now - m_partialSince > m_server.config().partialFrameTimeout) {
        m_framer.reset();  // stale bytes must not be joined to new ones
        m_server.addDiscarded(pendingBefore);
    }
    const std::uint64_t discardedBefore = m_framer.discardedBytes();
    const bool wasPartial = m_framer.pendingBytes() > 0;
    bool completedOne = false;
    m_framer.append(std::span<const std::uint8_t>(m_readBuffer.data(), count));
    while (auto frame = m_framer.next()) {
        completedOne = true;
        m_server.deliverFrame(*frame, m_peer);
    }
    m_server.addDiscarded(m_framer.discardedBytes() - discardedBefore);
    // The partial frame now buffered started with this read unless it was already waiting.
    if (m_framer.pendingBytes() > 0 && (completedOne || !wasPartial)) m_partialSince = now;
    m_server.adjustPending(pendingBefore, m_framer.pendingBytes());
    readNext();
}

void TcpConnection::enqueue(SendItem item) {
    asio::post(m_executor, [self = shared_from_this(), item = std::move(item)]() mutable {
        if (self->m_closed) return;
        if (item.isHeartbeat()) {
            if (self->m_heartbeat) return;  // one waiting heartbeat is enough
            self->m_heartbeat = std::move(item);
        } else {
            self->m_outbox.push_back(std::move(item));
            // A timer armed for a paced heartbeat must not hold a command back: cut it short,
            // and its handler pumps again with the command's own (shorter) gap.
            const auto commandDue = self->m_lastWrite + self->m_server.config().sendGap;
            if (self->m_timerArmed && self->m_timer.expiry() > commandDue) self->m_timer.cancel();
        }
        self->pump();
    });
}

void TcpConnection::pump() {
    if (m_closed || m_writeActive || m_timerArmed) return;
    const ServerConfig& config = m_server.config();
    TimePoint due;
    bool heartbeat = false;
    if (!m_outbox.empty()) {
        due = m_lastWrite + config.sendGap;
    } else if (m_heartbeat) {
        heartbeat = true;
        due = std::max(m_lastWrite + config.sendGap, m_lastHeartbeat + config.heartbeatGap);
    } else {
        return;
    }
    if (std::chrono::steady_clock::now() < due) {
        m_timerArmed = true;
        m_timer.expires_at(due);
        m_timer.async_wait([self = shared_from_this()](const std::error_code&) {
            self->m_timerArmed = false;
            self->pump();
        });
        return;
    }
    if (heartbeat) {
        m_writing = std::move(*m_heartbeat);
        m_heartbeat.reset();
    } else {
        m_writing = std::move(m_outbox.front());
        m_outbox.pop_front();
    }
    m_writeActive = true;
    asio::async_write(
        m_socket, asio::buffer(m_writing.bytes),
        [self = shared_from_this(), heartbeat](const std::error_code& error, std::size_t) {
            self->onWritten(error, heartbeat);
        });
}

void TcpConnection::onWritten(const std::error_code& error, bool heartbeat) {
    m_writeActive = false;
    if (m_closed) return;
    if (error) {
        fail("sd1");
        return;
    }
    m_lastWrite = std::chrono::steady_clock::now();
    if (heartbeat) m_lastHeartbeat = m_lastWrite;
    m_server.frameWritten(m_writing, m_peer, m_lastWrite);
    m_writing.bytes.clear();
    pump();
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
    std::error_code ignored;
    m_socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    m_socket.close(ignored);
    m_timer.cancel();
    m_outbox.clear();
    m_heartbeat.reset();
}

}  // namespace lanwire
