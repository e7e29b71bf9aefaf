// One io_context and thread; every connection a Session owned by its pending operations, with
// one write at a time; other threads only post to it.
#include "http_server.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/ssl.hpp>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace webapi {

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;
using ErrorCode = boost::system::error_code;

namespace {
constexpr std::size_t kHeaderBytes = 16 * 1024;
// An event stream's socket keeps this much unsent (the kernel doubles it). Left to itself the
// kernel lets a stream whose client does not read hold megabytes before a write waits, so
// the stream's backlog would never fill and its memory would stay taken.
constexpr int kStreamSendBuffer = 64 * 1024;
// Unsent bytes in a stream's socket from which its client counts as not keeping up.
constexpr int kClientBehindBytes = 16 * 1024;
// Events a stream may hold while the server's own thread is behind (a device's count once).
constexpr std::size_t kMostPending = 16384;
}  // namespace

// What the server and the replies see of a connection, plain or TLS.
class SessionBase {
public:
    virtual ~SessionBase() = default;
    virtual void close() = 0;
    // The owner an event stream was started for (empty: none).
    virtual const std::string& streamOwner() const = 0;
    virtual void answer(Answer answer) = 0;
    // Queues an event on this stream; a stream too far behind is dropped, the engine never
    // waits for it.
    virtual void push(const std::string& key, const std::string& text) = 0;
    // Its request will not be answered (the engine stopped first): the connection ends.
    virtual void abandon() = 0;
};

using TlsStream = beast::ssl_stream<beast::tcp_stream>;

struct HttpServer::State {
    State(asio::io_context& io, ServerLimits limits, RequestHandler handler,
          std::shared_ptr<std::atomic<int>> streamCount)
        : acceptor(io),
          retry(io),
          limits(limits),
          handler(std::move(handler)),
          streamCount(std::move(streamCount)) {}
    tcp::acceptor acceptor;
    asio::steady_timer retry;  // an accept that failed (no descriptor left) is retried later
    ServerLimits limits;
    RequestHandler handler;
    int connections = 0;
    std::map<int, std::uint64_t> answers;  // by status
    std::unordered_set<SessionBase*> sessions;
    std::unordered_set<SessionBase*> streams;
    std::shared_ptr<std::atomic<int>> streamCount;
    std::unique_ptr<asio::ssl::context> tls;  // HTTPS when set
    // Sessions waiting for their answer keep themselves here, not in what the answer's
    // sender holds: nothing outside the server's thread then owns a socket, and stop()
    // lets go of them all.
    std::unordered_map<SessionBase*, std::shared_ptr<SessionBase>> awaiting;
    std::weak_ptr<asio::io_context> io;
};

// One connection over `Stream`: beast::tcp_stream, or TlsStream over it.
template <typename Stream>
class Session : public SessionBase, public std::enable_shared_from_this<Session<Stream>> {
public:
    using State = HttpServer::State;

    // `tls`: the TLS stream's context (none for a plain one).
    template <typename... Tls>
    Session(std::shared_ptr<State> state, tcp::socket socket, Tls&... tls)
        : m_stream(std::move(socket), tls...),
          m_idle(m_stream.get_executor()),
          m_streamEnd(m_stream.get_executor()),
          m_state(std::move(state)) {
        ErrorCode ec;
        const auto peer = lowest().socket().remote_endpoint(ec);
        if (!ec) m_peer = peer.address().to_string();
        ++m_state->connections;
        m_state->sessions.insert(this);
    }
    ~Session() {
        m_state->sessions.erase(this);
        if (m_state->streams.erase(this) > 0) --*m_state->streamCount;
        --m_state->connections;
    }

    void start() {
        if constexpr (std::is_same_v<Stream, TlsStream>) {
            lowest().expires_after(m_state->limits.headerTime);
            m_stream.async_handshake(asio::ssl::stream_base::server,
                                     [self = this->shared_from_this()](ErrorCode ec) {
                                         if (ec) return self->close();
                                         self->readHeader();
                                     });
        } else {
            readHeader();
        }
    }

