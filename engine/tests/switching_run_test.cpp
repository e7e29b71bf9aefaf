// Group runs as the operator follows them: order, progress, step time-out, cancel, refusal,
// confirmation and the audit line, over the real link with simulated sequencers.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "console_harness.h"
#include "consolecore/group_run.h"
#include "logbase/log_codes.h"
#include "protocol/console_frames.h"
#include "protocol/device_frames.h"
#include "protocol/frame_types.h"
#include "simtcp/sim_fleet.h"

using namespace consolecore;
using coretest::ConsoleHarness;
using coretest::countLog;

namespace {

// Timers that fire only when the test says so (on the stand-in GUI thread).
class ManualTimer : public RunTimer {
public:
    void arm(std::uint64_t key, std::chrono::milliseconds after,
             std::function<void()> fire) override {
        m_armed[key] = {after, std::move(fire)};
    }
    void disarm(std::uint64_t key) override { m_armed.erase(key); }
    bool fire(std::uint64_t key) {
        auto it = m_armed.find(key);
        if (it == m_armed.end()) return false;
        auto fire = std::move(it->second.second);
        m_armed.erase(it);
        fire();
        return true;
    }
    std::map<std::uint64_t, std::pair<std::chrono::milliseconds, std::function<void()>>> m_armed;
};

class SwitchingRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        console = std::make_unique<ConsoleHarness>(m_dir.path().string() + "/");
        ASSERT_TRUE(console->started);
        fleet = std::make_unique<simtcp::SimFleet>("127.0.0.1", console->port);
        SwitchingOptions options;
        options.stepTimeout = std::chrono::milliseconds(7000);
        options.timer = &timer;
        options.userName = "operator7";
        options.confirm = [this](const std::string& question,
                                 const std::vector<std::uint32_t>& order, GroupKind) {
            questions.push_back(question);
            orders.push_back(order);
            return answer;
        };
        console->onGui([&] {
            console->switching.configure(options);
            console->switching.setRunObserver([this](const GroupRun& run) { seen.push_back(run); });
        });
    }
    void TearDown() override {
        fleet.reset();
        console.reset();
    }

    simtcp::SimDevice& addDevice(std::uint16_t id, std::uint8_t group, std::uint8_t mode,
                                 std::uint8_t number, bool on, bool confirms = true) {
        auto config = simtcp::makeDeviceConfig(fleet->size(), id);
        config.group = group;
        config.mode = mode;
        config.number = number;
        config.onOff = on;
        simtcp::Knobs knobs;
        knobs.stepDelay = std::chrono::milliseconds(1);
        knobs.reportStepDone = confirms;
        return fleet->add(config, knobs);
    }
    // The runs the observer saw, copied on the GUI thread.
    std::vector<GroupRun> runs() {
        std::vector<GroupRun> copy;
        console->onGui([&] { copy = seen; });
        return copy;
    }
    bool waitEnded(RunOutcome outcome) {
        return testkit::waitFor([&] {
            const auto all = runs();
            return !all.empty() && all.back().outcome == outcome;
        });
    }
    std::vector<std::uint32_t> serialOrder(std::initializer_list<simtcp::SimDevice*> devices) {
        std::vector<std::pair<std::chrono::steady_clock::time_point, std::uint32_t>> sent;
        for (auto* d : devices) {
            for (const auto& f : d->frames(protocol::NET_CMD_SERIAL))
                sent.push_back({f.at, d->id()});
        }
        std::sort(sent.begin(), sent.end());
        std::vector<std::uint32_t> ids;
        for (const auto& s : sent) ids.push_back(s.second);
        return ids;
    }
    std::uint64_t activeRunId() {
        std::uint64_t id = 0;
        console->onGui([&] {
            const auto active = console->switching.activeRuns();
            if (!active.empty()) id = active.front().id;
        });
        return id;
    }
    // Starts a serial run on group 6 from the window's button, waits for its first order to
    // `first`, and asks to cancel it; the step still out makes the answer Cancelling.
    std::uint64_t startSerialOnGroup6AndCancel(simtcp::SimDevice& first) {
        console->chooser.groupIndex = 5;
        console->onGui([&] { console->switching.OnSerialOn(); });
        EXPECT_TRUE(first.waitCommand(protocol::NET_CMD_SERIAL));
        const std::uint64_t id = activeRunId();
        console->onGui([&] {
            EXPECT_EQ(console->switching.cancelRun(id, console->switching.consoleActor()),
                      CancelResult::Cancelling);
        });
        return id;
    }

    testkit::TempDir m_dir;
    std::unique_ptr<ConsoleHarness> console;
    std::unique_ptr<simtcp::SimFleet> fleet;
    ManualTimer timer;
    std::vector<GroupRun> seen;
    std::vector<std::string> questions;
    std::vector<std::vector<std::uint32_t>> orders;
    bool answer = true;
};

