// A small blocking HTTP client for the API tests, on Beast, from a chosen loopback address.
#pragma once

#include <poll.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace webtest {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Headers = std::vector<std::pair<std::string, std::string>>;

struct Reply {
    int status = 0;  // 0: no answer (closed, or not connected)
    std::string body;
    std::string setCookie;  // the whole Set-Cookie header
    // "name=value" of the cookie, for the next request's Cookie header.
    std::string cookie() const { return setCookie.substr(0, setCookie.find(';')); }
};

class Client {
public:
    // `receiveBuffer` > 0: the socket's receive buffer, set before connecting (the kernel
    // rounds it up to its minimum).
    explicit Client(std::uint16_t port, const std::string& from = "127.0.0.1",
                    int receiveBuffer = 0)
        : m_socket(m_io) {
        boost::system::error_code ec;
        m_socket.open(tcp::v4(), ec);
        if (!ec && receiveBuffer > 0)
            m_socket.set_option(asio::socket_base::receive_buffer_size(receiveBuffer), ec);
        if (!ec) m_socket.bind(tcp::endpoint(asio::ip::make_address(from), 0), ec);
        if (!ec) m_socket.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port), ec);
        m_connected = !ec;
    }
    bool connected() const { return m_connected; }
    tcp::socket& socket() { return m_socket; }

    Reply send(http::verb method, const std::string& target, const std::string& body = {},
               const Headers& headers = {}) {
        http::request<http::string_body> request(method, target, 11);
        request.set(http::field::host, "127.0.0.1");
        for (const auto& [name, value] : headers) request.set(name, value);
        request.body() = body;
        request.prepare_payload();
        boost::system::error_code ec;
        http::write(m_socket, request, ec);
        if (ec) return {};
        return read();
    }

    // Asks for an event stream; returns its response header (and any events already sent).
    std::string openStream(const std::string& target, const Headers& headers = {}) {
        http::request<http::empty_body> request(http::verb::get, target, 11);
        request.set(http::field::host, "127.0.0.1");
        for (const auto& [name, value] : headers) request.set(name, value);
        boost::system::error_code ec;
        http::write(m_socket, request, ec);
        if (ec) return {};
        return readUntil(
            [](const std::string& t) { return t.find("\r\n\r\n") != std::string::npos; },
            std::chrono::seconds(10));
    }

    Reply read() {
        http::response<http::string_body> response;
        boost::system::error_code ec;
        http::read(m_socket, m_buffer, response, ec);
        if (ec) return {};
        return Reply{static_cast<int>(response.result_int()), response.body(),
                     std::string(response[http::field::set_cookie])};
    }

    // Reads raw bytes until `until` holds for what came so far, the peer closes, or `limit`
    // passes. Returns what came.
    template <typename Until>
    std::string readUntil(Until until, std::chrono::milliseconds limit, bool* closed = nullptr) {
        std::string text(static_cast<const char*>(m_buffer.data().data()), m_buffer.size());
        m_buffer.consume(m_buffer.size());
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!until(text)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{m_socket.native_handle(), POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) != 1) break;
            char chunk[65536];
            boost::system::error_code ec;
            const std::size_t n = m_socket.read_some(asio::buffer(chunk), ec);
            if (ec) {
                if (closed) *closed = true;
                break;
            }
            text.append(chunk, n);
        }
        return text;
    }

    // Whether the server closed the connection within `limit` (nothing else arrives first).
    bool closedWithin(std::chrono::milliseconds limit) {
        bool closed = false;
        readUntil([](const std::string&) { return false; }, limit, &closed);
        return closed;
    }

    // Whether the peer ended the connection within `limit`, told without reading what it sent
    // (its end, or a reset).
    bool hungUpWithin(std::chrono::milliseconds limit) {
        pollfd p{m_socket.native_handle(), POLLRDHUP, 0};
        return ::poll(&p, 1, static_cast<int>(limit.count())) == 1 &&
               (p.revents & (POLLHUP | POLLERR | POLLRDHUP)) != 0;
    }

private:
    asio::io_context m_io;
    tcp::socket m_socket;
    beast::flat_buffer m_buffer;
    bool m_connected = false;
};

// A self-signed certificate for 127.0.0.1 written to `cert`, its key to `key`, by the openssl
// command; false when the command fails.
inline bool makeCertificate(const std::string& cert, const std::string& key) {
    const std::string make =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
        "-nodes -days 2 -subj /CN=127.0.0.1 -keyout " +
        key + " -out " + cert + " >/dev/null 2>&1";
    return std::system(make.c_str()) == 0;
}

}  // namespace webtest
