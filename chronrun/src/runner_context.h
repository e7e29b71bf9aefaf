// What every runner thread of one InitChronrun..ReleaseChronrun shares.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>

#include "chronrun/chronrun_options.h"
#include "stop_signal.h"

namespace chronrun {

struct RunnerContext {
    std::shared_ptr<ChronrunClock> clock;
    ChronrunSendFn send;
    ChronrunTaskFn onTask;  // may be empty
    // The worker flag: set while device workers may run; a stop ends their pauses at once.
    StopSignal workerStop;
    // Held around building, sending and logging one outlet frame, by every worker.
    std::mutex sendLock;

    void tell(const ChronrunTaskEvent& event) const {
        if (onTask) onTask(event);
    }

    std::chrono::nanoseconds realPause(std::chrono::milliseconds delay) const {
        return clock->realPause(delay);
    }
};

}  // namespace chronrun