TEST(SwitchingOrderTest, EqualNumbersKeepListOrderInBothDirections) {
    // Enough entries that an unstable sort reorders equal numbers.
    std::vector<stLocDevInfo_> entries;
    for (std::uint32_t i = 0; i < 60; ++i) {
        entries.push_back({i, 0, static_cast<std::uint8_t>(1 + (i * 7) % 4), 0});
    }
    for (std::uint8_t target : {0, 1}) {
        const auto sorted = switchingOrder(entries, target);
        ASSERT_EQ(sorted.size(), entries.size());
        for (std::size_t k = 1; k < sorted.size(); ++k) {
            const auto& a = sorted[k - 1];
            const auto& b = sorted[k];
            if (a.number == b.number) {
                EXPECT_LT(a.deviceId, b.deviceId) << "target " << int(target) << " at " << k;
            } else {
                EXPECT_EQ(a.number < b.number, target == 1) << "at " << k;
            }
        }
    }
}

TEST_F(SwitchingRunTest, SerialOffRunsFromTheHighestNumberWithProgressAndAuditLine) {
    auto& two = addDevice(12, 3, 1, 2, true);
    auto& one = addDevice(11, 3, 1, 1, true);
    auto& three = addDevice(13, 3, 1, 3, true);
    fleet->start();
    ASSERT_TRUE(console->waitRows(3));
    console->chooser.groupIndex = 2;
    console->onGui([&] { console->switching.OnSerialOff(); });
    ASSERT_TRUE(waitEnded(RunOutcome::Completed));
    EXPECT_EQ(serialOrder({&one, &two, &three}), (std::vector<std::uint32_t>{13, 12, 11}));
    EXPECT_EQ(three.frames(protocol::NET_CMD_SERIAL)[0].param(0), 0);
    for (auto* d : {&one, &two, &three}) EXPECT_FALSE(d->state().onOff);
    EXPECT_EQ(questions, std::vector<std::string>{"确定要关闭Link3的3台设备吗?"});
    EXPECT_EQ(orders, (std::vector<std::vector<std::uint32_t>>{{13, 12, 11}}));

    // Progress as the panel saw it: one device at a time, the one being switched named.
    std::vector<std::pair<std::size_t, std::uint32_t>> steps;
    for (const auto& r : runs()) {
        if (r.running()) steps.push_back({r.doneCount(), r.current.value_or(0)});
    }
    EXPECT_EQ(steps,
              (std::vector<std::pair<std::size_t, std::uint32_t>>{{0, 13}, {1, 12}, {2, 11}}));
    EXPECT_TRUE(runStatusText(runs().back(), {}).starts_with("完成 3/3,"));

    for (const char* line : {"点击串行关3", "串行关", "串行关分组3结束!"})
        EXPECT_EQ(countLog({logcode::kRun, logcode::kSerial, line}), 1) << line;
    const auto rows = coretest::readLog();
    const auto audit = std::find_if(rows.begin(), rows.end(), [](const auto& r) {
        return r.content.starts_with("串行关分组3汇总:顺序[13,12,11],结果:完成,用时");
    });
    ASSERT_NE(audit, rows.end());
    EXPECT_EQ(audit->type, logcode::kRun);
    EXPECT_EQ(audit->subType, logcode::kSerial);
    EXPECT_TRUE(audit->content.ends_with(",用户:operator7"));
}

