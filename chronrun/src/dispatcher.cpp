// The dispatcher thread: parks on a condition that re-checks the queue, so a copy appended
// just before it parks is still taken.
#include "dispatcher.h"

#include <pthread.h>

#include <string>
#include <system_error>

#include "chronrun/chronrun_options.h"
#include "device_worker.h"
#include "logbase/log_codes.h"
#include "logbase/logbase.h"

namespace chronrun {
Dispatcher::Dispatcher(RunnerContext& context, DeviceJobs& jobs)
    : m_context(context), m_jobs(jobs) {}

Dispatcher::~Dispatcher() {
    stop();
}

void Dispatcher::append(TimTaskPoint_ copy) {
    std::lock_guard lock(m_mutex);
    m_queue.push_back(std::move(copy));
}

bool Dispatcher::wake() {
    std::string headName;
    {
        std::lock_guard lock(m_mutex);
        if (m_queue.empty()) return false;
        headName = GetTimNameUtf8(m_queue.front());
        m_run = true;
    }
    std::lock_guard threadLock(m_threadMutex);
    if (!m_thread.joinable()) {
        logEvent(logcode::kSystem, logcode::kTimedTask,
                 "启动定时[" + std::string(headName.c_str()) + "]分派线程.");
        try {
            m_thread = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            logEvent(logcode::kFailure, logcode::kTimedTask, "定时分派启动失败.");
            return false;
        }
        return true;
    }
    // Waking cannot fail here: the flag is set under the queue's lock and the thread re-checks
    // it before it parks.
    m_wake.notify_one();
    logEvent(logcode::kSystem, logcode::kTimedTask,
             "开启定时[" + std::string(headName.c_str()) + "].唤醒分派线程.");
    return true;
}

void Dispatcher::clear() {
    std::lock_guard lock(m_mutex);
    m_queue.clear();
}

void Dispatcher::stop() {
    {
        std::lock_guard lock(m_mutex);
        m_run = false;
    }
    m_wake.notify_all();
    std::lock_guard threadLock(m_threadMutex);
    if (m_thread.joinable()) m_thread.join();
    clear();
}

void Dispatcher::pause(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds delay) {
    // New copies notify the same condition; they do not shorten the pause.
    m_wake.wait_for(lock, m_context.realPause(delay), [this] { return !m_run; });
}

void Dispatcher::run() {
    pthread_setname_np(pthread_self(), "chronrun-disp");
    std::unique_lock lock(m_mutex);
    while (m_run) {
        if (m_queue.empty()) {
            m_wake.wait(lock, [this] { return !m_run || !m_queue.empty(); });
            continue;
        }
        if (!m_queue.front().ttEnable) {
            m_queue.pop_front();
            pause(lock, kChronrunDisabledPause);
            continue;
        }
        const TimTaskPoint_ task = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        dispatch(task);
        lock.lock();
        pause(lock, kChronrunTaskGap);
    }
}

void Dispatcher::dispatch(const TimTaskPoint_& task) {
    const std::string name = GetTimNameUtf8(task);
    logEvent(logcode::kRun, logcode::kTimedTask, "执行定时任务:" + std::string(name.c_str()));
    logEvent(logcode::kRun, logcode::kTimedTask,
             "设备数量:" + std::to_string(static_cast<int>(task.devList.size())));
    // All devices of one task start together; the dispatcher does not wait for them.
    for (const DeviceOnOff_& device : task.devList) m_jobs.submit(makeDeviceJob(task, device));
}

}  // namespace chronrun
