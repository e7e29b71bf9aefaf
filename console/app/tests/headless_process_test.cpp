// `vantrel --headless` in its own process, without a display, bridged to a real broker: a
// simulated device's state reaches the broker, an outlet command reaches the device, and a
// stop signal ends it in order with exit status 0.
#include <gtest/gtest.h>

#include <fstream>

#include "broker_fixture.h"
#include "protocol/frame_types.h"
#include "simtcp/sim_fleet.h"
#include "vantrel_process.h"

namespace {

using namespace proctest;
using namespace std::chrono_literals;

TEST(HeadlessProcess, BridgesADeviceToTheBrokerAndStopsInOrderOnSigterm) {
    testkit::TempDir folder;
    mqtttest::Broker broker(folder.path().string());
    ASSERT_TRUE(broker.start());
    std::ofstream(folder.path() / "Vantrel.ini")
        << "[Mqtt]\nHost=127.0.0.1\nPort=" << broker.port() << "\nBaseTopic=site1\n";
    mqtttest::Recorder recorder(broker.port());
    ASSERT_TRUE(recorder.subscribed());

    const int port = freePort();
    Console console(folder, folder.path().string(), port,
                    {"--headless", "--data-dir=" + folder.path().string()}, true);
    ASSERT_TRUE(console.started());
    ASSERT_TRUE(
        testkit::waitFor([&] { return contains(console.log(), "定时任务模块初始化成功."); }, 30s))
        << console.errors();

    simtcp::SimFleet fleet("127.0.0.1", static_cast<std::uint16_t>(port));
    simtcp::DeviceConfig config;
    config.id = 4321;
    config.name = "RACK-A";
    config.sourceAddress = "127.0.0.2";
    config.outlets = 0x0001;
    simtcp::SimDevice& device = fleet.add(config);
    fleet.start();

    // Retained state of the registered device, outlet 1 on.
    ASSERT_TRUE(testkit::waitFor(
        [&] {
            const auto state = recorder.latest("site1/4321/state");
            return state && state->find("\"name\":\"RACK-A\"") != std::string::npos &&
                   state->find("\"outlets\":[true,false") != std::string::npos;
        },
        30s))
        << console.errors();
    EXPECT_EQ(recorder.latest("site1/status"), "online");

    // Outlet 5 on, as a click on its cell sends it.
    recorder.publish("site1/4321/outlet/5/set", "ON");
    ASSERT_TRUE(device.waitFrames(
        [](const std::vector<simtcp::ReceivedFrame>& frames) {
            return std::any_of(frames.begin(), frames.end(), [](const simtcp::ReceivedFrame& f) {
                return f.command() == protocol::NET_CMD_CHANNEL && f.param(0) == 5 &&
                       f.param(1) == 1;
            });
        },
        30s));
    EXPECT_TRUE(testkit::waitFor(
        [&] {
            const auto state = recorder.latest("site1/4321/state");
            return state &&
                   state->find("\"outlets\":[true,false,false,false,true") != std::string::npos;
        },
        30s));

    console.signal(SIGTERM);
    const auto status = console.waitExit(10s);
    ASSERT_TRUE(status.has_value()) << "still running 10 s after SIGTERM";
    ASSERT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status);
    EXPECT_EQ(WEXITSTATUS(*status), 0) << console.errors();
    EXPECT_TRUE(contains(console.log(), "退出心跳计数线程"));
    EXPECT_TRUE(recorder.waitLatest("site1/status", "offline"));
}

}  // namespace
