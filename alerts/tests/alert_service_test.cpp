// Alerts delivered to a real HTTP receiver (a Python helper on a free loopback port) and to a
// real command, with time-outs and retries shortened so each test takes milliseconds.
#include "alerts/alert_service.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>

#include "testkit/wait_for.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using alerts::Alert;
using alerts::AlertEvent;

// The receiver script, answering each request as `plan` says; killed with the test.
class Receiver {
public:
    // With `tls` (certificate and key files) the receiver speaks https.
    Receiver(const std::filesystem::path& out, const std::string& plan,
             std::vector<std::string> tls = {})
        : m_out(out), m_https(!tls.empty()) {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::string script = ALERT_RECEIVER, outText = out.string(), planText = plan;
        std::string python = "python3";
        std::vector<char*> argv = {python.data(), script.data(), outText.data(), planText.data()};
        for (std::string& file : tls) argv.push_back(file.data());
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawnp(&m_pid, "python3", &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        char line[16] = {};
        FILE* stream = ::fdopen(fds[0], "r");
        if (std::fgets(line, sizeof line, stream)) m_port = std::atoi(line);
        std::fclose(stream);
    }
    ~Receiver() {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    std::string url() const {
        return (m_https ? "https://localhost:" : "http://127.0.0.1:") + std::to_string(m_port) +
               "/hook";
    }
    std::vector<nlohmann::json> received() const { return readLines(m_out); }

    static std::vector<nlohmann::json> readLines(const std::filesystem::path& path) {
        std::vector<nlohmann::json> docs;
        std::ifstream in(path);
        for (std::string line; std::getline(in, line);) {
            if (!line.empty()) docs.push_back(nlohmann::json::parse(line));
        }
        return docs;
    }

private:
    std::filesystem::path m_out;
    bool m_https = false;
    pid_t m_pid = -1;
    int m_port = 0;
};

alerts::AlertTimings fast() {
    alerts::AlertTimings timings;
    timings.stormWindow = 100ms;
    timings.firstRetry = 10ms;
    timings.maxRetryGap = 40ms;
    timings.attemptTimeout = 300ms;
    timings.stopGrace = 300ms;
    return timings;
}

alerts::AlertSettings settingsFor(const std::string& url, std::vector<std::string> command = {}) {
    alerts::AlertSettings settings;
    settings.webhook = alerts::parseWebhookUrl(url);
    settings.command = std::move(command);
    for (AlertEvent event : alerts::kSelectableEvents) settings.events.insert(event);
    return settings;
}

Alert offline(std::uint16_t id) {
    Alert alert;
    alert.event = AlertEvent::DeviceOffline;
    alert.device = alerts::AlertDevice{id, "rack" + std::to_string(id)};
    alert.text = "设备离线:" + std::to_string(id);
    return alert;
}

class AlertDelivery : public ::testing::Test {
protected:
    testkit::TempDir m_dir;
};

TEST_F(AlertDelivery, EveryEventReachesTheWebhookAndTheCommandInOrderAsJson) {
    Receiver receiver(m_dir.path() / "hook.jsonl", "200");
    const auto commandOut = m_dir.path() / "command.jsonl";
    // No shell runs it: sh is the program, the quoted script one argument.
    const auto command =
        alerts::splitCommand("sh -c 'cat >> \"$0\"; echo >> \"$0\"' " + commandOut.string());
    ASSERT_TRUE(command);
    alerts::AlertService service(settingsFor(receiver.url(), *command), fast());
    ASSERT_TRUE(service.start());
    for (AlertEvent event : alerts::kSelectableEvents) {
        Alert alert;
        alert.event = event;
        alert.device = alerts::AlertDevice{42, "机柜A"};
        alert.group = 2;
        alert.run = 7;
        alert.text = "日志:" + std::string(alerts::eventName(event));
        service.raise(alert);
    }
    const std::size_t count = std::size(alerts::kSelectableEvents);
    ASSERT_TRUE(testkit::waitFor([&] { return service.counts().delivered == count; }));
    const std::regex iso(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)");
    for (const auto& docs : {receiver.received(), Receiver::readLines(commandOut)}) {
        ASSERT_EQ(docs.size(), count);
        for (std::size_t i = 0; i < count; ++i) {
            const std::string name(alerts::eventName(alerts::kSelectableEvents[i]));
            EXPECT_EQ(docs[i]["event"], name);
            EXPECT_TRUE(std::regex_match(docs[i]["time"].get<std::string>(), iso));
            EXPECT_EQ(docs[i]["device"], 42);
            EXPECT_EQ(docs[i]["name"], "机柜A");
            EXPECT_EQ(docs[i]["group"], 2);
            EXPECT_EQ(docs[i]["run"], 7);
            EXPECT_EQ(docs[i]["text"], "日志:" + name);
        }
    }
}

TEST_F(AlertDelivery, AHangingReceiverNeverHoldsUpTheRaiserAndIsRetried) {
    Receiver receiver(m_dir.path() / "hook.jsonl", "hang,200");
    auto timings = fast();
    timings.queueLimit = 5;
    alerts::AlertService service(settingsFor(receiver.url()), timings);
    ASSERT_TRUE(service.start());
    const auto before = std::chrono::steady_clock::now();
    Alert alert;
    alert.event = AlertEvent::LinkDown;
    for (int i = 0; i < 8; ++i) service.raise(alert);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 100ms);
    // The first attempt hangs until its time-out, then the retry gets through.
    ASSERT_TRUE(testkit::waitFor([&] { return service.counts().delivered == 5; }));
    EXPECT_EQ(service.counts().overflowed, 3u);
    EXPECT_EQ(receiver.received().size(), 6u);
}

TEST_F(AlertDelivery, AnAlertAnswered500ThenIsDeliveredOnceOnItsRetry) {
    Receiver receiver(m_dir.path() / "hook.jsonl", "500,200");
    alerts::AlertService service(settingsFor(receiver.url()), fast());
    ASSERT_TRUE(service.start());
    service.raise(offline(9));
    ASSERT_TRUE(testkit::waitFor([&] { return service.counts().delivered == 1; }));
    service.stop();
    EXPECT_EQ(receiver.received().size(), 2u);
    EXPECT_EQ(service.counts().gaveUp, 0u);
}

TEST_F(AlertDelivery, AnAlertStillFailingAfterItsTimeIsDroppedAndCounted) {
    Receiver receiver(m_dir.path() / "hook.jsonl", "500");
    auto timings = fast();
    timings.giveUpAfter = 200ms;
    alerts::AlertService service(settingsFor(receiver.url()), timings);
    ASSERT_TRUE(service.start());
    Alert alert;
    alert.event = AlertEvent::TaskGaveUp;
    service.raise(alert);
    ASSERT_TRUE(testkit::waitFor([&] { return service.counts().gaveUp == 1; }));
    EXPECT_EQ(service.counts().delivered, 0u);
}

TEST_F(AlertDelivery, MoreThanTwentyDevicesOfflineInTheWindowMakeOneStormAlert) {
    struct Case {
        int offline;
        std::size_t alerts;
    };
    for (const Case& c : {Case{1000, 1}, Case{20, 20}}) {
        SCOPED_TRACE(c.offline);
        testkit::TempDir dir;
        Receiver receiver(dir.path() / "hook.jsonl", "200");
        auto timings = fast();
        timings.stormWindow = 300ms;
        timings.queueLimit = 2000;
        alerts::AlertService service(settingsFor(receiver.url()), timings);
        ASSERT_TRUE(service.start());
        for (int id = 1; id <= c.offline; ++id)
            service.raise(offline(static_cast<std::uint16_t>(id)));
        ASSERT_TRUE(testkit::waitFor([&] { return service.counts().delivered == c.alerts; }));
        service.stop();
        const auto docs = receiver.received();
        ASSERT_EQ(docs.size(), c.alerts);
        if (c.alerts == 1) {
            EXPECT_EQ(docs[0]["event"], "devices-offline");
            ASSERT_EQ(docs[0]["devices"].size(), 1000u);
            EXPECT_EQ(docs[0]["devices"][999]["id"], 1000);
        } else {
            EXPECT_EQ(docs[19]["event"], "device-offline");
            EXPECT_EQ(docs[19]["device"], 20);
        }
    }
}

// https: delivered when the receiver's certificate is trusted (the system's CA file swapped for
// it), refused when it is not.
TEST_F(AlertDelivery, HttpsDeliversOnlyToATrustedCertificate) {
    const std::string cert = (m_dir.path() / "cert.pem").string();
    const std::string key = (m_dir.path() / "key.pem").string();
    const std::string make =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=localhost "
        "-addext subjectAltName=DNS:localhost -keyout " +
        key + " -out " + cert + " 2>/dev/null";
    ASSERT_EQ(std::system(make.c_str()), 0);
    for (const bool trusted : {true, false}) {
        SCOPED_TRACE(trusted);
        testkit::TempDir dir;
        Receiver receiver(dir.path() / "hook.jsonl", "200", {cert, key});
        // Read by the service's TLS context when it is made (set before any thread starts).
        if (trusted) {
            ::setenv("SSL_CERT_FILE", cert.c_str(), 1);
        } else {
            ::unsetenv("SSL_CERT_FILE");
        }
        auto timings = fast();
        timings.giveUpAfter = 0ms;
        alerts::AlertService service(settingsFor(receiver.url()), timings);
        ::unsetenv("SSL_CERT_FILE");
        ASSERT_TRUE(service.start());
        service.raise(offline(5));
        ASSERT_TRUE(testkit::waitFor(
            [&] { return service.counts().delivered + service.counts().gaveUp == 1; }));
        EXPECT_EQ(service.counts().delivered, trusted ? 1u : 0u);
        EXPECT_EQ(receiver.received().size(), trusted ? 1u : 0u);
    }
}

TEST(AlertSettings, BadUrlsAndUnknownEventsAreReportedAndLeftOut) {
    testkit::TempDir dir;
    const auto path = dir.path() / "Vantrel.ini";
    std::ofstream(path) << "[Alerts]\nWebhookUrl=ftp://example.net/x\nCommand=notify \"a b\"\n"
                           "Events=device-offline, nonsense ,link-down\n";
    const auto load = alerts::readAlertSettings(path.string());
    ASSERT_EQ(load.problems.size(), 2u);
    EXPECT_NE(load.problems[0].find("WebhookUrl"), std::string::npos);
    EXPECT_NE(load.problems[1].find("nonsense"), std::string::npos);
    EXPECT_FALSE(load.settings.webhook);
    EXPECT_EQ(load.settings.command, (std::vector<std::string>{"notify", "a b"}));
    EXPECT_EQ(load.settings.events,
              (std::set<AlertEvent>{AlertEvent::DeviceOffline, AlertEvent::LinkDown}));

    struct Url {
        const char* text;
        bool valid;
        std::uint16_t port;
    };
    for (const Url& u :
         {Url{"https://h.example/a?b=1", true, 443}, Url{"http://[::1]:8080", true, 8080},
          Url{"http://h:0/", false, 0}, Url{"http://u@h/", false, 0}, Url{"http://h/a b", false, 0},
          Url{"http://", false, 0}}) {
        const auto url = alerts::parseWebhookUrl(u.text);
        EXPECT_EQ(url.has_value(), u.valid) << u.text;
        if (url) {
            EXPECT_EQ(url->port, u.port) << u.text;
        }
    }
}

}  // namespace
