// Spaces the log rows that report repeated events of one kind: the first row at once, then at
// most one per period, each with the count since the row before, so a flood costs a few rows
// and loses no count. Not thread-safe: its owner serialises the calls.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <utility>

namespace platform {

class LogThrottle {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    explicit LogThrottle(std::chrono::milliseconds period) : m_period(period) {}

    // Counts `n` more events at `now`; the count to log now, 0 while the last row's period runs.
    std::uint64_t add(std::uint64_t n, TimePoint now) {
        m_pending += n;
        return due(now);
    }
    // The count to log at `now` once the period of the last row is over; 0 if nothing is due.
    std::uint64_t due(TimePoint now) {
        if (m_pending == 0 || (m_logged && now - *m_logged < m_period)) return 0;
        m_logged = now;
        return std::exchange(m_pending, 0);
    }
    // When the waiting count becomes due; none when nothing waits.
    std::optional<TimePoint> dueAt() const {
        if (m_pending == 0) return std::nullopt;
        return m_logged ? *m_logged + m_period : TimePoint::min();
    }
    // Everything not logged yet, whatever the period (when the owner stops).
    std::uint64_t takeAll() { return std::exchange(m_pending, 0); }

private:
    std::chrono::milliseconds m_period;
    std::uint64_t m_pending = 0;
    std::optional<TimePoint> m_logged;
};

}  // namespace platform
