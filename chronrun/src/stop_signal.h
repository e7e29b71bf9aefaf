// A stop flag that pauses can wait on, so that setting it ends every pause at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace chronrun {

class StopSignal {
public:
    // Sets the flag and wakes every thread pausing on it.
    void stop();
    bool stopped() const;
    // Waits `length` unless the flag is set first; true when the whole pause passed unstopped.
    bool pauseFor(std::chrono::nanoseconds length);

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopped = false;
};

}  // namespace chronrun
