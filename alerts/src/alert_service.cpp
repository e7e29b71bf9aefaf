// The delivery thread: storm window, in-order delivery with retries, drops told in the log.
#include "alerts/alert_service.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <system_error>

#include "command_target.h"
#include "logbase/log_codes.h"
#include "logbase/logbase.h"
#include "webhook_target.h"

namespace alerts {

namespace {

void logAlertTrouble(const std::string& text) {
    logEvent(logcode::kFailure, logcode::kOther, text);
}

std::string describe(const Alert& alert) {
    std::string text(eventName(alert.event));
    if (alert.device) text += " 设备" + std::to_string(alert.device->id);
    return text;
}

// "10秒", or "250毫秒" for a window shorter than a second.
std::string spanText(std::chrono::milliseconds span) {
    if (span.count() % 1000 == 0) return std::to_string(span.count() / 1000) + "秒";
    return std::to_string(span.count()) + "毫秒";
}

}  // namespace

AlertService::AlertService(AlertSettings settings, AlertTimings timings)
    : m_settings(std::move(settings)), m_timings(timings) {
    if (m_settings.webhook)
        m_targets.push_back(std::make_unique<WebhookTarget>(*m_settings.webhook));
    if (!m_settings.command.empty()) {
        m_targets.push_back(std::make_unique<CommandTarget>(m_settings.command));
    }
}

AlertService::~AlertService() {
    stop();
}

bool AlertService::start() {
    if (m_targets.empty() || m_thread.joinable()) return false;
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return false;
    }
    std::lock_guard lock(m_mutex);
    m_running = true;
    return true;
}

void AlertService::raise(Alert alert) {
    if (!m_settings.events.contains(alert.event)) return;
    const Clock::time_point now = Clock::now();
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping || !m_running) return;
        if (m_held.size() + m_queue.size() >= m_timings.queueLimit) {
            ++m_counts.overflowed;
            ++m_overflowStreak;
        } else {
            const bool offline = alert.event == AlertEvent::DeviceOffline;
            Pending pending{std::move(alert), now, now, m_timings.firstRetry,
                            std::vector<bool>(m_targets.size(), false)};
            // Whatever comes while offline alerts are held waits behind them: order is kept.
            if (offline && !m_windowEnd) m_windowEnd = now + m_timings.stormWindow;
            (m_windowEnd ? m_held : m_queue).push_back(std::move(pending));
        }
    }
    m_wake.notify_one();
}

void AlertService::stop() {
    if (!m_thread.joinable()) return;  // the owner's thread starts and stops
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    {
        // A receiver that hangs is cut off after the grace time.
        std::unique_lock lock(m_mutex);
        if (!m_drained.wait_for(lock, m_timings.stopGrace + m_timings.stopGrace,
                                [this] { return m_queue.empty() && m_held.empty(); })) {
            lock.unlock();
            for (auto& target : m_targets) target->abort();
        }
    }
    m_thread.join();
}

AlertCounts AlertService::counts() const {
    std::lock_guard lock(m_mutex);
    return m_counts;
}

void AlertService::closeWindow() {
    m_windowEnd.reset();
    std::vector<AlertDevice> offline;
    for (const Pending& pending : m_held) {
        if (pending.alert.event != AlertEvent::DeviceOffline) continue;
        if (pending.alert.device) offline.push_back(*pending.alert.device);
    }
    if (offline.size() <= m_timings.stormThreshold) {
        for (Pending& pending : m_held) m_queue.push_back(std::move(pending));
        m_held.clear();
        return;
    }
    bool merged = false;
    for (Pending& pending : m_held) {
        if (pending.alert.event != AlertEvent::DeviceOffline) {
            m_queue.push_back(std::move(pending));
        } else if (!merged) {
            // The storm takes the place (and time) of its first offline alert.
            merged = true;
            pending.alert.event = AlertEvent::DevicesOffline;
            pending.alert.device.reset();
            pending.alert.text = std::to_string(offline.size()) + "台设备在" +
                                 spanText(m_timings.stormWindow) + "内离线";
            pending.alert.devices = std::move(offline);
            m_queue.push_back(std::move(pending));
        }
    }
    m_held.clear();
}

bool AlertService::attempt(Pending& pending, std::chrono::milliseconds timeout) {
    const std::string json = alertJson(pending.alert);
    bool all = true;
    for (std::size_t i = 0; i < m_targets.size(); ++i) {
        if (pending.done[i]) continue;
        std::string why;
        pending.done[i] = m_targets[i]->deliver(json, timeout, why);
        all = all && pending.done[i];
    }
    return all;
}

