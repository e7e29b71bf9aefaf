// Batched readiness of one I/O thread's device sockets.
#include "socket_poller.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "tcp_connection.h"

namespace lanwire {

SocketPoller::SocketPoller(asio::io_context& context)
    : m_epoll(::epoll_create1(EPOLL_CLOEXEC)), m_descriptor(context) {
    if (m_epoll < 0) throw std::system_error(errno, std::generic_category(), "epoll_create1");
    std::error_code error;
    m_descriptor.assign(m_epoll, error);
    if (error) {
        ::close(m_epoll);
        throw std::system_error(error);
    }
}

SocketPoller::~SocketPoller() {
    std::error_code ignored;
    m_descriptor.close(ignored);  // closes m_epoll
}

bool SocketPoller::add(int fd, std::uint64_t serial, std::shared_ptr<TcpConnection> connection) {
    epoll_event event{};
    event.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
    event.data.u64 = serial;
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) != 0) return false;
    m_connections[serial] = std::move(connection);
    if (!m_waiting) wait();
    return true;
}

void SocketPoller::remove(int fd, std::uint64_t serial) {
    if (m_connections.erase(serial) == 0) return;
    epoll_event ignored{};
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, &ignored);
}

void SocketPoller::wait() {
    m_waiting = true;
    m_descriptor.async_wait(asio::posix::stream_descriptor::wait_read,
                            [this](const std::error_code& error) { onReady(error); });
}

void SocketPoller::onReady(const std::error_code& error) {
    m_waiting = false;
    if (error) return;  // closed with the server
    // The loop's wait on the set is edge-triggered and never tries at once: sockets left in
    // the set after a full batch would raise no new edge. So batches are taken until one
    // comes back short and the set is empty.
    int count = 0;
    do {
        count = ::epoll_wait(m_epoll, m_events.data(), static_cast<int>(m_events.size()), 0);
        for (int i = 0; i < count; ++i) {
            const auto it = m_connections.find(m_events[i].data.u64);
            if (it == m_connections.end()) continue;  // removed earlier in this batch
            const std::shared_ptr<TcpConnection> connection = it->second;  // may remove itself
            connection->onEvents(m_events[i].events);
        }
    } while (count == static_cast<int>(m_events.size()));
    if (!m_connections.empty()) wait();
}

}  // namespace lanwire
