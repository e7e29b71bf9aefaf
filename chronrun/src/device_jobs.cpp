// Waiting jobs are looked up by one watcher thread; found ones are paced by one timer thread.
#include "device_jobs.h"

#include <pthread.h>

#include <algorithm>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "chronrun/chronrun_options.h"
#include "devroster/devroster.h"
#include "logbase/log_codes.h"
#include "logbase/logbase.h"

namespace chronrun {
namespace {

// The records of the ids that are online now; `retry` says when to look again: soon while
// nothing at all is online, else after the usual interval.
std::vector<std::pair<std::uint16_t, std::shared_ptr<CDeviceBase>>> lookUp(
    const std::vector<std::uint16_t>& ids, std::chrono::milliseconds& retry) {
    std::vector<std::pair<std::uint16_t, std::shared_ptr<CDeviceBase>>> online;
    const DeviceRegistry& registry = deviceRegistry();
    retry = registry.size() == 0 ? kChronrunEmptyRetry : kChronrunDeviceRetry;
    for (const std::uint16_t id : ids) {
        if (auto found = registry.find(id)) online.emplace_back(id, std::move(found));
    }
    return online;
}

}  // namespace

DeviceJobs::DeviceJobs(RunnerContext& context) : m_context(context) {}

DeviceJobs::~DeviceJobs() {
    stop();
}

void DeviceJobs::submit(DeviceJob job, std::chrono::milliseconds stagger) {
    const std::string name = jobName(job);
    const int id = job.devID;
    logEvent(logcode::kRun, logcode::kTimedTask,
             "定时任务[" + std::string(name.c_str()) + "]开始设备[" + std::to_string(id) + "]线程");
    if (m_context.workerStop.stopped()) return;
    std::string replaced;
    bool started = true;
    std::vector<std::uint16_t> endedBurst;
    {
        std::lock_guard lock(m_mutex);
        if (m_stopped) return;
        if (stagger > std::chrono::milliseconds::zero()) {
            job.notBefore = takeSlot(job.devID, stagger, endedBurst);
            // The pacer ends the burst; it runs even when the device is not found.
            if (startPacer()) m_paceWake.notify_one();
        }
        auto [entry, inserted] = m_waiting.try_emplace(job.devID, job);
        if (!inserted) {
            replaced = jobName(entry->second);
            entry->second = job;
        }
        m_lookAgain = true;
        if (!m_watcher.joinable()) started = startWatcher();
    }
    m_watchWake.notify_one();
    if (!endedBurst.empty()) logBurst(endedBurst);
    // Logged once the job is filed, so a registration after this line finds it.
    logEvent(logcode::kRun, logcode::kTimedTask,
             "定时任务[" + std::string(name.c_str()) + "]进入设备[" + std::to_string(id) + "]线程");
    if (!replaced.empty() || !started) {
        if (!started) {
            logEvent(logcode::kFailure, logcode::kTimedTask,
                     "定时任务[" + std::string(name.c_str()) + "]设备[" + std::to_string(id) +
                         "]线程启动失败.");
        }
        if (!replaced.empty()) {
            logEvent(logcode::kSystem, logcode::kTimedTask,
                     "定时任务[" + std::string(name.c_str()) + "]取代设备[" + std::to_string(id) +
                         "]等待中的定时任务[" + replaced.c_str() + "]");
        }
    }
}

bool DeviceJobs::hasUnsentJob(std::uint16_t devID, std::int32_t timID) {
    std::lock_guard lock(m_mutex);
    const auto waiting = m_waiting.find(devID);
    const auto busy = m_busy.find(devID);
    return (waiting != m_waiting.end() && waiting->second.timID == timID) ||
           (busy != m_busy.end() && busy->second.timID == timID && !busy->second.sending);
}

std::vector<ChronrunTaskEvent> DeviceJobs::taskEnded(std::int32_t timID) {
    std::vector<DeviceJob> expired;
    {
        std::lock_guard lock(m_mutex);
        std::erase_if(m_waiting, [&](const auto& entry) {
            if (entry.second.timID != timID) return false;
            expired.push_back(entry.second);
            return true;
        });
    }
    for (const DeviceJob& job : expired) {
        logEvent(logcode::kFailure, logcode::kTimedTask,
                 "定时任务[" + std::string(jobName(job).c_str()) + "]结束时间已到,放弃设备[" +
                     std::to_string(int{job.devID}) + "]");
    }
    std::vector<ChronrunTaskEvent> skipped;
    for (const DeviceJob& job : expired) {
        skipped.push_back({ChronrunTaskEvent::Kind::Skipped, jobName(job).c_str(), job.devID});
    }
    return skipped;
}

void DeviceJobs::stop() {
    std::thread watcher;
    std::thread pacer;
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
        watcher.swap(m_watcher);
        pacer.swap(m_pacer);
    }
    m_watchWake.notify_all();
    m_paceWake.notify_all();
    if (watcher.joinable()) watcher.join();
    if (pacer.joinable()) pacer.join();
    std::map<std::uint16_t, DeviceJob> waiting;
    std::multimap<Clock::time_point, DeviceRun> due;
    std::vector<std::uint16_t> burst;
    {
        std::lock_guard lock(m_mutex);
        waiting.swap(m_waiting);
        due.swap(m_due);
        burst.swap(m_burst);
        m_busy.clear();
    }
    if (!burst.empty()) logBurst(burst);
    // Devices found before the stop end with their lines; they are sent nothing more.
    for (auto& [at, run] : due) finishDeviceRun(run);
    for (const auto& [id, job] : waiting) {
        logEvent(logcode::kFailure, logcode::kTimedTask,
                 "定时任务[" + std::string(jobName(job).c_str()) + "]找不到设备[" +
                     std::to_string(int{id}) + "]");
    }
}

