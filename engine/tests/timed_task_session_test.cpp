// Timed tasks in a running console: a console started inside a task's window runs it at once,
// a disabled task never sends, and with [Tasks] ReapplyOnRegister=1 a device that registers
// again while its task runs gets the task's pattern again, whether it was dropped first or is
// still known.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "chronrun/chronrun.h"
#include "chronrun/chronrun_options.h"
#include "chronstore/chronstore.h"
#include "consolecore/console_session.h"
#include "consolecore/device_channel.h"
#include "core_test_support.h"
#include "devroster/devroster.h"
#include "lanwire/lanwire.h"
#include "lanwire/lanwire_options.h"
#include "protocol/console_frames.h"
#include "public/data_path.h"
#include "simtcp/sim_device.h"
#include "simtcp/sim_fleet.h"
#include "testkit/wait_for.h"

using namespace consolecore;

namespace {

// Monday 2024-01-29 08:30:00, the runner's pauses 200 times shorter.
class MidWindowClock : public ChronrunClock {
public:
    ChronrunLocalTime localNow() override { return {2024, 1, 29, 1, 8, 30, 0}; }
    std::chrono::nanoseconds realPause(std::chrono::milliseconds delay) override {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(delay) / 200;
    }
};

TimTaskPoint_ task(const char* name, bool enabled, std::uint16_t id, std::uint8_t outlet) {
    TimTaskPoint_ t;
    SetTimNameUtf8(t, name);
    t.ttEnable = enabled ? 1 : 0;
    t.ttType = kTaskWeekMode;
    t.monday = true;
    t.statime = 8 * 3600;
    t.endtime = 9 * 3600;
    DeviceOnOff_ device;
    device.devID = id;
    device.devLED[outlet - 1] = 1;
    t.devList = {device};
    return t;
}

std::vector<simtcp::ReceivedFrame> channelFrames(const simtcp::SimDevice& device) {
    return device.frames(protocol::NET_CMD_CHANNEL);
}

// "Vantrel.ini" and the tasks in a fresh data folder, a console session on a free port, and
// devices 7 and 8 connected to it.
class TimedTaskSession : public ::testing::Test {
protected:
    void startWith(const std::string& settings, const std::vector<TimTaskPoint_>& tasks) {
        SetDataPath(m_folder);
        std::ofstream(m_folder + "Vantrel.ini") << settings;
        ASSERT_TRUE(InitChronstoreAt(m_dir.file("TimingTask")));
        for (const TimTaskPoint_& t : tasks) PlusTTPoint(t);
        ASSERT_TRUE(SaveTimPointToFile());
        ReleaseChronstore();
        SetChronrunOptions({std::make_shared<MidWindowClock>(), {}});
        beginApplication();
        m_begun = true;
        SessionOptions options;
        options.programFolder = m_folder;
        options.taskFolder = m_dir.file("TimingTask");
        options.port = 0;
        LanwireOptions link;
        link.programFolder = m_folder;
        SetLanwireOptions(link);
        session = std::make_unique<ConsoleSession>(m_channel, options);
        session->start();
        ASSERT_TRUE(session->linkStarted());
        fleet = std::make_unique<simtcp::SimFleet>("127.0.0.1", GetLanwirePort());
        seven = &fleet->add(simtcp::makeDeviceConfig(0, 7));
        eight = &fleet->add(simtcp::makeDeviceConfig(1, 8));
        fleet->start();
    }
    void TearDown() override {
        if (session) session->stop();
        if (fleet) fleet->stop();
        fleet.reset();
        session.reset();
        if (m_begun) endApplication();
        SetChronrunOptions({});
        SetDataPath("");
    }