void AlertService::tellDrops(std::unique_lock<std::mutex>& lock) {
    std::vector<std::string> rows;
    if (m_overflowStreak > 0 && !m_overflowTold) {
        m_overflowTold = true;
        rows.push_back("告警队列已满(" + std::to_string(m_timings.queueLimit) +
                       "条),新告警被丢弃并计数");
    }
    if (m_gaveUpStreak > 0 && !m_gaveUpTold) {
        m_gaveUpTold = true;
        rows.push_back("告警投递失败超时,丢弃:" + m_firstGaveUp);
    }
    if (rows.empty()) return;
    lock.unlock();  // the log may feed alerts back in
    for (const std::string& row : rows) logAlertTrouble(row);
    lock.lock();
}

void AlertService::run() {
    // A command that exits without reading its input must not end the process.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

    std::unique_lock lock(m_mutex);
    for (;;) {
        tellDrops(lock);
        const Clock::time_point now = Clock::now();
        if (m_stopping) break;
        if (m_windowEnd && now >= *m_windowEnd) closeWindow();
        if (!m_queue.empty() && m_queue.front().nextTry <= now) {
            Pending current = std::move(m_queue.front());
            m_queue.pop_front();
            // Counted against the bound while it is out: the queue keeps a placeholder.
            m_queue.push_front(Pending{});
            lock.unlock();
            const bool delivered = attempt(current, m_timings.attemptTimeout);
            const Clock::time_point after = Clock::now();
            std::vector<std::string> rows;
            lock.lock();
            m_queue.pop_front();
            if (delivered) {
                ++m_counts.delivered;
                if (m_gaveUpStreak > 1) {
                    rows.push_back("告警恢复投递,此前连续丢弃" + std::to_string(m_gaveUpStreak) +
                                   "条");
                }
                m_gaveUpStreak = 0;
                m_gaveUpTold = false;
            } else if (after - current.raised >= m_timings.giveUpAfter) {
                ++m_counts.gaveUp;
                if (m_gaveUpStreak++ == 0) m_firstGaveUp = describe(current.alert);
            } else {
                current.nextTry = after + current.gap;
                current.gap = std::min(current.gap * 2, m_timings.maxRetryGap);
                m_queue.push_front(std::move(current));
            }
            if (m_overflowStreak > 0 && m_held.size() + m_queue.size() < m_timings.queueLimit) {
                rows.push_back("告警队列恢复,期间丢弃" + std::to_string(m_overflowStreak) + "条");
                m_overflowStreak = 0;
                m_overflowTold = false;
            }
            if (!rows.empty()) {
                lock.unlock();
                for (const std::string& row : rows) logAlertTrouble(row);
                lock.lock();
            }
            continue;
        }
        std::optional<Clock::time_point> wakeAt = m_windowEnd;
        if (!m_queue.empty() && (!wakeAt || m_queue.front().nextTry < *wakeAt)) {
            wakeAt = m_queue.front().nextTry;
        }
        if (wakeAt) {
            m_wake.wait_until(lock, *wakeAt);
        } else {
            m_wake.wait(lock);
        }
    }
    finishAtStop(lock);
}

void AlertService::finishAtStop(std::unique_lock<std::mutex>& lock) {
    if (m_windowEnd) closeWindow();
    const Clock::time_point deadline = Clock::now() + m_timings.stopGrace;
    std::uint64_t lost = 0;
    while (!m_queue.empty()) {
        Pending current = std::move(m_queue.front());
        m_queue.pop_front();
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        lock.unlock();
        const bool delivered =
            left.count() > 0 && attempt(current, std::min(left, m_timings.attemptTimeout));
        lock.lock();
        if (delivered) {
            ++m_counts.delivered;
        } else {
            ++m_counts.gaveUp;
            ++lost;
        }
    }
    const std::uint64_t overflowed = m_overflowStreak;
    lock.unlock();
    m_drained.notify_all();  // stop() waits for the queue to empty
    if (lost > 0) logAlertTrouble("退出时" + std::to_string(lost) + "条告警未能投递,已丢弃");
    if (overflowed > 0 && m_overflowTold) {
        logAlertTrouble("告警队列已满期间丢弃" + std::to_string(overflowed) + "条");
    }
}

}  // namespace alerts
