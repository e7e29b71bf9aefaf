// The bridge as the engine's client on a real broker: device state goes out from the engine's
// events, and a group command from the bridge's thread runs on the engine's thread through
// the switching path, as the group buttons do after their dialog.
#include "mqttbridge/engine_bridge.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <future>
#include <map>

#include "broker_fixture.h"
#include "chronrun/chronrun_options.h"
#include "chronstore/chronstore.h"
#include "chronstore/holidays.h"
#include "consolecore/group_selection.h"
#include "core_test_support.h"
#include "devroster/devroster.h"
#include "engine_thread.h"
#include "lanwire/lanwire.h"
#include "lanwire/lanwire_options.h"
#include "logbase/log_codes.h"
#include "protocol/console_frames.h"
#include "protocol/device_frames.h"
#include "protocol/frame_types.h"
#include "public/data_path.h"
#include "recording_client.h"
#include "simtcp/sim_fleet.h"
#include "testkit/job_thread.h"

#include <sqlite3.h>

namespace {

using namespace consolecore;
using namespace std::chrono_literals;

// One-shot timers that fire only when the test says so (on the engine's thread).
class ManualTimer : public RunTimer {
public:
    void arm(std::uint64_t key, std::chrono::milliseconds, std::function<void()> fire) override {
        m_armed[key] = std::move(fire);
    }
    void disarm(std::uint64_t key) override { m_armed.erase(key); }
    void fireAll() {
        auto armed = std::move(m_armed);
        m_armed.clear();
        for (auto& [key, fire] : armed) fire();
    }

private:
    std::map<std::uint64_t, std::function<void()>> m_armed;
};

using coretest::EngineThread;

TEST(ConsoleEngine, PublishesDeviceStateAndRunsGroupCommandsOnItsThread) {
    testkit::TempDir dir;
    const std::string folder = dir.path().string() + "/";
    SetDataPath(folder);
    mqtttest::Broker broker(dir.path().string());
    ASSERT_TRUE(broker.start());
    std::ofstream(folder + "Vantrel.ini")
        << "[Mqtt]\nHost=127.0.0.1\nPort=" << broker.port() << "\nBaseTopic=rack\n";
    mqtttest::Recorder recorder(broker.port());
    ASSERT_TRUE(recorder.subscribed());

    beginApplication();
    SessionOptions options;
    options.programFolder = folder;
    options.port = 0;
    options.taskFolder = dir.file("TimingTask");
    {
        EngineThread console(options, mqttbridge::engineBridgeFactory());
        ASSERT_TRUE(recorder.waitLatest("rack/status", "online"));

        simtcp::SimFleet fleet("127.0.0.1", GetLanwirePort());
        auto config = simtcp::makeDeviceConfig(0, 31);
        config.group = 2;
        config.mode = 0;
        config.number = 1;
        simtcp::Knobs knobs;
        knobs.stepDelay = 1ms;
        simtcp::SimDevice& device = fleet.add(config, knobs);
        fleet.start();
        ASSERT_TRUE(testkit::waitFor([&] {
            const auto state = recorder.latest("rack/31/state");
            return state && state->find("\"group\":2") != std::string::npos;
        }));

        recorder.publish("rack/group/2/parallel/set", "ON");
        ASSERT_TRUE(device.waitCommand(protocol::NET_CMD_PARALLEL));
        EXPECT_EQ(device.frames(protocol::NET_CMD_PARALLEL)[0].param(0), 1);
        EXPECT_TRUE(testkit::waitFor([] {
            for (const auto& row : coretest::readLog()) {
                if (row.type == logcode::kRun && row.subType == logcode::kParallel &&
                    row.content.starts_with("平行开分组2汇总:顺序[31],结果:完成"))
                    return true;
            }
            return false;
        }));
        EXPECT_TRUE(console.prompt.messages.empty());
    }
    EXPECT_TRUE(recorder.waitLatest("rack/status", "offline"));
    endApplication();
    SetDataPath("");
}

// A data folder with "Vantrel.ini" naming a real broker, the recorder on it, and an engine.
class EngineWithBroker : public ::testing::Test {
protected:
    void SetUp() override {
        SetDataPath(m_folder);
        ASSERT_TRUE(m_broker.start());
        std::ofstream(m_folder + "Vantrel.ini")
            << "[Mqtt]\nHost=127.0.0.1\nPort=" << m_broker.port() << "\nBaseTopic=rack\n";
        recorder = std::make_unique<mqtttest::Recorder>(m_broker.port());
        ASSERT_TRUE(recorder->subscribed());
        beginApplication();
    }
    void TearDown() override {
        fleet.reset();
        console.reset();
        recorder.reset();
        endApplication();
        SetDataPath("");
        SetLanwireOptions({});
    }
    // `tick` 100 ms: a device that stops answering is reported offline within half a second.
    void startConsole(mqttbridge::EngineBridgeOptions bridge = {},
                      std::chrono::milliseconds tick = 2500ms, EngineClient* client = nullptr,
                      alerts::AlertTimings alertTimings = {}) {
        link.tickPeriod = tick;
        link.heartbeatGap = std::min<std::chrono::milliseconds>(link.heartbeatGap, tick / 10);
        SetLanwireOptions(link);
        SessionOptions options;
        options.programFolder = m_folder;
        options.port = linkPort;
        options.taskFolder = m_dir.file("TimingTask");
        console = std::make_unique<EngineThread>(
            options, mqttbridge::engineBridgeFactory(std::move(bridge)), client, alertTimings);
        fleet = std::make_unique<simtcp::SimFleet>("127.0.0.1", GetLanwirePort());
    }
    simtcp::SimDevice& addDevice(std::uint16_t id, std::uint8_t group, bool on,
                                 bool confirms = true) {
        auto config = simtcp::makeDeviceConfig(fleet->size(), id);
        config.group = group;
        config.mode = 0;
        config.number = static_cast<std::uint8_t>(fleet->size() + 1);
        config.onOff = on;
        simtcp::Knobs knobs;
        knobs.stepDelay = 1ms;
        knobs.reportStepDone = confirms;
        auto& device = fleet->add(config, knobs);
        device.connect();
        return device;
    }
    bool waitState(std::uint16_t id) {
        return testkit::waitFor(
            [&] { return recorder->latest("rack/" + std::to_string(id) + "/state").has_value(); });
    }
    static bool logged(const coretest::LogRow& row) {
        return testkit::waitFor([&] { return coretest::countLog(row) == 1; });
    }

