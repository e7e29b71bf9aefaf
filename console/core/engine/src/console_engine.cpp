// The console's logic shared by the window and the headless service.
#include "consolecore/console_engine.h"

#include <type_traits>
#include <variant>

#include "consolecore/device_channel.h"
#include "engine_alerts.h"
#include "lanwire/lanwire.h"
#include "logbase/log_codes.h"
#include "logbase/logbase.h"
#include "mqtt_refusal_log.h"
#include "mqttbridge/mqtt_bridge.h"
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
    : m_session(m_channel, std::move(options)),
      m_table(m_channel),
      m_switching(m_channel, chooser, prompt, [this] { return m_table.rowCount(); }),
      m_hooks(std::move(hooks)),
      // One row per device per 10 s at most: a flood of refused commands stays readable.
      m_refusals(std::make_unique<MqttRefusalLog>(std::chrono::seconds(10), m_hooks.clock)),
      m_alerts(std::make_unique<EngineAlerts>()) {
    m_switching.setRunEndedObserver([this](const GroupRun& run) {
        m_alerts->runEnded(run, auditText(run, m_switching.options().userName));
    });
}

ConsoleEngine::~ConsoleEngine() {
    stop();
}

void ConsoleEngine::start() {
    // The link's id-conflict notices reach the window or the service through here.
    SetWindowHand(mainWindow());
    // Listening before the modules start: the runner may skip a task in its first sweep.
    m_alerts->start(settingsPath(), m_hooks.alertTimings);
    m_session.start();
    m_alerts->tellSettingsProblems();
    // Read (and its problems logged) by the session, once the log store was open.
    const VantrelSettings& settings = m_session.settings();
    applySettings(settings.console);
    if (settings.mqtt.enabled()) startBridge(settings.mqtt);
    if (!m_session.linkStarted()) m_alerts->linkDown("网络初始化失败!");
}

void ConsoleEngine::stop() {
    *m_alive = false;
    if (m_bridge) {
        m_bridge->stop();
        m_bridge.reset();
    }
    // While the log store is still open.
    m_alerts->stop();
    m_refusals->flush(m_switching.options().timer);
    m_repeats.flush(true);
    m_session.stop();  // does nothing when not running
    SetWindowHand(nullptr);
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
        case platform::WM_DEVICE_EVENT: {
            // The row, and the name on it, go with a removal.
            const int before = m_table.findRow(low16(wParam));
            const std::string name = before >= 0 ? m_table.row(before).name : std::string();
            m_table.OnDeviceEvent(low16(wParam), lowByte(lParam));
            alertDeviceEvent(low16(wParam), lowByte(lParam), name);
            if (lowByte(lParam) == platform::DEV_EVENT_REMOVED) {
                m_switching.onDeviceRemoved(low16(wParam));
            }
            publish(low16(wParam), lowByte(lParam));
            return true;
        }
        case platform::WM_DEVICE_ID_CONFLICT:
            onIdConflict(low16(wParam), platform::newcomerAddress(lParam),
                         platform::onlineAddress(lParam));
            return true;
        case platform::WM_SERIAL_STEP_DONE:
            m_switching.onSerialStepDone(low16(wParam), lParam != 0);
            return true;
        case platform::WM_PARALLEL_STEP_DONE:
            m_switching.onParallelStepDone(low16(wParam));
            return true;
        default:
            return false;
    }
}

SendResult ConsoleEngine::switchOutlet(std::uint16_t id, int outlet, bool on) {
    if (outlet < 1 || outlet > 16) return SendResult::Invalid;
    return m_channel.SendChannelSwitch(id, static_cast<std::uint8_t>(outlet), on ? 1 : 0);
}

void ConsoleEngine::publish(std::uint16_t id, std::intptr_t event) {
    if (event == platform::DEV_EVENT_REGISTERED) {
        // A registration went through: whatever conflict this id had is over.
        const bool hadConflict = std::erase_if(m_conflictsTold, [id](const auto& conflict) {
                                     return std::get<0>(conflict) == id;
                                 }) > 0;
        if (hadConflict && m_bridge) m_bridge->clearConflict(id);
    }
    if (!m_bridge) return;
    // A removal notice for a device whose row the table kept (it registered again meanwhile)
    // leaves it online.
    // A row kept offline is gone for the broker too.
    if (event == platform::DEV_EVENT_REMOVED && !m_table.rowOnline(id)) {
        m_bridge->removeDevice(id);
    } else if (const auto device = snapshotDevice(id)) {
        m_bridge->publishDevice(*device);
    }
}

void ConsoleEngine::alertDeviceEvent(std::uint16_t id, std::intptr_t event,
                                     const std::string& name) {
    const int row = m_table.findRow(id);
    // A removal notice for a device that registered again meanwhile leaves it online.
    if (event == platform::DEV_EVENT_REMOVED && row < 0) {
        m_alerts->deviceOffline(id, name);
    } else if (event == platform::DEV_EVENT_REGISTERED && row >= 0) {
        m_alerts->deviceRegistered(id, m_table.row(row).name);
    }
}

void ConsoleEngine::onIdConflict(std::uint16_t id, std::uint32_t newcomer, std::uint32_t online) {
    if (m_conflictsTold.size() >= kMaxConflictsTold) m_conflictsTold.clear();
    if (!m_conflictsTold.emplace(id, newcomer, online).second) return;
    if (m_bridge) m_bridge->publishConflict(id, ipv4Text(newcomer), ipv4Text(online));
    if (m_hooks.onIdConflict) m_hooks.onIdConflict(id, newcomer, online);
    m_alerts->idConflict(id, idConflictText(id, newcomer, online));
}

void ConsoleEngine::startBridge(const MqttSettings& settings) {
    mqttbridge::BridgeHooks hooks;
    // On the bridge's thread: hand the command to the engine's thread and return.
    hooks.onCommand = [this, post = m_hooks.postToEngine,
                       alive = m_alive](const mqttbridge::Command& command) {
        if (!post) return;
        post([this, command, alive] {
            if (!*alive) return;
            std::visit(
                [this](const auto& c) {
                    using T = std::decay_t<decltype(c)>;
                    if constexpr (std::is_same_v<T, mqttbridge::OutletCommand>) {
                        const SendResult result = switchOutlet(c.id, c.outlet, c.on);
                        if (result == SendResult::UnknownDevice || result == SendResult::Invalid) {
                            m_repeats.log(logcode::kFailure, logcode::kOther, "unregistered",
                                          "MQTT命令无效:设备" + std::to_string(c.id) + "未注册");
                        } else if (result != SendResult::Queued) {
                            m_refusals->refused(c.id, m_switching.options().timer);
                        }
                    } else {
                        m_switching.startGroupRun(c.mode == mqttbridge::GroupMode::Serial
                                                      ? GroupKind::Serial
                                                      : GroupKind::Parallel,
                                                  c.group, c.on ? 1 : 0, "MQTT");
                    }
                },
                command);
        });
    };
    auto bridge = std::make_unique<mqttbridge::MqttBridge>(settings, std::move(hooks));
    if (!bridge->start()) return;  // the bridge logged why
    m_bridge = std::move(bridge);
    // Devices registered before the bridge started.
    for (int row = 0; row < m_table.rowCount(); ++row) {
        publish(m_table.row(row).id, platform::DEV_EVENT_STATUS);
    }
}

}  // namespace consolecore