TEST_F(SwitchingRunTest, StaleRecordOfAnEarlierRunDoesNotSteerTheNewOne) {
    auto& one = addDevice(21, 2, 1, 1, false);
    auto& two = addDevice(22, 2, 1, 2, false);
    auto& three = addDevice(23, 2, 1, 3, false);
    fleet->start();
    ASSERT_TRUE(console->waitRows(3));
    // Left by a 串行关 whose first step reply was lost.
    console->onGui([] {
        auto& groups = switchingGroups();
        auto guard = groups.lock();
        groups.addSerialRecord({2, 21, 0, {23, 22, 21}});
    });
    console->chooser.groupIndex = 1;
    console->onGui([&] { console->switching.OnSerialOn(); });
    ASSERT_TRUE(waitEnded(RunOutcome::Completed));
    EXPECT_EQ(serialOrder({&one, &two, &three}), (std::vector<std::uint32_t>{21, 22, 23}));
}

TEST_F(SwitchingRunTest, AnyNonZeroStateCountsAsOnWhenChoosingTheNextDevice) {
    auto& first = addDevice(31, 4, 1, 1, false, false);
    auto& second = addDevice(32, 4, 1, 2, false);
    fleet->start();
    ASSERT_TRUE(console->waitRows(2));
    console->chooser.groupIndex = 3;
    console->onGui([&] { console->switching.OnSerialOn(); });
    ASSERT_TRUE(first.waitCommand(protocol::NET_CMD_SERIAL));
    ASSERT_TRUE(testkit::waitFor([&] { return first.state().onOff; }));
    // Device 32's entry says state 2: on, as the run start would read it.
    console->onGui([] {
        auto& groups = switchingGroups();
        auto guard = groups.lock();
        for (auto& e : groups.devices(GroupKind::Serial, 4)) {
            if (e.deviceId == 32) e.onOff = 2;
        }
    });
    first.sendStepDone();
    ASSERT_TRUE(waitEnded(RunOutcome::Completed));
    EXPECT_EQ(second.received(protocol::NET_CMD_SERIAL), 0u);
    EXPECT_EQ(countLog({logcode::kRun, logcode::kSerial, "串行开分组4结束!"}), 1);
}

TEST_F(SwitchingRunTest, SerialStepWithoutReplyTimesOutAndDropsTheRecord) {
    auto& mute = addDevice(41, 5, 1, 1, false, false);
    auto& next = addDevice(42, 5, 1, 2, false);
    fleet->start();
    ASSERT_TRUE(console->waitRows(2));
    console->chooser.groupIndex = 4;
    console->onGui([&] { console->switching.OnSerialOn(); });
    ASSERT_TRUE(mute.waitCommand(protocol::NET_CMD_SERIAL));
    const std::uint64_t id = activeRunId();
    ASSERT_NE(id, 0u);
    console->onGui([&] {
        EXPECT_EQ(timer.m_armed.at(id).first, std::chrono::milliseconds(7000));
        EXPECT_TRUE(timer.fire(id));
        EXPECT_EQ(switchingGroups().findSerialRecord(5), nullptr);
        EXPECT_TRUE(console->switching.activeRuns().empty());
    });
    const GroupRun last = runs().back();
    EXPECT_EQ(last.outcome, RunOutcome::TimedOut);
    EXPECT_EQ(last.unconfirmed, std::vector<std::uint32_t>{41});
    EXPECT_NE(runStatusText(last, {}).find("设备41未确认"), std::string::npos);
    EXPECT_EQ(countLog({logcode::kFailure, logcode::kSerial, "串行开分组5超时:设备41"}), 1);
    EXPECT_EQ(next.received(protocol::NET_CMD_SERIAL), 0u);
    // A reply queued before the time-out finds no run and no record: nothing more is sent.
    // The on/off order behind it reaches the device after anything sent before it.
    console->onGui([&] {
        console->switching.onSerialStepDone(41, true);
        console->channel.SendSetOnOff(42, 1);
    });
    ASSERT_TRUE(next.waitCommand(protocol::NET_CMD_SET_ONOFF));
    EXPECT_EQ(next.received(protocol::NET_CMD_SERIAL), 0u);
}

