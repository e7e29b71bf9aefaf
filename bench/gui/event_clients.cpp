// Plain sockets: a request line and headers out, then every byte that comes is counted.
#include "event_clients.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

namespace guibench {

std::string addToken(const std::string& vantrel, const std::string& dataDir) {
    const std::string command = "QT_QPA_PLATFORM=offscreen '" + vantrel +
                                "' '--data-dir=" + dataDir +
                                "' --add-token=bench --role=viewer 2>/dev/null";
    FILE* out = ::popen(command.c_str(), "r");
    if (!out) return {};
    std::string token;
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, out)) token += chunk;
    if (::pclose(out) != 0) return {};
    while (!token.empty() && (token.back() == '\n' || token.back() == '\r')) token.pop_back();
    return token;
}

namespace {

// A connection to 127.0.0.1:`port`, tried again until `deadline` (the program may not listen
// yet); -1 when none came.
int connectBy(std::uint16_t port, std::chrono::steady_clock::time_point deadline) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    while (std::chrono::steady_clock::now() < deadline) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return -1;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
        ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
}

// Reads the response header; true when it says 200.
bool answered200(int fd, std::chrono::steady_clock::time_point deadline) {
    std::string text;
    while (text.find("\r\n\r\n") == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) != 1) return false;
        char chunk[4096];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n <= 0) return false;
        text.append(chunk, static_cast<std::size_t>(n));
    }
    return text.rfind("HTTP/1.1 200", 0) == 0;
}

}  // namespace

EventClients::EventClients(std::uint16_t port, const std::string& token, int count,
                           std::chrono::seconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const std::string request =
        "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: "
        "Bearer " +
        token + "\r\nAccept: text/event-stream\r\n\r\n";
    for (int i = 0; i < count; ++i) {
        const int fd = connectBy(port, deadline);
        if (fd < 0) break;
        m_sockets.push_back(fd);
        if (::write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size()) ||
            !answered200(fd, deadline))
            break;
        ++m_started;
    }
    m_open = m_started;
    if (::pipe(m_wake) == 0) m_thread = std::thread([this] { read(); });
}

EventClients::~EventClients() {
    if (m_thread.joinable()) {
        const char stop = 1;
        [[maybe_unused]] const auto n = ::write(m_wake[1], &stop, 1);
        m_thread.join();
    }
    for (const int fd : m_sockets) ::close(fd);
    for (const int fd : m_wake) {
        if (fd >= 0) ::close(fd);
    }
}

void EventClients::read() {
    std::vector<pollfd> polled{{m_wake[0], POLLIN, 0}};
    for (std::size_t i = 0; i < static_cast<std::size_t>(m_started); ++i)
        polled.push_back({m_sockets[i], POLLIN, 0});
    char chunk[65536];
    for (;;) {
        if (::poll(polled.data(), polled.size(), -1) < 0) return;
        if (polled[0].revents != 0) return;
        for (std::size_t i = 1; i < polled.size(); ++i) {
            if (polled[i].revents == 0) continue;
            const ssize_t n = ::read(polled[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                m_bytes += static_cast<std::uint64_t>(n);
            } else {
                polled[i].fd = -1;  // ended by the server: poll() skips it from now on
                --m_open;
            }
        }
    }
}

}  // namespace guibench
