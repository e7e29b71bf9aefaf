// Measures how much CPU the runner's scan thread uses with 1000 tasks in the store: the
// thread's time on CPU (from the kernel's scheduler statistics) over a few seconds of wall time,
// with the system clock and the default 10 ms sweep.
//
//   chronrun_scan_bench [seconds per scenario, default 5] [tasks, default 1000]
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "chronrun/chronrun.h"
#include "chronrun/chronrun_options.h"
#include "chronstore/chronstore.h"
#include "logbase/logbase.h"
#include "testkit/wait_for.h"

namespace {

// The system clock, noting which thread reads it (the scan thread) and how often.
class WatchedClock : public ChronrunClock {
public:
    ChronrunLocalTime localNow() override {
        if (!m_known.load(std::memory_order_acquire)) {
            m_scanThread = gettid();
            m_known.store(true, std::memory_order_release);
        }
        m_reads.fetch_add(1, std::memory_order_relaxed);
        return m_system->localNow();
    }
    bool known() const { return m_known.load(std::memory_order_acquire); }
    pid_t scanThread() const { return m_scanThread; }
    long long reads() const { return m_reads.load(std::memory_order_relaxed); }

private:
    std::shared_ptr<ChronrunClock> m_system = SystemChronrunClock();
    std::atomic<bool> m_known{false};
    pid_t m_scanThread = 0;
    std::atomic<long long> m_reads{0};
};

// CPU time of one thread of this process: the first field of its schedstat, in nanoseconds.
double threadCpuSeconds(pid_t thread) {
    std::ifstream stats("/proc/self/task/" + std::to_string(thread) + "/schedstat");
    unsigned long long nanoseconds = 0;
    if (!(stats >> nanoseconds)) return -1;
    return static_cast<double>(nanoseconds) / 1e9;
}

// Tasks spread over both modes and the whole day. `open`: every window contains now (they
// start, are dispatched as disabled copies and are then only end-tested); else no window
// contains now and each sweep runs the full start test on every task.
void fillStore(int count, bool open) {
    ReleaseChronstore();
    for (int i = 0; i < count; ++i) {
        TimTaskPoint_ task;
        SetTimNameUtf8(task, "bench" + std::to_string(i));
        task.ttEnable = 0;
        task.ttType = static_cast<std::uint8_t>(i % 2);
        task.staYear = 2000, task.staMonth = 1, task.staDay = 1;
        task.endYear = 2099, task.endMonth = 12, task.endDay = 31;
        task.sunday = task.monday = task.tuesday = task.wednesday = true;
        task.thursday = task.friday = task.saturday = true;
        task.statime = open ? 0 : 86399;
        task.endtime = 86399;
        DeviceOnOff_ device;
        device.devID = static_cast<std::uint16_t>(i);
        task.devList.push_back(device);
        task.devCount = 1;
        PlusTTPoint(task);
    }
}

void measure(const char* scenario, int tasks, bool open, double seconds) {
    fillStore(tasks, open);
    auto clock = std::make_shared<WatchedClock>();
    SetChronrunOptions({clock, nullptr});
    if (!InitChronrun()) {
        std::printf("%s: the runner did not start\n", scenario);
        return;
    }
    testkit::waitFor([&] { return clock->known(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // past the first sweeps

    const pid_t scan = clock->scanThread();
    const double cpu0 = threadCpuSeconds(scan);
    const long long reads0 = clock->reads();
    const auto wall0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double cpu1 = threadCpuSeconds(scan);
    const long long reads1 = clock->reads();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    ReleaseChronrun();

    const double sweeps = static_cast<double>(reads1 - reads0) / tasks;
    const double cpu = cpu1 - cpu0;
    std::printf(
        "%-34s tasks %5d  wall %5.2f s  scan CPU %6.3f s  share %5.2f %%  "
        "sweeps/s %6.1f  CPU per sweep %7.1f us  per task %5.3f us\n",
        scenario, tasks, wall, cpu, 100.0 * cpu / wall, sweeps / wall,
        sweeps > 0 ? 1e6 * cpu / sweeps : 0.0, sweeps > 0 ? 1e6 * cpu / sweeps / tasks : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    const int tasks = argc > 2 ? std::atoi(argv[2]) : 1000;
    if (seconds <= 0 || tasks <= 0) {
        std::fprintf(stderr, "usage: %s [seconds > 0] [tasks > 0]\n", argv[0]);
        return 2;
    }
    testkit::TempDir dir;
    InitLogbaseModule(dir.path().string() + "/", "bench.db3");
    measure("no window open (start tests)", tasks, false, seconds);
    measure("every window open (end tests)", tasks, true, seconds);
    ReleaseChronstore();
    ReleaseLogbaseModule();
    return 0;
}
