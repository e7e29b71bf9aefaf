// A fleet-wide "something changed" signal, so that a waiter for many devices sleeps on one
// condition variable instead of polling each device.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace simtcp {

class ChangeSignal {
public:
    void bump() {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            ++m_version;
        }
        m_changed.notify_all();
    }

    std::uint64_t version() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_version;
    }

    // Waits until the version differs from `seen` or the deadline passes.
    template <typename TimePoint>
    void waitPast(std::uint64_t seen, TimePoint deadline) const {
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait_until(lock, deadline, [&] { return m_version != seen; });
    }

private:
    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    std::uint64_t m_version = 0;
};

}  // namespace simtcp