TEST_F(SwitchingRunTest, CancelLetsTheCurrentStepFinishAndSendsNothingMore) {
    auto& slow = addDevice(51, 6, 1, 1, false, false);
    auto& next = addDevice(52, 6, 1, 2, false);
    fleet->start();
    ASSERT_TRUE(console->waitRows(2));
    startSerialOnGroup6AndCancel(slow);
    if (HasFailure()) return;
    EXPECT_TRUE(runs().back().cancelRequested);
    EXPECT_TRUE(runs().back().running());
    slow.sendStepDone();
    ASSERT_TRUE(waitEnded(RunOutcome::Cancelled));
    EXPECT_EQ(next.received(protocol::NET_CMD_SERIAL), 0u);
    console->onGui([&] { EXPECT_EQ(switchingGroups().findSerialRecord(6), nullptr); });
    const auto rows = coretest::readLog();
    EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [](const auto& r) {
        return r.content.starts_with("串行开分组6汇总:顺序[51],结果:已取消");
    }));
}

// Only the device the run waits for moves it on, from its own connection: an unasked step
// reply of another device of the group, or one claiming the current device's id from another
// connection, neither skips a device nor gets past the cancel.
TEST_F(SwitchingRunTest, OnlyTheCurrentDevicesOwnReplyMovesASerialRun) {
    auto& slow = addDevice(55, 6, 1, 1, false, false);
    auto& other = addDevice(56, 6, 1, 2, false);
    auto& last = addDevice(57, 6, 1, 3, false);
    auto& forger = addDevice(58, 0, 0, 1, false);
    fleet->start();
    ASSERT_TRUE(console->waitRows(4));
    startSerialOnGroup6AndCancel(slow);
    if (HasFailure()) return;
    // Each reply is followed by a frame of the same connection that the link drops: once that
    // is counted, the reply before it has been handled and its message posted.
    const auto sendAndSettle = [&](simtcp::SimDevice& from, std::uint16_t claimed) {
        const std::uint64_t forged = GetLanwireStats().framesForged;
        from.sendFrame(protocol::buildDeviceHeader(protocol::NET_CMD_STEP_DONE, claimed));
        from.sendFrame(protocol::buildDeviceHeader(protocol::NET_CMD_STEP_DONE, 55));
        ASSERT_TRUE(testkit::waitFor([&] { return GetLanwireStats().framesForged > forged; }));
    };
    sendAndSettle(other, 56);
    sendAndSettle(forger, 55);
    const GroupRun waiting = runs().back();
    EXPECT_TRUE(waiting.running());
    EXPECT_EQ(waiting.current, std::optional<std::uint32_t>(55));
    EXPECT_EQ(waiting.switched, std::vector<std::uint32_t>{55});

    slow.sendStepDone();
    ASSERT_TRUE(waitEnded(RunOutcome::Cancelled));
    EXPECT_EQ(runs().back().confirmed, std::vector<std::uint32_t>{55});
    EXPECT_EQ(other.received(protocol::NET_CMD_SERIAL), 0u);
    EXPECT_EQ(last.received(protocol::NET_CMD_SERIAL), 0u);
}

TEST_F(SwitchingRunTest, SecondRunOfARunningGroupIsRefused) {
    auto& mute = addDevice(61, 1, 1, 1, false, false);
    addDevice(62, 1, 1, 2, false);
    fleet->start();
    ASSERT_TRUE(console->waitRows(2));
    console->chooser.groupIndex = 0;
    console->onGui([&] { console->switching.OnSerialOn(); });
    ASSERT_TRUE(mute.waitCommand(protocol::NET_CMD_SERIAL));
    console->onGui([&] { console->switching.OnSerialOn(); });
    EXPECT_EQ(console->prompt.messages,
              std::vector<std::string>{"Link1的串行操作正在进行,请等待其结束或取消后再试"});
    EXPECT_EQ(mute.received(protocol::NET_CMD_SERIAL), 1u);
    EXPECT_EQ(countLog({logcode::kRun, logcode::kSerial, "点击串行开1"}), 1);
}

