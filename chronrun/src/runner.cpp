// Starting and stopping the runner's threads in the order that keeps the store and the link
// safe: workers are told to stop first, the scan ends, then the dispatcher, then every worker
// is waited for.
#include "runner.h"

#include "device_jobs.h"
#include "dispatcher.h"
#include "lanwire/lanwire.h"
#include "logbase/log_codes.h"
#include "logbase/logbase.h"
#include "runner_context.h"
#include "runner_log.h"
#include "scanner.h"

namespace chronrun {

// Each member is declared before the ones that use it, so it outlives them; stop() ends the
// threads in the order that lets none of them feed a part already stopped.
struct Runner::Session {
    explicit Session(const ChronrunOptions& options) {
        context.clock = options.clock ? options.clock : SystemChronrunClock();
        context.send = options.send ? options.send : ChronrunSendFn(&TCPSend);
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
    std::lock_guard lock(m_mutex);
    // A new session starts with an empty dispatch queue. A running one keeps its queue: the
    // copies in it belong to tasks already marked running, which would not be queued again
    // in their window.
    if (!m_session) {
        auto session = std::make_unique<Session>(m_options);
        if (!session->scanner.start()) {
            InsertLogOb("%d,%d,'定时任务线程启动失败.'", logcode::kFailure, logcode::kTimedTask);
            return false;
        }
        m_session = std::move(session);
    }
    InsertLogOb("%d,%d,'定时任务模块初始化成功.'", logcode::kSystem, logcode::kTimedTask);
    return true;
}

void Runner::release() {
    std::lock_guard lock(m_mutex);
    InsertLogOb("%d,%d,'退出定时任务模块.'", logcode::kSystem, logcode::kTimedTask);
    if (m_session) {
        m_session->stop();
        m_session.reset();
    }
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
