// The device sockets of one I/O thread in an edge-triggered epoll set of their own, whose
// descriptor the thread's event loop watches. One wake of the loop takes every socket with
// news and hands each its events: a socket is read until a read comes back short (it is then
// empty, and the next bytes raise a new edge), so no recv is spent only to find a socket
// empty, and a write that found the socket full resumes on the writable edge.
#pragma once

#include <sys/epoll.h>

#include <array>
#include <asio.hpp>
#include <cstdint>
#include <memory>
#include <unordered_map>

namespace lanwire {

class TcpConnection;

class SocketPoller {
public:
    // Throws std::system_error when no epoll set can be had.
    explicit SocketPoller(asio::io_context& context);
    ~SocketPoller();
    SocketPoller(const SocketPoller&) = delete;
    SocketPoller& operator=(const SocketPoller&) = delete;

    // Starts watching `fd` for `connection` (keyed by its serial); false if the kernel
    // refuses. The connection is held until remove. On the I/O thread only.
    bool add(int fd, std::uint64_t serial, std::shared_ptr<TcpConnection> connection);
    // Stops watching; its socket stays open. On the I/O thread, or while no thread runs.
    void remove(int fd, std::uint64_t serial);
    std::size_t size() const { return m_connections.size(); }

private:
    void wait();
    void onReady(const std::error_code& error);

    int m_epoll = -1;
    asio::posix::stream_descriptor m_descriptor;  // m_epoll, watched by the thread's loop
    std::unordered_map<std::uint64_t, std::shared_ptr<TcpConnection>> m_connections;
    std::array<epoll_event, 256> m_events{};
    bool m_waiting = false;
};

}  // namespace lanwire