    testkit::TempDir m_dir;
    const std::string m_folder = m_dir.path().string() + "/";
    mqtttest::Broker m_broker{m_dir.path().string()};
    std::unique_ptr<mqtttest::Recorder> recorder;
    ManualTimer timer;  // outlives the engine, which disarms it when it stops
    std::unique_ptr<EngineThread> console;
    std::unique_ptr<simtcp::SimFleet> fleet;
    LanwireOptions link;  // the link's options from startConsole on
    std::uint16_t linkPort = 0;
};

// 20 outlet commands over MQTT to a device whose outbox holds two: only the commands that
// were queued log "开灯", and the refused ones are told in one counted row per device and
// period, the rest when the period ends.
TEST_F(EngineWithBroker, RefusedOutletCommandsAreCountedNotLoggedAsSwitched) {
    link.outboxLimit = 2;
    link.sendGap = 300ms;  // the outbox drains slowly, so the burst overfills it
    std::atomic<std::int64_t> nowMs{1'000'000};
    mqttbridge::EngineBridgeOptions hooks;
    hooks.clock = [&] {
        return std::chrono::steady_clock::time_point(std::chrono::milliseconds(nowMs.load()));
    };
    startConsole(std::move(hooks));
    console->run([&] {
        auto switching = console->engine->switching().options();
        switching.timer = &timer;
        console->engine->switching().configure(std::move(switching));
    });
    simtcp::SimDevice& device = addDevice(31, 0, false);
    simtcp::SimDevice& other = addDevice(32, 0, false);
    ASSERT_TRUE(waitState(31) && waitState(32));

    constexpr int kCommands = 20;
    for (int k = 0; k < kCommands; ++k) {
        recorder->publish("rack/31/outlet/" + std::to_string(k % 16 + 1) + "/set", "ON");
    }
    // Commands are handled in order: once the one for another device is, so are the 20.
    recorder->publish("rack/32/outlet/1/set", "ON");
    ASSERT_TRUE(other.waitCommand(protocol::NET_CMD_CHANNEL));
    const auto rows = [](const std::string& prefix) {
        std::vector<std::string> found;
        for (const auto& row : coretest::readLog()) {
            if (row.content.starts_with(prefix)) found.push_back(row.content);
        }
        return found;
    };
    const auto switched = rows("设备:SIM31开灯:").size();
    EXPECT_GE(switched, 1u);
    EXPECT_LT(switched, static_cast<std::size_t>(kCommands));
    // Every "开灯" row is a frame the device gets, and no other frame comes.
    EXPECT_TRUE(device.waitCommand(protocol::NET_CMD_CHANNEL, switched));
    EXPECT_EQ(device.received(protocol::NET_CMD_CHANNEL), switched);

    const std::string refusedRow = "MQTT命令被拒绝:设备31,丢弃";
    EXPECT_EQ(rows(refusedRow), std::vector<std::string>{refusedRow + "1条"});
    // The period ends: the rest of the count in one more row.
    nowMs += 10'000;
    console->run([&] { timer.fireAll(); });
    EXPECT_EQ(rows(refusedRow), (std::vector<std::string>{
                                    refusedRow + "1条",
                                    refusedRow + std::to_string(kCommands - switched - 1) + "条"}));
}

// Keeps the text of every id conflict it is told (on the engine's thread).
class ConflictRecorder : public EngineClient {
public:
    void onEngineEvent(const EngineEvent& event) override {
        if (const auto* c = std::get_if<IdConflict>(&event)) {
            std::lock_guard guard(lock);
            told.push_back(idConflictText(c->id, c->newcomer, c->online));
        }
    }
    std::mutex lock;
    std::vector<std::string> told;
};

// A registration refused by the link because its id is online elsewhere reaches the engine's
// other clients once per conflict and is retained on the broker.
TEST_F(EngineWithBroker, IdConflictFromTheLinkReachesTheOwnerAndTheBroker) {
    ConflictRecorder conflicts;
    auto& lock = conflicts.lock;
    auto& told = conflicts.told;
    startConsole({}, 100ms, &conflicts);
    auto& owner = addDevice(42, 0, false);
    ASSERT_TRUE(waitState(42));
    auto& intruder = addDevice(43, 0, false);  // from 127.0.0.3
    ASSERT_TRUE(waitState(43));
    protocol::RegisterPayload claim;
    claim.header.deviceId = 42;
    claim.name = "X";
    for (int i = 0; i < 3; ++i) intruder.sendFrame(protocol::buildRegisterFrame(claim));
    ASSERT_TRUE(recorder->waitLatest("rack/42/conflict",
                                     R"({"id":42,"newcomer":"127.0.0.3","online":"127.0.0.2"})"));
    // Every claim has reached the engine once a status report sent after them has.
    const auto states = [&] {
        int n = 0;
        for (const auto& entry : recorder->entries()) n += entry.topic == "rack/43/state";
        return n;
    };
    const int before = states();
    intruder.sendStatus();
    ASSERT_TRUE(testkit::waitFor([&] { return states() > before; }));
    {
        std::lock_guard guard(lock);
        EXPECT_EQ(told, std::vector<std::string>{
                            "设备ID冲突: 设备42从127.0.0.3注册被拒绝, 该ID已在127.0.0.2在线"});
    }

    // The owner goes offline; the next claim goes through and the conflict is over.
    auto knobs = owner.knobs();
    knobs.answerHeartbeats = false;
    knobs.reconnect = false;
    owner.setKnobs(knobs);
    ASSERT_TRUE(testkit::waitFor([] { return FindDevice(42) == nullptr; }));
    intruder.sendFrame(protocol::buildRegisterFrame(claim));
    EXPECT_TRUE(recorder->waitLatest("rack/42/conflict", ""));
    console->run([&] { console->engine->unsubscribe(conflicts); });
}

// Group commands from the network never ask and never show a box: the run goes, and a
// command for a group that is running or has no devices is a log line.
TEST_F(EngineWithBroker, NetworkGroupCommandsNeverAskAndTheirRefusalsAreLogged) {
    startConsole();
    int asked = 0;
    console->run([&] {
        auto options = console->engine->switching().options();
        options.confirm = [&](const std::string&, const std::vector<std::uint32_t>&,
                              consolecore::GroupKind) {
            ++asked;
            return false;
        };
        console->engine->switching().configure(options);
    });
    auto& device = addDevice(51, 2, true, false);  // never confirms: the run stays
    ASSERT_TRUE(testkit::waitFor([&] {
        const auto state = recorder->latest("rack/51/state");
        return state && state->find("\"group\":2") != std::string::npos;
    }));
    recorder->publish("rack/group/2/parallel/set", "OFF");
    ASSERT_TRUE(device.waitCommand(protocol::NET_CMD_PARALLEL));
    recorder->publish("rack/group/2/parallel/set", "OFF");
    recorder->publish("rack/group/5/serial/set", "ON");
    EXPECT_TRUE(logged({logcode::kFailure, logcode::kParallel, "分组2正在执行,忽略mqtt的平行关"}));
    EXPECT_TRUE(logged({logcode::kFailure, logcode::kSerial, "分组5没有设备,忽略mqtt的串行开"}));
    console->run([] {});
    EXPECT_EQ(asked, 0);
    EXPECT_TRUE(console->prompt.messages.empty());
    EXPECT_EQ(device.received(protocol::NET_CMD_PARALLEL), 1u);
}

// A device reported offline that registers again before the console handles the removal:
// the row the table builds from the new registration stays, and so does the device's
// availability on the broker. The frames go straight to the receive callback, so each event
// is queued when the call returns.
TEST_F(EngineWithBroker, ARemovalForADeviceThatRegisteredAgainLeavesItOnline) {
    startConsole();
    const auto receive = [](std::uint16_t id, const std::vector<std::uint8_t>& frame) {
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_addr.s_addr = htonl(0x7F000000u + id);  // the device's own loopback address
        CDeviceChannel::OnNetData(id, peer, frame.data(), static_cast<std::int32_t>(frame.size()));
    };
    const auto registration = [](std::uint16_t id) {
        protocol::RegisterPayload payload;
        payload.header.deviceId = id;
        payload.name = "R" + std::to_string(id);
        return protocol::buildRegisterFrame(payload);
    };
    std::promise<void> first;
    std::promise<void> second;
    console->hold(first.get_future().share());
    receive(61, registration(61));
    const auto notice = protocol::buildOfflineNotice(61);  // as the link reports a silent device
    receive(61, std::vector<std::uint8_t>(notice.begin(), notice.end()));
    receive(62, registration(62));  // its state is the marker: 61's newest state went before it
    console->hold(second.get_future().share());
    receive(61, registration(61));  // back before the console handled its removal

    first.set_value();  // 61 registered, removed; 62 registered; then held again
    ASSERT_TRUE(waitState(62));
    const auto state = recorder->latest("rack/61/state");
    EXPECT_NE(state.value_or("").find("\"online\":true"), std::string::npos) << *state;
    EXPECT_EQ(recorder->count("rack/61/availability", "offline"), 0);
    second.set_value();
}

}  // namespace

