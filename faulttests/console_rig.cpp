// The fault tests' console: see console_rig.h.
#include "console_rig.h"

#include <future>
#include <memory>

#include "consolecore/switching_groups.h"
#include "devroster/devroster.h"
#include "lanwire/lanwire.h"
#include "logbase/logbase.h"
#include "platform/messages.h"
#include "public/data_path.h"

namespace faulttest {

std::optional<int> FixedChooser::chooseGroup(consolecore::GroupKind kind, std::uint8_t direction) {
    consolecore::GroupSelectionModel model(kind, direction);
    model.selectGroup(groupIndex);
    return model.result();
}

void SilentPrompt::showMessage(const std::string& text, const std::string&, platform::PromptIcon) {
    messages.push_back(text);
}

namespace {

consolecore::SessionOptions sessionIn(const std::string& folder) {
    consolecore::SessionOptions options;
    options.programFolder = folder;
    options.port = 0;
    options.taskFolder = folder + "TimingTask";
    return options;
}

}  // namespace

ConsoleRig::ConsoleRig(LanwireOptions options)
    : m_folder(m_dir.path().string() + "/"),
      engine(sessionIn(m_folder), chooser, prompt,
             consolecore::EngineHooks{
                 [this](std::function<void()> task) { m_gui.post(std::move(task)); }, {}}),
      channel(engine.channel()),
      table(engine.table()),
      switching(engine.switching()) {
    options.programFolder = m_folder;
    SetLanwireOptions(options);
    SetDataPath(m_folder);  // the engine's "Vantrel.ini"
    consolecore::beginApplication();
    onGui([this] {
        engine.subscribe(*this);
        engine.start();
    });
    m_started = engine.session().linkStarted();
    m_port = GetLanwirePort();
}

ConsoleRig::~ConsoleRig() {
    onGui([this] {
        engine.stop();
        engine.unsubscribe(*this);
    });
    m_gui.stop();
    ReleaseLogbaseModule();
    consolecore::endApplication();
    SetLanwireOptions(LanwireOptions{});
    SetDataPath("");
}

void ConsoleRig::onEngineEvent(const consolecore::EngineEvent& event) {
    std::pair<std::uint16_t, std::intptr_t> key;
    if (const auto* e = std::get_if<consolecore::DeviceRegistered>(&event)) {
        key = {e->device.id, platform::DEV_EVENT_REGISTERED};
    } else if (const auto* e = std::get_if<consolecore::DeviceChanged>(&event)) {
        key = {e->device.id, platform::DEV_EVENT_STATUS};
    } else if (const auto* e = std::get_if<consolecore::DeviceRemoved>(&event)) {
        key = {e->id, platform::DEV_EVENT_REMOVED};
    } else {
        return;
    }
    {
        std::lock_guard lock(m_countLock);
        ++m_events[key];
    }
    m_counted.notify_all();
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

}  // namespace faulttest
