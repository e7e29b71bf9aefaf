// Counting and spacing the rows of refused MQTT commands.
#include "mqtt_refusal_log.h"

#include <algorithm>

#include "logbase/log_codes.h"
#include "logbase/logbase.h"

namespace mqttbridge {

namespace {

// The timer keys of this log, one per device id; group runs use small numbers from 1.
constexpr std::uint64_t kTimerKeys = std::uint64_t{1} << 63;

void logRow(std::uint16_t id, std::uint64_t count) {
    logEvent(logcode::kFailure, logcode::kOther,
             "MQTT命令被拒绝:设备" + std::to_string(static_cast<unsigned>(id)) + ",丢弃" +
                 std::to_string(static_cast<unsigned long long>(count)) + "条");
}

}  // namespace

MqttRefusalLog::MqttRefusalLog(std::chrono::milliseconds period, Clock clock)
    : m_period(period), m_clock(std::move(clock)) {
    if (!m_clock) m_clock = [] { return std::chrono::steady_clock::now(); };
}

void MqttRefusalLog::refused(std::uint16_t id, consolecore::RunTimer* timer) {
    auto& throttle = m_devices.try_emplace(id, m_period).first->second;
    const bool waiting = throttle.dueAt().has_value();
    if (const std::uint64_t count = throttle.add(1, m_clock())) {
        logRow(id, count);
    } else if (!waiting) {
        arm(id, timer);  // the first count to wait for this period
    }
}

void MqttRefusalLog::arm(std::uint16_t id, consolecore::RunTimer* timer) {
    if (timer == nullptr) return;  // the count waits for the next refusal or the stop
    const auto dueAt = m_devices.at(id).dueAt();
    if (!dueAt) return;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*dueAt - m_clock());
    timer->arm(kTimerKeys | id, std::max(left, std::chrono::milliseconds(1)),
               [this, id, timer] { onPeriodEnd(id, timer); });
}

void MqttRefusalLog::onPeriodEnd(std::uint16_t id, consolecore::RunTimer* timer) {
    const auto it = m_devices.find(id);
    if (it == m_devices.end()) return;
    if (const std::uint64_t count = it->second.due(m_clock())) {
        logRow(id, count);
    } else {
        arm(id, timer);  // fired early by its clock: wait for the rest of the period
    }
}

void MqttRefusalLog::flush(consolecore::RunTimer* timer) {
    for (auto& [id, throttle] : m_devices) {
        if (timer != nullptr) timer->disarm(kTimerKeys | id);
        if (const std::uint64_t count = throttle.takeAll()) logRow(id, count);
    }
}

}  // namespace mqttbridge
