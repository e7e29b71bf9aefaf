// The engine with the bridge on a real broker: device state goes out from the engine's
// thread, and a group command from the bridge's thread runs on the engine's thread through
// the switching path, as the group buttons do after their dialog.
#include "consolecore/console_engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <map>

#include "broker_fixture.h"
#include "consolecore/group_selection.h"
#include "core_test_support.h"
#include "lanwire/lanwire.h"
#include "lanwire/lanwire_options.h"
#include "logbase/log_codes.h"
#include "platform/messages.h"
#include "protocol/frame_types.h"
#include "public/data_path.h"
#include "simtcp/sim_fleet.h"
#include "testkit/job_thread.h"

namespace {

using namespace consolecore;
using namespace std::chrono_literals;

class NoChooser : public GroupChooser {
public:
    std::optional<int> chooseGroup(GroupKind, std::uint8_t) override { return std::nullopt; }
};

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

// The engine on a thread of its own, its messages and tasks queued there.
class EngineThread : public platform::MessageTarget {
public:
    explicit EngineThread(SessionOptions options,
                          std::function<std::chrono::steady_clock::time_point()> clock = {}) {
        EngineHooks hooks;
        hooks.postToEngine = [this](std::function<void()> task) { m_thread.post(std::move(task)); };
        hooks.clock = std::move(clock);
        m_thread.run([&] {
            engine = std::make_unique<ConsoleEngine>(std::move(options), chooser, prompt,
                                                     std::move(hooks));
        });
        setMainWindow(this);
        m_thread.run([&] { engine->start(); });
    }
    ~EngineThread() override {
        m_thread.run([&] { engine.reset(); });
        setMainWindow(nullptr);
        m_thread.stop();
    }
    void post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override {
        m_thread.post([this, message, wParam, lParam] {
            if (engine) engine->handleMessage(message, wParam, lParam);
        });
    }
    void run(std::function<void()> action) { m_thread.run(std::move(action)); }

    NoChooser chooser;
    coretest::RecordingPrompt prompt;
    std::unique_ptr<ConsoleEngine> engine;

private:
    testkit::JobThread m_thread;
};

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
        EngineThread console(options);
        bool bridged = false;
        console.run([&] { bridged = console.engine->bridgeRunning(); });
        ASSERT_TRUE(bridged);

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

// 20 outlet commands over MQTT to a device whose outbox holds two: only the commands that
// were queued log "开灯", and the refused ones are told in one counted row per device and
// period, the rest when the period ends.
TEST(ConsoleEngine, RefusedOutletCommandsAreCountedNotLoggedAsSwitched) {
    testkit::TempDir dir;
    const std::string folder = dir.path().string() + "/";
    SetDataPath(folder);
    mqtttest::Broker broker(dir.path().string());
    ASSERT_TRUE(broker.start());
    std::ofstream(folder + "Vantrel.ini")
        << "[Mqtt]\nHost=127.0.0.1\nPort=" << broker.port() << "\nBaseTopic=rack\n";
    mqtttest::Recorder recorder(broker.port());
    ASSERT_TRUE(recorder.subscribed());
    LanwireOptions link;
    link.outboxLimit = 2;
    link.sendGap = 300ms;  // the outbox drains slowly, so the burst overfills it
    SetLanwireOptions(link);

    beginApplication();
    SessionOptions options;
    options.programFolder = folder;
    options.port = 0;
    options.taskFolder = dir.file("TimingTask");
    std::atomic<std::int64_t> nowMs{1'000'000};
    ManualTimer timer;  // outlives the engine, which disarms it when it stops
    {
        EngineThread console(options, [&] {
            return std::chrono::steady_clock::time_point(std::chrono::milliseconds(nowMs.load()));
        });
        console.run([&] {
            auto switching = console.engine->switching().options();
            switching.timer = &timer;
            console.engine->switching().configure(std::move(switching));
        });
        simtcp::SimFleet fleet("127.0.0.1", GetLanwirePort());
        simtcp::SimDevice& device = fleet.add(simtcp::makeDeviceConfig(0, 31));
        simtcp::SimDevice& other = fleet.add(simtcp::makeDeviceConfig(1, 32));
        fleet.start();
        ASSERT_TRUE(testkit::waitFor([&] {
            return recorder.latest("rack/31/state").has_value() &&
                   recorder.latest("rack/32/state").has_value();
        }));

        constexpr int kCommands = 20;
        for (int k = 0; k < kCommands; ++k) {
            recorder.publish("rack/31/outlet/" + std::to_string(k % 16 + 1) + "/set", "ON");
        }
        // Commands are handled in order: once the one for another device is, so are the 20.
        recorder.publish("rack/32/outlet/1/set", "ON");
        ASSERT_TRUE(other.waitCommand(protocol::NET_CMD_CHANNEL)) << [] {
            std::string all;
            for (const auto& row : coretest::readLog()) all += row.content + "\n";
            return all;
        }();
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
        console.run([&] { timer.fireAll(); });
        EXPECT_EQ(
            rows(refusedRow),
            (std::vector<std::string>{
                refusedRow + "1条", refusedRow + std::to_string(kCommands - switched - 1) + "条"}));
    }
    endApplication();
    SetLanwireOptions(LanwireOptions{});
    SetDataPath("");
}

}  // namespace
