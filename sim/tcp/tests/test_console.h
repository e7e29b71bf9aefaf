// A bare console for testing the simulator: accepts connections on an ephemeral loopback port,
// cuts what arrives into device frames and lets the test write console frames back.
#pragma once

#include <asio.hpp>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "protocol/stream_framer.h"

namespace simtest {

struct Arrival {
    std::vector<std::uint8_t> bytes;
    std::string peer;       // peer IP text
    std::size_t readIndex;  // which read on its connection delivered the frame's last byte
};

class TestConsole {
public:
    TestConsole() : m_acceptor(m_io, {asio::ip::make_address("127.0.0.1"), 0}) {
        acceptNext();
        m_thread = std::thread([this] { m_io.run(); });
    }
    ~TestConsole() {
        asio::post(m_io, [this] {
            std::error_code ignored;
            m_acceptor.close(ignored);
            for (auto& c : m_connections) c->socket.close(ignored);
        });
        m_io.stop();
        m_thread.join();
    }

    std::uint16_t port() const { return m_acceptor.local_endpoint().port(); }

    // Waits until `condition(arrivals)` holds.
    template <typename Condition>
    bool wait(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, timeout, [&] { return condition(m_arrivals); });
    }
    std::vector<Arrival> arrivals() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_arrivals;
    }
    std::size_t connections() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_accepted;
    }
    // Writes to the newest connection.
    void send(std::vector<std::uint8_t> bytes) {
        asio::post(m_io, [this, bytes = std::move(bytes)]() mutable {
            if (m_connections.empty()) return;
            auto data = std::make_shared<std::vector<std::uint8_t>>(std::move(bytes));
            asio::async_write(m_connections.back()->socket, asio::buffer(*data),
                              [data](const std::error_code&, std::size_t) {});
        });
    }
    // Closes every connection from the console's side.
    void closeAll() {
        asio::post(m_io, [this] {
            std::error_code ignored;
            for (auto& c : m_connections) c->socket.close(ignored);
            m_connections.clear();
        });
    }

private:
    struct Connection {
        explicit Connection(asio::io_context& io) : socket(io) {}
        asio::ip::tcp::socket socket;
        std::array<std::uint8_t, 4096> buffer{};
        protocol::StreamFramer framer;
        std::size_t reads = 0;
        std::string peer;
    };

    void acceptNext() {
        auto connection = std::make_shared<Connection>(m_io);
        m_acceptor.async_accept(connection->socket, [this, connection](const std::error_code& e) {
            if (e) return;
            std::error_code ignored;
            connection->peer = connection->socket.remote_endpoint(ignored).address().to_string();
            {
                std::lock_guard<std::mutex> guard(m_lock);
                ++m_accepted;
            }
            m_changed.notify_all();
            m_connections.push_back(connection);
            read(connection);
            acceptNext();
        });
    }

    void read(const std::shared_ptr<Connection>& c) {
        c->socket.async_read_some(
            asio::buffer(c->buffer), [this, c](const std::error_code& e, std::size_t n) {
                if (e) return;
                ++c->reads;
                c->framer.append(std::span<const std::uint8_t>(c->buffer.data(), n));
                {
                    std::lock_guard<std::mutex> guard(m_lock);
                    while (auto f = c->framer.next()) {
                        m_arrivals.push_back({{f->begin(), f->end()}, c->peer, c->reads});
                    }
                }
                m_changed.notify_all();
                read(c);
            });
    }

    asio::io_context m_io;
    asio::ip::tcp::acceptor m_acceptor;
    std::vector<std::shared_ptr<Connection>> m_connections;
    std::thread m_thread;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<Arrival> m_arrivals;
    std::size_t m_accepted = 0;
};

}  // namespace simtest
