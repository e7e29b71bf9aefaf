// The scan thread and the run states of the tasks: idle or ended -> running when the start
// test holds (the task's copy goes to the dispatcher), running -> ended when the end test holds.
#include "scanner.h"

#include <pthread.h>

#include <exception>
#include <stdexcept>
#include <string>
#include <system_error>

#include "chronrun/task_rules.h"
#include "chronstore/chronstore.h"
#include "chronstore/holidays.h"
#include "logbase/log_codes.h"
#include "logbase/logbase.h"
#include "runner_log.h"

namespace chronrun {

Scanner::Scanner(RunnerContext& context, Dispatcher& dispatcher, DeviceJobs& jobs)
    : m_context(context), m_dispatcher(dispatcher), m_jobs(jobs) {}

Scanner::~Scanner() {
    stop();
}

bool Scanner::start() {
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void Scanner::stop() {
    m_stop.stop();
    if (m_thread.joinable()) m_thread.join();
}

void Scanner::run() {
    pthread_setname_np(pthread_self(), "chronrun-scan");
    logEvent(logcode::kSystem, logcode::kTimedTask, "进入定时任务线程");
    while (!m_stop.stopped()) {
        sweep();
        m_stop.pauseFor(m_context.realPause(kChronrunScanPeriod));
    }
}

void Scanner::sweep() {
    const int count = GetTTPointCount();
    for (int i = 0; i < count && !m_stop.stopped(); ++i) {
        {
            // One task per hold, so the editor and a save wait at most one task's check.
            TimTaskGuard guard;
            if (i >= GetTTPointCount()) return;  // tasks were removed meanwhile
            TimTaskPoint_* task = nullptr;
            try {
                task = &GetTTPointByIndex(i);
            } catch (const std::invalid_argument&) {
                return;
            }
            check(*task, m_context.clock->localNow());
        }
        for (const ChronrunTaskEvent& event : m_toTell) m_context.tell(event);
        m_toTell.clear();
    }
}

void Scanner::check(TimTaskPoint_& task, const ChronrunLocalTime& now) {
    const std::uint32_t seconds = secondsOfDay(now);
    if (task.runState == kTaskRunning) {
        if (endTestHolds(task, seconds)) {
            const std::string text = formatText("定时结束时间到:%u;%u", task.endtime, seconds);
            logEvent(logcode::kSystem, logcode::kTimedTask, text);
            task.runState = kTaskEnded;
            m_toTell = m_jobs.taskEnded(task.timID);  // its jobs still waiting give up
        }
        return;
    }
    // Idle or ended. The enable flag is not looked at here: a disabled task goes through its
    // run states too, and the dispatcher drops its copy.
    if (!startTestHolds(task, now)) return;
    if (task.skipHolidays && IsHoliday(now.year, now.month, now.day)) {
        // The task stays as it is; the skip is logged once per task and day.
        const HolidayDate today = MakeHolidayDate(now.year, now.month, now.day);
        auto [entry, inserted] = m_holidayLogged.try_emplace(task.timID, today);
        if (inserted || entry->second != today) {
            entry->second = today;
            const std::string name = GetTimNameUtf8(task).c_str();
            logEvent(logcode::kSystem, logcode::kTimedTask, "节假日跳过定时任务:" + name);
            m_toTell.push_back({ChronrunTaskEvent::Kind::Skipped, name, std::nullopt});
        }
        return;
    }
    const std::string text = formatText("定时开始时间到:%u;%u", task.statime, seconds);
    logEvent(logcode::kSystem, logcode::kTimedTask, text);
    TimTaskPoint_ copy = task;  // deep: the copy owns its name and device list
    copy.runState = kTaskRunning;
    m_dispatcher.append(std::move(copy));
    task.runState = kTaskRunning;
    m_dispatcher.wake();
}

}  // namespace chronrun
