// Accepting, the connection list, the send queue and the server's start and stop.
#include "tcp_server.h"

#include <algorithm>
#include <cstring>

#include <netinet/tcp.h>
#include <sys/socket.h>

#include "frame_dump.h"
#include "logbase/log_codes.h"
#include "logbase/logbase.h"
#include "net_address.h"
#include "platform/fd_limits.h"
#include "platform/message_target.h"
#include "platform/messages.h"
#include "socket_poller.h"
#include "tcp_connection.h"

namespace lanwire {

namespace {

sockaddr_in toSockaddr(const asio::ip::tcp::endpoint& endpoint) {
    sockaddr_in address{};
    if (endpoint.protocol() == asio::ip::tcp::v4()) {
        std::memcpy(&address, endpoint.data(), sizeof address);
    }
    return address;
}

void setIntOption(int fd, int level, int name, int value) {
    // Best effort: without keepalive the connection still works, it is only noticed later.
    ::setsockopt(fd, level, name, &value, sizeof value);
}

}  // namespace

void CTcpServer::enableKeepalive(asio::ip::tcp::socket& socket) const {
    std::error_code ignored;
    socket.set_option(asio::socket_base::keep_alive(true), ignored);
    const int fd = socket.native_handle();
    const int idle = static_cast<int>(m_config.keepaliveIdle.count());
    setIntOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, idle);
    setIntOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, idle);
    setIntOption(fd, IPPROTO_TCP, TCP_KEEPCNT, m_config.keepaliveProbes);
}

CTcpServer::CTcpServer(FrameDump& sendDump) : m_sendDump(sendDump) {}

CTcpServer::~CTcpServer() {
    stop();
}

void CTcpServer::setAddressHandler(AddressHandler handler) {
    m_addressHandler = std::move(handler);
}

void CTcpServer::setClosedHandler(ClosedHandler handler) {
    m_closedHandler = std::move(handler);
}

bool CTcpServer::start(std::uint16_t port, DataHandler handler, ServerConfig config) {
    if (m_running.exchange(true)) return false;
    m_dataHandler = std::move(handler);
    m_config = std::move(config);
    if (!m_config.clock) m_config.clock = [] { return std::chrono::steady_clock::now(); };
    unsigned threads = m_config.ioThreads;
    // One loop per processor: each loop batches its sockets' news and its heartbeats per wake,
    // and more loops than processors only add wakes and task switches (idle, 1000 and 5000
    // devices on 2 processors: about 5 % more CPU with 4 loops than with 2).
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());

    std::vector<std::unique_ptr<asio::io_context>> contexts;
    std::vector<std::unique_ptr<SocketPoller>> pollers;
    std::unique_ptr<asio::io_context> acceptContext;
    try {
        for (unsigned i = 0; i < threads; ++i) {
            contexts.push_back(std::make_unique<asio::io_context>(1));
            // A loop opens its reactor's descriptors on first use; open them now, so that a
            // connection accepted while descriptors run short cannot fail to open them.
            asio::steady_timer opensTheReactor(*contexts.back());
            pollers.push_back(std::make_unique<SocketPoller>(*contexts.back()));
        }
        acceptContext = std::make_unique<asio::io_context>(1);
        asio::steady_timer opensTheReactor(*acceptContext);
    } catch (const std::system_error&) {
        pollers.clear();
        m_running = false;
        return false;
    }
    auto acceptor = std::make_unique<asio::ip::tcp::acceptor>(*acceptContext);
    std::error_code error;
    const asio::ip::tcp::endpoint endpoint(asio::ip::tcp::v4(), port);
    acceptor->open(endpoint.protocol(), error);
    if (!error) acceptor->set_option(asio::socket_base::reuse_address(true), error);
    if (!error) acceptor->bind(endpoint, error);
    // A fleet of sequencers may connect at once after a restart: a deep backlog keeps them
    // from waiting for SYN retransmissions.
    if (!error) acceptor->listen(asio::socket_base::max_listen_connections, error);
    if (error) {
        m_running = false;
        return false;
    }
    m_port = acceptor->local_endpoint(error).port();
    {
        std::scoped_lock guard(m_connectionLock, m_sendLock);
        m_contexts = std::move(contexts);
        m_pollers = std::move(pollers);
        m_acceptContext = std::move(acceptContext);
        m_acceptor = std::move(acceptor);
        m_acceptRetry = std::make_unique<asio::steady_timer>(*m_acceptContext);
        for (auto& context : m_contexts) m_work.push_back(asio::make_work_guard(*context));
        m_acceptWork.emplace(asio::make_work_guard(*m_acceptContext));
        m_routes.clear();
        m_nextContext = 0;
        m_acceptingSends = true;
        m_refusalsUnlogged = 0;
        m_refusalsLogged.reset();
    }
    {
        std::lock_guard<std::mutex> guard(m_timedOutLock);
        m_timedOutLog = platform::LogThrottle(m_config.refusalLogPeriod);
    }
    logEvent(logcode::kSystem, logcode::kStartup, "进入TCP监听线程!1");

    for (auto& context : m_contexts) {
        try {
            m_threads.emplace_back([loop = context.get()] { loop->run(); });
        } catch (const std::system_error&) {
            break;  // fewer workers than planned still serve; none is a failed start
        }
    }
    if (!m_threads.empty()) {
        try {
            m_acceptThread = std::thread([loop = m_acceptContext.get()] { loop->run(); });
        } catch (const std::system_error&) {
            // No accepting without its thread: a failed start like one without I/O threads.
        }
    }
    if (m_threads.empty() || !m_acceptThread.joinable()) {
        stop();
        return false;
    }
    {
        // Event loops without a thread get no connections.
        std::scoped_lock guard(m_connectionLock, m_sendLock);
        while (m_work.size() > m_threads.size()) m_work.pop_back();
        m_pollers.resize(m_threads.size());
        m_contexts.resize(m_threads.size());
    }
    asio::post(*m_acceptContext, [this] { acceptNext(); });
    return true;
}

