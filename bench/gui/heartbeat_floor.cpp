// A minimal heartbeat server: the kernel's share of a round trip.
#include "heartbeat_floor.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <memory>
#include <vector>

#include "protocol/console_frames.h"
#include "protocol/device_frames.h"
#include "protocol/frame_types.h"
#include "protocol/stream_framer.h"

namespace guibench {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kStep = std::chrono::milliseconds(10);
constexpr long kStepsPerGap = 25;  // 250 ms between two heartbeats to a device

struct Peer {
    int fd = -1;
    protocol::StreamFramer framer;
    protocol::ConsoleFrame heartbeat{};
};

}  // namespace

int runHeartbeatFloor(std::uint16_t port) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, SOMAXCONN) != 0) {
        return 1;
    }
    const int poll = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = nullptr;  // the listener
    ::epoll_ctl(poll, EPOLL_CTL_ADD, listener, &event);

    std::vector<std::unique_ptr<Peer>> peers;
    // The heartbeats of each grid step within one gap, by step.
    std::vector<std::vector<Peer*>> wheel(kStepsPerGap + 1);
    const Clock::time_point start = Clock::now();
    const auto stepAt = [&](Clock::time_point at) { return (at - start) / kStep; };
    long current = stepAt(Clock::now());
    std::array<epoll_event, 256> events{};
    std::array<std::uint8_t, 8192> buffer{};
    for (;;) {
        for (const long now = stepAt(Clock::now()); current <= now; ++current) {
            auto& due = wheel[static_cast<std::size_t>(current) % wheel.size()];
            for (Peer* peer : due) {
                ::send(peer->fd, peer->heartbeat.data(), peer->heartbeat.size(), MSG_NOSIGNAL);
            }
            due.clear();
        }
        const auto untilNext = start + kStep * current - Clock::now();
        const int timeout =
            static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(untilNext).count());
        const int count = ::epoll_wait(poll, events.data(), static_cast<int>(events.size()),
                                       timeout < 0 ? 0 : timeout);
        for (int i = 0; i < count; ++i) {
            if (events[i].data.ptr == nullptr) {
                for (int fd; (fd = ::accept4(listener, nullptr, nullptr,
                                             SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;) {
                    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                    peers.push_back(std::make_unique<Peer>());
                    peers.back()->fd = fd;
                    epoll_event read{};
                    read.events = EPOLLIN | EPOLLET;
                    read.data.ptr = peers.back().get();
                    ::epoll_ctl(poll, EPOLL_CTL_ADD, fd, &read);
                }
                continue;
            }
            Peer& peer = *static_cast<Peer*>(events[i].data.ptr);
            for (;;) {
                const ssize_t got = ::recv(peer.fd, buffer.data(), buffer.size(), 0);
                if (got <= 0) break;  // empty, or gone (the fleet ends with the measurement)
                peer.framer.append(
                    std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(got)));
                while (const auto frame = peer.framer.next()) {
                    const auto header = protocol::decodeHeader(*frame);
                    if (!header) continue;
                    const bool registration = header->command == protocol::NET_CMD_REGISTER;
                    if (!registration && header->command != protocol::NET_CMD_HEARTBEAT_ACK) {
                        continue;
                    }
                    peer.heartbeat = protocol::buildHeartbeatFrame(header->deviceId);
                    const long step = registration ? current : current + kStepsPerGap;
                    wheel[static_cast<std::size_t>(step) % wheel.size()].push_back(&peer);
                }
                if (static_cast<std::size_t>(got) < buffer.size()) break;
            }
        }
    }
}

}  // namespace guibench