    void close() override {
        ErrorCode ec;
        m_idle.cancel();
        m_streamEnd.cancel();
        lowest().socket().shutdown(tcp::socket::shutdown_both, ec);
        lowest().socket().close(ec);
    }

    void answer(Answer answer) override {
        m_state->awaiting.erase(this);  // the caller holds this session for the call
        if (answer.eventStream) {
            startStream(std::move(answer));
        } else {
            write(std::move(answer.response));
        }
    }

    void abandon() override {
        close();
        m_state->awaiting.erase(this);
    }

    void push(const std::string& key, const std::string& text) override {
        if (!key.empty()) {
            if (const auto it = m_pendingByKey.find(key); it != m_pendingByKey.end()) {
                *it->second = text;
                return;
            }
        }
        // Past the backlog the stream is dropped when its client is what holds it up. When
        // the client takes all it is sent, the server's own thread is behind (a burst queued
        // before the stream's last write completed); the stream waits, up to a larger bound.
        const std::size_t backlog = m_state->limits.streamBacklog;
        if (m_pending.size() >= backlog &&
            (clientBehind() || m_pending.size() >= std::max(4 * backlog, kMostPending)))
            return drop();
        m_pending.push_back(Pending{key, text});
        if (!key.empty()) m_pendingByKey[key] = &m_pending.back().text;
        if (!m_writing) writeNext();
    }

    const std::string& streamOwner() const override { return m_owner; }

private:
    beast::tcp_stream& lowest() { return beast::get_lowest_layer(m_stream); }

    // The connection holds bytes its client has not taken.
    bool clientBehind() {
        int unsent = 0;
        return ::ioctl(lowest().socket().native_handle(), SIOCOUTQ, &unsent) != 0 ||
               unsent >= kClientBehindBytes;
    }

    // A stream too far behind: what its client has not read is of no use any more, so the
    // connection is reset and the kernel lets go of the unsent bytes at once.
    void drop() {
        ErrorCode ec;
        lowest().socket().set_option(asio::socket_base::linger(true, 0), ec);
        close();
    }

    struct Pending {
        std::string key;
        std::string text;
    };

    void readHeader() {
        m_parser.emplace();
        m_parser->body_limit(m_state->limits.bodyBytes);
        m_parser->header_limit(kHeaderBytes);
        lowest().expires_after(m_state->limits.headerTime);
        http::async_read_header(
            m_stream, m_buffer, *m_parser,
            [self = this->shared_from_this()](ErrorCode ec, std::size_t) { self->onHeader(ec); });
    }

    void onHeader(ErrorCode ec) {
        if (ec) return refuse(ec);
        const auto& header = m_parser->get();
        if (beast::iequals(header[http::field::expect], "100-continue")) {
            // The client waits for this before it sends the body.
            auto go = std::make_shared<http::response<http::empty_body>>(http::status::continue_,
                                                                         header.version());
            http::async_write(m_stream, *go,
                              [self = this->shared_from_this(), go](ErrorCode e, std::size_t) {
                                  if (e) return self->close();
                                  self->readBody();
                              });
            return;
        }
        readBody();
    }

    void readBody() {
        http::async_read(
            m_stream, m_buffer, *m_parser,
            [self = this->shared_from_this()](ErrorCode ec, std::size_t) { self->onRequest(ec); });
    }

    void onRequest(ErrorCode ec) {
        if (ec) return refuse(ec);
        lowest().expires_never();
        Request request = m_parser->release();
        m_keepAlive = request.keep_alive();
        m_state->awaiting[this] = this->shared_from_this();
        auto reply = std::make_shared<ReplyHandle>(m_state->io, this->weak_from_this());
        m_state->handler(std::move(request), m_peer, std::move(reply));
    }

