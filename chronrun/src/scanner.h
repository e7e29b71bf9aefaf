// The scan thread: every 10 ms walks the task store, one task per hold of the store lock,
// and moves each task through its run states.
#pragma once

#include <cstdint>
#include <map>
#include <thread>
#include <vector>

#include "chronrun/chronrun_options.h"
#include "chronstore/tim_task.h"
#include "device_jobs.h"
#include "dispatcher.h"
#include "runner_context.h"
#include "stop_signal.h"

namespace chronrun {

class Scanner {
public:
    Scanner(RunnerContext& context, Dispatcher& dispatcher, DeviceJobs& jobs);
    ~Scanner();
    Scanner(const Scanner&) = delete;
    Scanner& operator=(const Scanner&) = delete;

    // Starts the thread; false when it cannot be started.
    bool start();
    // Clears the scan flag and waits for the thread to end.
    void stop();

private:
    void run();
    void sweep();
    // One task, with the store lock held; what it has to tell goes to m_toTell.
    void check(TimTaskPoint_& task, const ChronrunLocalTime& now);

    RunnerContext& m_context;
    Dispatcher& m_dispatcher;
    DeviceJobs& m_jobs;
    StopSignal m_stop;  // stopped once the scan flag is cleared
    // The day each task's holiday skip was last logged (scan thread only).
    std::map<std::int32_t, std::int32_t> m_holidayLogged;
    // Task events of the task checked last, told once the store lock is released.
    std::vector<ChronrunTaskEvent> m_toTell;
    std::thread m_thread;
};

}  // namespace chronrun
