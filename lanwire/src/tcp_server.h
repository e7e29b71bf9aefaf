// CTcpServer: accepts device connections, knows them by peer IP, reads them on a pool of
// I/O threads and writes queued frames to them. Each I/O thread runs an event loop of its own
// and every connection lives on one of them, so a connection's reads, timers and writes never
// hand over between threads.
#pragma once

#include <netinet/in.h>

#include <asio.hpp>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <unordered_map>
#include <vector>

#include "lanwire/lanwire.h"
#include "platform/log_throttle.h"
#include "protocol/console_frames.h"
#include "send_item.h"
#include "server_config.h"

namespace platform {
class MessageTarget;
}

namespace lanwire {

class FrameDump;
class SocketPoller;
class TcpConnection;

class CTcpServer {
public:
    // A whole frame, its peer and the serial of the connection it came on. When the handler
    // returns true, the frame it left in the last argument is a heartbeat for that same
    // connection: it is queued there directly, on the connection's thread, without the send
    // routes.
    using DataHandler = std::function<bool(std::span<const std::uint8_t>, const sockaddr_in&,
                                           std::uint64_t, protocol::ConsoleFrame&)>;
    using AddressHandler = std::function<void(const sockaddr_in&)>;
    // A listed connection left the list (closed by its peer, failed, or dropped).
    using ClosedHandler = std::function<void(const sockaddr_in&, std::uint64_t serial)>;

    explicit CTcpServer(FrameDump& sendDump);
    ~CTcpServer();
    CTcpServer(const CTcpServer&) = delete;
    CTcpServer& operator=(const CTcpServer&) = delete;

