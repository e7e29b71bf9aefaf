// The runner's lifecycle: one session of scan thread, dispatcher and device workers from
// InitChronrun to ReleaseChronrun.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>

#include "chronrun/chronrun_options.h"

namespace chronrun {

class Runner {
public:
    static Runner& instance();
    ~Runner();

    bool init();
    void release();
    // Hands one device job to the running session; `reapply` picks the running task that
    // started last instead of task `timID`.
    bool apply(std::int32_t timID, std::uint16_t devID, bool reapply);

    // Spacing of re-applies that come close together; bounded to 0..kChronrunMaxReapplyStagger.
    void setReapplyStagger(std::chrono::milliseconds stagger);

    void setOptions(const ChronrunOptions& options);
    ChronrunOptions options();

private:
    Runner() = default;
    struct Session;

    std::mutex m_lifecycle;  // serialises init and release; taken before m_mutex
    std::mutex m_mutex;      // guards the options and the session pointer
    ChronrunOptions m_options;
    std::chrono::milliseconds m_reapplyStagger{0};
    std::unique_ptr<Session> m_session;
};

}  // namespace chronrun
