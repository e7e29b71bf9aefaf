// Engine events become retained state, availability and conflict messages; broker commands
// become the engine's outlet and group commands, with "mqtt" as their actor.
#include "mqttbridge/engine_bridge.h"

#include <memory>
#include <set>
#include <type_traits>
#include <variant>

#include "logbase/log_codes.h"
#include "logbase/repeat_limiter.h"
#include "mqtt_refusal_log.h"
#include "mqttbridge/mqtt_bridge.h"
#include "platform/ipv4_text.h"

namespace mqttbridge {

namespace {

using namespace consolecore;

// Named in the audit lines of the commands that came from the broker; never asked anything.
const Actor kActor{"mqtt", false};

std::string ipv4Text(std::uint32_t sAddr) {
    in_addr address{};
    address.s_addr = sAddr;
    return platform::formatIpv4(address);
}

class EngineBridge : public EngineClient {
public:
    EngineBridge(ConsoleEngine& engine, const EngineBridgeOptions& options)
        : m_engine(engine),
          // One row per device per 10 s at most: a flood of refused commands stays readable.
          m_refusals(std::chrono::seconds(10), options.clock) {}

    ~EngineBridge() override {
        *m_alive = false;
        if (m_bridge) m_bridge->stop();
        m_bridge.reset();
        // While the log store is still open.
        m_refusals.flush(m_engine.switching().options().timer);
        m_repeats.flush(true);
    }

    bool start(const MqttSettings& settings) {
        BridgeHooks hooks;
        // On the bridge's thread: hand the command to the engine's thread and return.
        hooks.onCommand = [this, alive = m_alive](const Command& command) {
            m_engine.post([this, command, alive] {
                if (*alive) run(command);
            });
        };
        auto bridge = std::make_unique<MqttBridge>(settings, std::move(hooks));
        if (!bridge->start()) return false;  // the bridge logged why
        m_bridge = std::move(bridge);
        // Devices registered before the bridge started.
        for (const DeviceSnapshot& device : m_engine.devices()) m_bridge->publishDevice(device);
        return true;
    }

    void onEngineEvent(const EngineEvent& event) override {
        std::visit([this](const auto& e) { on(e); }, event);
    }

private:
    void on(const DeviceRegistered& e) {
        // The id registered: whatever conflict it had is over.
        if (m_conflicts.erase(e.device.id) > 0) m_bridge->clearConflict(e.device.id);
        m_bridge->publishDevice(e.device);
    }
    void on(const DeviceChanged& e) { m_bridge->publishDevice(e.device); }
    void on(const DeviceRemoved& e) { m_bridge->removeDevice(e.id); }
    void on(const IdConflict& e) {
        m_conflicts.insert(e.id);
        m_bridge->publishConflict(e.id, ipv4Text(e.newcomer), ipv4Text(e.online));
    }
    // Not published.
    void on(const StepDone&) {}
    void on(const RunProgress&) {}
    void on(const StepTimedOut&) {}
    void on(const TaskApplied&) {}
    void on(const TaskSkipped&) {}
    void on(const LogTrouble&) {}

    void run(const Command& command) {
        std::visit(
            [this](const auto& c) {
                using T = std::decay_t<decltype(c)>;
                if constexpr (std::is_same_v<T, OutletCommand>) {
                    const SendResult result = m_engine.switchOutlet(c.id, c.outlet, c.on, kActor);
                    if (result == SendResult::UnknownDevice || result == SendResult::Invalid) {
                        m_repeats.log(logcode::kFailure, logcode::kOther, "unregistered",
                                      "MQTT命令无效:设备" + std::to_string(c.id) + "未注册");
                    } else if (result != SendResult::Queued) {
                        m_refusals.refused(c.id, m_engine.switching().options().timer);
                    }
                } else {
                    // Its refusals are logged by the switching itself; a run that could
                    // not start because the link is down sends nothing and is not one.
                    m_engine.startGroupRun(
                        c.mode == GroupMode::Serial ? GroupKind::Serial : GroupKind::Parallel,
                        c.group, c.on, kActor);
                }
            },
            command);
    }

    ConsoleEngine& m_engine;
    std::unique_ptr<MqttBridge> m_bridge;
    // Commands for devices that left before they ran: one line, then counts.
    logbase::RepeatLimiter m_repeats;
    MqttRefusalLog m_refusals;
    // Ids whose conflict is retained on the broker.
    std::set<std::uint16_t> m_conflicts;
    // Cleared when the bridge ends: a command it queued before that finds nothing to run.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace

consolecore::ClientFactory engineBridgeFactory(EngineBridgeOptions options) {
    return [options](ConsoleEngine& engine) -> std::unique_ptr<EngineClient> {
        const MqttSettings& settings = engine.session().settings().mqtt;
        if (!settings.enabled()) return nullptr;
        auto client = std::make_unique<EngineBridge>(engine, options);
        if (!client->start(settings)) return nullptr;
        return client;
    };
}

}  // namespace mqttbridge
