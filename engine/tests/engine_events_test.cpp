// The engine's events as a client sees them: the real link, the engine on its own thread and
// a simulated device driven through registration, a status report, a refused claim of its id,
// a group step and going offline. Each event comes once and carries its values.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <algorithm>

#include "devroster/devroster.h"
#include "engine_thread.h"
#include "lanwire/lanwire.h"
#include "lanwire/lanwire_options.h"
#include "logbase/log_codes.h"
#include "platform/ipv4_text.h"
#include "protocol/device_frames.h"
#include "protocol/frame_types.h"
#include "public/data_path.h"
#include "recording_client.h"
#include "simtcp/sim_fleet.h"
#include "testkit/wait_for.h"

namespace {

using namespace consolecore;
using namespace std::chrono_literals;

using coretest::RecordingClient;

std::uint32_t address(const char* text) {
    return inet_addr(text);
}

class EngineEvents : public ::testing::Test {
protected:
    void SetUp() override {
        SetDataPath(m_folder);
        LanwireOptions link;
        link.tickPeriod = 100ms;  // a silent device is offline within half a second
        link.heartbeatGap = 10ms;
        SetLanwireOptions(link);
        beginApplication();
        SessionOptions options;
        options.programFolder = m_folder;
        options.port = 0;
        options.taskFolder = m_dir.file("TimingTask");
        console = std::make_unique<coretest::EngineThread>(options, ClientFactory{}, &client);
    }
    void TearDown() override {
        console->run([&] { console->engine->unsubscribe(client); });
        console.reset();
        endApplication();
        SetLanwireOptions({});
        SetDataPath("");
    }

    testkit::TempDir m_dir;
    const std::string m_folder = m_dir.path().string() + "/";
    RecordingClient client;
    std::unique_ptr<coretest::EngineThread> console;
};

TEST_F(EngineEvents, ADeviceLifeReachesAClientOnceByValue) {
    {
        simtcp::SimFleet fleet("127.0.0.1", GetLanwirePort());
        auto config = simtcp::makeDeviceConfig(0, 31);  // from 127.0.0.2
        config.group = 2;
        config.mode = 0;
        config.number = 1;
        simtcp::Knobs knobs;
        knobs.stepDelay = 1ms;
        knobs.statusEachStep = false;  // one status report at the end of a step
        simtcp::SimDevice& device = fleet.add(config, knobs);
        simtcp::SimDevice& intruder = fleet.add(simtcp::makeDeviceConfig(1, 32), knobs);
        fleet.start();

        // Registered: the snapshot of the new record.
        ASSERT_TRUE(client.waitFor<DeviceRegistered>(31));
        const DeviceSnapshot registered = client.all<DeviceRegistered>(31)[0].device;
        EXPECT_EQ(registered.name, "SIM31");
        EXPECT_EQ(registered.ip.sin_addr.s_addr, address("127.0.0.2"));
        EXPECT_EQ(registered.group, 2);
        EXPECT_TRUE(registered.online);
        EXPECT_FALSE(registered.leds[1]);
        EXPECT_NE(registered.generation, 0u);

        // Status: outlet 2 switched through the engine's command; the device reports it.
        SendResult sent = SendResult::Refused;
        console->run([&] { sent = console->engine->switchOutlet(31, 2, true, Actor{"mqtt"}); });
        ASSERT_EQ(sent, SendResult::Queued);
        ASSERT_TRUE(client.waitFor<DeviceChanged>(31));
        EXPECT_TRUE(client.all<DeviceChanged>(31)[0].device.leds[1]);

        // Id conflict: three claims of 31 from 127.0.0.3, told once with both addresses.
        ASSERT_TRUE(client.waitFor<DeviceRegistered>(32));
        protocol::RegisterPayload claim;
        claim.header.deviceId = 31;
        claim.name = "X";
        for (int i = 0; i < 3; ++i) intruder.sendFrame(protocol::buildRegisterFrame(claim));
        intruder.sendStatus();  // handled after the three claims
        ASSERT_TRUE(client.waitFor<DeviceChanged>(32));
        const auto conflicts = client.all<IdConflict>(31);
        ASSERT_EQ(conflicts.size(), 1u);
        EXPECT_EQ(conflicts[0].newcomer, address("127.0.0.3"));
        EXPECT_EQ(conflicts[0].online, address("127.0.0.2"));
        intruder.disconnect();  // and stays away: 31 is left to its owner

        // Step done: a parallel run of group 2; the device's last step reports and confirms.
        RunStart started = RunStart::LinkDown;
        console->run([&] {
            started =
                console->engine->startGroupRun(GroupKind::Parallel, 2, true, Actor{"web:ann"});
        });
        ASSERT_EQ(started, RunStart::Started);
        ASSERT_TRUE(client.waitFor<StepDone>(31));
        ASSERT_TRUE(client.waitFor<DeviceChanged>(31, 2));

        // Offline: the device stops answering and stays away.
        auto silent = device.knobs();
        silent.answerHeartbeats = false;
        silent.reconnect = false;
        device.setKnobs(silent);
        ASSERT_TRUE(client.waitFor<DeviceRemoved>(31));
        console->run([] {});  // anything still queued on the engine's thread is told

        EXPECT_EQ(client.all<DeviceRegistered>(31).size(), 1u);
        EXPECT_EQ(client.all<DeviceChanged>(31).size(), 2u);
        EXPECT_EQ(client.all<IdConflict>(31).size(), 1u);
        const auto steps = client.all<StepDone>(31);
        ASSERT_EQ(steps.size(), 1u);
        EXPECT_EQ(steps[0].kind, GroupKind::Parallel);
        const auto removed = client.all<DeviceRemoved>(31);
        ASSERT_EQ(removed.size(), 1u);
        EXPECT_EQ(removed[0].generation, registered.generation);
        // The events kept their values after the record left the registry.
        EXPECT_EQ(FindDevice(31), nullptr);
        EXPECT_EQ(client.all<DeviceRegistered>(31)[0].device.name, "SIM31");
        // Commands from elsewhere than the console name their actor.
        EXPECT_EQ(
            coretest::countLog({logcode::kRun, logcode::kOther, "设备:SIM31开灯:2,用户:mqtt"}), 1);
        const auto rows = coretest::readLog();
        EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [](const coretest::LogRow& row) {
            return row.content.starts_with("平行开分组2汇总:") &&
                   row.content.ends_with(",用户:web:ann");
        }));
    }
}

