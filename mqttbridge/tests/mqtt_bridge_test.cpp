// The bridge against a real broker: what it publishes, the commands it passes on, bad input,
// its availability (stop, crash) and reconnection.
#include "mqttbridge/mqtt_bridge.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include <nlohmann/json.hpp>

#include "broker_fixture.h"
#include "logbase/logbase.h"
#include "mqttbridge/bridge_payloads.h"
#include "testkit/wait_for.h"

namespace {

using mqttbridge::Command;
using mqttbridge::GroupCommand;
using mqttbridge::GroupMode;
using mqttbridge::OutletCommand;
using nlohmann::json;
using namespace std::chrono_literals;

constexpr const char* kBase = "site/a";

consolecore::DeviceSnapshot makeDevice(std::uint16_t id, std::string name) {
    consolecore::DeviceSnapshot device;
    device.id = id;
    device.name = std::move(name);
    device.ip.sin_family = AF_INET;
    device.ip.sin_addr.s_addr = htonl(0x7F000005);
    device.group = 2;
    device.mode = 1;
    device.number = 3;
    device.onOff = true;
    device.online = true;
    device.leds[2] = true;
    return device;
}

std::vector<std::string> logLines(const std::string& prefix) {
    LogObLockLogbase();
    auto statement = LogObQueryStatement("SELECT LogContent FROM Log ORDER BY rowid");
    LogObUnlockLogbase();
    std::vector<std::string> lines;
    while (statement && statement->NextRow()) {
        if (statement->ValueUtf8(0).starts_with(prefix)) lines.push_back(statement->ValueUtf8(0));
    }
    return lines;
}

int countLogLines(const std::string& prefix) {
    return static_cast<int>(logLines(prefix).size());
}

class MqttBridgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(InitLogbaseModule(m_dir.path().string() + "/", "log.db3"));
        ASSERT_TRUE(m_broker.start());
        m_recorder = std::make_unique<mqtttest::Recorder>(m_broker.port());
        ASSERT_TRUE(m_recorder->subscribed());
        startBridge();
    }
    // A bridge as `clientId` (empty: the bridge's own choice), connected when this returns.
    void startBridge(const std::string& clientId = {}) {
        consolecore::MqttSettings settings;
        settings.host = "127.0.0.1";
        settings.port = m_broker.port();
        settings.baseTopic = kBase;
        settings.clientId = clientId;
        mqttbridge::BridgeHooks hooks{[this](const Command& command) {
                                          std::lock_guard guard(m_lock);
                                          m_commands.push_back(command);
                                      },
                                      {}};
        mqttbridge::BridgeTiming timing;
        timing.reconnectMin = std::chrono::milliseconds(20);
        timing.reconnectMax = std::chrono::milliseconds(200);
        timing.clock = [this] {
            return std::chrono::steady_clock::time_point(m_clockMs.load() * 1ms);
        };
        const int online = m_recorder->count(mqttbridge::statusTopic(kBase), "online");
        m_bridge = std::make_unique<mqttbridge::MqttBridge>(settings, hooks, timing);
        ASSERT_TRUE(m_bridge->start());
        ASSERT_TRUE(waitOnline(online + 1));
    }
    // The bridge announces "online" after it subscribed: retained messages it was sent on
    // subscribing come before anything published after this returns.
    bool waitOnline(int times) {
        return testkit::waitFor(
            [&] { return m_recorder->count(mqttbridge::statusTopic(kBase), "online") >= times; });
    }
    void TearDown() override {
        m_bridge.reset();
        m_recorder.reset();
        ReleaseLogbaseModule();
    }

    // Publishes `device` and waits until its state arrives.
    void publishAndWait(const consolecore::DeviceSnapshot& device) {
        m_bridge->publishDevice(device);
        ASSERT_TRUE(m_recorder->waitLatest(mqttbridge::stateTopic(kBase, device.id),
                                           mqttbridge::stateJson(device)));
    }

    std::vector<Command> commands() {
        std::lock_guard guard(m_lock);
        return m_commands;
    }

    json latestJson(const std::string& topic) {
        return json::parse(m_recorder->latest(topic).value_or("null"));
    }

    testkit::TempDir m_dir;
    mqtttest::Broker m_broker{m_dir.path().string()};
    std::unique_ptr<mqtttest::Recorder> m_recorder;
    std::unique_ptr<mqttbridge::MqttBridge> m_bridge;
    std::mutex m_lock;
    std::vector<Command> m_commands;
    std::atomic<std::int64_t> m_clockMs{1000000};  // the refusal log's clock
};

