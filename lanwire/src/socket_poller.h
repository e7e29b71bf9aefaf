// The device sockets of one I/O thread in an edge-triggered epoll set of their own, whose
// descriptor the thread's event loop watches. One wake of the loop takes every socket with
// news and hands each its events: a socket is read until a read comes back short (it is then
// empty, and the next bytes raise a new edge), so no recv is spent only to find a socket
// empty, and a write that found the socket full resumes on the writable edge.
// It also keeps the thread's one read buffer and its one timer for frames due later: the
// heartbeats of a grid step then cost one timer wake for every connection of the thread.
#pragma once

#include <sys/epoll.h>

#include <array>
#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <unordered_map>
#include <vector>

namespace lanwire {

class TcpConnection;

class SocketPoller {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // Throws std::system_error when no epoll set can be had.
    explicit SocketPoller(asio::io_context& context);
    ~SocketPoller();
    SocketPoller(const SocketPoller&) = delete;
    SocketPoller& operator=(const SocketPoller&) = delete;

    // Starts watching `fd` for `connection` (keyed by its serial); false if the kernel
    // refuses. The connection is held until remove, and its events carry its address. On the
    // I/O thread only.
    bool add(int fd, std::uint64_t serial, std::shared_ptr<TcpConnection> connection);
    // Stops watching; its socket stays open. On the I/O thread, or while no thread runs.
    void remove(int fd, std::uint64_t serial);
    std::size_t size() const { return m_connections.size(); }

    // The buffer every socket of this thread is read into; a connection's framer copies what
    // it keeps, so one buffer serves them all. On the I/O thread only.
    std::span<std::uint8_t> readBuffer() { return *m_readBuffer; }
    // Calls connection->onWake(due) once `due` has come; the connection tells stale wakes
    // apart itself. On the I/O thread only.
    void wakeAt(TimePoint due, std::shared_ptr<TcpConnection> connection);

private:
    struct Wake {
        TimePoint due;
        std::shared_ptr<TcpConnection> connection;
    };

    void wait();
    void onReady(const std::error_code& error);
    void armTimer();
    void onTimer(const std::error_code& error);

    int m_epoll = -1;
    asio::posix::stream_descriptor m_descriptor;  // m_epoll, watched by the thread's loop
    std::unordered_map<std::uint64_t, std::shared_ptr<TcpConnection>> m_connections;
    std::array<epoll_event, 256> m_events{};
    bool m_waiting = false;
    std::unique_ptr<std::array<std::uint8_t, 8192>> m_readBuffer;
    // Frames due later, as a heap by due time, and the timer set to the earliest of them.
    std::vector<Wake> m_wakes;
    asio::steady_timer m_timer;
    bool m_timerArmed = false;
    TimePoint m_timerExpiry{};
};

}  // namespace lanwire