TEST_F(SwitchingRunTest, GroupOffAsksFirstAndSendsNothingWhenDeclined) {
    auto& p1 = addDevice(71, 2, 0, 2, true);
    auto& p2 = addDevice(72, 2, 0, 1, true);
    auto& s1 = addDevice(73, 2, 1, 1, true);
    fleet->start();
    ASSERT_TRUE(console->waitRows(3));
    console->chooser.groupIndex = 1;
    answer = false;
    console->onGui([&] { console->switching.OnParallelOff(); });
    console->onGui([&] { console->switching.OnSerialOff(); });
    EXPECT_EQ(questions, (std::vector<std::string>{"确定要关闭Link2的2台设备吗?",
                                                   "确定要关闭Link2的1台设备吗?"}));
    EXPECT_EQ(orders, (std::vector<std::vector<std::uint32_t>>{{71, 72}, {73}}));
    // Switching on never asks; with the setting off, off does not ask either.
    console->onGui([&] {
        auto options = console->switching.options();
        options.confirmGroupOff = false;
        console->switching.configure(options);
        console->switching.OnParallelOff();
    });
    ASSERT_TRUE(p1.waitCommand(protocol::NET_CMD_PARALLEL));
    ASSERT_TRUE(p2.waitCommand(protocol::NET_CMD_PARALLEL));
    EXPECT_EQ(questions.size(), 2u);
    EXPECT_EQ(s1.received(protocol::NET_CMD_SERIAL), 0u);
}

TEST_F(SwitchingRunTest, ParallelTimeOutMarksTheDevicesThatDidNotReport) {
    auto& ok = addDevice(81, 3, 0, 1, false);
    auto& mute = addDevice(82, 3, 0, 2, false, false);
    fleet->start();
    ASSERT_TRUE(console->waitRows(2));
    console->chooser.groupIndex = 2;
    console->onGui([&] { console->switching.OnParallelOn(); });
    ASSERT_TRUE(mute.waitCommand(protocol::NET_CMD_PARALLEL));
    ASSERT_TRUE(ok.waitCommand(protocol::NET_CMD_PARALLEL));
    ASSERT_TRUE(testkit::waitFor([&] { return runs().back().doneCount() == 1; }));
    const std::uint64_t id = activeRunId();
    console->onGui([&] { EXPECT_TRUE(timer.fire(id)); });
    const GroupRun last = runs().back();
    EXPECT_EQ(last.outcome, RunOutcome::TimedOut);
    EXPECT_EQ(last.confirmed, std::vector<std::uint32_t>{81});
    EXPECT_EQ(last.unconfirmed, std::vector<std::uint32_t>{82});
    EXPECT_EQ(countLog({logcode::kFailure, logcode::kParallel, "平行开分组3超时:设备82"}), 1);
    const auto rows = coretest::readLog();
    EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [](const auto& r) {
        return r.type == logcode::kRun && r.subType == logcode::kParallel &&
               r.content.starts_with("平行开分组3汇总:顺序[81,82],结果:超时,未确认[82]");
    }));
}

TEST_F(SwitchingRunTest, DeviceGoingOfflineMidRunEndsItAsLost) {
    auto& mute = addDevice(91, 4, 1, 1, false, false);
    auto& next = addDevice(92, 4, 1, 2, false);
    fleet->start();
    ASSERT_TRUE(console->waitRows(2));
    console->chooser.groupIndex = 3;
    console->onGui([&] { console->switching.OnSerialOn(); });
    ASSERT_TRUE(mute.waitCommand(protocol::NET_CMD_SERIAL));
    const auto notice = protocol::buildOfflineNotice(91);
    CDeviceChannel::OnNetData(91, {}, notice.data(), static_cast<std::int32_t>(notice.size()));
    ASSERT_TRUE(waitEnded(RunOutcome::DeviceLost));
    EXPECT_EQ(runs().back().lost, std::vector<std::uint32_t>{91});
    EXPECT_EQ(next.received(protocol::NET_CMD_SERIAL), 0u);
    console->onGui([&] { EXPECT_EQ(switchingGroups().findSerialRecord(4), nullptr); });
}

}  // namespace