// The engine with [Alerts] Command set to a program that appends each alert to a file, the
// storm window short.
class EngineWithAlerts : public EngineWithBroker {
protected:
    void startWithAlerts(std::chrono::milliseconds tick = 100ms) {
        std::ofstream(m_folder + "Vantrel.ini", std::ios::app)
            << "[Alerts]\nCommand=sh -c 'cat >> \"$0\"; echo >> \"$0\"' " << m_out << "\n";
        alerts::AlertTimings timings;
        timings.stormWindow = 50ms;
        timings.attemptTimeout = 5s;
        startConsole({}, tick, &told, timings);
    }
    // The alerts the command got so far, one JSON document each.
    std::vector<std::string> alerts() const {
        std::vector<std::string> lines;
        std::ifstream in(m_out);
        for (std::string line; std::getline(in, line);) {
            if (!line.empty()) lines.push_back(line);
        }
        return lines;
    }
    std::vector<std::string> events() const {
        std::vector<std::string> seen;
        for (const std::string& line : alerts()) {
            const auto at = line.find("\"event\":\"") + 9;
            seen.push_back(line.substr(at, line.find('"', at) - at));
        }
        return seen;
    }
    bool waitAlerts(std::size_t count) {
        return testkit::waitFor([&] { return alerts().size() >= count; });
    }

