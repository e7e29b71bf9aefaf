// One POST per alert on its own short-lived io_context, bounded by a deadline timer: the
// delivery thread waits for nothing longer than the time-out.
#include "webhook_target.h"

#include <openssl/ssl.h>

#include <asio/co_spawn.hpp>
#include <asio/connect.hpp>
#include <asio/detached.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/read_until.hpp>
#include <asio/redirect_error.hpp>
#include <asio/ssl/host_name_verification.hpp>
#include <asio/ssl/stream.hpp>
#include <asio/steady_timer.hpp>
#include <asio/streambuf.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>
#include <charconv>
#include <istream>

namespace alerts {

namespace {

using asio::ip::tcp;

struct Outcome {
    std::error_code error;
    int status = 0;
};

// The status code of "HTTP/1.x NNN reason", 0 when the line is not one.
int statusOf(const std::string& line) {
    if (!line.starts_with("HTTP/1.") || line.size() < 12 || line[8] != ' ') return 0;
    int status = 0;
    const auto result = std::from_chars(line.data() + 9, line.data() + 12, status);
    return result.ec == std::errc() && result.ptr == line.data() + 12 ? status : 0;
}

template <typename Stream>
asio::awaitable<void> exchange(Stream& stream, const std::string& request, Outcome& outcome) {
    auto& ec = outcome.error;
    co_await asio::async_write(stream, asio::buffer(request),
                               asio::redirect_error(asio::use_awaitable, ec));
    if (ec) co_return;
    asio::streambuf response(4096);  // the status line is all that is read
    co_await asio::async_read_until(stream, response, "\r\n",
                                    asio::redirect_error(asio::use_awaitable, ec));
    if (ec) co_return;
    std::istream lines(&response);
    std::string line;
    std::getline(lines, line);
    outcome.status = statusOf(line);
}

}  // namespace

WebhookTarget::WebhookTarget(WebhookUrl url)
    : m_url(std::move(url)), m_tls(asio::ssl::context::tls_client) {
    m_tls.set_default_verify_paths();
    m_tls.set_verify_mode(asio::ssl::verify_peer);
}

std::string WebhookTarget::request(const std::string& json) const {
    std::string host =
        m_url.host.find(':') != std::string::npos ? "[" + m_url.host + "]" : m_url.host;
    if (m_url.port != (m_url.https ? 443 : 80)) host += ":" + std::to_string(m_url.port);
    return "POST " + m_url.target + " HTTP/1.1\r\nHost: " + host +
           "\r\nUser-Agent: vantrel\r\nContent-Type: application/json\r\nContent-Length: " +
           std::to_string(json.size()) + "\r\nConnection: close\r\n\r\n" + json;
}

bool WebhookTarget::deliver(const std::string& json, std::chrono::milliseconds timeout,
                            std::string& why) {
    asio::io_context io;
    {
        std::lock_guard lock(m_mutex);
        if (m_aborted) {
            why = "stopped";
            return false;
        }
        m_running = &io;
    }
    tcp::resolver resolver(io);
    asio::ssl::stream<tcp::socket> stream(io, m_tls);
    tcp::socket& socket = stream.next_layer();
    bool timedOut = false;
    asio::steady_timer deadline(io, timeout);
    deadline.async_wait([&](const std::error_code& error) {
        if (error) return;
        timedOut = true;
        resolver.cancel();
        std::error_code ignored;
        socket.close(ignored);
    });
    Outcome outcome;
    const std::string message = request(json);
    auto work = [&]() -> asio::awaitable<void> {
        auto& ec = outcome.error;
        const auto endpoints = co_await resolver.async_resolve(
            m_url.host, std::to_string(m_url.port), asio::redirect_error(asio::use_awaitable, ec));
        if (ec) co_return;
        co_await asio::async_connect(socket, endpoints,
                                     asio::redirect_error(asio::use_awaitable, ec));
        if (ec) co_return;
        if (!m_url.https) {
            co_await exchange(socket, message, outcome);
            co_return;
        }
        // Server name for the handshake, and the certificate must name that host.
        SSL_set_tlsext_host_name(stream.native_handle(), m_url.host.c_str());
        stream.set_verify_callback(asio::ssl::host_name_verification(m_url.host));
        co_await stream.async_handshake(asio::ssl::stream_base::client,
                                        asio::redirect_error(asio::use_awaitable, ec));
        if (ec) co_return;
        co_await exchange(stream, message, outcome);
    };
    asio::co_spawn(io, work, [&](std::exception_ptr failure) {
        if (failure && !outcome.error) outcome.error = asio::error::fault;
        deadline.cancel();
    });
    io.run();
    {
        std::lock_guard lock(m_mutex);
        m_running = nullptr;
        if (m_aborted) {
            why = "stopped";
            return false;
        }
    }
    if (timedOut) {
        why = "no answer within " + std::to_string(timeout.count()) + " ms";
        return false;
    }
    if (outcome.error) {
        why = outcome.error.message();
        return false;
    }
    if (outcome.status < 200 || outcome.status > 299) {
        why = outcome.status == 0 ? "not an HTTP answer" : "HTTP " + std::to_string(outcome.status);
        return false;
    }
    return true;
}

void WebhookTarget::abort() {
    std::lock_guard lock(m_mutex);
    m_aborted = true;
    if (m_running) m_running->stop();
}

}  // namespace alerts
