// The console's logic shared by the window and the headless service.
#include "consolecore/console_engine.h"

#include <type_traits>
#include <variant>

#include "logbase/log_codes.h"
#include "logbase/logbase.h"
#include "mqttbridge/mqtt_bridge.h"
#include "platform/messages.h"

namespace consolecore {

namespace {

std::uint16_t low16(std::uintptr_t value) {
    return static_cast<std::uint16_t>(value & 0xFFFF);
}
int lowByte(std::intptr_t value) {
    return static_cast<int>(value & 0xFF);
}

}  // namespace

ConsoleEngine::ConsoleEngine(SessionOptions options, GroupChooser& chooser,
                             platform::Prompt& prompt, EngineHooks hooks)
    : m_session(m_channel, std::move(options)),
      m_table(m_channel),
      m_switching(m_channel, chooser, prompt, [this] { return m_table.rowCount(); }),
      m_hooks(std::move(hooks)) {}

ConsoleEngine::~ConsoleEngine() {
    stop();
}

void ConsoleEngine::start() {
    m_session.start();
    // Read (and its problems logged) by the session, once the log store was open.
    const VantrelSettings& settings = m_session.settings();
    applySettings(settings.console);
    if (settings.mqtt.enabled()) startBridge(settings.mqtt);
}

void ConsoleEngine::stop() {
    *m_alive = false;
    if (m_bridge) {
        m_bridge->stop();
        m_bridge.reset();
    }
    m_session.stop();  // does nothing when not running
}

void ConsoleEngine::applySettings(const ConsoleSettings& settings) {
    auto options = m_switching.options();
    options.stepTimeout = std::chrono::seconds(settings.stepTimeoutSec);
    options.confirmGroupOff = settings.confirmGroupOff;
    m_switching.configure(std::move(options));
}

bool ConsoleEngine::handleMessage(std::uint32_t message, std::uintptr_t wParam,
                                  std::intptr_t lParam) {
    switch (message) {
        case platform::WM_DEVICE_EVENT:
            m_table.OnDeviceEvent(low16(wParam), lowByte(lParam));
            if (lowByte(lParam) == platform::DEV_EVENT_REMOVED) {
                m_switching.onDeviceRemoved(low16(wParam));
            }
            publish(low16(wParam), lowByte(lParam));
            return true;
        case platform::WM_DEVICE_ID_CONFLICT:
            if (m_hooks.onIdConflict) {
                m_hooks.onIdConflict(low16(wParam), platform::newcomerAddress(lParam),
                                     platform::onlineAddress(lParam));
            }
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

bool ConsoleEngine::switchOutlet(std::uint16_t id, int outlet, bool on) {
    if (outlet < 1 || outlet > 16 || !snapshotDevice(id)) return false;
    m_channel.SendChannelSwitch(id, static_cast<std::uint8_t>(outlet), on ? 1 : 0);
    return true;
}

void ConsoleEngine::publish(std::uint16_t id, std::intptr_t event) {
    if (!m_bridge) return;
    if (event == platform::DEV_EVENT_REMOVED) {
        m_bridge->removeDevice(id);
    } else if (const auto device = snapshotDevice(id)) {
        m_bridge->publishDevice(*device);
    }
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
                        if (!switchOutlet(c.id, c.outlet, c.on)) {
                            InsertLogOb("%d,%d,'MQTT命令无效:设备%u未注册'", logcode::kFailure,
                                        logcode::kOther, static_cast<unsigned>(c.id));
                        }
                    } else {
                        m_switching.startGroupRun(c.mode == mqttbridge::GroupMode::Serial
                                                      ? GroupKind::Serial
                                                      : GroupKind::Parallel,
                                                  c.group, c.on ? 1 : 0);
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
