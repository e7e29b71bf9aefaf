// A console without widgets for the fault tests: the console engine (command channel, device
// table, switching, timed tasks) with the real link on an ephemeral loopback port and the
// timing a test asks for, a thread playing the GUI thread that hands every posted message to
// the engine, and counters of the device events the receive path posts.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "consolecore/console_engine.h"
#include "consolecore/device_channel.h"
#include "consolecore/device_table.h"
#include "consolecore/group_selection.h"
#include "consolecore/switching.h"
#include "lanwire/lanwire_options.h"
#include "platform/message_target.h"
#include "platform/prompt.h"
#include "testkit/job_thread.h"
#include "testkit/wait_for.h"

namespace faulttest {

// Picks a fixed group index in the selection dialog's model, as an operator would.
class FixedChooser : public consolecore::GroupChooser {
public:
    std::optional<int> chooseGroup(consolecore::GroupKind kind, std::uint8_t direction) override;
    int groupIndex = 0;
};

class SilentPrompt : public platform::Prompt {
public:
    void showMessage(const std::string& text, const std::string& caption,
                     platform::PromptIcon icon) override;
    std::vector<std::string> messages;
};

class ConsoleRig : private consolecore::EngineClient {
public:
    // `options.programFolder` is replaced by the rig's own temp folder.
    explicit ConsoleRig(LanwireOptions options = {});
    ~ConsoleRig() override;
    ConsoleRig(const ConsoleRig&) = delete;
    ConsoleRig& operator=(const ConsoleRig&) = delete;

    // Runs `action` on the GUI thread and waits for it.
    void onGui(std::function<void()> action);
    int rowCount();
    bool waitRows(int count, std::chrono::milliseconds timeout = std::chrono::seconds(20));

    // Device events told so far for a device, by kind: DEV_EVENT_REGISTERED (registered),
    // DEV_EVENT_STATUS (changed), DEV_EVENT_REMOVED (removed).
    std::uint64_t events(std::uint16_t id, std::intptr_t kind) const;
    std::uint64_t totalEvents(std::intptr_t kind) const;
    bool waitEvents(std::uint16_t id, std::intptr_t kind, std::uint64_t count,
                    std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;

    // Rows of the log store whose content is exactly `content`.
    static int countLog(const std::string& content);

    std::uint16_t port() const { return m_port; }
    bool started() const { return m_started; }
    const std::string& folder() const { return m_folder; }

private:
    testkit::TempDir m_dir;
    std::string m_folder;
    std::uint16_t m_port = 0;
    bool m_started = false;

public:
    FixedChooser chooser;
    SilentPrompt prompt;
    consolecore::ConsoleEngine engine;
    // The engine's parts, used on the GUI thread only.
    consolecore::CDeviceChannel& channel;
    consolecore::DeviceTable& table;
    consolecore::SwitchingController& switching;

private:
    void onEngineEvent(const consolecore::EngineEvent& event) override;

    mutable std::mutex m_countLock;
    mutable std::condition_variable m_counted;
    std::map<std::pair<std::uint16_t, std::intptr_t>, std::uint64_t> m_events;

    testkit::JobThread m_gui;  // the stand-in GUI thread
};

}  // namespace faulttest
