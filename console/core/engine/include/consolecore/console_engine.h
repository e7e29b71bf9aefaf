// The console without its window: command channel, session, device table, group switching,
// the [Console] settings and the optional MQTT bridge. The window and the headless service
// both own one and forward the core's window messages to it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <tuple>

#include "alerts/alert_service.h"
#include "consolecore/console_session.h"
#include "consolecore/device_channel.h"
#include "consolecore/device_table.h"
#include "consolecore/settings.h"
#include "consolecore/switching.h"
#include "logbase/repeat_limiter.h"

namespace mqttbridge {
class MqttBridge;
}

namespace consolecore {

class MqttRefusalLog;
class EngineAlerts;

struct EngineHooks {
    // Runs `task` later on the engine's thread (the bridge's commands arrive on its own
    // thread). Required for the bridge; without it commands are dropped.
    std::function<void(std::function<void()> task)> postToEngine;
    // WM_DEVICE_ID_CONFLICT from the link: an id already online was claimed from another
    // address (s_addr values). Called once per conflict (id and both addresses), on the
    // engine's thread; the bridge publishes it too.
    std::function<void(std::uint16_t id, std::uint32_t newcomer, std::uint32_t online)>
        onIdConflict;
    // The clock that spaces the engine's repeated log rows; null: the steady clock.
    std::function<std::chrono::steady_clock::time_point()> clock;
    // Storm window, retries and time-outs of the alerts set in [Alerts].
    alerts::AlertTimings alertTimings;
};

// "设备ID冲突: 设备42从127.0.0.9注册被拒绝, 该ID已在127.0.0.2在线".
std::string idConflictText(std::uint16_t id, std::uint32_t newcomer, std::uint32_t online);

class ConsoleEngine {
public:
    ConsoleEngine(SessionOptions options, GroupChooser& chooser, platform::Prompt& prompt,
                  EngineHooks hooks = {});
    ~ConsoleEngine();  // stop()
    ConsoleEngine(const ConsoleEngine&) = delete;
    ConsoleEngine& operator=(const ConsoleEngine&) = delete;

    // Log store, link, timed tasks; then "Vantrel.ini" (its log lines go to the open store)
    // applied, and the MQTT bridge started when [Mqtt] Host is set. The link's notices go to
    // the main window (setMainWindow), which hands them back to handleMessage.
    void start();
    // Bridge and alerts first (they only read and tell), then the session's modules. Safe to
    // call twice.
    void stop();

    // The core's messages: device events, id conflicts, step replies. False for any other.
    bool handleMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

    // Step time-out and the group-off question from the [Console] settings.
    void applySettings(const ConsoleSettings& settings);
    // One outlet of one registered device, as a click on its cell sends it: Queued, or why
    // nothing was sent (the id not registered, the outlet outside 1..16, the link refused).
    SendResult switchOutlet(std::uint16_t id, int outlet, bool on);

    CDeviceChannel& channel() { return m_channel; }
    const ConsoleSession& session() const { return m_session; }
    DeviceTable& table() { return m_table; }
    const DeviceTable& table() const { return m_table; }
    SwitchingController& switching() { return m_switching; }
    bool bridgeRunning() const { return m_bridge != nullptr; }

private:
    void startBridge(const MqttSettings& settings);
    void publish(std::uint16_t id, std::intptr_t event);
    void onIdConflict(std::uint16_t id, std::uint32_t newcomer, std::uint32_t online);
    void alertDeviceEvent(std::uint16_t id, std::intptr_t event, const std::string& name);

    CDeviceChannel m_channel;
    ConsoleSession m_session;
    DeviceTable m_table;
    SwitchingController m_switching;
    EngineHooks m_hooks;
    std::unique_ptr<mqttbridge::MqttBridge> m_bridge;
    // Commands for devices that left before they ran: one line, then counts.
    logbase::RepeatLimiter m_repeats;
    // Conflicts already told; an id's entries go when it registers (the conflict is over).
    std::set<std::tuple<std::uint16_t, std::uint32_t, std::uint32_t>> m_conflictsTold;
    // Cleared on stop(): a command the bridge queued before that finds nothing to run.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    std::unique_ptr<MqttRefusalLog> m_refusals;
    // Webhook and command alerts on device, run, link, task and log trouble ([Alerts]).
    std::unique_ptr<EngineAlerts> m_alerts;
};

}  // namespace consolecore
