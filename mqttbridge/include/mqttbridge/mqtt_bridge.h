// The bridge between the console's devices and an MQTT broker: retained state and discovery
// out, outlet and group commands in. One own thread talks to the broker; callers only enqueue.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "consolecore/device_snapshot.h"
#include "consolecore/settings.h"
#include "mqttbridge/bridge_command.h"

namespace mqttbridge {

struct BridgeHooks {
    // Receives every valid command that is not a retained message (a retained command would
    // switch again at every connection), on the bridge's thread: post it to the thread that
    // switches outlets and return. Required.
    std::function<void(const Command&)> onCommand;
    // Whether a device id is known, asked on the bridge's thread (so it must be thread-safe).
    // Empty: the ids the bridge holds a snapshot of (published and not removed).
    std::function<bool(std::uint16_t)> isKnownId;
};

struct BridgeTiming {
    std::chrono::milliseconds reconnectMin{1000};  // first retry; doubles per failure
    std::chrono::milliseconds reconnectMax{30000};
    int keepAliveSec = 30;
    // Repeated refusals of one kind are logged once, then counted at most once per period.
    std::chrono::milliseconds refusalLogPeriod{10000};
    // The clock of that period; null: the steady clock.
    std::function<std::chrono::steady_clock::time_point()> clock;
};

class MqttBridge {
public:
    MqttBridge(consolecore::MqttSettings settings, BridgeHooks hooks, BridgeTiming timing = {});
    ~MqttBridge();  // stop()
    MqttBridge(const MqttBridge&) = delete;
    MqttBridge& operator=(const MqttBridge&) = delete;

    // Starts the bridge's thread, which connects and keeps reconnecting. False (and a log
    // line) when the settings are not usable or the client cannot be made; nothing runs then.
    bool start();
    // Publishes "offline" on the status topic, disconnects and joins the thread. Idempotent.
    void stop();

    // The device's current state: retained state and, when new or renamed, its discovery
    // configs. Only the newest snapshot per id is kept until it is sent. Never waits on the
    // broker (a short lock on the table of pending updates only).
    void publishDevice(const consolecore::DeviceSnapshot& device);
    // The device left the registry: its state says online=false and its availability
    // "offline". Its discovery entities stay (the console never knows a device is gone for
    // good: it may register again).
    void removeDevice(std::uint16_t id);

    // A registration of `id` from `newcomer` was refused: the id is online at `online` (IPv4
    // texts). Retained on `<base>/<id>/conflict` as {"id","newcomer","online"}.
    void publishConflict(std::uint16_t id, const std::string& newcomer, const std::string& online);
    // The conflict of `id` is over: its retained message is deleted.
    void clearConflict(std::uint16_t id);

    // Whether the broker has accepted the connection (for a status line; may change any time).
    bool connected() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace mqttbridge
