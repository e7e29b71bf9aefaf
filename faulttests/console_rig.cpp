// The fault tests' console: see console_rig.h.
#include "console_rig.h"

#include <future>
#include <memory>
#include <stdexcept>

#include "consolecore/switching_groups.h"
#include "devroster/devroster.h"
#include "lanwire/lanwire.h"
#include "logbase/logbase.h"
#include "platform/messages.h"

namespace faulttest {

std::optional<int> FixedChooser::chooseGroup(consolecore::GroupKind kind, std::uint8_t direction) {
    consolecore::GroupSelectionModel model(kind, direction);
    model.selectGroup(groupIndex);
    return model.result();
}

void SilentPrompt::showMessage(const std::string& text, const std::string&, platform::PromptIcon) {
    messages.push_back(text);
}

ConsoleRig::ConsoleRig(LanwireOptions options)
    : table(channel),
      switching(channel, chooser, prompt, [this] { return table.rowCount(); }) {
    m_folder = m_dir.path().string() + "/";
    options.programFolder = m_folder;
    SetLanwireOptions(options);
    if (!InitLogbaseModule(m_folder, "Vantrel_DB.db3")) {
        throw std::runtime_error("the log store did not open in " + m_folder);
    }
    consolecore::switchingGroups().reset();
    InitDevrosterMod();
    consolecore::setMainWindow(this);
    m_started = channel.Start(0);
    m_port = GetLanwirePort();
}

ConsoleRig::~ConsoleRig() {
    channel.Stop();
    consolecore::setMainWindow(nullptr);
    m_gui.stop();
    ReleaseLogbaseModule();
    InitDevrosterMod();
    consolecore::switchingGroups().reset();
    SetLanwireOptions(LanwireOptions{});
}

void ConsoleRig::post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (message == platform::WM_DEVICE_EVENT) {
        {
            std::lock_guard lock(m_countLock);
            ++m_events[{static_cast<std::uint16_t>(wParam & 0xFFFF), lParam & 0xFF}];
        }
        m_counted.notify_all();
    }
    m_gui.post([this, message, wParam, lParam] { dispatch(message, wParam, lParam); });
}

void ConsoleRig::onGui(std::function<void()> action) {
    m_gui.run(std::move(action));
}

int ConsoleRig::rowCount() {
    int n = 0;
    onGui([&] { n = table.rowCount(); });
    return n;
}

bool ConsoleRig::waitRows(int count, std::chrono::milliseconds timeout) {
    return testkit::waitFor([&] { return rowCount() == count; }, timeout);
}

std::uint64_t ConsoleRig::events(std::uint16_t id, std::intptr_t kind) const {
    std::lock_guard lock(m_countLock);
    const auto it = m_events.find({id, kind});
    return it == m_events.end() ? 0 : it->second;
}

std::uint64_t ConsoleRig::totalEvents(std::intptr_t kind) const {
    std::lock_guard lock(m_countLock);
    std::uint64_t n = 0;
    for (const auto& [key, count] : m_events) n += key.second == kind ? count : 0;
    return n;
}

bool ConsoleRig::waitEvents(std::uint16_t id, std::intptr_t kind, std::uint64_t count,
                            std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_countLock);
    return m_counted.wait_for(lock, timeout, [&] {
        const auto it = m_events.find({id, kind});
        return it != m_events.end() && it->second >= count;
    });
}

int ConsoleRig::countLog(const std::string& content) {
    LogObLockLogbase();
    auto statement = LogObQueryStatement("SELECT LogContent FROM Log");
    LogObUnlockLogbase();
    int n = 0;
    while (statement && statement->NextRow()) n += statement->ValueUtf8(0) == content;
    return n;
}

void ConsoleRig::dispatch(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    const auto id = static_cast<std::uint16_t>(wParam & 0xFFFF);
    if (message == platform::WM_DEVICE_EVENT) {
        table.OnDeviceEvent(id, static_cast<int>(lParam & 0xFF));
    } else if (message == platform::WM_SERIAL_STEP_DONE) {
        switching.onSerialStepDone(id, lParam != 0);
    } else if (message == platform::WM_PARALLEL_STEP_DONE) {
        switching.onParallelStepDone(id);
    }
}

}  // namespace faulttest