DeviceJobs::Clock::time_point DeviceJobs::takeSlot(std::uint16_t devID,
                                                   std::chrono::milliseconds stagger,
                                                   std::vector<std::uint16_t>& ended) {
    const Clock::time_point now = Clock::now();
    // Past the last slot, a burst the pacer has not closed yet is over.
    if (m_nextSlot <= now) ended.swap(m_burst);
    const Clock::time_point slot = m_nextSlot > now ? m_nextSlot : now;
    m_nextSlot = slot + m_context.realPause(stagger);
    m_burst.push_back(devID);
    return slot;
}

void DeviceJobs::logBurst(const std::vector<std::uint16_t>& ids) {
    if (ids.size() < 2) return;  // a device alone was not held back
    // A whole site coming back is hundreds of ids: the row names the first ones and the count.
    constexpr std::size_t kShown = 100;
    std::string text = "错开重新应用:";
    for (std::size_t i = 0; i < ids.size() && i < kShown; ++i) {
        if (i > 0) text += ',';
        text += std::to_string(int{ids[i]});
    }
    if (ids.size() > kShown) text += ",…(共" + std::to_string(ids.size()) + "台)";
    logEvent(logcode::kRun, logcode::kTimedTask, text);
}

bool DeviceJobs::startWatcher() {
    try {
        m_watcher = std::thread([this] { watch(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool DeviceJobs::startPacer() {
    // After a stop the thread has been handed to stop() for joining: start no other.
    if (m_stopped) return false;
    if (m_pacer.joinable()) return true;
    try {
        m_pacer = std::thread([this] { pace(); });
    } catch (const std::system_error&) {
        return false;  // the runs stay due; the next find tries again
    }
    return true;
}

void DeviceJobs::watch() {
    pthread_setname_np(pthread_self(), "chronrun-wait");
    std::unique_lock lock(m_mutex);
    while (!m_stopped) {
        m_lookAgain = false;
        std::vector<std::uint16_t> ids;
        for (const auto& [id, job] : m_waiting) {
            if (!m_busy.contains(id)) ids.push_back(id);
        }
        if (ids.empty()) {
            m_watchWake.wait(lock, [this] { return m_stopped || m_lookAgain; });
            continue;
        }
        // Devices found together past their slots become due at the same moment, and the
        // pacer sends equal times in filing order: file them in slot order (the order they
        // came back in), not by id.
        std::ranges::stable_sort(ids, {},
                                 [this](std::uint16_t id) { return m_waiting.at(id).notBefore; });
        lock.unlock();
        std::chrono::milliseconds retry = kChronrunDeviceRetry;
        const auto online = lookUp(ids, retry);
        const Clock::time_point found = Clock::now();
        const auto settle = settleTime(m_context);
        lock.lock();
        for (const auto& [id, device] : online) {
            const auto entry = m_waiting.find(id);
            if (entry == m_waiting.end() || m_busy.contains(id)) continue;
            m_busy.emplace(id, Busy{entry->second.timID, false});
            DeviceRun run;
            run.job = std::move(entry->second);
            run.device = device;
            // A staggered job settles from its slot; it keeps its place however early found.
            const Clock::time_point from = std::max(found, run.job.notBefore);
            m_due.emplace(from + settle, std::move(run));
            m_waiting.erase(entry);
        }
        if (!online.empty() && startPacer()) m_paceWake.notify_one();
        m_watchWake.wait_for(lock, m_context.realPause(retry),
                             [this] { return m_stopped || m_lookAgain; });
    }
}

void DeviceJobs::pace() {
    pthread_setname_np(pthread_self(), "chronrun-dev");
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_stopped) return;
        const Clock::time_point now = Clock::now();
        if (!m_burst.empty() && now >= m_nextSlot) {
            // The last slot has passed with no new re-apply: the burst is over.
            std::vector<std::uint16_t> burst;
            burst.swap(m_burst);
            lock.unlock();
            logBurst(burst);
            lock.lock();
            continue;
        }
        if (m_due.empty() && m_burst.empty()) {
            m_paceWake.wait(lock,
                            [this] { return m_stopped || !m_due.empty() || !m_burst.empty(); });
            continue;
        }
        if (m_due.empty() || now < m_due.begin()->first) {
            Clock::time_point wake = m_due.empty() ? m_nextSlot : m_due.begin()->first;
            if (!m_burst.empty()) wake = std::min(wake, m_nextSlot);
            // Woken early by a stop, a run due sooner, or the first slot of a new burst.
            m_paceWake.wait_until(lock, wake, [this, wake] {
                return m_stopped || (!m_due.empty() && m_due.begin()->first < wake) ||
                       (!m_burst.empty() && m_nextSlot < wake);
            });
            continue;
        }
        auto node = m_due.extract(m_due.begin());
        DeviceRun& run = node.mapped();
        if (const auto busy = m_busy.find(run.job.devID); busy != m_busy.end())
            busy->second.sending = true;
        lock.unlock();
        if (!run.started()) startDeviceRun(run);
        sendNextOutlet(m_context, run);
        const Clock::time_point sent = Clock::now();
        if (run.finished()) {
            finishDeviceRun(run);
            m_context.tell({ChronrunTaskEvent::Kind::Applied, run.taskName.c_str(), run.job.devID});
        }
        lock.lock();
        if (!run.finished()) {
            // Paced from when the frame has left, so a device never gets two frames closer
            // than the pause, even when a busy moment made one late.
            node.key() = sent + outletStep(m_context);
            m_due.insert(std::move(node));
            continue;
        }
        m_busy.erase(run.job.devID);
        if (m_waiting.contains(run.job.devID)) {
            m_lookAgain = true;
            m_watchWake.notify_one();
        }
    }
}

}  // namespace chronrun
