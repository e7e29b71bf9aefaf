// The HTTP API of the real `vantrel --headless` in its own process, with users made by its own
// command line and simulated devices on loopback: logins, roles, CSRF, the login limit, an
// outlet switch reaching its device, a group run to its end, the event stream.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <boost/beast/ssl.hpp>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>

#include "http_test_client.h"
#include "protocol/frame_types.h"
#include "simtcp/sim_fleet.h"
#include "vantrel_process.h"

namespace {

using namespace proctest;
using namespace std::chrono_literals;
using nlohmann::json;
using webtest::Client;
using webtest::Headers;
namespace http = webtest::http;

// `vantrel ARGS` with `input` on its standard input: the exit status, or -1. Its standard
// output goes to `output` when given.
int runProgram(const std::vector<std::string>& args, const std::string& input,
               const char* output = "/dev/null") {
    int in[2];
    if (::pipe(in) != 0) return -1;
    std::vector<char*> argv{const_cast<char*>(VANTREL_PROGRAM)};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addopen(&actions, 1, output, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    if (spawned == 0 && !input.empty()) {
        [[maybe_unused]] const auto n = ::write(in[1], input.data(), input.size());
    }
    ::close(in[1]);
    int status = 0;
    if (spawned != 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

class WebApiProcess : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s = new Shared;
        const std::string data = "--data-dir=" + s->folder.path().string();
        ASSERT_EQ(runProgram({data, "--add-user=op", "--role=operator"}, "op-pass\n"), 0);
        ASSERT_EQ(runProgram({data, "--add-user=eve", "--role=viewer"}, "eve-pass\n"), 0);
        const fs::path printed = s->folder.path() / "token";
        ASSERT_EQ(runProgram({data, "--add-token=scrape", "--role=viewer"}, "", printed.c_str()),
                  0);
        s->token = slurp(printed);
        while (!s->token.empty() && s->token.back() == '\n') s->token.pop_back();
        // A serial step times out after 1 s.
        std::ofstream(s->folder.path() / "Vantrel.ini") << "[Console]\nStepTimeoutSec=1\n";
        s->webPort = static_cast<std::uint16_t>(freePort());
        s->console = std::make_unique<Console>(
            s->folder, s->folder.path().string(), s->linkPort,
            std::vector<std::string>{"--headless", data,
                                     "--web-port=" + std::to_string(s->webPort)},
            true);
        ASSERT_TRUE(s->console->started());
        ASSERT_TRUE(testkit::waitFor(
            [] { return Client(s->webPort).send(http::verb::get, "/healthz").status == 200; }, 30s))
            << s->console->errors();
        s->fleet = std::make_unique<simtcp::SimFleet>("127.0.0.1", s->linkPort);
        for (const std::uint16_t id : {1001, 1002}) {
            simtcp::DeviceConfig config;
            config.id = id;
            config.name = "R" + std::to_string(id);
            config.sourceAddress = "127.0.0." + std::to_string(id - 999);
            config.group = 2;
            config.number = static_cast<std::uint8_t>(id - 1000);
            s->fleet->add(config);
        }
        // A serial device of group 3 that never reports its step done.
        simtcp::DeviceConfig silent;
        silent.id = 1003;
        silent.name = "R1003";
        silent.sourceAddress = "127.0.0.4";
        silent.group = 3;
        silent.mode = 1;
        silent.number = 1;
        simtcp::Knobs knobs;
        knobs.reportStepDone = false;
        s->fleet->add(silent, knobs);
        s->fleet->start();
    }
    static void TearDownTestSuite() {
        delete s;
        s = nullptr;
    }

    // A session of `user`: its cookie and CSRF token as headers for the next calls.
    static Headers login(const std::string& user, const std::string& password, Client& client) {
        const auto reply = client.send(http::verb::post, "/api/login",
                                       json{{"user", user}, {"password", password}}.dump());
        EXPECT_EQ(reply.status, 200) << reply.body;
        if (reply.status != 200) return {};
        return {{"Cookie", reply.cookie()}, {"X-CSRF-Token", json::parse(reply.body)["csrf"]}};
    }

    static json devices(Client& client, const Headers& who) {
        const auto reply = client.send(http::verb::get, "/api/devices", {}, who);
        return reply.status == 200 ? json::parse(reply.body) : json::array();
    }

    struct Shared {
        testkit::TempDir folder;
        std::uint16_t linkPort = static_cast<std::uint16_t>(freePort());
        std::uint16_t webPort = 0;
        std::string token;  // a viewer's, as --add-token printed it
        std::unique_ptr<Console> console;
        std::unique_ptr<simtcp::SimFleet> fleet;
    };
    static Shared* s;
};
WebApiProcess::Shared* WebApiProcess::s = nullptr;

TEST_F(WebApiProcess, UserCommandsKeepHashesPrivateAndRefuseBadInputWithStatus2) {
    const std::string data = "--data-dir=" + s->folder.path().string();
    struct stat st {};
    ASSERT_EQ(::stat((s->folder.path() / "Users.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(slurp(s->folder.path() / "Users.ini").find("op-pass"), std::string::npos);
    const struct {
        std::vector<std::string> args;
        std::string input;
        int status;
    } cases[] = {
        {{data, "--add-user=x", "--role=boss"}, "pw\n", 2},
        {{data, "--add-user=a b", "--role=viewer"}, "pw\n", 2},
        {{data, "--add-user=x", "--role=viewer"}, "", 2},
        {{data, "--remove-user=nobody"}, "", 2},
        {{data, "--list-users"}, "", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(runProgram(c.args, c.input), c.status) << c.args[1];
}

TEST_F(WebApiProcess, LoginGivesAStrictHttpOnlyCookieAndTheSame401ForAnyWrongPair) {
    Client client(s->webPort);
    EXPECT_EQ(client.send(http::verb::get, "/api/devices").status, 401);
    for (const auto& [user, password] : {std::pair{"op", "nope"}, std::pair{"ghost", "op-pass"}}) {
        const auto wrong = client.send(http::verb::post, "/api/login",
                                       json{{"user", user}, {"password", password}}.dump());
        EXPECT_EQ(wrong.status, 401);
        EXPECT_EQ(wrong.body, R"({"error":"wrong user or password"})");
    }
    const auto ok =
        client.send(http::verb::post, "/api/login", R"({"user":"op","password":"op-pass"})");
    ASSERT_EQ(ok.status, 200);
    EXPECT_EQ(json::parse(ok.body)["role"], "operator");
    EXPECT_NE(ok.setCookie.find("; HttpOnly"), std::string::npos);
    EXPECT_NE(ok.setCookie.find("; SameSite=Strict"), std::string::npos);
    EXPECT_EQ(client.send(http::verb::get, "/api/devices", {}, {{"Cookie", ok.cookie()}}).status,
              200);
}

TEST_F(WebApiProcess, ASwitchNeedsTheCsrfHeaderWithACookieAndTheOperatorRole) {
    Client client(s->webPort);
    const Headers op = login("op", "op-pass", client);
    const Headers eve = login("eve", "eve-pass", client);
    ASSERT_TRUE(testkit::waitFor([&] { return devices(client, op).size() == 3; }, 30s));
    const struct {
        Headers who;
        int status;
    } cases[] = {
        {{op[0]}, 403},  // cookie without its CSRF token
        {{op[0], {"X-CSRF-Token", "0"}}, 403},
        {eve, 403},  // a viewer
        {op, 200},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(
            client.send(http::verb::put, "/api/devices/1001/outlets/2", R"({"on":true})", c.who)
                .status,
            c.status);
    }
}

TEST_F(WebApiProcess, FiveFailedLoginsFromOneAddressGive429ToItAlone) {
    Client client(s->webPort, "127.0.0.9");
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(
            client.send(http::verb::post, "/api/login", R"({"user":"op","password":"x"})").status,
            401);
    }
    EXPECT_EQ(
        client.send(http::verb::post, "/api/login", R"({"user":"op","password":"op-pass"})").status,
        429);
    Client other(s->webPort, "127.0.0.10");
    EXPECT_EQ(
        other.send(http::verb::post, "/api/login", R"({"user":"op","password":"op-pass"})").status,
        200);
}

TEST_F(WebApiProcess, AnOutletSwitchReachesTheDeviceAndItsRowNamesTheUser) {
    Client client(s->webPort);
    const Headers op = login("op", "op-pass", client);
    ASSERT_TRUE(testkit::waitFor([&] { return devices(client, op).size() == 3; }, 30s));
    const auto reply =
        client.send(http::verb::put, "/api/devices/1002/outlets/7", R"({"on":true})", op);
    ASSERT_EQ(reply.status, 200) << reply.body;
    EXPECT_EQ(reply.body, R"({"sent":true})");
    EXPECT_TRUE(s->fleet->device(1).waitFrames(
        [](const std::vector<simtcp::ReceivedFrame>& frames) {
            return std::any_of(frames.begin(), frames.end(), [](const simtcp::ReceivedFrame& f) {
                return f.command() == protocol::NET_CMD_CHANNEL && f.param(0) == 7 &&
                       f.param(1) == 1;
            });
        },
        30s));
    EXPECT_TRUE(testkit::waitFor(
        [&] { return contains(s->console->log(), "设备:R1002开灯:7,用户:op"); }, 30s));
    // The device list read before the switch is not what is read after it.
    EXPECT_TRUE(testkit::waitFor(
        [&] {
            const auto one = client.send(http::verb::get, "/api/devices/1002", {}, op);
            return one.status == 200 && json::parse(one.body)["outlets"][6] == true;
        },
        30s));
    EXPECT_EQ(
        client.send(http::verb::put, "/api/devices/4242/outlets/7", R"({"on":true})", op).status,
        404);
    EXPECT_EQ(
        client.send(http::verb::put, "/api/devices/1002/outlets/17", R"({"on":true})", op).status,
        400);
}

TEST_F(WebApiProcess, AGroupRunIsFollowedToDoneAndItsEventsReachTheStream) {
    Client client(s->webPort);
    const Headers op = login("op", "op-pass", client);
    ASSERT_TRUE(testkit::waitFor([&] { return devices(client, op).size() == 3; }, 30s));
    Client stream(s->webPort);
    ASSERT_EQ(stream.openStream("/api/events", op).rfind("HTTP/1.1 200", 0), 0u);

    const auto started =
        client.send(http::verb::post, "/api/groups/2/runs", R"({"kind":"parallel","on":true})", op);
    ASSERT_EQ(started.status, 202) << started.body;
    const auto run = json::parse(started.body)["run"].get<std::uint64_t>();
    json state;
    EXPECT_TRUE(testkit::waitFor(
        [&] {
            const auto reply =
                client.send(http::verb::get, "/api/runs/" + std::to_string(run), {}, op);
            state = reply.status == 200 ? json::parse(reply.body) : json();
            return state.is_object() && state["state"] == "done";
        },
        30s))
        << state.dump();
    EXPECT_EQ(state["total"], 2);
    EXPECT_EQ(state["devices"], json::array({1001, 1002}));
    const std::string events = stream.readUntil(
        [&](const std::string& t) {
            return t.find(
                       "event: run\ndata: {\"current\":null,\"devices\":[1001,1002],\"done\":2") !=
                       std::string::npos &&
                   t.find("event: device\ndata: ") != std::string::npos;
        },
        30s);
    EXPECT_NE(events.find("\"state\":\"done\""), std::string::npos) << events;
    EXPECT_NE(events.find("event: device\ndata: "), std::string::npos) << events;
    EXPECT_TRUE(testkit::waitFor(
        [&] {
            for (const std::string& row : s->console->log()) {
                if (row.find("平行开") != std::string::npos &&
                    row.find("用户:op") != std::string::npos)
                    return true;
            }
            return false;
        },
        30s));
}

TEST_F(WebApiProcess, ASerialRunWhoseDeviceNeverAnswersEndsTimedOut) {
    Client client(s->webPort);
    const Headers op = login("op", "op-pass", client);
    ASSERT_TRUE(testkit::waitFor([&] { return devices(client, op).size() == 3; }, 30s));
    const auto started =
        client.send(http::verb::post, "/api/groups/3/runs", R"({"kind":"serial","on":true})", op);
    ASSERT_EQ(started.status, 202) << started.body;
    const std::string run =
        "/api/runs/" + std::to_string(json::parse(started.body)["run"].get<int>());
    EXPECT_EQ(
        client.send(http::verb::post, "/api/groups/3/runs", R"({"kind":"serial","on":true})", op)
            .status,
        409);
    json state;
    EXPECT_TRUE(testkit::waitFor(
        [&] {
            const auto reply = client.send(http::verb::get, run, {}, op);
            state = reply.status == 200 ? json::parse(reply.body) : json();
            return state.is_object() && state["state"] != "running";
        },
        30s));
    EXPECT_EQ(state["state"], "timeout") << state.dump();
    EXPECT_EQ(state["done"], 0);
    EXPECT_EQ(client.send(http::verb::delete_, run, {}, op).status, 409);
}

TEST_F(WebApiProcess, MetricsNeedATokenAndCountTheDevicesAndTheAnswers) {
    Client client(s->webPort);
    EXPECT_EQ(client.send(http::verb::get, "/metrics").status, 401);
    EXPECT_EQ(client.send(http::verb::get, "/metrics", {}, {{"Authorization", "Bearer 00"}}).status,
              401);
    const Headers bearer{{"Authorization", "Bearer " + s->token}};
    ASSERT_TRUE(testkit::waitFor([&] { return devices(client, bearer).size() == 3; }, 30s));
    const auto reply = client.send(http::verb::get, "/metrics", {}, bearer);
    ASSERT_EQ(reply.status, 200);
    EXPECT_NE(reply.body.find("\nvantrel_devices_registered 3\n"), std::string::npos) << reply.body;
    EXPECT_NE(reply.body.find("\nvantrel_http_responses_total{status=\"401\"} "), std::string::npos)
        << reply.body;
}

TEST_F(WebApiProcess, TheLogComesNewestFirstInPagesThatGoOnBeforeTheLastRow) {
    Client client(s->webPort);
    const Headers eve = login("eve", "eve-pass", client);
    EXPECT_EQ(client.send(http::verb::get, "/api/log?type=9", {}, eve).status, 400);
    // Eve's login among the newest system rows (others may have come after it).
    std::string seen;
    EXPECT_TRUE(testkit::waitFor(
        [&] {
            const auto reply = client.send(http::verb::get, "/api/log?type=1&limit=50", {}, eve);
            seen = reply.body;
            if (reply.status != 200) return false;
            const json page = json::parse(reply.body);
            for (const json& row : page["rows"]) {
                if (row["type"] != 1) return false;
                if (row["text"] == "网页用户登录:eve,地址:127.0.0.1") return true;
            }
            return false;
        },
        30s))
        << seen;
    const auto newest = client.send(http::verb::get, "/api/log?limit=1", {}, eve);
    ASSERT_EQ(newest.status, 200);
    const json page = json::parse(newest.body);
    ASSERT_EQ(page["rows"].size(), 1u) << newest.body;
    const auto next = page["next"].get<std::int64_t>();
    EXPECT_EQ(next, page["rows"][0]["seq"].get<std::int64_t>());
    const auto older =
        client.send(http::verb::get, "/api/log?limit=2&before=" + std::to_string(next), {}, eve);
    ASSERT_EQ(older.status, 200);
    const json rows = json::parse(older.body)["rows"];
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_LT(rows[0]["seq"].get<std::int64_t>(), next);
    EXPECT_GT(rows[0]["seq"].get<std::int64_t>(), rows[1]["seq"].get<std::int64_t>());

    // The same page as the viewer exports it.
    const auto csv = client.send(http::verb::get,
                                 "/api/log.csv?limit=2&before=" + std::to_string(next), {}, eve);
    ASSERT_EQ(csv.status, 200);
    const std::string first = "\xEF\xBB\xBF序号,日期,时间,类型,运行类型,内容\r\n1," +
                              rows[0]["date"].get<std::string>() + "," +
                              rows[0]["time"].get<std::string>() + ",";
    EXPECT_EQ(csv.body.rfind(first, 0), 0u) << csv.body;
    EXPECT_NE(csv.body.find("\r\n2,"), std::string::npos) << csv.body;
}

// A web port that is taken, a certificate that cannot be used, or half of one: a line on
// standard error and a log row, the console runs on without the API.
TEST(WebApiStart, ATakenPortOrABadCertificateIsToldAndTheConsoleRunsOn) {
    const int taken = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&a), length), 0);
    ASSERT_EQ(::listen(taken, 1), 0);
    ::getsockname(taken, reinterpret_cast<sockaddr*>(&a), &length);
    const struct {
        const char* ini;
        int port;
        const char* error;
        const char* row;
    } cases[] = {
        {"", ntohs(a.sin_port),
         "the web API cannot listen on 127.0.0.1:", "网页接口无法监听127.0.0.1:"},
        {"[Web]\nCertFile=/nonexistent/c.pem\nKeyFile=/nonexistent/k.pem\n", freePort(),
         "or key /nonexistent/k.pem", "网页接口无法监听127.0.0.1:"},
        {"[Web]\nCertFile=/c.pem\n", freePort(), "[Web] CertFile and KeyFile go together",
         "网页接口未启动:CertFile和KeyFile须同时设置"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        testkit::TempDir folder;
        std::ofstream(folder.path() / "Vantrel.ini") << c.ini;
        Console console(folder, folder.path().string(), freePort(),
                        {"--headless", "--data-dir=" + folder.path().string(),
                         "--web-port=" + std::to_string(c.port)},
                        true);
        ASSERT_TRUE(testkit::waitFor(
            [&] {
                for (const std::string& row : console.log()) {
                    if (row.rfind(c.row, 0) == 0) return true;
                }
                return false;
            },
            30s))
            << console.errors();
        EXPECT_NE(console.errors().find(c.error), std::string::npos) << console.errors();
        EXPECT_FALSE(console.waitExit(0ms).has_value());
    }
    ::close(taken);
}

// One request over TLS to the program, trusting only `cert`: the status (0 when the
// handshake or the exchange fails) and the Set-Cookie header.
std::pair<int, std::string> tlsSend(std::uint16_t port, const std::string& cert, http::verb method,
                                    const std::string& target, const std::string& body = {}) {
    namespace ssl = boost::asio::ssl;
    boost::asio::io_context io;
    ssl::context trust(ssl::context::tls_client);
    trust.load_verify_file(cert);
    boost::beast::ssl_stream<boost::beast::tcp_stream> tls(io, trust);
    tls.set_verify_mode(ssl::verify_peer);
    boost::system::error_code ec;
    boost::beast::get_lowest_layer(tls).connect({boost::asio::ip::make_address("127.0.0.1"), port},
                                                ec);
    if (!ec) tls.handshake(ssl::stream_base::client, ec);
    if (ec) return {0, {}};
    http::request<http::string_body> request(method, target, 11);
    request.set(http::field::host, "127.0.0.1");
    request.body() = body;
    request.prepare_payload();
    http::write(tls, request, ec);
    boost::beast::flat_buffer buffer;
    http::response<http::string_body> response;
    if (!ec) http::read(tls, buffer, response, ec);
    if (ec) return {0, {}};
    return {static_cast<int>(response.result_int()),
            std::string(response[http::field::set_cookie])};
}

TEST(WebApiStart, OverHttpsTheProgramLogsInWithASecureCookieAndRefusesClearText) {
    testkit::TempDir folder;
    const std::string cert = folder.file("cert.pem");
    const std::string key = folder.file("key.pem");
    ASSERT_TRUE(webtest::makeCertificate(cert, key));
    std::ofstream(folder.path() / "Vantrel.ini")
        << "[Web]\nCertFile=" << cert << "\nKeyFile=" << key << "\n";
    const std::string data = "--data-dir=" + folder.path().string();
    ASSERT_EQ(runProgram({data, "--add-user=op", "--role=operator"}, "op-pass\n"), 0);
    const auto port = static_cast<std::uint16_t>(freePort());
    Console console(folder, folder.path().string(), freePort(),
                    {"--headless", data, "--web-port=" + std::to_string(port)}, true);
    ASSERT_TRUE(testkit::waitFor(
        [&] { return tlsSend(port, cert, http::verb::get, "/healthz").first == 200; }, 30s))
        << console.errors();
    const auto [status, cookie] = tlsSend(port, cert, http::verb::post, "/api/login",
                                          R"({"user":"op","password":"op-pass"})");
    EXPECT_EQ(status, 200);
    EXPECT_NE(cookie.find("; Secure"), std::string::npos) << cookie;
    EXPECT_NE(cookie.find("HttpOnly"), std::string::npos) << cookie;
    // Nothing is answered in clear on the same port.
    EXPECT_EQ(Client(port).send(http::verb::get, "/healthz").status, 0);
}

// One client asks for the event stream and never reads it; another switches the outlets of a
// fleet larger than a stream's backlog, reading its own stream and the device list. The second
// keeps getting its answers and events within a bound; the first is dropped once its connection
// holds no more and more devices changed than its backlog keeps.
TEST(WebApiStreams, AStreamNeverReadIsDroppedWhileAnotherClientKeepsItsAnswers) {
    testkit::TempDir folder;
    std::ofstream(folder.path() / "Vantrel.ini") << "[Web]\nStreamBacklog=16\n";
    const std::string data = "--data-dir=" + folder.path().string();
    const fs::path printed = folder.path() / "token";
    ASSERT_EQ(runProgram({data, "--add-token=op", "--role=operator"}, "", printed.c_str()), 0);
    std::string token = slurp(printed);
    while (!token.empty() && token.back() == '\n') token.pop_back();
    const Headers bearer{{"Authorization", "Bearer " + token}};
    const auto port = static_cast<std::uint16_t>(freePort());
    const auto linkPort = static_cast<std::uint16_t>(freePort());
    Console console(folder, folder.path().string(), linkPort,
                    {"--headless", data, "--web-port=" + std::to_string(port)}, true);
    ASSERT_TRUE(testkit::waitFor(
        [&] { return Client(port).send(http::verb::get, "/healthz").status == 200; }, 30s))
        << console.errors();
    constexpr int kDevices = 24;
    simtcp::SimFleet fleet("127.0.0.1", linkPort);
    for (int i = 0; i < kDevices; ++i)
        fleet.add(simtcp::makeDeviceConfig(i, static_cast<std::uint16_t>(2001 + i)));
    fleet.start();
    Client client(port);
    const auto listed = [&] {
        const auto reply = client.send(http::verb::get, "/api/devices", {}, bearer);
        return reply.status == 200 ? json::parse(reply.body).size() : 0u;
    };
    ASSERT_TRUE(testkit::waitFor([&] { return listed() == kDevices; }, 30s));

    Client slow(port, "127.0.0.1", 1);  // the smallest receive buffer, never read
    ASSERT_EQ(slow.openStream("/api/events", bearer).rfind("HTTP/1.1 200", 0), 0u);
    Client watcher(port);
    ASSERT_EQ(watcher.openStream("/api/events", bearer).rfind("HTTP/1.1 200", 0), 0u);

    std::vector<int> toggles(kDevices, 0);
    auto slowest = 0ms;
    bool dropped = false;
    int switches = 0;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!dropped && switches < 2000 && std::chrono::steady_clock::now() < deadline) {
        // Each switch changes its device: outlets 1..16 on in turn, then off in turn.
        const int d = switches++ % kDevices;
        const int t = toggles[d]++;
        const std::string id = std::to_string(2001 + d);
        const auto began = std::chrono::steady_clock::now();
        const auto reply = client.send(
            http::verb::put, "/api/devices/" + id + "/outlets/" + std::to_string(t % 16 + 1),
            json{{"on", t / 16 % 2 == 0}}.dump(), bearer);
        ASSERT_EQ(reply.status, 200) << reply.body;
        const std::string events = watcher.readUntil(
            [&](const std::string& text) {
                return text.find("\"id\":" + id + ",") != std::string::npos;
            },
            10s);
        ASSERT_NE(events.find("\"id\":" + id + ","), std::string::npos) << "switch " << switches;
        if (switches % 8 == 0) {
            ASSERT_EQ(listed(), kDevices);
        }
        slowest = std::max(slowest, std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - began));
        dropped = slow.hungUpWithin(0ms);
    }
    if (!dropped) dropped = slow.hungUpWithin(5s);
    EXPECT_TRUE(dropped) << "still open after " << switches << " switches";
    EXPECT_LT(slowest, 5s);
    std::printf("%d switches until the stream was dropped; slowest switch and its event: %lld ms\n",
                switches, static_cast<long long>(slowest.count()));
}

}  // namespace
