// Device jobs stay bounded: waiting takes no thread, one job per device id, a newer job
// replaces a waiting one, and a waiting job gives up when its task's window closes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "chronstore/chronstore.h"
#include "devroster/devroster.h"
#include "runner_fixture.h"
#include "testkit/process_threads.h"

namespace chrontest {
namespace {

using BoundTest = RunnerTest;

void addTask(const std::string& name, std::uint32_t end, std::vector<DeviceOnOff_> devices) {
    TimTaskPoint_ task = makeTask(name, kTaskDateMode, hms(8, 0, 0), end);
    task.devCount = static_cast<std::uint16_t>(devices.size());
    task.devList = std::move(devices);
    PlusTTPoint(task);
}

TEST_F(BoundTest, HundredsOfOfflineDevicesTakeOnlyAFewThreads) {
    const int before = testkit::processThreads();
    std::vector<DeviceOnOff_> devices;
    for (int id = 1000; id < 1400; ++id) devices.push_back(makeDevice(id, {1}));
    addTask("很多", hms(9, 0, 0), devices);
    m_clock->set(2024, 1, 29, 8, 0, 0);
    startRunner();
    ASSERT_TRUE(waitLogLine("定时任务[很多]进入设备[1399]线程"));
    EXPECT_LE(testkit::processThreads() - before, 16);
    EXPECT_LE(deviceWorkerThreads(), 8);
}

TEST_F(BoundTest, ANewerJobReplacesTheOneStillWaitingForItsDevice) {
    addTask("旧", hms(9, 0, 0), {makeDevice(70, {1})});
    addTask("新", hms(9, 0, 0), {makeDevice(70, {2})});
    m_clock->set(2024, 1, 29, 8, 0, 0);
    startRunner();
    ASSERT_TRUE(waitLogLine("定时任务[新]进入设备[70]线程"));
    EXPECT_EQ(logLines("定时任务[新]取代设备[70]等待中的定时任务[旧]"),
              (Rows{{"1", "7", "定时任务[新]取代设备[70]等待中的定时任务[旧]"}}));

    registerDevice(70, "D70", "127.0.0.70");
    ASSERT_TRUE(waitLogLine("定时任务[新]执行设备[D70]完成."));
    ReleaseChronrun();
    const std::vector<SentFrame> frames = m_recorder.framesTo(70);
    ASSERT_EQ(frames.size(), 16u);
    for (int outlet = 1; outlet <= 16; ++outlet)
        EXPECT_EQ(frames[outlet - 1].bytes[21], outlet == 2 ? 1 : 0);
    EXPECT_TRUE(logLines("定时任务[旧]开始执行设备[D70]").empty());
}

TEST_F(BoundTest, AWaitingJobGivesUpWhenItsTaskEnds) {
    addTask("过时", hms(9, 0, 0), {makeDevice(71, {1})});
    m_clock->set(2024, 1, 29, 8, 0, 0);
    startRunner();
    ASSERT_TRUE(waitLogLine("定时任务[过时]进入设备[71]线程"));
    m_clock->set(2024, 1, 29, 9, 0, 0);
    ASSERT_TRUE(waitLogLine("定时任务[过时]结束时间已到,放弃设备[71]"));
    EXPECT_EQ(logLines("定时任务[过时]结束时间已到,放弃设备[71]")[0][0], "3");
    registerDevice(71, "D71", "127.0.0.71");
    ReleaseChronrun();
    EXPECT_TRUE(m_recorder.framesTo(71).empty());
    EXPECT_TRUE(logLines("定时任务[过时]找不到设备[71]").empty());
}

}  // namespace
}  // namespace chrontest