std::vector<sockaddr_in> CTcpServer::stop() {
    std::vector<sockaddr_in> closedPeers;
    if (!m_running.exchange(false)) return closedPeers;
    {
        std::lock_guard<std::mutex> guard(m_sendLock);
        m_acceptingSends = false;
    }
    // With the I/O threads gone, sockets can be closed from here without their loops.
    m_work.clear();
    m_acceptWork.reset();
    if (m_acceptContext) m_acceptContext->stop();
    for (auto& context : m_contexts) context->stop();
    if (m_acceptThread.joinable()) m_acceptThread.join();
    for (auto& thread : m_threads) thread.join();
    m_threads.clear();
    if (m_refusalsUnlogged > 0) logRefusals();
    std::uint64_t timedOut = 0;
    {
        std::lock_guard<std::mutex> guard(m_timedOutLock);
        timedOut = m_timedOutLog.takeAll();
    }
    if (timedOut > 0) logTimedOutCount(timedOut);
    std::vector<std::shared_ptr<TcpConnection>> closing;
    {
        std::lock_guard<std::mutex> guard(m_connectionLock);
        closing.swap(m_connections);
    }
    while (!closing.empty()) {
        closing.back()->closeNow();
        closedPeers.push_back(closing.back()->peer());
        closing.pop_back();
    }
    if (m_acceptor) {
        std::error_code ignored;
        m_acceptor->close(ignored);
    }
    std::scoped_lock guard(m_connectionLock, m_sendLock);
    m_routes.clear();
    m_acceptRetry.reset();
    m_acceptor.reset();
    // Pending handlers hold connections. An accept handler may hold a socket of an I/O loop,
    // so the accepting loop goes before the I/O loops; every other handler only holds
    // connections of its own loop. The pollers watch descriptors of the I/O loops: they go
    // first.
    m_pollers.clear();
    m_acceptContext.reset();
    for (auto& context : m_contexts) context.reset();
    m_contexts.clear();
    m_port = 0;
    return closedPeers;
}

void CTcpServer::acceptNext() {
    const std::size_t home = m_nextContext;
    m_nextContext = (m_nextContext + 1) % m_contexts.size();
    m_acceptor->async_accept(*m_contexts[home], [this, home](const std::error_code& error,
                                                             asio::ip::tcp::socket socket) {
        onAccept(error, std::move(socket), home);
    });
}

void CTcpServer::acceptLater() {
    m_acceptRetry->expires_after(m_config.acceptBackoff);
    m_acceptRetry->async_wait([this](const std::error_code& waitError) {
        if (!waitError && m_running) acceptNext();
    });
}

