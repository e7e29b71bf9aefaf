// Starting, reaping and joining device worker threads.
#include "worker_pool.h"

#include <exception>

namespace chronrun {

WorkerPool::~WorkerPool() {
    joinAll();
}

bool WorkerPool::start(std::function<void()> work) {
    std::lock_guard lock(m_mutex);
    std::erase_if(m_workers, [](Worker& worker) {
        if (!worker.done->load()) return false;
        worker.thread.join();  // it has left its work and is only returning
        return true;
    });
    try {
        // Room first, so that a started thread always finds its place.
        m_workers.reserve(m_workers.size() + 1);
        auto done = std::make_shared<std::atomic<bool>>(false);
        std::thread thread([work = std::move(work), done] {
            work();
            done->store(true);
        });
        m_workers.push_back(Worker{std::move(thread), std::move(done)});
    } catch (const std::exception&) {  // std::system_error (no thread) or std::bad_alloc
        return false;
    }
    return true;
}

void WorkerPool::joinAll() {
    std::vector<Worker> workers;
    {
        std::lock_guard lock(m_mutex);
        workers.swap(m_workers);
    }
    for (Worker& worker : workers) worker.thread.join();
}

}  // namespace chronrun
