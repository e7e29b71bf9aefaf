// Shared parts of the runner tests: a settable local clock whose pauses run fast, a recorder
// in place of the link, the real log store, task store and device registry.
#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "chronrun/chronrun.h"
#include "chronrun/chronrun_options.h"
#include "chronstore/chronstore.h"
#include "testkit/wait_for.h"

namespace chrontest {

using Rows = std::vector<std::vector<std::string>>;

// Local time set by the test; the runner's pauses last `scale` times less than asked, so
// "runner time" is real time multiplied by `scale`.
class FakeClock : public ChronrunClock {
public:
    explicit FakeClock(int scale) : m_scale(scale) {}

    ChronrunLocalTime localNow() override;
    std::chrono::nanoseconds realPause(std::chrono::milliseconds delay) override;

    // Sets the local date and time; the weekday follows from the date.
    void set(int year, int month, int day, int hour, int minute, int second);
    // Reads of the time by the scan so far (one per task and sweep).
    std::uint64_t reads() const;
    // Waits until every task in the store has been checked `sweeps` times with the time set
    // last (the scan reads the time once per task, in task order).
    bool waitSweeps(int sweeps = 1);
    // Runs on the scan thread at every read, with the store lock held.
    void setReadHook(std::function<void()> hook);
    // When the runner began each pause of length `delay` (the pause starts right after).
    std::vector<std::chrono::steady_clock::time_point> pausesOf(
        std::chrono::milliseconds delay) const;

    int scale() const { return m_scale; }
    // A real duration expressed in runner time.
    std::chrono::milliseconds toRunnerTime(std::chrono::steady_clock::duration real) const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(real * m_scale);
    }

private:
    const int m_scale;
    mutable std::mutex m_mutex;
    ChronrunLocalTime m_now;
    std::uint64_t m_reads = 0;
    std::function<void()> m_hook;
    std::vector<std::pair<std::chrono::milliseconds, std::chrono::steady_clock::time_point>>
        m_pauses;
};

struct SentFrame {
    std::chrono::steady_clock::time_point at;
    std::vector<std::uint8_t> bytes;
    sockaddr_in to{};
    std::uint16_t deviceId() const { return bytes.size() >= 18 ? bytes[16] | bytes[17] << 8 : 0; }
};

// Stands in for the link: records every frame, can hold a send until the test opens the gate,
// and notices two sends running at the same time.
class FrameRecorder {
public:
    ChronrunSendFn sender();

    std::vector<SentFrame> frames() const;
    std::vector<SentFrame> framesTo(std::uint16_t deviceId) const;
    bool waitFramesTo(std::uint16_t deviceId, std::size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;

    // While closed, a send stays inside the send call until the gate opens again.
    void closeGate();
    void openGate();
    // Sends that have entered the send call, and those that have returned from it.
    int entered() const;
    int returned() const;
    // Most sends ever in progress at once.
    int maxConcurrent() const;

private:
    bool record(const std::uint8_t* data, std::uint32_t length, sockaddr_in to);

    mutable std::mutex m_mutex;
    std::condition_variable m_gateChanged;
    std::vector<SentFrame> m_frames;
    bool m_gateClosed = false;
    int m_entered = 0;
    int m_returned = 0;
    int m_inside = 0;
    int m_maxInside = 0;
};

// A task of one window; dates cover all of 2000..2099 in date mode unless changed.
TimTaskPoint_ makeTask(const std::string& name, std::uint8_t type, std::uint32_t statime,
                       std::uint32_t endtime, bool enabled = true);
DeviceOnOff_ makeDevice(std::uint16_t id, std::initializer_list<int> outletsOn);
constexpr std::uint32_t hms(int hour, int minute, int second) {
    return static_cast<std::uint32_t>(hour * 3600 + minute * 60 + second);
}

// Files a device in the registry, connected from `ip`.
void registerDevice(std::uint16_t id, const std::string& name, const std::string& ip);
sockaddr_in ipv4(const std::string& ip, std::uint16_t port = 0);

std::uint8_t runState(int index);
bool waitRunState(int index, std::uint8_t state);

// Log rows (type, sub-type, content) in insertion order, optionally filtered by a WHERE text.
Rows logRows(const std::string& where = "");
// Rows whose content equals `content` exactly.
Rows logLines(const std::string& content);
// Waits until a line with exactly this content has been stored.
bool waitLogLine(const std::string& content,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20));
// Names of the threads of this process that are device workers.
int deviceWorkerThreads();

// Fresh log store in a temp folder, empty task store and registry, the fake clock and the
// recorder installed; the runner is released again at the end.
class RunnerTest : public ::testing::Test {
protected:
    explicit RunnerTest(int scale = 100) : m_clock(std::make_shared<FakeClock>(scale)) {}
    void SetUp() override;
    void TearDown() override;
    // Installs the options and starts the runner.
    void startRunner();

    testkit::TempDir m_dir;
    std::shared_ptr<FakeClock> m_clock;
    FrameRecorder m_recorder;
};

}  // namespace chrontest