void CTcpServer::onAccept(const std::error_code& error, asio::ip::tcp::socket socket,
                          std::size_t home) {
    if (!m_running || error == asio::error::operation_aborted) return;
    if (error) {
        if (error == asio::error::connection_aborted) {
            acceptNext();
            return;
        }
        // Out of descriptors (or another lasting failure): try again later, do not spin.
        acceptLater();
        return;
    }
    if (platform::intoDescriptorReserve(socket.native_handle(), m_config.descriptorReserve)) {
        // Pause as for a failed accept: accepting at once would take the next waiting
        // device into the same freed slot and refuse the whole backlog in one burst.
        refuseForDescriptors(socket);
        acceptLater();
        return;
    }
    std::error_code endpointError;
    const sockaddr_in peer = toSockaddr(socket.remote_endpoint(endpointError));
    const std::string ip = ipText(peer);
    const bool duplicate = hasConnection(peer);
    if (endpointError) {
        acceptNext();
        return;
    }
    if (duplicate) {
        if (m_addressHandler) m_addressHandler(peer);
        logEvent(logcode::kFailure, logcode::kDeviceLink, "carraySocket列表中已有设备:" + ip);
        // Refused: close it so that the device notices and tries again later.
        std::error_code ignored;
        socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        socket.close(ignored);
        acceptNext();
        return;
    }
    std::error_code ignored;
    socket.set_option(asio::socket_base::receive_buffer_size(65535), ignored);
    socket.set_option(asio::socket_base::send_buffer_size(65535), ignored);
    socket.set_option(asio::ip::tcp::no_delay(true), ignored);
    enableKeepalive(socket);
    // From here the connection reads and writes the descriptor itself, through its loop's
    // poller; the event loop keeps only its timers.
    socket.non_blocking(true, ignored);
    std::error_code releaseError;
    const int fd = ignored ? -1 : socket.release(releaseError);
    if (ignored || releaseError || fd < 0) {
        socket.close(ignored);
        acceptNext();
        return;
    }
    auto connection = std::make_shared<TcpConnection>(*this, *m_contexts[home], *m_pollers[home],
                                                      fd, peer, m_nextSerial++);
    logEvent(logcode::kRun, logcode::kDeviceLink, "添加用户:" + ip);
    {
        std::scoped_lock guard(m_connectionLock, m_sendLock);
        m_connections.push_back(connection);
        m_routes[peer.sin_addr.s_addr] = connection;
    }
    if (m_addressHandler) m_addressHandler(peer);
    connection->start();
    acceptNext();
}

LanwireSendResult CTcpServer::queueSend(std::span<const std::uint8_t> bytes,
                                        const sockaddr_in& destination) {
    SendItem item{std::vector<std::uint8_t>(bytes.begin(), bytes.end()), destination};
    std::lock_guard<std::mutex> guard(m_sendLock);
    if (!m_acceptingSends) return LanwireSendResult::Stopped;
    const auto route = m_routes.find(destination.sin_addr.s_addr);
    if (route == m_routes.end()) {
        ++m_sendsDropped;
        return LanwireSendResult::NoConnection;
    }
    return route->second->enqueue(std::move(item)) ? LanwireSendResult::Queued
                                                   : LanwireSendResult::OutboxFull;
}

void CTcpServer::refuseForDescriptors(asio::ip::tcp::socket& socket) {
    // Counted before the close, so that whoever sees the close also sees the count.
    ++m_connectionsRefused;
    ++m_refusalsUnlogged;
    std::error_code ignored;
    socket.close(ignored);
    const auto now = m_config.clock();
    if (!m_refusalsLogged || now - *m_refusalsLogged >= m_config.refusalLogPeriod) {
        m_refusalsLogged = now;
        logRefusals();
    }
}

void CTcpServer::logRefusals() {
    logEvent(logcode::kFailure, logcode::kDeviceLink,
             "描述符余量不足,拒绝设备连接:" +
                 std::to_string(static_cast<unsigned long long>(m_refusalsUnlogged)));
    m_refusalsUnlogged = 0;
}

void CTcpServer::removeRoute(const TcpConnection& connection) {
    std::lock_guard<std::mutex> guard(m_sendLock);
    const auto route = m_routes.find(connection.peer().sin_addr.s_addr);
    if (route != m_routes.end() && route->second.get() == &connection) m_routes.erase(route);
}

