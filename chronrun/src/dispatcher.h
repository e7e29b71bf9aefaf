// The dispatch queue and its thread: takes the copies of due tasks in order, drops disabled
// ones, hands one job per device to the device jobs and keeps tasks 3 s apart.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "chronstore/tim_task.h"
#include "device_jobs.h"
#include "runner_context.h"

namespace chronrun {

class Dispatcher {
public:
    Dispatcher(RunnerContext& context, DeviceJobs& jobs);
    ~Dispatcher();
    Dispatcher(const Dispatcher&) = delete;
    Dispatcher& operator=(const Dispatcher&) = delete;

    // Appends the copy of a due task (the scan calls it with the store lock held; the queue's
    // lock is taken after it).
    void append(TimTaskPoint_ copy);
    // Makes the dispatcher run: starts its thread the first time, else wakes it if parked.
    // False when the queue is empty or the thread cannot be started; the copies then stay
    // queued for the next wake.
    bool wake();
    // Drops every queued copy.
    void clear();
    // Clears the dispatch flag, wakes the thread and waits for it to end; queued copies are
    // dropped.
    void stop();

private:
    void run();
    void dispatch(const TimTaskPoint_& task);
    // Waits `delay` of runner time unless stopped first; `lock` holds m_mutex.
    void pause(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds delay);

    RunnerContext& m_context;
    DeviceJobs& m_jobs;

    std::mutex m_mutex;  // guards the queue and the flag
    std::condition_variable m_wake;
    std::deque<TimTaskPoint_> m_queue;
    bool m_run = false;  // the dispatch flag

    std::mutex m_threadMutex;  // guards the thread object (scan starts it, release joins it)
    std::thread m_thread;
};

}  // namespace chronrun
