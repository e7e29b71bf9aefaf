// The engine with the bridge on a real broker: device state goes out from the engine's
// thread, and a group command from the bridge's thread runs on the engine's thread through
// the switching path, as the group buttons do after their dialog.
#include "consolecore/console_engine.h"

#include <gtest/gtest.h>

#include <fstream>

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

// The engine on a thread of its own, its messages and tasks queued there.
class EngineThread : public platform::MessageTarget {
public:
    explicit EngineThread(SessionOptions options) {
        EngineHooks hooks;
        hooks.postToEngine = [this](std::function<void()> task) { m_thread.post(std::move(task)); };
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

}  // namespace
