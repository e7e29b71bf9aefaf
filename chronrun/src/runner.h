// The runner's lifecycle: one session of scan thread, dispatcher and device workers from
// InitChronrun to ReleaseChronrun.
#pragma once

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

    void setOptions(const ChronrunOptions& options);
    ChronrunOptions options();

private:
    Runner() = default;
    struct Session;

    std::mutex m_mutex;  // serialises init, release and the options
    ChronrunOptions m_options;
    std::unique_ptr<Session> m_session;
};

}  // namespace chronrun
