// Starting and stopping the runner's threads in the order that keeps the store and the link
// safe: workers are told to stop first, the scan ends, then the dispatcher, then every worker
// is waited for.
#include "runner.h"

#include <algorithm>
#include <optional>
#include <string>
#include "device_jobs.h"

#include "chronrun/chronrun.h"
#include "chronrun/task_rules.h"
#include "chronstore/chronstore.h"
#include "device_jobs.h"
#include "device_worker.h"
#include "devroster/devroster.h"
#include "dispatcher.h"
#include "lanwire/lanwire.h"
#include "logbase/log_codes.h"
#include "logbase/logbase.h"
#include "runner_context.h"
#include "scanner.h"

namespace chronrun {

// Each member is declared before the ones that use it, so it outlives them; stop() ends the
// threads in the order that lets none of them feed a part already stopped.
struct Runner::Session {
    explicit Session(const ChronrunOptions& options) {
        context.clock = options.clock ? options.clock : SystemChronrunClock();
        context.send = options.send ? options.send : ChronrunSendFn(&TCPSend);
        context.onTask = options.onTask;
    }
    ~Session() { stop(); }

    void stop() {
        context.workerStop.stop();
        scanner.stop();
        dispatcher.stop();
        jobs.stop();
    }

    RunnerContext context;
    DeviceJobs jobs{context};
    Dispatcher dispatcher{context, jobs};
    Scanner scanner{context, dispatcher, jobs};
};

Runner& Runner::instance() {
    static Runner runner;
    return runner;
}

// A program that never called ReleaseChronrun still has its threads ended before exit.
Runner::~Runner() = default;

bool Runner::init() {
    std::lock_guard lifecycle(m_lifecycle);
    std::lock_guard lock(m_mutex);
    // A new session starts with an empty dispatch queue. A running one keeps its queue: the
    // copies in it belong to tasks already marked running, which would not be queued again
    // in their window.
    if (!m_session) {
        auto session = std::make_unique<Session>(m_options);
        if (!session->scanner.start()) {
            logEvent(logcode::kFailure, logcode::kTimedTask, "定时任务线程启动失败.");
            return false;
        }
        m_session = std::move(session);
    }
    logEvent(logcode::kSystem, logcode::kTimedTask, "定时任务模块初始化成功.");
    return true;
}

void Runner::release() {
    std::lock_guard lifecycle(m_lifecycle);
    std::unique_ptr<Session> session;
    {
        std::lock_guard lock(m_mutex);
        logEvent(logcode::kSystem, logcode::kTimedTask, "退出定时任务模块.");
        session = std::move(m_session);
    }
    // The threads are joined outside m_mutex, so a device registering meanwhile is not held
    // up in apply() (it finds no session and applies nothing).
    if (session) session->stop();
}

namespace {

// The job for `devID` from the task chosen, copied under the store lock.
std::optional<DeviceJob> chooseJob(std::int32_t timID, std::uint16_t devID, bool reapply) {
    TimTaskGuard guard;
    const TimTaskArray& tasks = GetTTPointArray();
    std::optional<std::size_t> chosen;
    std::size_t entry = 0;
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        const TimTaskPoint_& task = tasks[i];
        const bool wanted =
            reapply ? task.ttEnable && task.runState == kTaskRunning : task.timID == timID;
        if (!wanted) continue;
        if (chosen && reapply && !startedLater(task, i, tasks[*chosen], *chosen)) continue;
        // The device's last entry in the task, as a dispatch leaves it.
        for (std::size_t k = task.devList.size(); k-- > 0;) {
            if (task.devList[k].devID != devID) continue;
            chosen = i;
            entry = k;
            break;
        }
        if (chosen && !reapply) break;
    }
    if (!chosen) return std::nullopt;
    return makeDeviceJob(tasks[*chosen], tasks[*chosen].devList[entry]);
}

std::string deviceName(std::uint16_t devID) {
    std::string name = std::to_string(devID);
    deviceRegistry().read(devID,
                          [&name](const CDeviceBase& record) { name = record.GetDeviceName(); });
    return name;
}

}  // namespace

bool Runner::apply(std::int32_t timID, std::uint16_t devID, bool reapply) {
    const std::optional<DeviceJob> job = chooseJob(timID, devID, reapply);
    if (!job) return false;
    std::lock_guard lock(m_mutex);
    if (!m_session) return false;
    if (reapply) {
        // A device that registers while its dispatched job still waits for it, or settles
        // before its first frame, gets that job; one back in the middle of its frames gets
        // the pattern again after them.
        if (m_session->jobs.hasUnsentJob(devID, job->timID)) return false;
        logEvent(logcode::kRun, logcode::kTimedTask,
                 "定时任务[" + std::string(jobName(*job).c_str()) + "]重新应用到设备[" +
                     deviceName(devID).c_str() + "]");
    }
    m_session->jobs.submit(*job, reapply ? m_reapplyStagger : std::chrono::milliseconds{0});
    return true;
}

void Runner::setReapplyStagger(std::chrono::milliseconds stagger) {
    std::lock_guard lock(m_mutex);
    m_reapplyStagger =
        std::clamp(stagger, std::chrono::milliseconds{0}, kChronrunMaxReapplyStagger);
}

void Runner::setOptions(const ChronrunOptions& options) {
    std::lock_guard lock(m_mutex);
    m_options = options;
}

ChronrunOptions Runner::options() {
    std::lock_guard lock(m_mutex);
    return m_options;
}

}  // namespace chronrun