// A run of a given group (an MQTT command): no dialog, the same frames, log lines and run
// state as the buttons; a group outside 1..6 sends nothing and is a log line, not a box.
TEST_F(SwitchingRunTest, GivenGroupRunsWithoutTheDialogLikeTheButtons) {
    auto& parallel = addDevice(81, 4, 0, 1, false);
    auto& serial = addDevice(82, 5, 1, 1, false);
    fleet->start();
    ASSERT_TRUE(console->waitRows(2));
    console->onGui([&] {
        const Actor mqtt{"MQTT"};
        EXPECT_EQ(console->switching.startGroupRun(GroupKind::Parallel, 4, 1, mqtt),
                  RunStart::Started);
        EXPECT_EQ(console->switching.startGroupRun(GroupKind::Serial, 5, 1, mqtt),
                  RunStart::Started);
        EXPECT_EQ(console->switching.startGroupRun(GroupKind::Serial, 7, 1, mqtt),
                  RunStart::NoSuchGroup);
    });
    ASSERT_TRUE(parallel.waitCommand(protocol::NET_CMD_PARALLEL));
    ASSERT_TRUE(serial.waitCommand(protocol::NET_CMD_SERIAL));
    EXPECT_EQ(parallel.frames(protocol::NET_CMD_PARALLEL)[0].param(0), 1);
    EXPECT_EQ(serial.frames(protocol::NET_CMD_SERIAL)[0].param(0), 1);
    EXPECT_TRUE(testkit::waitFor([&] {
        int completed = 0;
        for (const auto& r : runs()) completed += r.outcome == RunOutcome::Completed;
        return completed == 2;
    }));
    EXPECT_EQ(console->chooser.opened, 0);
    EXPECT_TRUE(console->prompt.messages.empty());  // nobody is there to read a box
    EXPECT_EQ(countLog({logcode::kFailure, logcode::kSerial, "分组7不存在,忽略MQTT的串行开"}), 1);
    EXPECT_EQ(countLog({logcode::kRun, logcode::kSerial, "点击串行开5"}), 1);
    EXPECT_EQ(timer.m_armed.size(), 0u);  // both runs ended and disarmed their time-outs
}

// The window's "平行关" question runs the event loop, which runs an MQTT command that arrives
// meanwhile. That command runs at once without a question; when the operator then confirms,
// the group is running and the operator is told: one group, one run.
TEST_F(SwitchingRunTest, ANetworkCommandWhileTheOffQuestionIsOpenLeavesOneRun) {
    auto& first = addDevice(61, 2, 0, 1, true);
    auto& second = addDevice(62, 2, 0, 2, true);
    fleet->start();
    ASSERT_TRUE(console->waitRows(2));
    console->chooser.groupIndex = 1;
    int asked = 0;
    console->onGui([&] {
        auto options = console->switching.options();
        options.confirm = [&](const std::string&, const std::vector<std::uint32_t>&, GroupKind) {
            if (++asked == 1) {
                console->switching.startGroupRun(GroupKind::Parallel, 2, 0, Actor{"MQTT"});
            }
            return true;
        };
        console->switching.configure(options);
        console->switching.OnParallelOff();
    });
    ASSERT_TRUE(waitEnded(RunOutcome::Completed));
    EXPECT_EQ(asked, 1);
    std::set<std::uint64_t> runIds;
    for (const auto& run : runs()) runIds.insert(run.id);
    EXPECT_EQ(runIds.size(), 1u);
    EXPECT_EQ(console->prompt.messages,
              std::vector<std::string>{"Link2的平行操作正在进行,请等待其结束或取消后再试"});
    EXPECT_EQ(first.received(protocol::NET_CMD_PARALLEL), 1u);
    EXPECT_EQ(second.received(protocol::NET_CMD_PARALLEL), 1u);
}
