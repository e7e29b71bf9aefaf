// The simulated serial device: a thread on the pty master that parses requests as they arrive.
#include "serialsim/serial_device.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace serialsim {

namespace {

constexpr std::uint8_t kHead0 = 0xC3;
constexpr std::uint8_t kHead1 = 0x40;
constexpr std::uint8_t kWriteCode = 0x01;
constexpr std::uint8_t kReadCode = 0x02;
constexpr std::uint8_t kReplyCode = 0x03;
constexpr std::size_t kReadRequestSize = 6;
constexpr std::size_t kParameterFrameSize = 38;

template <std::size_t N>
void put(std::vector<std::uint8_t>& out, const std::array<std::uint8_t, N>& field) {
    out.insert(out.end(), field.begin(), field.end());
}

template <std::size_t N>
void take(std::span<const std::uint8_t> frame, std::size_t offset,
          std::array<std::uint8_t, N>& field) {
    std::copy_n(frame.begin() + static_cast<std::ptrdiff_t>(offset), N, field.begin());
}

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

DeviceParameters sampleParameters() {
    DeviceParameters p;
    p.deviceNumber = 300;
    p.name = nameField("Rack-A");
    p.ip = {192, 168, 1, 50};
    p.mask = {255, 255, 255, 0};
    p.gateway = {192, 168, 1, 1};
    p.mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    p.serverIp = {192, 168, 1, 10};
    return p;
}

std::array<std::uint8_t, 10> nameField(const std::string& name) {
    std::array<std::uint8_t, 10> field{};
    std::copy_n(name.begin(), std::min(name.size(), field.size()), field.begin());
    return field;
}

std::uint16_t modbusCrc(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

std::vector<std::uint8_t> encodeReply(const DeviceParameters& p) {
    std::vector<std::uint8_t> out = {kHead0, kHead1, kReplyCode, 34};
    out.push_back(static_cast<std::uint8_t>(p.deviceNumber >> 8));
    out.push_back(static_cast<std::uint8_t>(p.deviceNumber & 0xFF));
    put(out, p.name);
    put(out, p.ip);
    put(out, p.mask);
    put(out, p.gateway);
    put(out, p.mac);
    put(out, p.serverIp);
    return out;
}

bool decodeWriteRequest(std::span<const std::uint8_t> frame, DeviceParameters& out) {
    if (frame.size() < kParameterFrameSize || frame[0] != kHead0 || frame[1] != kHead1 ||
        frame[2] != kWriteCode) {
        return false;
    }
    out.deviceNumber = static_cast<std::uint16_t>(frame[4] << 8 | frame[5]);
    take(frame, 6, out.name);
    take(frame, 16, out.ip);
    take(frame, 20, out.mask);
    take(frame, 24, out.gateway);
    take(frame, 28, out.mac);
    take(frame, 34, out.serverIp);
    return true;
}

SimSerialDevice::SimSerialDevice(DeviceParameters initial)
    : m_stopFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), m_parameters(initial) {
    if (m_pty.valid() && m_stopFd >= 0) m_thread = std::thread(&SimSerialDevice::run, this);
}

SimSerialDevice::~SimSerialDevice() {
    if (m_stopFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(m_stopFd, &one, sizeof one);
    }
    if (m_thread.joinable()) m_thread.join();
    if (m_stopFd >= 0) close(m_stopFd);
}

DeviceParameters SimSerialDevice::parameters() const {
    std::lock_guard lock(m_mutex);
    return m_parameters;
}

void SimSerialDevice::setParameters(const DeviceParameters& parameters) {
    std::lock_guard lock(m_mutex);
    m_parameters = parameters;
}

void SimSerialDevice::setReplyShape(ReplyShape shape) {
    std::lock_guard lock(m_mutex);
    m_shape = std::move(shape);
}

void SimSerialDevice::setSilent(bool silent) {
    std::lock_guard lock(m_mutex);
    m_silent = silent;
}

void SimSerialDevice::setBetweenPieces(std::function<void(std::size_t)> hook) {
    std::lock_guard lock(m_mutex);
    m_betweenPieces = std::move(hook);
}

std::vector<std::vector<std::uint8_t>> SimSerialDevice::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::size_t SimSerialDevice::discardedBytes() const {
    std::lock_guard lock(m_mutex);
    return m_discarded;
}

void SimSerialDevice::run() {
    pollfd fds[2] = {{m_pty.master(), POLLIN, 0}, {m_stopFd, POLLIN, 0}};
    std::uint8_t buffer[512];
    for (;;) {
        const int n = poll(fds, 2, -1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || (fds[1].revents & POLLIN)) return;
        if (fds[0].revents & (POLLERR | POLLNVAL)) return;
        const ssize_t got = ::read(m_pty.master(), buffer, sizeof buffer);
        if (got <= 0) {
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            return;
        }
        {
            std::lock_guard lock(m_mutex);
            m_input.insert(m_input.end(), buffer, buffer + got);
        }
        consume();
    }
}

// Takes whole requests off the front of the input; bytes that cannot start one are skipped.
void SimSerialDevice::consume() {
    for (;;) {
        bool answer = false;
        {
            std::lock_guard lock(m_mutex);
            auto& in = m_input;
            if (in.empty()) return;
            if (in[0] != kHead0 || (in.size() >= 2 && in[1] != kHead1)) {
                in.erase(in.begin());
                ++m_discarded;
                continue;
            }
            if (in.size() < 3) return;
            if (in[2] == kReadCode) {
                if (in.size() < kReadRequestSize) return;
                const std::uint16_t crc = modbusCrc(std::span(in.data(), 4));
                if (in[4] != (crc & 0xFF) || in[5] != (crc >> 8)) {
                    in.erase(in.begin());
                    ++m_discarded;
                    continue;
                }
                m_requests.emplace_back(in.begin(), in.begin() + kReadRequestSize);
                in.erase(in.begin(), in.begin() + kReadRequestSize);
                answer = !m_silent;
            } else if (in[2] == kWriteCode) {
                if (in.size() < kParameterFrameSize) return;
                m_requests.emplace_back(in.begin(), in.begin() + kParameterFrameSize);
                decodeWriteRequest(m_requests.back(), m_parameters);
                in.erase(in.begin(), in.begin() + kParameterFrameSize);
                m_writesApplied.fetch_add(1);
            } else {
                in.erase(in.begin());
                ++m_discarded;
                continue;
            }
        }
        if (answer) answerRead();
    }
}

void SimSerialDevice::answerRead() {
    std::vector<std::uint8_t> reply;
    ReplyShape shape;
    std::function<void(std::size_t)> hook;
    {
        std::lock_guard lock(m_mutex);
        reply = encodeReply(m_parameters);
        shape = m_shape;
        hook = m_betweenPieces;
    }
    reply.insert(reply.end(), shape.trailing.begin(), shape.trailing.end());
    std::size_t offset = 0;
    std::size_t sent = 0;
    for (std::size_t piece : shape.pieces) {
        piece = std::min(piece, reply.size() - offset);
        if (piece == 0) continue;
        if (!writeAll(m_pty.master(), reply.data() + offset, piece)) return;
        offset += piece;
        ++sent;
        if (offset < reply.size() && hook) hook(sent);
    }
    if (offset < reply.size() &&
        !writeAll(m_pty.master(), reply.data() + offset, reply.size() - offset)) {
        return;
    }
    m_readsAnswered.fetch_add(1);
}

}  // namespace serialsim