    // A request that could not be read: too large (413), malformed (400), or nothing more
    // to say (closed, timed out).
    void refuse(ErrorCode ec) {
        if (ec == http::error::body_limit || ec == http::error::header_limit) {
            return writeFinal(ec == http::error::body_limit
                                  ? http::status::payload_too_large
                                  : http::status::request_header_fields_too_large,
                              "request too large");
        }
        if (ec.category() == make_error_code(http::error::bad_method).category() &&
            ec != http::error::end_of_stream && ec != http::error::partial_message) {
            return writeFinal(http::status::bad_request, "bad request");
        }
        close();
    }

    void writeFinal(http::status status, const std::string& text) {
        Request request;
        request.version(11);
        request.keep_alive(false);
        write(errorResponse(request, status, text));
    }

    void write(Response response) {
        m_response = std::make_shared<Response>(std::move(response));
        if (!m_keepAlive) m_response->keep_alive(false);
        m_response->prepare_payload();
        ++m_state->answers[static_cast<int>(m_response->result_int())];
        lowest().expires_after(m_state->limits.headerTime);
        http::async_write(
            m_stream, *m_response,
            [self = this->shared_from_this()](ErrorCode ec, std::size_t) { self->onWritten(ec); });
    }

    void onWritten(ErrorCode ec) {
        const bool keep = m_response->keep_alive();
        m_response.reset();
        if (ec) return close();
        if (!keep) return drainAndClose();
        waitForRequest();
    }

    // Ends the connection after the last answer: our side first, then whatever the client
    // still sends is read and dropped until it closes (or the header time passes), so it
    // reads the answer instead of a reset.
    void drainAndClose() {
        ErrorCode ec;
        lowest().socket().shutdown(tcp::socket::shutdown_send, ec);
        lowest().expires_after(m_state->limits.headerTime);
        m_buffer.consume(m_buffer.size());
        m_stream.async_read_some(m_buffer.prepare(4096),
                                 [self = this->shared_from_this()](ErrorCode e, std::size_t) {
                                     if (e) return self->close();
                                     self->drainAndClose();
                                 });
    }

    // A kept-alive connection waits at most the idle time for its next request.
    void waitForRequest() {
        m_keepAlive = false;
        if (m_buffer.size() > 0) return readHeader();
        lowest().expires_never();
        m_idle.expires_after(m_state->limits.idleTime);
        m_idle.async_wait([self = this->shared_from_this()](ErrorCode ec) {
            if (!ec) self->close();
        });
        lowest().socket().async_wait(tcp::socket::wait_read,
                                     [self = this->shared_from_this()](ErrorCode ec) {
                                         self->m_idle.cancel();
                                         if (ec) return self->close();
                                         self->readHeader();
                                     });
    }

    void startStream(Answer answer) {
        const Response& response = answer.response;
        m_owner = std::move(answer.streamOwner);
        ErrorCode ignored;
        lowest().socket().set_option(asio::socket_base::send_buffer_size(kStreamSendBuffer),
                                     ignored);
        auto header = std::make_shared<http::response<http::empty_body>>(response.result(),
                                                                         response.version());
        for (const auto& field : response) header->set(field.name_string(), field.value());
        header->set(http::field::content_type, "text/event-stream");
        header->set(http::field::cache_control, "no-cache");
        header->keep_alive(false);
        ++m_state->answers[static_cast<int>(header->result_int())];
        auto serializer = std::make_shared<http::response_serializer<http::empty_body>>(*header);
        lowest().expires_after(m_state->limits.headerTime);
        http::async_write_header(
            m_stream, *serializer,
            [self = this->shared_from_this(), header, serializer, life = answer.streamLife](
                ErrorCode ec, std::size_t) {
                if (ec) return self->close();
                self->lowest().expires_never();
                if (life) {
                    self->m_streamEnd.expires_after(*life);
                    self->m_streamEnd.async_wait([self](ErrorCode e) {
                        if (!e) self->close();
                    });
                }
                self->m_state->streams.insert(static_cast<SessionBase*>(self.get()));
                ++*self->m_state->streamCount;
                self->watchForClose();
                if (!self->m_pending.empty() && !self->m_writing) self->writeNext();
            });
    }

