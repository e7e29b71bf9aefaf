// Log rows for MQTT commands the link did not send (the device's outbox full, its connection
// gone): per device at most one row per period, each naming how many commands were dropped
// since the row before, so a flood of commands costs a few rows and loses no count.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>

#include "consolecore/group_run.h"
#include "platform/log_throttle.h"

namespace mqttbridge {

class MqttRefusalLog {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // `clock` null: the steady clock.
    MqttRefusalLog(std::chrono::milliseconds period, Clock clock);

    // Counts one command for `id` that was not sent. Logs at once when the device's last row
    // is a period old; otherwise the count waits, and `timer` (if any) logs it when the period
    // ends. On the engine's thread, like `timer`'s callbacks.
    void refused(std::uint16_t id, consolecore::RunTimer* timer);
    // Logs every count still waiting and disarms the timers (at stop).
    void flush(consolecore::RunTimer* timer);

private:
    void onPeriodEnd(std::uint16_t id, consolecore::RunTimer* timer);
    void arm(std::uint16_t id, consolecore::RunTimer* timer);

    std::chrono::milliseconds m_period;
    Clock m_clock;
    std::map<std::uint16_t, platform::LogThrottle> m_devices;
};

}  // namespace mqttbridge
