// One alert: what happened, when, to which device, group or run, and the log text that said it.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace alerts {

enum class AlertEvent {
    DeviceOffline,
    DeviceBack,
    RunTimeout,
    RunDeviceLost,
    IdConflict,
    LogTrouble,
    TaskSkipped,
    TaskGaveUp,
    LinkDown,
    DevicesOffline,  // many devices offline together: one alert lists them all
};

// The events an operator can choose in [Alerts] Events (devices-offline is not one of them:
// it stands in for device-offline during a storm).
inline constexpr AlertEvent kSelectableEvents[] = {
    AlertEvent::DeviceOffline, AlertEvent::DeviceBack, AlertEvent::RunTimeout,
    AlertEvent::RunDeviceLost, AlertEvent::IdConflict, AlertEvent::LogTrouble,
    AlertEvent::TaskSkipped,   AlertEvent::TaskGaveUp, AlertEvent::LinkDown};

// "device-offline", "run-timeout", ...
std::string_view eventName(AlertEvent event);
// The selectable event of that name, if any.
std::optional<AlertEvent> parseEventName(std::string_view name);

struct AlertDevice {
    std::uint16_t id = 0;
    std::string name;  // empty when not known
};

struct Alert {
    AlertEvent event = AlertEvent::LinkDown;
    std::chrono::system_clock::time_point time = std::chrono::system_clock::now();
    std::optional<AlertDevice> device;
    std::optional<int> group;
    std::optional<std::uint64_t> run;
    std::vector<AlertDevice> devices;  // devices-offline, run-device-lost: every device concerned
    std::string text;                  // the log line that told it
};

// "2026-12-09T07:30:00.123+01:00": local time with its offset from UTC.
std::string isoTime(std::chrono::system_clock::time_point time);

// The alert as one JSON document: event, time, then device, group, run, devices where
// there are, and text.
std::string alertJson(const Alert& alert);

}  // namespace alerts
