// The device jobs of the runner. A job waits for its device without a thread of its own; at
// most one job per device id waits (a newer one replaces it) and one is sent at a time. The
// devices found online are paced by one thread with a timer queue, each frame at its own due
// time, so every device of a task starts at once and the thread count stays two whatever the
// task file holds.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "device_worker.h"
#include "runner_context.h"

namespace chronrun {

class DeviceJobs {
public:
    explicit DeviceJobs(RunnerContext& context);
    ~DeviceJobs();
    DeviceJobs(const DeviceJobs&) = delete;
    DeviceJobs& operator=(const DeviceJobs&) = delete;

    // Takes the job of one device of a dispatched (or re-applied) task. A `stagger` above 0
    // gives the job the next free start slot: jobs submitted while earlier slots are still
    // pending start `stagger` (runner time) apart, in submission order, and the order of
    // such a burst (of two or more) is logged once when it is over.
    void submit(DeviceJob job, std::chrono::milliseconds stagger = {});
    // A job of task `timID` for the device still waits, or was found and has not sent its
    // first frame yet: it will set every outlet. (A device back while its frames are being
    // sent has lost the ones already sent.)
    bool hasUnsentJob(std::uint16_t devID, std::int32_t timID);
    // The window of task `timID` has closed: its jobs still waiting give up.
    // Returns what it gave up, to be told once the caller holds no lock.
    std::vector<ChronrunTaskEvent> taskEnded(std::int32_t timID);
    // Ends every thread (a send in progress finishes that frame first); jobs still waiting
    // log that their device was not found. Call after the worker flag was cleared.
    void stop();

private:
    using Clock = std::chrono::steady_clock;

    void watch();
    void pace();
    // With m_mutex held: the slot of a staggered job, and the burst's order logged at its end.
    // A burst found over is handed back in `ended`, to be logged once the lock is released.
    Clock::time_point takeSlot(std::uint16_t devID, std::chrono::milliseconds stagger,
                               std::vector<std::uint16_t>& ended);
    static void logBurst(const std::vector<std::uint16_t>& ids);
    // Both with m_mutex held; false when the thread cannot be started.
    bool startWatcher();
    bool startPacer();

    RunnerContext& m_context;
    std::mutex m_mutex;
    std::condition_variable m_watchWake;           // a job to look for, a device freed, stop
    std::condition_variable m_paceWake;            // an earlier frame due, stop
    std::map<std::uint16_t, DeviceJob> m_waiting;  // the newest job per device id
    // Devices found online, by the time their next frame is due (equal times keep their
    // order); a run being sent right now is out of it.
    std::multimap<Clock::time_point, DeviceRun> m_due;
    struct Busy {
        std::int32_t timID = 0;
        bool sending = false;  // its first frame is out (or leaving)
    };
    std::map<std::uint16_t, Busy> m_busy;  // ids settling or being sent to
    // Staggered re-applies: the next free start slot, and the ids given a slot in the
    // burst still going on (until m_nextSlot passes with no new one).
    Clock::time_point m_nextSlot{};
    std::vector<std::uint16_t> m_burst;
    bool m_lookAgain = false;
    bool m_stopped = false;
    std::thread m_watcher;
    std::thread m_pacer;
};

}  // namespace chronrun