    const std::string m_out = m_folder + "alerts.jsonl";
    coretest::RecordingClient told;  // the engine's events beside the alerts
};

// An id conflict from the link, then the owner going offline and the id registering again:
// one alert each, in that order.
TEST_F(EngineWithAlerts, IdConflictOfflineAndBackReachTheAlertCommand) {
    startWithAlerts();
    auto& owner = addDevice(42, 0, false);
    ASSERT_TRUE(waitState(42));
    auto& intruder = addDevice(43, 0, false);
    ASSERT_TRUE(waitState(43));
    protocol::RegisterPayload claim;
    claim.header.deviceId = 42;
    claim.name = "X";
    intruder.sendFrame(protocol::buildRegisterFrame(claim));
    ASSERT_TRUE(waitAlerts(1));

    auto knobs = owner.knobs();
    knobs.answerHeartbeats = false;
    knobs.reconnect = false;
    owner.setKnobs(knobs);
    ASSERT_TRUE(testkit::waitFor([] { return FindDevice(42) == nullptr; }));
    intruder.sendFrame(protocol::buildRegisterFrame(claim));
    ASSERT_TRUE(waitAlerts(3));
    EXPECT_EQ(events(), (std::vector<std::string>{"id-conflict", "device-offline", "device-back"}));
    EXPECT_NE(alerts()[0].find("\"device\":42"), std::string::npos) << alerts()[0];
    EXPECT_NE(alerts()[1].find("\"name\":\"SIM42\""), std::string::npos) << alerts()[1];
}

