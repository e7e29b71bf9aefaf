// The console without a face: command channel, session, device table, group switching and the
// [Console] settings. Clients (the window, the MQTT bridge, the service) subscribe to its
// typed events and call its commands; it includes none of them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "alerts/alert_service.h"
#include "consolecore/console_session.h"
#include "consolecore/device_channel.h"
#include "consolecore/device_table.h"
#include "consolecore/engine_events.h"
#include "consolecore/settings.h"
#include "consolecore/switching.h"
#include "platform/message_target.h"

namespace consolecore {

class ConsoleEngine;
class EngineAlerts;
class EventRelay;

struct EngineHooks {
    // Runs `task` later on the engine's thread. Required: the link's notices reach the engine
    // through it, and clients with threads of their own hand their commands over through it.
    std::function<void(std::function<void()> task)> postToEngine;
    // Retry and time-out pacing of the [Alerts] deliveries (tests shorten them).
    alerts::AlertTimings alertTimings;
};

// Makes a client once the engine has started and read "Vantrel.ini" (null: none, e.g. the
// client is not configured). Called on the engine's thread.
using ClientFactory = std::function<std::unique_ptr<EngineClient>(ConsoleEngine& engine)>;

// "设备ID冲突: 设备42从127.0.0.9注册被拒绝, 该ID已在127.0.0.2在线".
std::string idConflictText(std::uint16_t id, std::uint32_t newcomer, std::uint32_t online);

class ConsoleEngine {
public:
    // Throws std::invalid_argument when `hooks.postToEngine` is empty.
    ConsoleEngine(SessionOptions options, GroupChooser& chooser, platform::Prompt& prompt,
                  EngineHooks hooks);
    ~ConsoleEngine();  // stop()
    ConsoleEngine(const ConsoleEngine&) = delete;
    ConsoleEngine& operator=(const ConsoleEngine&) = delete;

    // A client the engine makes at start() and ends first at stop(). Call before start().
    void addClient(ClientFactory factory);
    // A client owned elsewhere; it gets every event from now on until unsubscribed. On the
    // engine's thread.
    void subscribe(EngineClient& client);
    void unsubscribe(EngineClient& client);

    // Log store, link, timed tasks; then "Vantrel.ini" (its log lines go to the open store)
    // applied, and the clients of addClient made.
    void start();
    // Owned clients first (they only read), then the session's modules. Safe to call twice.
    void stop();

    // Where the receive path and the link post device events, id conflicts and step replies
    // (from any thread); they are handled on the engine's thread. A tool that takes a device
    // out of the registry (device configuration) posts its removal here too.
    platform::MessageTarget& inbox() { return m_inbox; }

    // Runs `task` on the engine's thread (see EngineHooks::postToEngine); dropped once the
    // engine has stopped.
    void post(std::function<void()> task);

    // Step time-out and the group-off question from the [Console] settings.
    void applySettings(const ConsoleSettings& settings);
    // The commands every client gives, on the engine's thread. `actor` is named in their
    // audit lines; only an actor at the console is ever asked anything or shown a box.

    // One outlet of one registered device, as a click on its cell sends it: Queued, or why
    // nothing was sent (link down, the id not registered, the outlet outside 1..16, the link
    // refused). The row "设备:<name>开灯:<n>" names an actor that is not at the console.
    SendResult switchOutlet(std::uint16_t id, int outlet, bool on, const Actor& actor);
    // A parallel or serial run of `group` (1..6), as SwitchingController::startGroupRun; an
    // actor not at the console is refused with LinkDown while the link is not running.
    RunStart startGroupRun(GroupKind kind, int group, bool on, const Actor& actor);
    // The window's group buttons: the group dialog first (SwitchingController::chooseAndStart).
    RunStart chooseGroupRun(GroupKind kind, bool on, const Actor& actor);
    CancelResult cancelRun(std::uint64_t run, const Actor& actor);
    // The operator at the window: its login user.
    Actor consoleActor() const { return m_switching.consoleActor(); }

    // Every device in the table, in its order, as the registry holds it now (a client that
    // starts late learns the devices that registered before it).
    std::vector<DeviceSnapshot> devices() const;

    CDeviceChannel& channel() { return m_channel; }
    const ConsoleSession& session() const { return m_session; }
    DeviceTable& table() { return m_table; }
    const DeviceTable& table() const { return m_table; }
    SwitchingController& switching() { return m_switching; }

private:
    // Hands each message to the engine's thread.
    class Inbox : public platform::MessageTarget {
    public:
        explicit Inbox(ConsoleEngine& engine) : m_engine(engine) {}
        void post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;

    private:
        ConsoleEngine& m_engine;
    };

    // The core's messages: device events, id conflicts, step replies. False for any other.
    bool handleMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
    void onDeviceEvent(std::uint16_t id, int kind);
    void onIdConflict(std::uint16_t id, std::uint32_t newcomer, std::uint32_t online);
    void tell(const EngineEvent& event);
    // The log store's trouble and the runner's task events, from their threads to clients.
    void listenToLogAndTasks();
    // Device offline (its row gone or kept offline) and back, to the alerts.
    void alertDeviceEvent(std::uint16_t id, int kind, const std::string& name);

    EngineHooks m_hooks;
    Inbox m_inbox{*this};
    CDeviceChannel m_channel{m_inbox};
    ConsoleSession m_session;
    DeviceTable m_table;
    SwitchingController m_switching;
    std::unique_ptr<EngineAlerts> m_alerts;
    // From start() to stop(): events found on other threads (see listenToLogAndTasks).
    std::shared_ptr<EventRelay> m_relay;
    std::vector<ClientFactory> m_factories;
    std::vector<std::unique_ptr<EngineClient>> m_owned;
    std::vector<EngineClient*> m_clients;
    // Conflicts already told; an id's entries go when it registers (the conflict is over).
    std::set<std::tuple<std::uint16_t, std::uint32_t, std::uint32_t>> m_conflictsTold;
    // The record generation each device was last told with, for its removal.
    std::unordered_map<std::uint16_t, std::uint64_t> m_generations;
    // Cleared on stop(): a posted task that finds nothing to run.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace consolecore
