// IdleFleet: non-blocking sockets on level-triggered epoll loops.
#include "simtcp/idle_fleet.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <deque>
#include <thread>

#include "protocol/console_frames.h"
#include "protocol/device_frames.h"
#include "protocol/stream_framer.h"
#include "simtcp/sim_fleet.h"

namespace simtcp {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kReconnectDelay = std::chrono::milliseconds(200);
constexpr int kEventsPerPass = 1024;

std::vector<std::uint8_t> registrationOf(const DeviceConfig& config, std::uint16_t id) {
    protocol::RegisterPayload reg;
    reg.header.deviceId = id;
    // The fleet's own device speaks as configured; one behind it as makeDeviceConfig makes it.
    const DeviceConfig own = id == config.id ? config : makeDeviceConfig(0, id);
    reg.name = own.name;
    reg.ipAddress = own.ipAddress;
    reg.mac = own.mac;
    reg.mask = config.mask;
    reg.gateway = config.gateway;
    reg.group = config.group;
    reg.mode = config.mode;
    reg.number = config.number;
    reg.onOff = config.onOff ? 1 : 0;
    reg.outlets = protocol::expandChannelWord(config.outlets);
    return protocol::buildRegisterFrame(reg);
}

}  // namespace

struct IdleFleet::Device {
    DeviceConfig config;
    std::vector<std::uint16_t> ids;               // its own first, then those behind it
    std::vector<std::vector<std::uint8_t>> acks;  // the heartbeat answer of each id
    std::vector<std::uint8_t> registrations;      // every id's registration, in one write
    sockaddr_in source{};
    int fd = -1;
    bool connecting = false;
    bool wantsWrite = false;  // EPOLLOUT armed for the rest of `out`
    protocol::StreamFramer framer{protocol::FrameOrigin::Console};
    std::vector<std::uint8_t> out;  // answers not yet taken by the socket
    std::atomic<bool> connected{false};
    std::atomic<unsigned> connects{0};
    std::atomic<unsigned> closedByPeer{0};
    std::atomic<std::uint64_t> heartbeats{0};
};

struct IdleFleet::Loop {
    sockaddr_in target{};
    std::vector<Device*> devices;
    int epoll = -1;
    int wake = -1;  // eventfd: stop
    std::atomic<bool> stopping{false};
    std::deque<std::pair<Clock::time_point, Device*>> retries;  // oldest first, one delay
    std::array<std::uint8_t, 65536> buffer{};
    std::thread thread;

    void run();
    void connect(Device& d);
    void onConnected(Device& d);
    void onReadable(Device& d);
    void flush(Device& d);
    void closeAndRetry(Device& d, bool byPeer);
    void watch(Device& d, std::uint32_t events, int operation) const {
        epoll_event event{};
        event.events = events;
        event.data.ptr = &d;
        epoll_ctl(epoll, operation, d.fd, &event);
    }
};