// Devices lost in one tick leave the table together on the first removal; each alert still
// names its device.
TEST_F(EngineWithAlerts, DevicesLostTogetherAreEachAlertedWithTheirNames) {
    startWithAlerts();
    std::vector<simtcp::SimDevice*> devices{&addDevice(44, 0, false), &addDevice(45, 0, false)};
    ASSERT_TRUE(waitState(44) && waitState(45));
    for (auto* device : devices) {
        auto knobs = device->knobs();
        knobs.answerHeartbeats = false;
        knobs.reconnect = false;
        device->setKnobs(knobs);
    }
    ASSERT_TRUE(waitAlerts(2));
    for (const std::string& alert : alerts()) {
        const bool named = alert.find("\"device\":44,\"name\":\"SIM44\"") != std::string::npos ||
                           alert.find("\"device\":45,\"name\":\"SIM45\"") != std::string::npos;
        EXPECT_TRUE(named) << alert;
    }
}

// A group run that times out, and one whose only device goes offline before it confirms.
TEST_F(EngineWithAlerts, RunTimeoutAndRunDeviceLostReachTheAlertCommand) {
    startWithAlerts();
    console->run([&] {
        auto options = console->engine->switching().options();
        options.timer = &timer;
        console->engine->switching().configure(std::move(options));
    });
    auto& waited = addDevice(51, 2, false, false);  // never confirms
    auto& lost = addDevice(52, 3, false, false);
    ASSERT_TRUE(waitState(51) && waitState(52));
    recorder->publish("rack/group/2/parallel/set", "ON");
    ASSERT_TRUE(waited.waitCommand(protocol::NET_CMD_PARALLEL));
    console->run([&] { timer.fireAll(); });
    ASSERT_TRUE(waitAlerts(1));
    EXPECT_EQ(events(), std::vector<std::string>{"run-timeout"});
    const auto timedOut = told.all<StepTimedOut>(51);
    ASSERT_EQ(timedOut.size(), 1u);
    const auto progress = told.all<RunProgress>();
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(timedOut[0].run, progress.back().run.id);
    EXPECT_EQ(progress.back().run.outcome, RunOutcome::TimedOut);
    EXPECT_NE(alerts()[0].find("\"group\":2"), std::string::npos) << alerts()[0];

    recorder->publish("rack/group/3/parallel/set", "ON");
    ASSERT_TRUE(lost.waitCommand(protocol::NET_CMD_PARALLEL));
    auto knobs = lost.knobs();
    knobs.answerHeartbeats = false;
    knobs.reconnect = false;
    lost.setKnobs(knobs);
    ASSERT_TRUE(waitAlerts(3));
    EXPECT_EQ(events(),
              (std::vector<std::string>{"run-timeout", "device-offline", "run-device-lost"}));
    EXPECT_NE(alerts()[2].find("\"devices\":[{\"id\":52}]"), std::string::npos) << alerts()[2];
}