void CTcpServer::dropConnection(const sockaddr_in& peer, std::uint64_t serial) {
    {
        std::lock_guard<std::mutex> guard(m_connectionLock);
        auto it = std::find_if(m_connections.begin(), m_connections.end(), [&](const auto& c) {
            return sameIp(c->peer(), peer) && c->serial() == serial;
        });
        if (it == m_connections.end()) return;
        if (m_running) (*it)->close();
        removeRoute(**it);
        m_connections.erase(it);
    }
    if (m_closedHandler) m_closedHandler(peer, serial);
}

// The routes hold the same connections as the list, one per address, and answer these without
// a pass over thousands of connections.
std::uint64_t CTcpServer::connectionSerial(const sockaddr_in& peer) const {
    std::lock_guard<std::mutex> guard(m_sendLock);
    const auto route = m_routes.find(peer.sin_addr.s_addr);
    return route == m_routes.end() ? 0 : route->second->serial();
}

bool CTcpServer::hasConnection(const sockaddr_in& peer) const {
    std::lock_guard<std::mutex> guard(m_sendLock);
    return m_routes.count(peer.sin_addr.s_addr) != 0;
}

void CTcpServer::markRegistered(const sockaddr_in& peer) {
    std::lock_guard<std::mutex> guard(m_sendLock);
    const auto route = m_routes.find(peer.sin_addr.s_addr);
    if (route != m_routes.end()) route->second->markRegistered();
}

std::size_t CTcpServer::connectionCount() const {
    std::lock_guard<std::mutex> guard(m_connectionLock);
    return m_connections.size();
}

bool CTcpServer::deliverFrame(std::span<const std::uint8_t> frame, const sockaddr_in& peer,
                              std::uint64_t serial, protocol::ConsoleFrame& heartbeat) {
    return m_dataHandler && m_dataHandler(frame, peer, serial, heartbeat);
}

bool CTcpServer::unlist(const TcpConnection& connection) {
    std::lock_guard<std::mutex> guard(m_connectionLock);
    auto it = std::find_if(m_connections.begin(), m_connections.end(),
                           [&](const auto& c) { return c.get() == &connection; });
    if (it == m_connections.end()) return false;  // already dropped by supervision or stop
    removeRoute(connection);
    m_connections.erase(it);
    return true;
}

void CTcpServer::connectionFailed(const TcpConnection& connection, const char* tag) {
    if (!unlist(connection)) return;
    logEvent(logcode::kRun, logcode::kDeviceLink,
             "用户断开[" + std::string(tag) + "]:" + ipText(connection.peer()));
    notifyClosed(connection.peer());
    if (m_closedHandler) m_closedHandler(connection.peer(), connection.serial());
}

void CTcpServer::connectionTimedOut(const TcpConnection& connection) {
    if (!unlist(connection)) return;
    ++m_connectionsTimedOut;
    std::uint64_t count = 0;
    {
        std::lock_guard<std::mutex> guard(m_timedOutLock);
        count = m_timedOutLog.add(1, m_config.clock());
    }
    // A thousand idle peers cost one row, not a thousand "用户断开" rows.
    if (count > 0) logTimedOutCount(count);
    notifyClosed(connection.peer());
}

void CTcpServer::logTimedOut() {
    std::uint64_t count = 0;
    {
        std::lock_guard<std::mutex> guard(m_timedOutLock);
        count = m_timedOutLog.due(m_config.clock());
    }
    if (count > 0) logTimedOutCount(count);
}

void CTcpServer::logTimedOutCount(std::uint64_t count) {
    logEvent(logcode::kFailure, logcode::kDeviceLink,
             "未注册或半帧超时,关闭连接:" + std::to_string(static_cast<unsigned long long>(count)));
}

void CTcpServer::frameWritten(std::span<const std::uint8_t> bytes, bool heartbeat,
                              const sockaddr_in& peer, std::chrono::steady_clock::time_point when) {
    m_framesSent.fetch_add(1, std::memory_order_relaxed);
    if (m_config.onFrameWritten) m_config.onFrameWritten(peer, bytes.data(), bytes.size(), when);
    if (!heartbeat) m_sendDump.write(bytes);
}

void CTcpServer::postToWindow(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (platform::MessageTarget* target = m_target.load()) target->post(message, wParam, lParam);
}

void CTcpServer::notifyClosed(const sockaddr_in& peer) {
    postToWindow(platform::WM_LINK_SOCKET_CLOSED, 0,
                 static_cast<std::intptr_t>(static_cast<std::uint32_t>(peer.sin_addr.s_addr)));
}

}  // namespace lanwire