    // Called for every accepted connection and every refused duplicate, never under a lock.
    void setAddressHandler(AddressHandler handler);
    // Called without any of the server's locks held; not for the connections closed by stop.
    void setClosedHandler(ClosedHandler handler);
    void setWindow(platform::MessageTarget* target) { m_target.store(target); }
    // Posts a message to the window, if any; never call with a lock held.
    void postToWindow(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
    // Posts WM_LINK_SOCKET_CLOSED; never call with a lock held.
    void notifyClosed(const sockaddr_in& peer);

    // False if already running or the port cannot be opened.
    bool start(std::uint16_t port, DataHandler handler, ServerConfig config);
    // Joins the I/O threads, discards queued sends, closes every connection and returns
    // their peers (for notifyClosed once the caller holds no lock). Sends fail from now until
    // the next start.
    std::vector<sockaddr_in> stop();

    // Copies the bytes onto the destination's write queue; refused while stopped and when the
    // destination's outbox is full.
    LanwireSendResult queueSend(std::span<const std::uint8_t> bytes,
                                const sockaddr_in& destination);
    // Removes the listed connection with the peer's IP and `serial` and closes it; a later
    // connection from the same address stays.
    void dropConnection(const sockaddr_in& peer, std::uint64_t serial);
    // The serial of the listed connection with the peer's IP; 0 if none.
    std::uint64_t connectionSerial(const sockaddr_in& peer) const;
    // True while a connection from the peer's IP is listed.
    bool hasConnection(const sockaddr_in& peer) const;
    // A registration from the peer's listed connection was accepted: it is not closed for
    // want of one.
    void markRegistered(const sockaddr_in& peer);
    // Logs the connections closed for their time-outs that wait for their row, once the last
    // row is a period old. Called now and then (the link's heartbeat tick).
    void logTimedOut();

    std::uint16_t port() const { return m_port.load(); }
    std::size_t connectionCount() const;
    std::uint64_t framesSent() const { return m_framesSent.load(); }
    std::uint64_t sendsDropped() const { return m_sendsDropped.load(); }
    std::uint64_t bytesDiscarded() const { return m_bytesDiscarded.load(); }
    std::uint64_t bytesPending() const { return m_bytesPending.load(); }
    std::uint64_t connectionsRefused() const { return m_connectionsRefused.load(); }
    std::uint64_t connectionsTimedOut() const { return m_connectionsTimedOut.load(); }

    // For connections, on their I/O thread.
    const ServerConfig& config() const { return m_config; }
    std::chrono::steady_clock::time_point now() const { return m_config.clock(); }
    bool deliverFrame(std::span<const std::uint8_t> frame, const sockaddr_in& peer,
                      std::uint64_t serial, protocol::ConsoleFrame& heartbeat);
    void connectionFailed(const TcpConnection& connection, const char* tag);
    // The connection never registered or held a partial frame too long: unlisted and counted,
    // without a row of its own.
    void connectionTimedOut(const TcpConnection& connection);
    // Counts a frame written whole (and dumps it unless it is a heartbeat).
    void frameWritten(std::span<const std::uint8_t> bytes, bool heartbeat, const sockaddr_in& peer,
                      std::chrono::steady_clock::time_point when);
    void addDiscarded(std::uint64_t bytes) { m_bytesDiscarded += bytes; }
    void adjustPending(std::size_t before, std::size_t after) {
        m_bytesPending += after;
        m_bytesPending -= before;
    }

private:
    void acceptNext();
    void acceptLater();  // acceptNext after acceptBackoff
    void enableKeepalive(asio::ip::tcp::socket& socket) const;
    // `home`: the index of the event loop the new connection is to live on.
    void onAccept(const std::error_code& error, asio::ip::tcp::socket socket, std::size_t home);
    // Takes the connection off the send routes; called with the connection-list lock held.
    void removeRoute(const TcpConnection& connection);
    // Closes a connection that would eat into the descriptor reserve and logs the refusals,
    // at most once per period. Accept handler only.
    void refuseForDescriptors(asio::ip::tcp::socket& socket);
    void logRefusals();
    // Takes `connection` off the list and the send routes; false if it was not listed.
    bool unlist(const TcpConnection& connection);
    static void logTimedOutCount(std::uint64_t count);

    FrameDump& m_sendDump;
    AddressHandler m_addressHandler;
    ClosedHandler m_closedHandler;
    DataHandler m_dataHandler;
    ServerConfig m_config;
    std::atomic<platform::MessageTarget*> m_target{nullptr};

    std::atomic<bool> m_running{false};
    std::atomic<std::uint16_t> m_port{0};
    // One event loop per I/O thread, replaced on each start; reset only with both locks held,
    // so that a thread holding either lock may post to them.
    std::vector<std::unique_ptr<asio::io_context>> m_contexts;
    std::vector<std::unique_ptr<SocketPoller>> m_pollers;  // one per event loop
    std::vector<asio::executor_work_guard<asio::io_context::executor_type>> m_work;
    std::vector<std::thread> m_threads;
    // The acceptor runs on a loop and thread of its own: a fleet that connects at once is
    // taken off the kernel's listen queue however busy the connections keep the I/O loops (a
    // full queue drops connection attempts, and the devices retry only after 1, 3, 7, 15 s).
    std::unique_ptr<asio::io_context> m_acceptContext;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> m_acceptWork;
    std::thread m_acceptThread;
    std::unique_ptr<asio::ip::tcp::acceptor> m_acceptor;
    std::unique_ptr<asio::steady_timer> m_acceptRetry;
    std::size_t m_nextContext = 0;  // round robin of new connections; accept handler only
    // Refusals for the descriptor reserve not yet logged, and when they were last logged;
    // accept handler (and stop, once the loops have ended) only.
    std::uint64_t m_refusalsUnlogged = 0;
    std::optional<std::chrono::steady_clock::time_point> m_refusalsLogged;

    // Connection list. Lock order: the link's heartbeat table, this, the send routes.
    mutable std::mutex m_connectionLock;
    std::vector<std::shared_ptr<TcpConnection>> m_connections;

    // Send routes: the listed connection of each peer IP. A frame to send is handed straight
    // to its connection's write queue; this lock never waits for the connection list.
    mutable std::mutex m_sendLock;
    std::unordered_map<in_addr_t, std::shared_ptr<TcpConnection>> m_routes;
    bool m_acceptingSends = false;  // true only while running

    std::atomic<std::uint64_t> m_framesSent{0};
    std::atomic<std::uint64_t> m_sendsDropped{0};
    std::atomic<std::uint64_t> m_bytesDiscarded{0};
    std::atomic<std::uint64_t> m_bytesPending{0};
    std::atomic<std::uint64_t> m_connectionsRefused{0};
    std::atomic<std::uint64_t> m_connectionsTimedOut{0};
    // Connections closed for their time-outs, logged at most once per refusalLogPeriod.
    std::mutex m_timedOutLock;
    platform::LogThrottle m_timedOutLog{std::chrono::minutes(1)};
    std::uint64_t m_nextSerial = 1;  // accept handler only
};

}  // namespace lanwire