void IdleFleet::Loop::connect(Device& d) {
    d.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (d.fd < 0) {
        retries.emplace_back(Clock::now() + kReconnectDelay, &d);  // out of descriptors
        return;
    }
    const int on = 1;
    ::setsockopt(d.fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(d.fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    // The console knows a device by the address it connects from.
    if (::bind(d.fd, reinterpret_cast<const sockaddr*>(&d.source), sizeof d.source) != 0) {
        closeAndRetry(d, false);
        return;
    }
    if (::connect(d.fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) {
        watch(d, EPOLLIN, EPOLL_CTL_ADD);
        onConnected(d);
        return;
    }
    if (errno != EINPROGRESS) {
        closeAndRetry(d, false);
        return;
    }
    d.connecting = true;
    watch(d, EPOLLOUT, EPOLL_CTL_ADD);
}

void IdleFleet::Loop::onConnected(Device& d) {
    d.connecting = false;
    d.wantsWrite = false;
    d.framer.reset();
    ++d.connects;
    d.connected = true;
    d.out = d.registrations;
    flush(d);
}

void IdleFleet::Loop::onReadable(Device& d) {
    const ssize_t count = ::recv(d.fd, buffer.data(), buffer.size(), 0);
    if (count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR)) {
        closeAndRetry(d, true);
        return;
    }
    if (count < 0) return;
    d.framer.append(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(count)));
    while (auto frame = d.framer.next()) {
        const auto command = protocol::decodeConsoleFrame(*frame);
        if (!command || command->command != protocol::NET_CMD_HEARTBEAT) continue;
        ++d.heartbeats;
        for (std::size_t i = 0; i < d.ids.size(); ++i) {
            if (d.ids[i] != command->deviceId) continue;
            d.out.insert(d.out.end(), d.acks[i].begin(), d.acks[i].end());
            break;
        }
    }
    flush(d);
}

void IdleFleet::Loop::flush(Device& d) {
    if (d.fd < 0 || d.out.empty()) return;
    const ssize_t sent = ::send(d.fd, d.out.data(), d.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0 && errno != EAGAIN && errno != EINTR) {
        closeAndRetry(d, true);
        return;
    }
    if (sent > 0) d.out.erase(d.out.begin(), d.out.begin() + sent);
    // The rest waits for room in the socket.
    const bool wantsWrite = !d.out.empty();
    if (wantsWrite != d.wantsWrite) {
        d.wantsWrite = wantsWrite;
        watch(d, wantsWrite ? EPOLLIN | EPOLLOUT : EPOLLIN, EPOLL_CTL_MOD);
    }
}

void IdleFleet::Loop::closeAndRetry(Device& d, bool byPeer) {
    if (d.fd >= 0) ::close(d.fd);  // leaves the epoll set with it
    d.fd = -1;
    d.connecting = false;
    d.wantsWrite = false;
    d.out.clear();
    if (d.connected.exchange(false) && byPeer) ++d.closedByPeer;
    if (!stopping) retries.emplace_back(Clock::now() + kReconnectDelay, &d);
}

void IdleFleet::Loop::run() {
    for (Device* d : devices) connect(*d);
    std::array<epoll_event, kEventsPerPass> events{};
    while (!stopping) {
        int timeoutMs = -1;
        if (!retries.empty()) {
            const auto wait =
                std::chrono::ceil<std::chrono::milliseconds>(retries.front().first - Clock::now());
            timeoutMs = static_cast<int>(std::max<std::int64_t>(0, wait.count()));
        }
        const int ready = ::epoll_wait(epoll, events.data(), kEventsPerPass, timeoutMs);
        for (int i = 0; i < ready; ++i) {
            if (events[i].data.ptr == nullptr) continue;  // the stop's wake-up
            Device& d = *static_cast<Device*>(events[i].data.ptr);
            if (d.fd < 0) continue;
            if (d.connecting) {
                int error = 0;
                socklen_t length = sizeof error;
                ::getsockopt(d.fd, SOL_SOCKET, SO_ERROR, &error, &length);
                if (error != 0) {
                    closeAndRetry(d, false);
                } else {
                    watch(d, EPOLLIN, EPOLL_CTL_MOD);
                    onConnected(d);
                }
                continue;
            }
            if (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) onReadable(d);
            if (d.fd >= 0 && (events[i].events & EPOLLOUT)) flush(d);
        }
        const auto now = Clock::now();
        while (!retries.empty() && retries.front().first <= now && !stopping) {
            Device* d = retries.front().second;
            retries.pop_front();
            connect(*d);
        }
    }
    for (Device* d : devices) {
        if (d->fd >= 0) ::close(d->fd);
        d->fd = -1;
        d->connected = false;
    }
}

IdleFleet::IdleFleet(std::string host, std::uint16_t port, unsigned threads)
    : m_host(std::move(host)), m_port(port) {
    for (unsigned i = 0; i < std::max(1u, threads); ++i) {
        auto loop = std::make_unique<Loop>();
        loop->target.sin_family = AF_INET;
        loop->target.sin_port = htons(m_port);
        ::inet_pton(AF_INET, m_host.c_str(), &loop->target.sin_addr);
        m_loops.push_back(std::move(loop));
    }
}

IdleFleet::~IdleFleet() {
    stop();
}

void IdleFleet::add(const DeviceConfig& config, std::vector<std::uint16_t> behind) {
    auto device = std::make_unique<Device>();
    device->config = config;
    device->ids.push_back(config.id);
    device->ids.insert(device->ids.end(), behind.begin(), behind.end());
    for (const std::uint16_t id : device->ids) {
        device->acks.push_back(protocol::buildDeviceHeader(protocol::NET_CMD_HEARTBEAT_ACK, id));
        const auto frame = registrationOf(config, id);
        device->registrations.insert(device->registrations.end(), frame.begin(), frame.end());
    }
    device->source.sin_family = AF_INET;
    ::inet_pton(AF_INET, config.sourceAddress.c_str(), &device->source.sin_addr);
    m_loops[m_devices.size() % m_loops.size()]->devices.push_back(device.get());
    m_devices.push_back(std::move(device));
}

void IdleFleet::start() {
    for (auto& loop : m_loops) {
        if (loop->thread.joinable()) continue;
        loop->epoll = ::epoll_create1(EPOLL_CLOEXEC);
        loop->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.ptr = nullptr;
        epoll_ctl(loop->epoll, EPOLL_CTL_ADD, loop->wake, &event);
        loop->thread = std::thread([l = loop.get()] { l->run(); });
    }
}

void IdleFleet::stop() {
    for (auto& loop : m_loops) {
        if (!loop->thread.joinable()) continue;
        loop->stopping = true;
        const std::uint64_t one = 1;
        if (::write(loop->wake, &one, sizeof one) < 0) {
            // The counter is full only if woken countless times: the loop is awake anyway.
        }
        loop->thread.join();
        ::close(loop->wake);
        ::close(loop->epoll);
    }
}

std::size_t IdleFleet::size() const {
    return m_devices.size();
}

const DeviceConfig& IdleFleet::config(std::size_t index) const {
    return m_devices.at(index)->config;
}

IdleDeviceCounts IdleFleet::counts(std::size_t index) const {
    const Device& d = *m_devices.at(index);
    return {d.connected.load(), d.connects.load(), d.closedByPeer.load(), d.heartbeats.load()};
}

}  // namespace simtcp
