// The engine's events as a client sees them: the real link, the engine on its own thread and
// a simulated device driven through registration, a status report, a refused claim of its id,
// a group step and going offline. Each event comes once and carries its values.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <mutex>

#include "devroster/devroster.h"
#include "engine_thread.h"
#include "lanwire/lanwire.h"
#include "lanwire/lanwire_options.h"
#include "platform/ipv4_text.h"
#include "protocol/device_frames.h"
#include "protocol/frame_types.h"
#include "public/data_path.h"
#include "simtcp/sim_fleet.h"
#include "testkit/wait_for.h"

namespace {

using namespace consolecore;
using namespace std::chrono_literals;

// Keeps a copy of every event, in order.
class RecordingClient : public EngineClient {
public:
    void onEngineEvent(const EngineEvent& event) override {
        std::lock_guard guard(m_lock);
        m_events.push_back(event);
    }
    template <typename T>
    std::vector<T> all(std::uint16_t id) const {
        std::lock_guard guard(m_lock);
        std::vector<T> found;
        for (const EngineEvent& event : m_events) {
            if (const T* e = std::get_if<T>(&event); e && idOf(*e) == id) found.push_back(*e);
        }
        return found;
    }
    template <typename T>
    bool waitFor(std::uint16_t id, std::size_t count = 1) const {
        return testkit::waitFor([&] { return all<T>(id).size() >= count; });
    }

private:
    static std::uint16_t idOf(const DeviceRegistered& e) { return e.device.id; }
    static std::uint16_t idOf(const DeviceChanged& e) { return e.device.id; }
    template <typename T>
    static std::uint16_t idOf(const T& e) {
        return e.id;
    }

    mutable std::mutex m_lock;
    std::vector<EngineEvent> m_events;
};

std::uint32_t address(const char* text) {
    return inet_addr(text);
}

TEST(EngineEvents, ADeviceLifeReachesAClientOnceByValue) {
    testkit::TempDir dir;
    const std::string folder = dir.path().string() + "/";
    SetDataPath(folder);
    LanwireOptions link;
    link.tickPeriod = 100ms;  // a silent device is offline within half a second
    link.heartbeatGap = 10ms;
    SetLanwireOptions(link);
    beginApplication();
    SessionOptions options;
    options.programFolder = folder;
    options.port = 0;
    options.taskFolder = dir.file("TimingTask");
    RecordingClient client;
    {
        coretest::EngineThread console(options, {}, &client);
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
        console.run([&] { sent = console.engine->switchOutlet(31, 2, true, Actor{"mqtt"}); });
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
        console.run([&] {
            started = console.engine->startGroupRun(GroupKind::Parallel, 2, true, Actor{"web:ann"});
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
        console.run([] {});  // anything still queued on the engine's thread is told

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
        console.run([&] { console.engine->unsubscribe(client); });
    }
    endApplication();
    SetLanwireOptions({});
    SetDataPath("");
}

}  // namespace