TEST_F(MqttBridgeTest, PublishesRetainedStateAndDiscovery) {
    // A name with a quote, a backslash, a control byte, a byte that is not UTF-8 and CJK.
    auto device = makeDevice(7, std::string("A\"\\\x01\xff") + "路");
    publishAndWait(device);

    const auto state = latestJson("site/a/7/state");
    EXPECT_EQ(state["name"], std::string("A\"\\\x01\xc3\xbf") + "路");
    EXPECT_EQ(state["ip"], "127.0.0.5");
    EXPECT_EQ(state["group"], 2);
    EXPECT_EQ(state["mode"], 1);
    EXPECT_EQ(state["number"], 3);
    EXPECT_EQ(state["master"], true);
    EXPECT_EQ(state["online"], true);
    ASSERT_EQ(state["outlets"].size(), 16u);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(state["outlets"][i], i == 2) << i;
    // Published just after the state.
    EXPECT_TRUE(m_recorder->waitLatest("site/a/7/availability", "online"));

    for (int n = 1; n <= 16; ++n) {
        const auto config =
            latestJson("homeassistant/switch/site_a_7/outlet" + std::to_string(n) + "/config");
        EXPECT_EQ(config["command_topic"], "site/a/7/outlet/" + std::to_string(n) + "/set");
        EXPECT_EQ(config["state_topic"], "site/a/7/state");
        EXPECT_NE(config["value_template"].get<std::string>().find("value_json.outlets[" +
                                                                   std::to_string(n - 1) + "]"),
                  std::string::npos);
        EXPECT_EQ(config["availability"][0]["topic"], "site/a/status");
        EXPECT_EQ(config["availability"][1]["topic"], "site/a/7/availability");
        EXPECT_EQ(config["device"]["identifiers"][0], "site_a_7");
        EXPECT_EQ(config["device"]["name"], state["name"]);
    }
    const auto sensor = latestJson("homeassistant/binary_sensor/site_a_7/online/config");
    EXPECT_EQ(sensor["device_class"], "connectivity");
    EXPECT_EQ(sensor["state_topic"], "site/a/7/state");
    EXPECT_EQ(sensor["device"]["identifiers"][0], "site_a_7");

    // A newer snapshot replaces the state; a late subscriber gets it retained.
    device.leds[15] = true;
    publishAndWait(device);
    mqtttest::Recorder late(m_broker.port());
    EXPECT_TRUE(late.waitLatest("site/a/7/state", mqttbridge::stateJson(device)));
    EXPECT_TRUE(late.waitLatest(
        "homeassistant/binary_sensor/site_a_7/online/config",
        m_recorder->latest("homeassistant/binary_sensor/site_a_7/online/config").value()));
}

TEST_F(MqttBridgeTest, PassesValidCommandsToTheSinkAndLogsBadOnes) {
    publishAndWait(makeDevice(7, "rack"));
    const std::pair<const char*, const char*> bad[] = {
        {"site/a/8/outlet/1/set", "ON"},         // unknown id
        {"site/a/70000/outlet/1/set", "ON"},     // id out of range
        {"site/a/x/outlet/1/set", "ON"},         //
        {"site/a/7/outlet/0/set", "ON"},         // outlet out of range
        {"site/a/7/outlet/17/set", "ON"},        //
        {"site/a/7/outlet/01/set", "ON"},        //
        {"site/a/7/outlet/1/set", "on"},         // payload
        {"site/a/7/outlet/1/set", ""},           //
        {"site/a/7/outlet/1/set", "ON\n"},       //
        {"site/a/group/0/serial/set", "ON"},     // group out of range
        {"site/a/group/7/parallel/set", "OFF"},  //
        {"site/a/group/1/sideways/set", "ON"},   //
    };
    for (const auto& [topic, payload] : bad) m_recorder->publish(topic, payload);
    m_recorder->publish("site/a/7/outlet/16/set", "ON");
    m_recorder->publish("site/a/group/6/parallel/set", "OFF");
    m_recorder->publish("site/a/group/1/serial/set", "ON");

    const std::vector<Command> expected = {OutletCommand{7, 16, true},
                                           GroupCommand{6, GroupMode::Parallel, false},
                                           GroupCommand{1, GroupMode::Serial, true}};
    // One publisher's messages arrive in order: the good ones come after every bad one.
    ASSERT_TRUE(testkit::waitFor([&] { return commands().size() >= expected.size(); }));
    EXPECT_EQ(commands(), expected);
    // One line per kind of refusal: unknown id, id, outlet, payload, group, topic.
    EXPECT_EQ(countLogLines("MQTT命令无效:"), 6);
}

