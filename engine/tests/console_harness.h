// A console without widgets for end-to-end tests: the real link on an ephemeral loopback
// port, the command channel, the device table and the switching handlers, with a thread that
// plays the GUI thread (posted messages and operator actions run there, one at a time).
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <thread>

#include "consolecore/device_channel.h"
#include "consolecore/device_table.h"
#include "consolecore/group_selection.h"
#include "consolecore/switching.h"
#include "consolecore/switching_groups.h"
#include "core_test_support.h"
#include "devroster/devroster.h"
#include "lanwire/lanwire.h"
#include "lanwire/lanwire_options.h"
#include "platform/message_target.h"
#include "platform/messages.h"
#include "testkit/job_thread.h"
#include "testkit/wait_for.h"

namespace coretest {

// Picks the group the test chose, through the same model the dialogs use.
class ScriptedChooser : public consolecore::GroupChooser {
public:
    std::optional<int> chooseGroup(consolecore::GroupKind kind, std::uint8_t direction) override {
        ++opened;
        if (cancel) return std::nullopt;
        consolecore::GroupSelectionModel model(kind, direction);
        model.selectGroup(groupIndex);
        return model.result();
    }
    int groupIndex = 0;
    bool cancel = false;
    int opened = 0;
};

class ConsoleHarness : public platform::MessageTarget {
public:
    explicit ConsoleHarness(const std::string& folder) {
        LanwireOptions options;
        options.programFolder = folder;
        SetLanwireOptions(options);
        ASSERT_TRUE_OR_THROW(InitLogbaseModule(folder, "Vantrel_DB.db3"));
        consolecore::switchingGroups().reset();
        InitDevrosterMod();
        started = channel.Start(0);
        port = GetLanwirePort();
    }
    ~ConsoleHarness() override {
        channel.Stop();
        m_gui.stop();
        ReleaseLogbaseModule();
        InitDevrosterMod();
    }

    void post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override {
        m_gui.post([this, message, wParam, lParam] { dispatch(message, wParam, lParam); });
    }

    // Keeps the GUI thread busy (a window in a long handler) until `release` is ready.
    void holdGui(std::shared_future<void> release) {
        m_gui.post([release] { release.wait(); });
    }

    // Runs `action` on the GUI thread and waits for it.
    void onGui(std::function<void()> action) { m_gui.run(std::move(action)); }

    int rowCount() {
        int n = 0;
        onGui([&] { n = table.rowCount(); });
        return n;
    }
    bool waitRows(int count) {
        return testkit::waitFor([&] { return rowCount() == count; });
    }

    consolecore::CDeviceChannel channel{*this};  // the receive path posts here
    consolecore::DeviceTable table{channel};
    ScriptedChooser chooser;
    RecordingPrompt prompt;
    consolecore::SwitchingController switching{channel, chooser, prompt,
                                               [this] { return table.rowCount(); }};
    bool started = false;
    std::uint16_t port = 0;

private:
    static void ASSERT_TRUE_OR_THROW(bool ok) {
        if (!ok) throw std::runtime_error("log store did not open");
    }
    void dispatch(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
        const auto id = static_cast<std::uint16_t>(wParam & 0xFFFF);
        if (message == platform::WM_DEVICE_EVENT) {
            table.OnDeviceEvent(id, static_cast<int>(lParam & 0xFF));
            if ((lParam & 0xFF) == platform::DEV_EVENT_REMOVED) switching.onDeviceRemoved(id);
        } else if (message == platform::WM_SERIAL_STEP_DONE) {
            switching.onSerialStepDone(id, lParam != 0);
        } else if (message == platform::WM_PARALLEL_STEP_DONE) {
            switching.onParallelStepDone(id);
        }
    }

    testkit::JobThread m_gui;  // the stand-in GUI thread
};

}  // namespace coretest