    // A stream's client says nothing more; reading tells when it goes.
    void watchForClose() {
        m_buffer.consume(m_buffer.size());
        m_stream.async_read_some(m_buffer.prepare(512),
                                 [self = this->shared_from_this()](ErrorCode ec, std::size_t) {
                                     if (ec) return self->close();
                                     self->watchForClose();
                                 });
    }

    void writeNext() {
        if (m_pending.empty()) {
            m_writing = false;
            return;
        }
        // Everything waiting leaves in one write.
        m_writing = true;
        m_current = std::move(m_pending.front().text);  // a large event is not copied
        for (auto it = std::next(m_pending.begin()); it != m_pending.end(); ++it)
            m_current += it->text;
        m_pending.clear();
        m_pendingByKey.clear();
        lowest().expires_after(m_state->limits.idleTime);
        asio::async_write(m_stream, asio::buffer(m_current),
                          [self = this->shared_from_this()](ErrorCode ec, std::size_t) {
                              if (ec) {
                                  self->m_writing = false;
                                  return self->close();
                              }
                              self->writeNext();
                          });
    }

    Stream m_stream;
    asio::steady_timer m_idle;
    asio::steady_timer m_streamEnd;  // an event stream's end, when it has one
    beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::string_body>> m_parser;
    std::shared_ptr<Response> m_response;
    std::shared_ptr<State> m_state;
    std::string m_peer;
    bool m_keepAlive = false;
    // Event stream: texts not yet written, in order; a keyed one can be replaced in place.
    std::deque<Pending> m_pending;
    std::unordered_map<std::string, std::string*> m_pendingByKey;
    std::string m_current;
    bool m_writing = false;
    std::string m_owner;  // the event stream's owner
};

// Names the session a request came on; whatever thread answers posts the answer to the
// server's thread, where the session (if it is still there) writes it. Holds no session and
// no io_context, so it may outlive both.
class ReplyHandle {
public:
    ReplyHandle(std::weak_ptr<asio::io_context> io, std::weak_ptr<SessionBase> session)
        : m_io(std::move(io)), m_session(std::move(session)) {}
    ~ReplyHandle() {
        if (m_answered.exchange(true)) return;
        post([session = m_session] {
            if (auto s = session.lock()) s->abandon();
        });
    }
    void answer(Answer answer) {
        if (m_answered.exchange(true)) return;
        post([session = m_session, answer = std::move(answer)]() mutable {
            if (auto s = session.lock()) s->answer(std::move(answer));
        });
    }

private:
    template <typename Task>
    void post(Task&& task) {
        if (const auto io = m_io.lock()) asio::post(*io, std::forward<Task>(task));
    }

    std::weak_ptr<asio::io_context> m_io;
    std::weak_ptr<SessionBase> m_session;
    std::atomic<bool> m_answered{false};
};

void answer(const Reply& reply, Answer answer) {
    reply->answer(std::move(answer));
}

namespace {

void accept(const std::shared_ptr<HttpServer::State>& state) {
    state->acceptor.async_accept([state](ErrorCode ec, tcp::socket socket) {
        if (!state->acceptor.is_open()) return;
        if (ec) {
            state->retry.expires_after(std::chrono::milliseconds(100));
            state->retry.async_wait([state](ErrorCode e) {
                if (!e) accept(state);
            });
            return;
        }
        if (state->connections >= state->limits.connections) {
            ErrorCode ignored;
            socket.close(ignored);  // over the limit: refused at once
        } else {
            if (state->tls) {
                std::make_shared<Session<TlsStream>>(state, std::move(socket), *state->tls)
                    ->start();
            } else {
                std::make_shared<Session<beast::tcp_stream>>(state, std::move(socket))->start();
            }
        }
        accept(state);
    });
}

}  // namespace

HttpServer::HttpServer(ServerLimits limits, RequestHandler handler)
    : m_io(std::make_shared<asio::io_context>(1)),
      m_streams(std::make_shared<std::atomic<int>>(0)) {
    m_state = std::make_shared<State>(*m_io, limits, std::move(handler), m_streams);
    m_state->io = m_io;
}