// A runner clock at Monday 2024-01-29 (a holiday here) that the test moves, pauses 200 times
// shorter.
class MovableClock : public ChronrunClock {
public:
    ChronrunLocalTime localNow() override {
        const int s = m_seconds.load();
        return {2024, 1, 29, 1, s / 3600, s / 60 % 60, s % 60};
    }
    std::chrono::nanoseconds realPause(std::chrono::milliseconds delay) override {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(delay) / 200;
    }
    std::atomic<int> m_seconds{8 * 3600 + 30 * 60};
};

// A task that skips holidays is skipped; one whose device never comes gives up at its end.
TEST_F(EngineWithAlerts, TaskSkippedAndGaveUpReachTheAlertCommand) {
    const std::string tasks = m_dir.file("TimingTask");
    ASSERT_TRUE(InitChronstoreAt(tasks));
    const auto task = [](const char* name, bool skip, std::uint16_t id) {
        TimTaskPoint_ t;
        SetTimNameUtf8(t, name);
        t.ttEnable = 1;
        t.ttType = kTaskWeekMode;
        t.monday = true;
        t.statime = 8 * 3600;
        t.endtime = 9 * 3600;
        t.skipHolidays = skip;
        DeviceOnOff_ device;
        device.devID = id;
        t.devList = {device};
        return t;
    };
    PlusTTPoint(task("假日停", true, 61));
    PlusTTPoint(task("等不到", false, 99));
    PlusTTPoint(task("按时开", false, 62));
    ASSERT_TRUE(SaveTimPointToFile());
    ReleaseChronstore();
    std::ofstream(tasks + "/Holidays.ini") << "[Holidays]\ncount=1\ndate_1=2024-01-29\n";
    auto clock = std::make_shared<MovableClock>();
    SetChronrunOptions({clock, {}});
    startWithAlerts();
    addDevice(62, 0, false);
    ASSERT_TRUE(waitAlerts(1));
    EXPECT_EQ(events(), std::vector<std::string>{"task-skipped"});
    // The job must be waiting for device 99 before its end comes.
    ASSERT_TRUE(testkit::waitFor([] {
        for (const auto& row : coretest::readLog())
            if (row.content == "定时任务[等不到]进入设备[99]线程") return true;
        return false;
    }));
    // Device 62's pattern is out before the end, or the end would stop it half-way.
    ASSERT_TRUE(told.waitForAny<TaskApplied>());
    clock->m_seconds = 9 * 3600 + 1;  // the end: the job still waiting for device 99 goes
    ASSERT_TRUE(waitAlerts(2));
    EXPECT_EQ(events(), (std::vector<std::string>{"task-skipped", "task-gave-up"}));
    EXPECT_NE(alerts()[1].find("\"device\":99"), std::string::npos) << alerts()[1];
    ASSERT_TRUE(told.waitForAny<TaskSkipped>(2));
    const auto applied = told.all<TaskApplied>();
    ASSERT_EQ(applied.size(), 1u);
    EXPECT_EQ(applied[0].task, "按时开");
    EXPECT_EQ(applied[0].id, 62);
    const auto skipped = told.all<TaskSkipped>();
    ASSERT_EQ(skipped.size(), 2u);
    EXPECT_EQ(skipped[0].task, "假日停");
    EXPECT_EQ(skipped[0].id, std::nullopt);
    EXPECT_EQ(skipped[1].task, "等不到");
    EXPECT_EQ(skipped[1].id, std::optional<std::uint16_t>(99));
    console.reset();
    SetChronrunOptions({});
}