// A flood of refusals of one kind is one line, then one count per period; bytes that are
// not UTF-8 are stored as U+FFFD.
TEST_F(MqttBridgeTest, RepeatedRefusalsAreOneLineThenACount) {
    publishAndWait(makeDevice(7, "rack"));
    constexpr int kFlood = 2000;
    for (int i = 0; i < kFlood; ++i) {
        m_recorder->publish("site/a/7/outlet/1/set", "\xff\xfe", false, 0);
        m_recorder->publish("site/a/8/outlet/1/set", "ON", false, 0);  // unknown id
    }
    m_recorder->publish("site/a/7/outlet/2/set", "ON");
    ASSERT_TRUE(testkit::waitFor([&] { return !commands().empty(); }, 30s));
    EXPECT_EQ(countLogLines("MQTT命令无效:"), 2);

    m_clockMs += 10000;
    m_recorder->publish("site/a/7/outlet/3/set", "ON");  // wakes the bridge
    ASSERT_TRUE(testkit::waitFor([] { return countLogLines("MQTT命令无效:") == 4; }));
    const auto lines = logLines("MQTT命令无效:");
    EXPECT_EQ(lines[0], "MQTT命令无效:site/a/7/outlet/1/set \uFFFD\uFFFD (内容不是ON/OFF)");
    EXPECT_EQ(lines[2], lines[0] + "(重复" + std::to_string(kFlood - 1) + "次)");
    EXPECT_EQ(lines[3], lines[1] + "(重复" + std::to_string(kFlood - 1) + "次)");
}

// A retained command on the broker is replayed at every subscription: it switches nothing,
// at the start or after a reconnect, and is logged once per topic.
TEST_F(MqttBridgeTest, RetainedCommandsAreIgnoredAtStartAndAfterAReconnect) {
    m_bridge.reset();
    m_recorder->publish("site/a/7/outlet/3/set", "ON", true);
    m_recorder->publish("site/a/group/2/serial/set", "OFF", true);
    ASSERT_TRUE(m_recorder->waitLatest("site/a/group/2/serial/set", "OFF"));
    startBridge("retained-test");
    publishAndWait(makeDevice(7, "rack"));
    m_recorder->publish("site/a/7/outlet/4/set", "ON");
    ASSERT_TRUE(testkit::waitFor([&] { return !commands().empty(); }));

    const int online = m_recorder->count("site/a/status", "online");
    ASSERT_TRUE(mqtttest::takeOverClientId(m_broker.port(), "retained-test"));
    ASSERT_TRUE(waitOnline(online + 1));
    m_recorder->publish("site/a/7/outlet/5/set", "OFF");
    ASSERT_TRUE(testkit::waitFor([&] { return commands().size() >= 2; }));
    EXPECT_EQ(commands(),
              (std::vector<Command>{OutletCommand{7, 4, true}, OutletCommand{7, 5, false}}));
    EXPECT_EQ(countLogLines("MQTT忽略保留的命令:"), 2);
    EXPECT_EQ(countLogLines("MQTT命令无效:"), 0);
}

TEST_F(MqttBridgeTest, UpdatesFromSeveralThreadsEndInEachDevicesNewestState) {
    constexpr int kThreads = 4, kIdsPerThread = 25, kRounds = 20;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 1; round <= kRounds; ++round) {
                for (int i = 0; i < kIdsPerThread; ++i) {
                    auto device = makeDevice(static_cast<std::uint16_t>(100 + t * 100 + i), "r");
                    device.number = static_cast<std::uint8_t>(round);
                    m_bridge->publishDevice(device);
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kIdsPerThread; ++i) {
            auto device = makeDevice(static_cast<std::uint16_t>(100 + t * 100 + i), "r");
            device.number = kRounds;
            EXPECT_TRUE(m_recorder->waitLatest(mqttbridge::stateTopic(kBase, device.id),
                                               mqttbridge::stateJson(device)));
        }
    }
}