HttpServer::~HttpServer() {
    stop();
}

bool HttpServer::start(const std::string& address, std::uint16_t port, std::string& problem,
                       const TlsFiles& tls) {
    ErrorCode ec;
    if (!tls.certFile.empty() || !tls.keyFile.empty()) {
        auto context = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_server);
        context->set_options(asio::ssl::context::default_workarounds |
                             asio::ssl::context::no_sslv2 | asio::ssl::context::no_sslv3 |
                             asio::ssl::context::no_tlsv1 | asio::ssl::context::no_tlsv1_1);
        if (context->use_certificate_chain_file(tls.certFile, ec) ||
            context->use_private_key_file(tls.keyFile, asio::ssl::context::pem, ec)) {
            problem =
                "certificate " + tls.certFile + " or key " + tls.keyFile + ": " + ec.message();
            return false;
        }
        m_state->tls = std::move(context);
    }
    const auto ip = asio::ip::make_address(address, ec);
    if (ec) {
        problem = "invalid address '" + address + "'";
        return false;
    }
    const tcp::endpoint endpoint(ip, port);
    tcp::acceptor& acceptor = m_state->acceptor;
    if (acceptor.open(endpoint.protocol(), ec) ||
        acceptor.set_option(asio::socket_base::reuse_address(true), ec) ||
        acceptor.bind(endpoint, ec) ||
        acceptor.listen(asio::socket_base::max_listen_connections, ec)) {
        problem = ec.message();
        acceptor.close(ec);
        return false;
    }
    m_port = acceptor.local_endpoint(ec).port();
    accept(m_state);
    m_thread = std::thread([io = m_io] { io->run(); });
    return true;
}

void HttpServer::stop() {
    if (!m_thread.joinable()) return;
    asio::post(*m_io, [state = m_state, io = m_io.get()] {
        ErrorCode ec;
        state->acceptor.close(ec);
        state->retry.cancel();
        const std::vector<SessionBase*> open(state->sessions.begin(), state->sessions.end());
        for (SessionBase* session : open) session->close();
        state->awaiting.clear();
        // Whatever is still pending (timers, a session's last completions) is dropped with
        // the io_context.
        io->stop();
    });
    m_thread.join();
}

void HttpServer::broadcast(std::string key, std::string text) {
    if (!hasStreams()) return;
    asio::post(*m_io, [state = m_state, key = std::move(key), text = std::move(text)] {
        const std::vector<SessionBase*> streams(state->streams.begin(), state->streams.end());
        for (SessionBase* stream : streams) stream->push(key, text);
    });
}

void HttpServer::endStreams(std::string owner) {
    if (owner.empty()) return;
    asio::post(*m_io, [state = m_state, owner = std::move(owner)] {
        // Every connection, not only the streams: one whose header is still being written
        // has its owner already.
        std::vector<SessionBase*> ending;
        for (SessionBase* session : state->sessions) {
            if (session->streamOwner() == owner) ending.push_back(session);
        }
        for (SessionBase* session : ending) session->close();
    });
}

std::map<int, std::uint64_t> HttpServer::answersByStatus() const {
    return m_state->answers;
}

void HttpServer::post(std::function<void()> task) {
    asio::post(*m_io, std::move(task));
}

void HttpServer::postAfter(std::chrono::milliseconds delay, std::function<void()> task) {
    auto timer = std::make_shared<asio::steady_timer>(*m_io, delay);
    timer->async_wait([timer, task = std::move(task)](ErrorCode ec) {
        if (!ec) task();
    });
}

Response jsonResponse(const Request& request, http::status status, std::string body) {
    Response response(status, request.version());
    response.set(http::field::content_type, "application/json");
    response.set(http::field::cache_control, "no-store");
    response.keep_alive(request.keep_alive());
    response.body() = std::move(body);
    return response;
}

Response errorResponse(const Request& request, http::status status, const std::string& text) {
    return jsonResponse(request, status, nlohmann::json{{"error", text}}.dump());
}

}  // namespace webapi