    testkit::TempDir m_dir;
    const std::string m_folder = m_dir.path().string() + "/";
    coretest::IgnoredMessages m_ignored;
    CDeviceChannel m_channel{m_ignored};
    bool m_begun = false;
    std::unique_ptr<ConsoleSession> session;
    std::unique_ptr<simtcp::SimFleet> fleet;
    simtcp::SimDevice* seven = nullptr;
    simtcp::SimDevice* eight = nullptr;
};

TEST_F(TimedTaskSession, StartedInTheWindowRunsAtOnceAndReappliesOnRegistration) {
    ASSERT_NO_FATAL_FAILURE(startWith("[Tasks]\nReapplyOnRegister=1\n",
                                      {task("开灯", true, 7, 3), task("停用", false, 8, 1)}));
    simtcp::SimDevice& seven = *this->seven;
    simtcp::SimDevice& eight = *this->eight;
    ASSERT_TRUE(seven.waitCommand(protocol::NET_CMD_CHANNEL, 16));
    for (const auto& frame : channelFrames(seven))
        EXPECT_EQ(frame.param(1), frame.param(0) == 3 ? 1 : 0) << int{frame.param(0)};
    EXPECT_TRUE(testkit::waitFor([] { return FindDevice(8) != nullptr; }));
    EXPECT_EQ(coretest::countLog({2, 7, "执行定时任务:停用"}), 0);

    // The device is dropped and registers anew while the task runs. Its first registration
    // may already have been a re-apply (when it beat the scan's dispatch), so only the
    // increase counts.
    const coretest::LogRow reapplied{2, 7,
                                     "定时任务[开灯]重新应用到设备[" + seven.config().name + "]"};
    const int before = coretest::countLog(reapplied);
    const std::size_t framesBefore = channelFrames(seven).size();
    RemoveDevFromObjDevInfoMap(7);
    RemoveFromDevArray(7);
    seven.sendRegistration();
    ASSERT_TRUE(seven.waitCommand(protocol::NET_CMD_CHANNEL, framesBefore + 16));
    EXPECT_TRUE(testkit::waitFor([&] { return coretest::countLog(reapplied) == before + 1; }));

    // The device reboots quickly: it registers again on a new connection before any
    // offline notice, so it is still known ("已经注册过了"), and it gets the pattern again.
    const coretest::LogRow known{2, 4, "已经注册过了:7"};
    const int knownBefore = coretest::countLog(known);
    const std::size_t framesBeforeReboot = channelFrames(seven).size();
    seven.disconnect();
    seven.connect();
    ASSERT_TRUE(seven.waitCommand(protocol::NET_CMD_CHANNEL, framesBeforeReboot + 16));
    EXPECT_TRUE(testkit::waitFor([&] { return coretest::countLog(known) == knownBefore + 1; }));
    EXPECT_TRUE(testkit::waitFor([&] { return coretest::countLog(reapplied) == before + 2; }));
    session->stop();
    EXPECT_TRUE(channelFrames(eight).empty());
}

// [Tasks] ReapplyStaggerMs reaches the runner: two devices back one after the other while the
// task runs are re-applied as one staggered burst, its order logged once.
TEST_F(TimedTaskSession, DevicesBackTogetherAreReappliedAsOneStaggeredBurst) {
    TimTaskPoint_ both = task("开灯", true, 7, 3);
    both.devList.push_back(task("开灯", true, 8, 3).devList.front());
    ASSERT_NO_FATAL_FAILURE(
        startWith("[Tasks]\nReapplyOnRegister=1\nReapplyStaggerMs=10000\n", {both}));
    simtcp::SimDevice& seven = *this->seven;
    simtcp::SimDevice& eight = *this->eight;
    ASSERT_TRUE(seven.waitCommand(protocol::NET_CMD_CHANNEL, 16));
    ASSERT_TRUE(eight.waitCommand(protocol::NET_CMD_CHANNEL, 16));

    // Both are dropped and come back together; the row lists them in the order their
    // re-applies were logged. (Their first registrations may have been re-applies too,
    // when they beat the scan's dispatch: only the rows from here on count.)
    for (const std::uint16_t id : {8, 7}) {
        RemoveDevFromObjDevInfoMap(id);
        RemoveFromDevArray(id);
    }
    const std::size_t logBefore = coretest::readLog().size();
    eight.sendRegistration();
    seven.sendRegistration();
    std::string order;
    std::string reapplied;
    EXPECT_TRUE(testkit::waitFor([&] {
        const std::vector<coretest::LogRow> rows = coretest::readLog();
        order.clear();
        reapplied.clear();
        for (std::size_t i = logBefore; i < rows.size(); ++i) {
            const std::string& text = rows[i].content;
            if (text.starts_with("错开重新应用:")) order = text.substr(text.find(':') + 1);
            for (const simtcp::SimDevice* device : {&seven, &eight}) {
                if (text == "定时任务[开灯]重新应用到设备[" + device->config().name + "]")
                    reapplied +=
                        std::string(reapplied.empty() ? "" : ",") + (device == &seven ? "7" : "8");
            }
        }
        return !order.empty();
    }));
    EXPECT_EQ(reapplied, order);
}

}  // namespace
