// Blocking POSIX sockets: the test thread drives the peer byte by byte.
#include "raw_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "protocol/device_frames.h"

namespace faulttest {

RawPeer::RawPeer(const std::string& sourceAddress) {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) return;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    if (::inet_pton(AF_INET, sourceAddress.c_str(), &local.sin_addr) != 1 ||
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        close();
    }
}

RawPeer::~RawPeer() {
    close();
}

bool RawPeer::connect(std::uint16_t port) {
    if (m_fd < 0) return false;
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(m_fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0;
}

bool RawPeer::send(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (m_fd >= 0 && done < bytes.size()) {
        const ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return m_fd >= 0;
}

std::vector<std::uint8_t> RawPeer::receive(int timeoutMs) {
    std::vector<std::uint8_t> bytes;
    if (m_fd < 0) return bytes;
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return bytes;
    bytes.resize(8192);
    const ssize_t n = ::recv(m_fd, bytes.data(), bytes.size(), MSG_DONTWAIT);
    bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return bytes;
}

bool RawPeer::closedByConsole(int timeoutMs) {
    if (m_fd < 0) return false;
    pollfd p{m_fd, POLLIN | POLLRDHUP, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return false;
    if (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) return true;
    std::uint8_t byte = 0;
    const ssize_t n = ::recv(m_fd, &byte, 1, MSG_DONTWAIT | MSG_PEEK);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

void RawPeer::close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

bool RawPeer::vanish() {
    if (m_fd < 0) return false;
    // In repair mode a close sends neither FIN nor RST: the connection is simply forgotten.
    const int on = 1;
    if (::setsockopt(m_fd, IPPROTO_TCP, TCP_REPAIR, &on, sizeof on) != 0) return false;
    close();
    return true;
}

std::vector<std::uint8_t> registrationFrame(std::uint16_t id, std::uint8_t group, std::uint8_t mode,
                                            std::uint8_t number) {
    protocol::RegisterPayload payload;
    payload.header.deviceId = id;
    payload.name = "RAW" + std::to_string(id);
    payload.mask = 0xFFFFFF00;
    payload.group = group;
    payload.mode = mode;
    payload.number = number;
    return protocol::buildRegisterFrame(payload);
}

std::vector<std::uint8_t> statusFrame(std::uint16_t id, std::uint16_t outlets) {
    protocol::StatusPayload payload;
    payload.header.deviceId = id;
    payload.outlets = protocol::expandChannelWord(outlets);
    payload.onOff = outlets != 0;
    return protocol::buildStatusFrame(protocol::NET_CMD_STATUS, payload);
}

}  // namespace faulttest