// A link that cannot listen (its port taken) is told at start.
TEST_F(EngineWithAlerts, LinkThatCannotListenReachesTheAlertCommand) {
    const int taken = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    ASSERT_EQ(::listen(taken, 1), 0);
    socklen_t length = sizeof any;
    ::getsockname(taken, reinterpret_cast<sockaddr*>(&any), &length);
    linkPort = ntohs(any.sin_port);
    startWithAlerts();
    EXPECT_TRUE(waitAlerts(1));
    EXPECT_EQ(events(), std::vector<std::string>{"link-down"});
    console->run([&] {
        const Actor mqtt{"mqtt"};
        EXPECT_EQ(console->engine->switchOutlet(1, 1, true, mqtt), SendResult::LinkDown);
        EXPECT_EQ(console->engine->startGroupRun(GroupKind::Parallel, 1, true, mqtt),
                  RunStart::LinkDown);
    });
    console.reset();
    ::close(taken);
}

// The log table refusing rows (a trigger put there from outside) is told as log trouble.
TEST_F(EngineWithAlerts, LogThatCannotBeWrittenReachesTheAlertCommand) {
    startWithAlerts();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((m_folder + "Vantrel_DB.db3").c_str(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 10000);  // the console's writer may hold the file
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TRIGGER refuse BEFORE INSERT ON Log BEGIN "
                           "SELECT RAISE(ABORT, 'refused'); END",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    addDevice(71, 0, false);  // its registration is logged
    ASSERT_TRUE(waitAlerts(1));
    EXPECT_EQ(events().front(), "log-trouble");
    EXPECT_NE(alerts()[0].find("refuses rows"), std::string::npos) << alerts()[0];
    ASSERT_TRUE(told.waitForAny<LogTrouble>());
    EXPECT_NE(told.all<LogTrouble>()[0].text.find("refuses rows"), std::string::npos);
}

// A bad webhook URL and an unknown event name are one log row and one stderr line each at
// start; the console runs on.
TEST_F(EngineWithAlerts, BadAlertSettingsAreLoggedAndToldOnStderr) {
    std::ofstream(m_folder + "Vantrel.ini", std::ios::app)
        << "[Alerts]\nWebhookUrl=htp://x\nEvents=device-offline,bogus\n";
    testing::internal::CaptureStderr();
    startConsole();
    const std::string told = testing::internal::GetCapturedStderr();
    const std::string url = "[Alerts] WebhookUrl=htp://x 无效(需要http://或https://地址)";
    const std::string event = "[Alerts] Events=bogus 无效(未知事件)";
    EXPECT_NE(told.find(url), std::string::npos) << told;
    EXPECT_NE(told.find(event), std::string::npos) << told;
    EXPECT_TRUE(logged({logcode::kFailure, logcode::kParameterChange, "配置项" + url}));
    EXPECT_TRUE(logged({logcode::kFailure, logcode::kParameterChange, "配置项" + event}));
}
