// Measures how a timed task of many online devices starts in real time: when each device gets
// its first and its last outlet frame after the task is due, and how many threads the runner
// takes meanwhile. The frames go to a recorder instead of the link.
//
//   chronrun_task_start_bench [devices, default 1000]
#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "chronrun/chronrun.h"
#include "chronrun/chronrun_options.h"
#include "chronstore/chronstore.h"
#include "devroster/devroster.h"
#include "logbase/logbase.h"
#include "testkit/process_threads.h"
#include "testkit/wait_for.h"

namespace {

using Clock = std::chrono::steady_clock;

// 08:00:00 on a Monday; pauses as long as asked.
class FixedDayClock : public ChronrunClock {
public:
    ChronrunLocalTime localNow() override {
        ChronrunLocalTime now;
        now.year = 2024, now.month = 1, now.day = 29, now.weekday = 1;
        now.hour = 8;
        return now;
    }
};

struct DeviceFrames {
    Clock::time_point first{};
    Clock::time_point last{};
    int count = 0;
};

}  // namespace

int main(int argc, char** argv) {
    const int devices = argc > 1 ? std::atoi(argv[1]) : 1000;
    if (devices <= 0 || devices > 60000) {
        std::fprintf(stderr, "usage: %s [devices 1..60000]\n", argv[0]);
        return 2;
    }
    testkit::TempDir dir;
    InitLogbaseModule(dir.path().string() + "/", "bench.db3");
    InitDevrosterMod();
    ReleaseChronstore();

    TimTaskPoint_ task;
    SetTimNameUtf8(task, "bench");
    task.ttEnable = 1;
    task.ttType = 0;
    task.staYear = 2000, task.staMonth = 1, task.staDay = 1;
    task.endYear = 2099, task.endMonth = 12, task.endDay = 31;
    task.statime = 8 * 3600;
    task.endtime = 9 * 3600;
    for (int i = 0; i < devices; ++i) {
        const auto id = static_cast<std::uint16_t>(1 + i);
        auto device = std::make_shared<CDeviceBase>();
        device->SetDeviceID(id);
        device->SetDeviceName("D" + std::to_string(id));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(0x7F000000u + 0x100u + static_cast<std::uint32_t>(i));
        device->SetDeviceSockIPAddr(address);
        device->SetOnLine(true);
        PlusDevice(device);
        PlusDevtoArray(id);
        DeviceOnOff_ entry;
        entry.devID = id;
        entry.devLED[0] = 1;
        task.devList.push_back(entry);
    }
    task.devCount = static_cast<std::uint16_t>(devices);
    PlusTTPoint(task);

    std::mutex mutex;
    std::vector<DeviceFrames> frames(static_cast<std::size_t>(devices) + 1);
    int complete = 0;
    auto send = [&](const std::uint8_t* data, std::uint32_t length, sockaddr_in) {
        if (length < 18) return false;
        const auto now = Clock::now();
        const std::size_t id = data[16] | data[17] << 8;
        std::lock_guard lock(mutex);
        if (id == 0 || id >= frames.size()) return false;
        DeviceFrames& device = frames[id];
        if (device.count++ == 0) device.first = now;
        device.last = now;
        if (device.count == 16) ++complete;
        return true;
    };

    const int threadsBefore = testkit::processThreads();
    int threadsMost = 0;
    SetChronrunOptions({std::make_shared<FixedDayClock>(), send});
    const Clock::time_point start = Clock::now();
    if (!InitChronrun()) {
        std::fprintf(stderr, "the runner did not start\n");
        return 1;
    }
    // Samples the thread count while the task runs (a bench, not a test: a poll is fine).
    const bool done = testkit::waitFor(
        [&] {
            threadsMost = std::max(threadsMost, testkit::processThreads() - threadsBefore);
            std::lock_guard lock(mutex);
            return complete == devices;
        },
        std::chrono::seconds(120));
    ReleaseChronrun();

    double firstMin = 1e9, firstMax = 0, lastMax = 0;
    for (int i = 1; i <= devices; ++i) {
        const DeviceFrames& device = frames[static_cast<std::size_t>(i)];
        if (device.count == 0) continue;
        const double first = std::chrono::duration<double>(device.first - start).count();
        const double last = std::chrono::duration<double>(device.last - start).count();
        firstMin = std::min(firstMin, first);
        firstMax = std::max(firstMax, first);
        lastMax = std::max(lastMax, last);
    }
    std::printf(
        "devices %d  all 16 frames: %s (%d complete)\n"
        "first frame after the start: earliest %.3f s, latest %.3f s (spread %.3f s)\n"
        "last frame after the start: latest %.3f s\n"
        "runner threads at most: %d\n",
        devices, done ? "yes" : "NO", complete, firstMin, firstMax, firstMax - firstMin, lastMax,
        threadsMost);
    ReleaseChronstore();
    ReleaseDevroster();
    ReleaseLogbaseModule();
    return done ? 0 : 1;
}
