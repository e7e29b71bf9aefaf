// Re-applies of devices that register together: spaced by the stagger in registration order,
// the order logged once; no stagger starts them all at once.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chronstore/chronstore.h"
#include "runner_fixture.h"

namespace chrontest {
namespace {

using namespace std::chrono_literals;

constexpr int kScale = 10;
constexpr int kDevices = 50;

// Holds every device after its first frame, so the first frames are all the pacer sends.
class FirstFrameClock : public FakeClock {
public:
    FirstFrameClock() : FakeClock(kScale) {}
    std::chrono::nanoseconds realPause(std::chrono::milliseconds delay) override {
        return delay == kChronrunOutletHold ? std::chrono::hours(1) : FakeClock::realPause(delay);
    }
};

class ReapplyStaggerTest : public RunnerTest {
protected:
    ReapplyStaggerTest() { m_clock = std::make_shared<FirstFrameClock>(); }
    void TearDown() override {
        SetChronrunReapplyStagger(0ms);
        RunnerTest::TearDown();
    }

    // A running task names the devices (ids 1001..1050), which then all register at once in
    // descending id order and are re-applied: their first frames in registration order.
    std::vector<SentFrame> reapplyAll(std::chrono::milliseconds stagger) {
        TimTaskPoint_ task = makeTask("回电", kTaskDateMode, hms(8, 0, 0), hms(9, 0, 0));
        for (int id = 1001; id < 1001 + kDevices; ++id)
            task.devList.push_back(makeDevice(static_cast<std::uint16_t>(id), {1}));
        PlusTTPoint(task);
        m_clock->set(2024, 1, 29, 8, 0, 0);
        startRunner();
        EXPECT_TRUE(waitRunState(0, kTaskRunning));
        // A restart leaves the task running with none of its jobs waiting, as after the
        // site's power went out.
        ReleaseChronrun();
        startRunner();
        SetChronrunReapplyStagger(stagger);
        m_registered = std::chrono::steady_clock::now();
        std::vector<std::uint16_t> order;
        for (int id = 1000 + kDevices; id > 1000; --id) {
            const auto devID = static_cast<std::uint16_t>(id);
            registerDevice(devID, "D" + std::to_string(id), "127.0.3." + std::to_string(id - 1000));
            EXPECT_TRUE(ReapplyChronrunTask(devID));
            order.push_back(devID);
        }
        std::vector<SentFrame> first;
        for (const std::uint16_t id : order) {
            EXPECT_TRUE(m_recorder.waitFramesTo(id, 1));
            const auto frames = m_recorder.framesTo(id);
            if (!frames.empty()) first.push_back(frames.front());
        }
        return first;
    }

    std::chrono::steady_clock::time_point m_registered;  // before the first registration
};

TEST_F(ReapplyStaggerTest, DevicesBackTogetherStartOneStaggerApartInRegistrationOrder) {
    const std::vector<SentFrame> first = reapplyAll(200ms);
    ASSERT_EQ(first.size(), std::size_t{kDevices});
    // A frame never leaves before it is due, only late: each device starts after the previous
    // one and no sooner than its slot, `i` staggers plus the settling after the first
    // registration. Late sends make single gaps uneven; the mean is exact up to the two ends.
    for (std::size_t i = 0; i < first.size(); ++i) {
        SCOPED_TRACE(i);
        if (i > 0) {
            EXPECT_GE(first[i].at, first[i - 1].at);
        }
        EXPECT_GE(first[i].at - m_registered, (static_cast<int>(i) * 200ms + 1500ms) / kScale);
    }
    const auto mean = m_clock->toRunnerTime(first.back().at - first.front().at) / (kDevices - 1);
    EXPECT_GE(mean, 150ms);
    EXPECT_LE(mean, 250ms);

    std::string order = "错开重新应用:";
    for (int id = 1000 + kDevices; id > 1000; --id)
        order += std::to_string(id) + (id > 1001 ? "," : "");
    ASSERT_TRUE(waitLogLine(order));
    EXPECT_EQ(logRows("where LogContent like '错开%'"), (Rows{{"2", "7", order}}));
}

TEST_F(ReapplyStaggerTest, NoStaggerStartsThemAllAtOnce) {
    const std::vector<SentFrame> first = reapplyAll(0ms);
    ASSERT_EQ(first.size(), std::size_t{kDevices});
    // Staggered they would span 49 x 200 ms; at once they span the registrations and sends.
    EXPECT_LT(m_clock->toRunnerTime(first.back().at - first.front().at), kDevices * 100ms);
    EXPECT_TRUE(logRows("where LogContent like '错开%'").empty());
}

}  // namespace
}  // namespace chrontest
