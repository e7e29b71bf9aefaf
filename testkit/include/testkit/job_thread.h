// A thread that runs posted jobs one at a time in posting order: the stand-in for the GUI
// thread where tests and benchmarks drive the console core without a window.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

namespace testkit {

class JobThread {
public:
    JobThread() : m_thread([this] { loop(); }) {}
    ~JobThread() { stop(); }
    JobThread(const JobThread&) = delete;
    JobThread& operator=(const JobThread&) = delete;

    void post(std::function<void()> job) {
        {
            std::lock_guard lock(m_lock);
            m_jobs.push_back(std::move(job));
        }
        m_ready.notify_all();
    }

    // Runs `job` on the thread and returns when it has run.
    void run(std::function<void()> job) {
        auto done = std::make_shared<std::promise<void>>();
        auto future = done->get_future();
        post([job = std::move(job), done] {
            job();
            done->set_value();
        });
        future.wait();
    }

    // Runs the jobs already posted, then ends the thread.
    void stop() {
        {
            std::lock_guard lock(m_lock);
            m_quit = true;
        }
        m_ready.notify_all();
        if (m_thread.joinable()) m_thread.join();
    }

private:
    void loop() {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock lock(m_lock);
                m_ready.wait(lock, [&] { return m_quit || !m_jobs.empty(); });
                if (m_jobs.empty()) return;
                job = std::move(m_jobs.front());
                m_jobs.pop_front();
            }
            job();
        }
    }

    std::mutex m_lock;
    std::condition_variable m_ready;
    std::deque<std::function<void()>> m_jobs;
    bool m_quit = false;
    std::thread m_thread;  // last: starts once the queue exists
};

}  // namespace testkit
