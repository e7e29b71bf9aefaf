// The server's limits on real loopback connections, with its times shortened: request size,
// header and idle times, the connection cap, and event streams that coalesce and drop.
#include "http_server.h"

#include <gtest/gtest.h>

#include <boost/beast/ssl.hpp>
#include <cstdlib>
#include <future>
#include <memory>

#include "http_test_client.h"
#include "testkit/wait_for.h"

namespace {

using namespace std::chrono_literals;
using webapi::Answer;
using webapi::HttpServer;
using webtest::Client;

constexpr auto kLong = 10s;  // bounds a wait that should end much sooner

// Answers every request with its body's size; /events starts an event stream.
struct Server {
    explicit Server(webapi::ServerLimits limits = {}, const HttpServer::TlsFiles& tls = {})
        : server(limits, [](webapi::Request&& request, const std::string&, webapi::Reply reply) {
              const bool stream = request.target() == "/events";
              webapi::answer(reply,
                             Answer{webapi::jsonResponse(request, webapi::http::status::ok,
                                                         std::to_string(request.body().size())),
                                    stream});
          }) {
        std::string problem;
        started = server.start("127.0.0.1", 0, problem, tls);
    }
    HttpServer server;
    bool started = false;
};

webapi::ServerLimits quick() {
    webapi::ServerLimits limits;
    limits.headerTime = 150ms;
    limits.idleTime = 150ms;
    return limits;
}

TEST(HttpServer, ABodyOver64KiBIs413AndOneAtTheLimitIsServed) {
    Server s;
    ASSERT_TRUE(s.started);
    Client client(s.server.port());
    EXPECT_EQ(client.send(webtest::http::verb::put, "/x", std::string(64 * 1024, 'a')).status, 200);
    EXPECT_EQ(client.send(webtest::http::verb::put, "/x", std::string(64 * 1024 + 1, 'a')).status,
              413);
}

TEST(HttpServer, AHeaderNotDoneInTimeClosesTheConnection) {
    Server s(quick());
    ASSERT_TRUE(s.started);
    Client client(s.server.port());
    boost::asio::write(client.socket(),
                       boost::asio::buffer(std::string("GET / HTTP/1.1\r\nHost: x\r\n")));
    EXPECT_TRUE(client.closedWithin(kLong));
}

TEST(HttpServer, AnIdleKeptAliveConnectionIsClosed) {
    Server s(quick());
    ASSERT_TRUE(s.started);
    Client client(s.server.port());
    ASSERT_EQ(client.send(webtest::http::verb::get, "/x").status, 200);
    EXPECT_TRUE(client.closedWithin(kLong));
}

TEST(HttpServer, Connection257IsClosedAtOnceWhile256StayOpen) {
    Server s;
    ASSERT_TRUE(s.started);
    std::vector<std::unique_ptr<Client>> open;
    for (int i = 0; i < 256; ++i) {
        open.push_back(std::make_unique<Client>(s.server.port()));
        ASSERT_TRUE(open.back()->connected());
    }
    // The last of them is served, so all 256 were taken before the next comes.
    ASSERT_EQ(open.back()->send(webtest::http::verb::get, "/x").status, 200);
    Client refused(s.server.port());
    EXPECT_TRUE(refused.closedWithin(kLong));
    EXPECT_EQ(open.front()->send(webtest::http::verb::get, "/x").status, 200);
}

// A stream whose client stops reading: a huge event fills the socket, then a burst of one
// key waits as its newest text only, and more than the backlog drops the stream.
TEST(HttpServer, AStreamBehindKeepsTheNewestOfAKeyAndIsDroppedPastItsBacklog) {
    webapi::ServerLimits limits;
    limits.streamBacklog = 8;
    Server s(limits);
    ASSERT_TRUE(s.started);
    Client client(s.server.port());
    ASSERT_EQ(client.openStream("/events").rfind("HTTP/1.1 200", 0), 0u);
    ASSERT_TRUE(testkit::waitFor([&] { return s.server.hasStreams(); }, kLong));

    s.server.broadcast({}, std::string(32 << 20, '.') + "\n");
    for (int i = 0; i < 100; ++i) s.server.broadcast("d1", "v" + std::to_string(i) + ";");
    for (int i = 0; i < 6; ++i) s.server.broadcast({}, "u;");
    const std::string text = client.readUntil(
        [](const std::string& t) {
            return t.size() > (32u << 20) && t.find("u;u;u;u;u;u;") != std::string::npos;
        },
        kLong);
    EXPECT_EQ(text.find("v0;"), std::string::npos);
    EXPECT_NE(text.find("v99;"), std::string::npos);

    // Once the huge event fills the connection, the next events beyond the backlog drop it.
    s.server.broadcast({}, std::string(32 << 20, '.') + "\n");
    EXPECT_TRUE(testkit::waitFor(
        [&] {
            s.server.broadcast({}, "u;");
            return !s.server.hasStreams();
        },
        kLong));
}

// A burst of more events than the backlog, queued while the server's thread is busy, to a
// client that takes everything its connection brings: the server is behind, not the client,
// and the stream gets every event.
TEST(HttpServer, AStreamWhoseClientKeepsUpOutlastsABurstLargerThanItsBacklog) {
    webapi::ServerLimits limits;
    limits.streamBacklog = 8;
    Server s(limits);
    ASSERT_TRUE(s.started);
    Client client(s.server.port());
    ASSERT_EQ(client.openStream("/events").rfind("HTTP/1.1 200", 0), 0u);
    ASSERT_TRUE(testkit::waitFor([&] { return s.server.hasStreams(); }, kLong));

    std::promise<void> release;
    s.server.post([busy = release.get_future().share()] { busy.wait(); });
    for (int i = 0; i < 100; ++i)
        s.server.broadcast("d" + std::to_string(i), std::to_string(i) + ";");
    release.set_value();
    bool closed = false;
    const std::string text = client.readUntil(
        [](const std::string& t) { return t.find("99;") != std::string::npos; }, kLong, &closed);
    EXPECT_NE(text.find("0;1;2;3;4;5;6;7;8;9;10;"), std::string::npos) << text;
    EXPECT_NE(text.find("99;"), std::string::npos) << text;
    EXPECT_FALSE(closed);
    EXPECT_TRUE(s.server.hasStreams());
}

// With a certificate the server speaks TLS only: a client that trusts that certificate is
// served, a request in clear is not.
TEST(HttpServer, ServesHttpsWithItsCertificateAndNothingInClear) {
    testkit::TempDir dir;
    const std::string cert = dir.file("cert.pem");
    const std::string key = dir.file("key.pem");
    ASSERT_TRUE(webtest::makeCertificate(cert, key));
    Server s({}, {cert, key});
    ASSERT_TRUE(s.started);

    namespace ssl = boost::asio::ssl;
    boost::asio::io_context io;
    ssl::context trust(ssl::context::tls_client);
    trust.load_verify_file(cert);
    boost::beast::ssl_stream<boost::beast::tcp_stream> tls(io, trust);
    tls.set_verify_mode(ssl::verify_peer);
    boost::beast::get_lowest_layer(tls).connect(
        {boost::asio::ip::make_address("127.0.0.1"), s.server.port()});
    boost::system::error_code ec;
    tls.handshake(ssl::stream_base::client, ec);
    ASSERT_FALSE(ec) << ec.message();
    webtest::http::request<webtest::http::string_body> request(webtest::http::verb::put, "/x", 11);
    request.body() = "abc";
    request.prepare_payload();
    webtest::http::write(tls, request);
    boost::beast::flat_buffer buffer;
    webtest::http::response<webtest::http::string_body> response;
    webtest::http::read(tls, buffer, response);
    EXPECT_EQ(response.result_int(), 200u);
    EXPECT_EQ(response.body(), "3");

    Client clear(s.server.port());
    EXPECT_EQ(clear.send(webtest::http::verb::get, "/x").status, 0);
}

}  // namespace
