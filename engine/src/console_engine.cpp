// The console's logic shared by the window and the headless service.
#include "consolecore/console_engine.h"

#include <algorithm>
#include <stdexcept>

#include "chronrun/chronrun_options.h"
#include "consolecore/device_channel.h"
#include "engine_alerts.h"
#include "event_relay.h"
#include "lanwire/lanwire.h"
#include "platform/ipv4_text.h"
#include "platform/messages.h"

namespace consolecore {

namespace {

std::uint16_t low16(std::uintptr_t value) {
    return static_cast<std::uint16_t>(value & 0xFFFF);
}
int lowByte(std::intptr_t value) {
    return static_cast<int>(value & 0xFF);
}

std::string ipv4Text(std::uint32_t sAddr) {
    in_addr address{};
    address.s_addr = sAddr;
    return platform::formatIpv4(address);
}

// Conflicts remembered as told at most; a hostile peer cycling addresses only makes a
// conflict be told again.
constexpr std::size_t kMaxConflictsTold = 1024;

}  // namespace

std::string idConflictText(std::uint16_t id, std::uint32_t newcomer, std::uint32_t online) {
    return "设备ID冲突: 设备" + std::to_string(id) + "从" + ipv4Text(newcomer) +
           "注册被拒绝, 该ID已在" + ipv4Text(online) + "在线";
}

ConsoleEngine::ConsoleEngine(SessionOptions options, GroupChooser& chooser,
                             platform::Prompt& prompt, EngineHooks hooks)
    : m_hooks(std::move(hooks)),
      m_session(m_channel, std::move(options)),
      m_table(m_channel),
      m_switching(m_channel, chooser, prompt, [this] { return m_table.rowCount(); }),
      m_alerts(std::make_unique<EngineAlerts>()) {
    // Without it the link's notices would go nowhere, silently.
    if (!m_hooks.postToEngine)
        throw std::invalid_argument("ConsoleEngine: postToEngine is required");
    m_switching.setRunObserver([this](const GroupRun& run) {
        // The devices a timed-out run still waited for, before the run's end.
        if (run.outcome == RunOutcome::TimedOut) {
            for (std::uint32_t id : run.unconfirmed) {
                tell(StepTimedOut{static_cast<std::uint16_t>(id), run.id});
            }
        }
        tell(RunProgress{run});
    });
    m_switching.setRunEndedObserver(
        [this](const GroupRun& run) { m_alerts->runEnded(run, auditText(run, run.actor)); });
}

ConsoleEngine::~ConsoleEngine() {
    stop();
}

void ConsoleEngine::addClient(ClientFactory factory) {
    if (factory) m_factories.push_back(std::move(factory));
}

void ConsoleEngine::subscribe(EngineClient& client) {
    if (std::find(m_clients.begin(), m_clients.end(), &client) == m_clients.end()) {
        m_clients.push_back(&client);
    }
}

void ConsoleEngine::unsubscribe(EngineClient& client) {
    std::erase(m_clients, &client);
}

void ConsoleEngine::start() {
    *m_alive = true;
    // The link's id-conflict notices come to the engine's thread too.
    SetWindowHand(&m_inbox);
    // Listening before the modules start: the runner may skip a task in its first sweep.
    m_alerts->start(settingsPath(), m_hooks.alertTimings);
    m_relay = std::make_shared<EventRelay>(
        [this](EngineEvent event) { post([this, event = std::move(event)] { tell(event); }); });
    listenToLogAndTasks();
    m_session.start();
    m_alerts->tellSettingsProblems();
    // Read (and its problems logged) by the session, once the log store was open.
    applySettings(m_session.settings().console);
    if (!m_session.linkStarted()) m_alerts->linkDown("网络初始化失败!");
    for (const ClientFactory& factory : m_factories) {
        if (auto client = factory(*this)) {
            subscribe(*client);
            m_owned.push_back(std::move(client));
        }
    }
}

void ConsoleEngine::stop() {
    *m_alive = false;
    // Last made, first ended; each may still log while the store is open.
    while (!m_owned.empty()) {
        unsubscribe(*m_owned.back());
        m_owned.pop_back();
    }
    // Nothing is told from other threads from here on.
    if (m_relay) {
        SetLogTap({});
        m_relay->close();
    }
    // While the log store is still open.
    m_alerts->stop();
    m_session.stop();  // does nothing when not running
    if (m_relay) {
        ChronrunOptions runner = GetChronrunOptions();
        runner.onTask = nullptr;
        SetChronrunOptions(runner);
        m_relay.reset();
    }
    SetWindowHand(nullptr);
}

void ConsoleEngine::listenToLogAndTasks() {
    // The alerts and the clients share the one log listener; both only queue.
    const LogTap alerts = m_alerts->logTap();
    LogTap tap;
    tap.line = [line = alerts.line, relay = m_relay](int type, int subType,
                                                     std::string_view content) {
        if (line) line(type, subType, content);
        if (isLogTroubleLine(type, subType, content)) relay->tell(LogTrouble{std::string(content)});
    };
    tap.trouble = [trouble = alerts.trouble, relay = m_relay](std::string_view problem) {
        if (trouble) trouble(problem);
        relay->tell(LogTrouble{std::string(problem)});
    };
    SetLogTap(std::move(tap));
    // Read by the runner when the session starts it.
    ChronrunOptions runner = GetChronrunOptions();
    runner.onTask = [relay = m_relay](const ChronrunTaskEvent& event) {
        if (event.kind == ChronrunTaskEvent::Kind::Applied) {
            relay->tell(TaskApplied{event.task, event.deviceId.value_or(0)});
        } else {
            relay->tell(TaskSkipped{event.task, event.deviceId});
        }
    };
    SetChronrunOptions(runner);
}

void ConsoleEngine::Inbox::post(std::uint32_t message, std::uintptr_t wParam,
                                std::intptr_t lParam) {
    m_engine.post([engine = &m_engine, message, wParam, lParam] {
        engine->handleMessage(message, wParam, lParam);
    });
}

void ConsoleEngine::post(std::function<void()> task) {
    if (!m_hooks.postToEngine || !task) return;
    m_hooks.postToEngine([task = std::move(task), alive = m_alive] {
        if (*alive) task();
    });
}

void ConsoleEngine::applySettings(const ConsoleSettings& settings) {
    auto options = m_switching.options();
    options.stepTimeout = std::chrono::seconds(settings.stepTimeoutSec);
    options.confirmGroupOff = settings.confirmGroupOff;
    m_switching.configure(std::move(options));
    m_table.setKeepOfflineRows(settings.keepOfflineRows);
}

bool ConsoleEngine::handleMessage(std::uint32_t message, std::uintptr_t wParam,
                                  std::intptr_t lParam) {
    switch (message) {
        case platform::WM_DEVICE_EVENT:
            onDeviceEvent(low16(wParam), lowByte(lParam));
            return true;
        case platform::WM_DEVICE_ID_CONFLICT:
            onIdConflict(low16(wParam), platform::newcomerAddress(lParam),
                         platform::onlineAddress(lParam));
            return true;
        case platform::WM_SERIAL_STEP_DONE:
            m_switching.onSerialStepDone(low16(wParam), lParam != 0);
            tell(StepDone{low16(wParam), GroupKind::Serial});
            return true;
        case platform::WM_PARALLEL_STEP_DONE:
            m_switching.onParallelStepDone(low16(wParam));
            tell(StepDone{low16(wParam), GroupKind::Parallel});
            return true;
        default:
            return false;
    }
}

SendResult ConsoleEngine::switchOutlet(std::uint16_t id, int outlet, bool on, const Actor& actor) {
    if (!m_session.linkStarted()) return SendResult::LinkDown;
    if (outlet < 1 || outlet > 16) return SendResult::Invalid;
    // The operator's rows keep the form they always had; anybody else is named.
    return m_channel.SendChannelSwitch(id, static_cast<std::uint8_t>(outlet), on ? 1 : 0,
                                       actor.atConsole ? std::string() : actor.name);
}

RunStart ConsoleEngine::startGroupRun(GroupKind kind, int group, bool on, const Actor& actor) {
    if (!actor.atConsole && !m_session.linkStarted()) return RunStart::LinkDown;
    return m_switching.startGroupRun(kind, group, on ? 1 : 0, actor);
}

RunStart ConsoleEngine::chooseGroupRun(GroupKind kind, bool on, const Actor& actor) {
    return m_switching.chooseAndStart(kind, on ? 1 : 0, actor);
}

CancelResult ConsoleEngine::cancelRun(std::uint64_t run, const Actor& actor) {
    return m_switching.cancelRun(run, actor);
}

std::vector<DeviceSnapshot> ConsoleEngine::devices() const {
    std::vector<DeviceSnapshot> devices;
    for (int row = 0; row < m_table.rowCount(); ++row) {
        if (auto device = snapshotDevice(m_table.row(row).id))
            devices.push_back(std::move(*device));
    }
    return devices;
}

void ConsoleEngine::onDeviceEvent(std::uint16_t id, int kind) {
    // The row, and the name on it, go with a removal.
    const int before = m_table.findRow(id);
    const std::string name = before >= 0 ? m_table.row(before).name : std::string();
    m_table.OnDeviceEvent(id, kind);
    alertDeviceEvent(id, kind, name);
    if (kind == platform::DEV_EVENT_REMOVED) m_switching.onDeviceRemoved(id);
    if (kind == platform::DEV_EVENT_REGISTERED) {
        // A registration went through: whatever conflict this id had is over.
        std::erase_if(m_conflictsTold,
                      [id](const auto& conflict) { return std::get<0>(conflict) == id; });
    }
    // A removal notice for a device whose row the table kept (it registered again meanwhile)
    // leaves it online: its clients hear its current state instead. A row kept offline
    // ([Console] KeepOfflineRows) is a removal for every client.
    if (kind == platform::DEV_EVENT_REMOVED && !m_table.rowOnline(id)) {
        const auto known = m_generations.find(id);
        tell(DeviceRemoved{id, known == m_generations.end() ? 0 : known->second});
        if (known != m_generations.end()) m_generations.erase(known);
        return;
    }
    auto device = snapshotDevice(id);
    if (!device) return;
    m_generations[id] = device->generation;
    if (kind == platform::DEV_EVENT_REGISTERED) {
        tell(DeviceRegistered{std::move(*device)});
    } else {
        tell(DeviceChanged{std::move(*device)});
    }
}

void ConsoleEngine::onIdConflict(std::uint16_t id, std::uint32_t newcomer, std::uint32_t online) {
    if (m_conflictsTold.size() >= kMaxConflictsTold) m_conflictsTold.clear();
    if (!m_conflictsTold.emplace(id, newcomer, online).second) return;
    tell(IdConflict{id, newcomer, online});
    m_alerts->idConflict(id, idConflictText(id, newcomer, online));
}

void ConsoleEngine::alertDeviceEvent(std::uint16_t id, int kind, const std::string& name) {
    // A removal notice for a device that registered again meanwhile leaves it online.
    if (kind == platform::DEV_EVENT_REMOVED && !m_table.rowOnline(id)) {
        m_alerts->deviceOffline(id, name);
    } else if (kind == platform::DEV_EVENT_REGISTERED && m_table.rowOnline(id)) {
        m_alerts->deviceRegistered(id, m_table.row(m_table.findRow(id)).name);
    }
}

void ConsoleEngine::tell(const EngineEvent& event) {
    // A copy: a client may end (the window closing) while it is told.
    const std::vector<EngineClient*> clients = m_clients;
    for (EngineClient* client : clients) client->onEngineEvent(event);
}

}  // namespace consolecore
