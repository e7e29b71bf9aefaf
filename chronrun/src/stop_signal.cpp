// Interruptible pauses for the runner threads.
#include "stop_signal.h"

namespace chronrun {

void StopSignal::stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
    }
    m_wake.notify_all();
}

bool StopSignal::stopped() const {
    std::lock_guard lock(m_mutex);
    return m_stopped;
}

bool StopSignal::pauseFor(std::chrono::nanoseconds length) {
    std::unique_lock lock(m_mutex);
    // The predicate makes a stop that came before the wait count, and spurious wake-ups not.
    return !m_wake.wait_for(lock, length, [this] { return m_stopped; });
}

}  // namespace chronrun
