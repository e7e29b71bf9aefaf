// The device worker threads of the runner: started by the dispatcher, joined at release.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace chronrun {

class WorkerPool {
public:
    WorkerPool() = default;
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Runs `work` on a thread of its own; false when the thread cannot be started. Threads
    // that have finished are joined here, so the pool only holds live workers for long.
    bool start(std::function<void()> work);
    // Waits for every worker; the caller has told them to stop and starts no more.
    void joinAll();

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::mutex m_mutex;
    std::vector<Worker> m_workers;
};

}  // namespace chronrun
