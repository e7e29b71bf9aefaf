// Delivers alerts to the configured webhook and command from a bounded queue on a thread of
// its own: raise() never waits for a receiver. Alerts leave in the order they were raised,
// each retried with growing gaps until it is delivered or too old, then dropped and counted.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "alerts/alert.h"
#include "alerts/alert_settings.h"

namespace alerts {

class AlertTarget;

struct AlertTimings {
    // More than stormThreshold devices offline within stormWindow make one devices-offline
    // alert. Offline alerts (and whatever comes after them) wait for the window to close.
    std::chrono::milliseconds stormWindow{std::chrono::seconds(10)};
    std::size_t stormThreshold = 20;
    // Gaps between attempts start here and double up to maxRetryGap.
    std::chrono::milliseconds firstRetry{std::chrono::seconds(1)};
    std::chrono::milliseconds maxRetryGap{std::chrono::seconds(60)};
    // An alert not delivered this long after it was raised is dropped.
    std::chrono::milliseconds giveUpAfter{std::chrono::minutes(10)};
    // One attempt at one receiver (connect, send, answer; or the command's run).
    std::chrono::milliseconds attemptTimeout{std::chrono::seconds(10)};
    // Alerts waiting at most; a new one beyond it is dropped and counted.
    std::size_t queueLimit = 1000;
    // At stop, what is still queued gets one more attempt within this time.
    std::chrono::milliseconds stopGrace{std::chrono::seconds(2)};
};

struct AlertCounts {
    std::uint64_t delivered = 0;
    std::uint64_t gaveUp = 0;      // too old, or still queued at stop
    std::uint64_t overflowed = 0;  // refused by a full queue
};

class AlertService {
public:
    explicit AlertService(AlertSettings settings, AlertTimings timings = {});
    ~AlertService();  // stop()
    AlertService(const AlertService&) = delete;
    AlertService& operator=(const AlertService&) = delete;

    // Starts the delivery thread. False when it cannot start or nothing is configured.
    bool start();
    // Queues the alert if its event is chosen; from any thread, never waits for delivery.
    // start() and stop() are called from the owner's thread only.
    void raise(Alert alert);
    // Closes any storm window, gives what is queued one more attempt within stopGrace, then
    // ends the thread; undelivered alerts count as given up. Safe to call twice.
    void stop();

    AlertCounts counts() const;
    const AlertSettings& settings() const { return m_settings; }

private:
    struct Pending {
        Alert alert;
        std::chrono::steady_clock::time_point raised;
        std::chrono::steady_clock::time_point nextTry;
        std::chrono::milliseconds gap{0};
        std::vector<bool> done;  // per target
    };
    using Clock = std::chrono::steady_clock;

    void run();
    // The held alerts go to the queue: offline ones merged into one when they were a storm.
    void closeWindow();
    // One attempt at every target that has not taken the alert; true when all have.
    bool attempt(Pending& pending, std::chrono::milliseconds timeout);
    void finishAtStop(std::unique_lock<std::mutex>& lock);
    // Log rows about drops, made without the lock.
    void tellDrops(std::unique_lock<std::mutex>& lock);

    const AlertSettings m_settings;
    const AlertTimings m_timings;
    std::vector<std::unique_ptr<AlertTarget>> m_targets;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;     // the delivery thread waits on it
    std::condition_variable m_drained;  // stop() waits on it for the last attempts
    std::deque<Pending> m_held;         // raised while a storm window is open
    std::optional<Clock::time_point> m_windowEnd;
    std::deque<Pending> m_queue;  // ready, in order; the front is being delivered
    bool m_running = false;       // raise() queues only between start() and stop()
    bool m_stopping = false;
    AlertCounts m_counts;
    // Drop streaks: told when they start and, with their count, when they end.
    std::uint64_t m_overflowStreak = 0;
    bool m_overflowTold = false;
    std::uint64_t m_gaveUpStreak = 0;
    std::string m_firstGaveUp;  // what the first drop of the streak was, for its row
    bool m_gaveUpTold = false;
    std::thread m_thread;
};

}  // namespace alerts