// Each command says what became of it; the console's own rows stay as they were, anybody
// else is named, and a cancel by somebody else than the starter is named in the run's audit.
TEST_F(EngineEvents, CommandsSayWhatBecameOfThemAndNameTheirActor) {
    simtcp::SimFleet fleet("127.0.0.1", GetLanwirePort());
    auto config = simtcp::makeDeviceConfig(0, 41);
    config.group = 3;
    config.mode = 0;
    simtcp::Knobs knobs;
    knobs.reportStepDone = false;  // a run of its group stays until cancelled
    fleet.add(config, knobs);
    fleet.start();
    ASSERT_TRUE(client.waitFor<DeviceRegistered>(41));

    const Actor mqtt{"mqtt"};
    const Actor ann{"web:ann"};
    console->run([&] {
        ConsoleEngine& engine = *console->engine;
        EXPECT_EQ(engine.switchOutlet(99, 1, true, mqtt), SendResult::UnknownDevice);
        EXPECT_EQ(engine.switchOutlet(41, 17, true, mqtt), SendResult::Invalid);
        EXPECT_EQ(engine.switchOutlet(41, 2, true, engine.consoleActor()), SendResult::Queued);
        EXPECT_EQ(engine.switchOutlet(41, 3, false, mqtt), SendResult::Queued);
        EXPECT_EQ(engine.startGroupRun(GroupKind::Parallel, 7, true, mqtt), RunStart::NoSuchGroup);
        EXPECT_EQ(engine.startGroupRun(GroupKind::Serial, 4, true, mqtt), RunStart::GroupEmpty);
        ASSERT_EQ(engine.startGroupRun(GroupKind::Parallel, 3, true, ann), RunStart::Started);
        EXPECT_EQ(engine.startGroupRun(GroupKind::Parallel, 3, true, mqtt), RunStart::GroupBusy);
        const std::uint64_t run = engine.switching().activeRuns().at(0).id;
        EXPECT_EQ(engine.cancelRun(run, mqtt), CancelResult::Cancelled);
        EXPECT_EQ(engine.cancelRun(run, mqtt), CancelResult::UnknownRun);
    });
    EXPECT_EQ(coretest::countLog({logcode::kRun, logcode::kOther, "设备:SIM41开灯:2"}), 1);
    EXPECT_EQ(coretest::countLog({logcode::kRun, logcode::kOther, "设备:SIM41关灯:3,用户:mqtt"}),
              1);
    const auto rows = coretest::readLog();
    EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [](const coretest::LogRow& row) {
        return row.content.starts_with("平行开分组3汇总:顺序[41],结果:已取消") &&
               row.content.ends_with(",用户:web:ann,取消:mqtt");
    }));
}

}  // namespace
