// Hands events found on other threads (the task runner's, the log writer's) to whoever
// forwards them to the engine's thread, until the engine closes it.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <utility>

#include "consolecore/engine_events.h"

namespace consolecore {

class EventRelay {
public:
    using Forward = std::function<void(EngineEvent event)>;

    explicit EventRelay(Forward forward) : m_forward(std::move(forward)) {}

    // From any thread. `forward` only queues the event for the engine's thread; the lock is
    // held across that hand-over so that once close() returns no call still reaches the engine.
    void tell(EngineEvent event) {
        std::lock_guard guard(m_lock);
        if (m_forward) m_forward(std::move(event));
    }
    // Later events are dropped.
    void close() {
        std::lock_guard guard(m_lock);
        m_forward = nullptr;
    }

private:
    std::mutex m_lock;
    Forward m_forward;
};

}  // namespace consolecore
