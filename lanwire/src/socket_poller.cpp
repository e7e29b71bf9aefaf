// Batched readiness of one I/O thread's device sockets.
#include "socket_poller.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "tcp_connection.h"

namespace lanwire {

namespace {

// Orders the heap of wakes earliest first.
constexpr auto laterWake = [](const auto& a, const auto& b) { return a.due > b.due; };

}  // namespace

SocketPoller::SocketPoller(asio::io_context& context)
    : m_epoll(::epoll_create1(EPOLL_CLOEXEC)),
      m_descriptor(context),
      m_readBuffer(std::make_unique<std::array<std::uint8_t, 8192>>()),
      m_timer(context) {
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
    event.data.ptr = connection.get();
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) != 0) return false;
    m_connections[serial] = std::move(connection);
    if (!m_waiting) wait();
    return true;
}

void SocketPoller::remove(int fd, std::uint64_t serial) {
    const auto it = m_connections.find(serial);
    if (it == m_connections.end()) return;
    // Events of the batch being handled must not reach the connection once it is gone.
    for (epoll_event& event : m_events) {
        if (event.data.ptr == it->second.get()) event.data.ptr = nullptr;
    }
    m_connections.erase(it);
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
            auto* connection = static_cast<TcpConnection*>(m_events[i].data.ptr);
            if (connection == nullptr) continue;               // removed earlier in this batch
            const auto keep = connection->shared_from_this();  // it may remove itself
            connection->onEvents(m_events[i].events);
        }
    } while (count == static_cast<int>(m_events.size()));
    if (!m_connections.empty()) wait();
}

void SocketPoller::wakeAt(TimePoint due, std::shared_ptr<TcpConnection> connection) {
    m_wakes.push_back(Wake{due, std::move(connection)});
    std::push_heap(m_wakes.begin(), m_wakes.end(), laterWake);
    if (!m_timerArmed || due < m_timerExpiry) armTimer();
}

void SocketPoller::armTimer() {
    // Setting the time aborts a wait already armed; its handler sees operation_aborted.
    m_timerArmed = true;
    m_timerExpiry = m_wakes.front().due;
    m_timer.expires_at(m_timerExpiry);
    m_timer.async_wait([this](const std::error_code& error) { onTimer(error); });
}

void SocketPoller::onTimer(const std::error_code& error) {
    if (error) return;  // re-armed for an earlier time, or closed with the server
    // Wakes queued by the connections woken here are armed for once, after the loop.
    m_timerExpiry = TimePoint::min();
    const TimePoint now = std::chrono::steady_clock::now();
    while (!m_wakes.empty() && m_wakes.front().due <= now) {
        std::pop_heap(m_wakes.begin(), m_wakes.end(), laterWake);
        Wake wake = std::move(m_wakes.back());
        m_wakes.pop_back();
        wake.connection->onWake(wake.due);
    }
    m_timerArmed = false;
    if (!m_wakes.empty()) armTimer();
}

}  // namespace lanwire
