// The engine on a thread of its own (standing in for the window's GUI thread): its tasks and
// the link's notices are queued there; clients are added or subscribed before it starts.
#pragma once

#include <functional>
#include <future>
#include <memory>
#include <optional>

#include "consolecore/console_engine.h"
#include "consolecore/group_selection.h"
#include "core_test_support.h"
#include "testkit/job_thread.h"

namespace coretest {

class NoChooser : public consolecore::GroupChooser {
public:
    std::optional<int> chooseGroup(consolecore::GroupKind, std::uint8_t) override {
        return std::nullopt;
    }
};

class EngineThread {
public:
    explicit EngineThread(consolecore::SessionOptions options,
                          consolecore::ClientFactory factory = {},
                          consolecore::EngineClient* client = nullptr,
                          alerts::AlertTimings alertTimings = {}) {
        consolecore::EngineHooks hooks;
        hooks.alertTimings = alertTimings;
        hooks.postToEngine = [this](std::function<void()> task) { m_thread.post(std::move(task)); };
        m_thread.run([&] {
            engine = std::make_unique<consolecore::ConsoleEngine>(std::move(options), chooser,
                                                                  prompt, std::move(hooks));
            engine->addClient(std::move(factory));
            if (client) engine->subscribe(*client);
            engine->start();
        });
    }
    ~EngineThread() {
        m_thread.run([&] { engine.reset(); });
        m_thread.stop();
    }
    EngineThread(const EngineThread&) = delete;
    EngineThread& operator=(const EngineThread&) = delete;

    // Runs `action` on the engine's thread and waits for it.
    void run(std::function<void()> action) { m_thread.run(std::move(action)); }
    // Keeps the engine's thread busy until `release` is ready.
    void hold(std::shared_future<void> release) {
        m_thread.post([release] { release.wait(); });
    }

    NoChooser chooser;
    RecordingPrompt prompt;
    std::unique_ptr<consolecore::ConsoleEngine> engine;

private:
    testkit::JobThread m_thread;
};

}  // namespace coretest
