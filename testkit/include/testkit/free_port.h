// A loopback port for a server that a test starts in another process (or hands on by number).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <random>

namespace testkit {

// A port below the kernel's ephemeral range (32768 and up), free when asked. A port taken
// from the ephemeral range can be handed to another test's outgoing connection before the
// server binds it; tests running side by side then fail with "in use". Picked at random so
// that two tests seldom try the same one; each is checked by binding it.
inline std::uint16_t freeListenPort() {
    static std::mt19937 pick(static_cast<unsigned>(
        std::chrono::steady_clock::now().time_since_epoch().count() ^ (::getpid() << 16)));
    std::uniform_int_distribution<int> range(20000, 32000);
    for (int attempt = 0; attempt < 200; ++attempt) {
        const auto port = static_cast<std::uint16_t>(range(pick));
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) break;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (free) return port;
    }
    return 0;
}

}  // namespace testkit
