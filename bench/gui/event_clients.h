// Clients of the program's HTTP API that hold its event stream open and read it, all on one
// thread: what the load benchmark runs beside the program to measure it with its server busy.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace guibench {

// `vantrel --data-dir=DIR --add-token=bench --role=viewer`: the token it printed, empty when
// it failed.
std::string addToken(const std::string& vantrel, const std::string& dataDir);

class EventClients {
public:
    // `count` connections to 127.0.0.1:`port`, each asking for /api/events with `token`; waits
    // up to `timeout` for the server to listen and for every stream's answer.
    EventClients(std::uint16_t port, const std::string& token, int count,
                 std::chrono::seconds timeout);
    ~EventClients();
    EventClients(const EventClients&) = delete;
    EventClients& operator=(const EventClients&) = delete;

    // Streams that were answered 200.
    int started() const { return m_started; }
    // Streams the server has not ended so far.
    int open() const { return m_open.load(); }
    std::uint64_t bytesRead() const { return m_bytes.load(); }

private:
    void read();

    std::vector<int> m_sockets;
    int m_started = 0;
    int m_wake[2] = {-1, -1};  // written to end the reading thread
    std::atomic<int> m_open{0};
    std::atomic<std::uint64_t> m_bytes{0};
    std::thread m_thread;
};

}  // namespace guibench