TEST_F(MqttBridgeTest, RemovedDeviceIsUnavailableAndKeepsItsEntities) {
    auto device = makeDevice(9, "gone");
    publishAndWait(device);
    m_bridge->removeDevice(9);
    device.online = false;
    ASSERT_TRUE(m_recorder->waitLatest("site/a/9/state", mqttbridge::stateJson(device)));
    EXPECT_TRUE(m_recorder->waitLatest("site/a/9/availability", "offline"));
    m_recorder->publish("site/a/9/outlet/1/set", "ON");  // no longer known
    ASSERT_TRUE(testkit::waitFor([] { return countLogLines("MQTT命令无效:") == 1; }));
    EXPECT_NE(m_recorder->latest("homeassistant/switch/site_a_9/outlet1/config").value_or(""), "");
    EXPECT_TRUE(commands().empty());
}

TEST_F(MqttBridgeTest, StatusIsOfflineAfterStopAndAfterACrash) {
    m_bridge->stop();
    ASSERT_TRUE(m_recorder->waitLatest("site/a/status", "offline"));

    // A bridge process killed outright: the broker publishes its last will.
    const std::string port = std::to_string(m_broker.port());
    const char* argv[] = {MQTT_CRASH_HELPER, port.c_str(), kBase, nullptr};
    pid_t pid;
    ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char* const*>(argv), environ),
              0);
    const bool online = m_recorder->waitLatest("site/a/status", "online");
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    ASSERT_TRUE(online);
    EXPECT_TRUE(m_recorder->waitLatest("site/a/status", "offline"));
}

TEST_F(MqttBridgeTest, ReconnectsAfterTheBrokerRestartsAndRepublishes) {
    const auto device = makeDevice(5, "rack");
    publishAndWait(device);
    m_recorder.reset();
    const int port = m_broker.port();
    m_broker.stop();
    ASSERT_TRUE(testkit::waitFor([&] { return !m_bridge->connected(); }));
    ASSERT_TRUE(m_broker.start(port));
    // The restarted broker kept nothing: what arrives was sent again.
    m_recorder = std::make_unique<mqtttest::Recorder>(port);
    EXPECT_TRUE(m_recorder->waitLatest("site/a/5/state", mqttbridge::stateJson(device)));
    EXPECT_TRUE(m_recorder->waitLatest("site/a/status", "online"));
    EXPECT_TRUE(testkit::waitFor([&] {
        return m_recorder->latest("homeassistant/switch/site_a_5/outlet16/config").has_value();
    }));
    m_recorder->publish("site/a/5/outlet/2/set", "OFF");
    ASSERT_TRUE(testkit::waitFor([&] { return !commands().empty(); }));
    EXPECT_EQ(commands().front(), Command(OutletCommand{5, 2, false}));
    EXPECT_EQ(countLogLines("MQTT连接断开:"), 1);
}

}  // namespace

namespace {

// A self-signed certificate for 127.0.0.1 (its own CA) and its key, readable by the broker
// after it drops its privileges.
bool makeCertificate(const std::string& folder, const std::string& name) {
    const std::string cert = folder + "/" + name + ".pem";
    const std::string key = folder + "/" + name + "-key.pem";
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
        "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout " +
        key + " -out " + cert + " 2>/dev/null && chmod 644 " + key;
    return std::system(command.c_str()) == 0;
}

TEST(MqttBridgeTls, ConnectsOnlyWhenTheCaFileVouchesForTheBroker) {
    testkit::TempDir dir;
    const std::string folder = dir.path().string();
    ASSERT_TRUE(InitLogbaseModule(folder + "/", "log.db3"));
    ASSERT_TRUE(makeCertificate(folder, "server") && makeCertificate(folder, "other"));
    mqtttest::Broker broker(folder, "cafile " + folder + "/server.pem\ncertfile " + folder +
                                        "/server.pem\nkeyfile " + folder + "/server-key.pem\n");
    ASSERT_TRUE(broker.start());
    consolecore::MqttSettings settings;
    settings.host = "127.0.0.1";
    settings.port = broker.port();
    const mqttbridge::BridgeHooks hooks{[](const Command&) {}, {}};

    settings.caFile = folder + "/other.pem";
    mqttbridge::MqttBridge stranger(settings, hooks);
    ASSERT_TRUE(stranger.start());
    EXPECT_TRUE(testkit::waitFor([] { return countLogLines("MQTT连接失败:") == 1; }));
    EXPECT_FALSE(stranger.connected());
    stranger.stop();

    settings.caFile = folder + "/server.pem";
    mqttbridge::MqttBridge trusted(settings, hooks);
    ASSERT_TRUE(trusted.start());
    EXPECT_TRUE(testkit::waitFor([&] { return trusted.connected(); }));
    trusted.stop();
    ReleaseLogbaseModule();
}

}  // namespace
