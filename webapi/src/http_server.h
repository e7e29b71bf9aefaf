// The HTTP server of the API on Boost.Beast: its own io_context and thread, bounded
// connections, request size and read times, and event streams fed from any thread.
#pragma once

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "webapi/web_api.h"

namespace webapi {

namespace beast = boost::beast;
namespace http = boost::beast::http;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

// What becomes of a request: a response, or (eventStream) the start of an event stream.
struct Answer {
    Answer(Response response, bool eventStream = false)
        : response(std::move(response)), eventStream(eventStream) {}
    Response response;
    bool eventStream = false;
    // An event stream's owner, for endStreams() (empty: none), and how long it may last (none:
    // until its client goes or it falls too far behind).
    std::string streamOwner;
    std::optional<std::chrono::steady_clock::duration> streamLife;
};

class ReplyHandle;
// Answers one request, once, from any thread.
using Reply = std::shared_ptr<ReplyHandle>;
void answer(const Reply& reply, Answer answer);

// Called on the server's thread for every complete request; answers now or later.
using RequestHandler = std::function<void(Request&& request, const std::string& peer, Reply)>;

class HttpServer {
public:
    HttpServer(ServerLimits limits, RequestHandler handler);
    ~HttpServer();  // stop()
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Certificate chain and key (PEM) of HTTPS; both empty: plain HTTP.
    struct TlsFiles {
        std::string certFile;
        std::string keyFile;
    };
    // Listens on `address`:`port` (0: any free port) and starts the thread. False with
    // `problem` when the address is not valid, cannot be bound, or the TLS files cannot be
    // used.
    bool start(const std::string& address, std::uint16_t port, std::string& problem,
               const TlsFiles& tls = {});
    std::uint16_t port() const { return m_port; }
    // Closes every connection and ends the thread. Safe to call twice.
    void stop();

    // Queues `text` on every event stream; from any thread. A text with the `key` of one a
    // stream has not written yet replaces it there (the newest state of a device wins).
    void broadcast(std::string key, std::string text);
    bool hasStreams() const { return m_streams->load() > 0; }
    // Ends the event streams of `owner`; from any thread.
    void endStreams(std::string owner);
    // Answers written so far by status; on the server's thread.
    std::map<int, std::uint64_t> answersByStatus() const;
    // Runs `task` on the server's thread.
    void post(std::function<void()> task);
    // Runs `task` on the server's thread after `delay` (not at all once stopped).
    void postAfter(std::chrono::milliseconds delay, std::function<void()> task);

    // What the connections share (http_server.cpp).
    struct State;

private:
    std::shared_ptr<boost::asio::io_context> m_io;
    std::shared_ptr<State> m_state;
    std::shared_ptr<std::atomic<int>> m_streams;
    std::thread m_thread;
    std::uint16_t m_port = 0;
};

// A JSON response: `status`, `body`, and the request's keep-alive and version.
Response jsonResponse(const Request& request, http::status status, std::string body);
// {"error":"text"}.
Response errorResponse(const Request& request, http::status status, const std::string& text);

}  // namespace webapi
