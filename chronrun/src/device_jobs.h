// The device jobs of the runner. A job waits for its device without a thread of its own; at
// most one job per device id waits (a newer one replaces it) and one is sent at a time; a few
// sender threads switch the outlets of the devices found online. The thread count therefore
// stays bounded whatever the task file holds.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "device_worker.h"
#include "runner_context.h"

namespace chronrun {

inline constexpr std::size_t kMaxSenderThreads = 8;

// A job whose device was found online, with the record it was found as.
struct FoundJob {
    DeviceJob job;
    std::shared_ptr<CDeviceBase> device;
};

class DeviceJobs {
public:
    explicit DeviceJobs(RunnerContext& context);
    ~DeviceJobs();
    DeviceJobs(const DeviceJobs&) = delete;
    DeviceJobs& operator=(const DeviceJobs&) = delete;

    // Takes the job of one device of a dispatched (or re-applied) task.
    void submit(DeviceJob job);
    // A job of task `timID` for the device still waits or is being sent.
    bool hasJob(std::uint16_t devID, std::int32_t timID);
    // The window of task `timID` has closed: its jobs still waiting give up.
    void taskEnded(std::int32_t timID);
    // Ends every thread (a send in progress finishes that frame first); jobs still waiting
    // log that their device was not found. Call after the worker flag was cleared.
    void stop();

private:
    void watch();
    void sendLoop();
    // Both with m_mutex held; false when the thread cannot be started.
    bool startWatcher();
    void startSenders();

    RunnerContext& m_context;
    std::mutex m_mutex;
    std::condition_variable m_watchWake;           // a job to look for, a device freed, stop
    std::condition_variable m_sendWake;            // a job ready, stop
    std::map<std::uint16_t, DeviceJob> m_waiting;  // the newest job per device id
    std::deque<FoundJob> m_ready;                  // devices found online, not yet sent to
    std::map<std::uint16_t, std::int32_t> m_busy;  // ids ready or being sent to: their task
    bool m_lookAgain = false;
    bool m_stopped = false;
    std::size_t m_freeSenders = 0;  // started senders not busy with a job
    std::thread m_watcher;
    std::vector<std::thread> m_senders;
};

}  // namespace chronrun
