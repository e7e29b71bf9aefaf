// Alert names and the JSON document a receiver gets.
#include "alerts/alert.h"

#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

namespace alerts {

namespace {

struct NamedEvent {
    AlertEvent event;
    std::string_view name;
};

constexpr NamedEvent kNames[] = {
    {AlertEvent::DeviceOffline, "device-offline"}, {AlertEvent::DeviceBack, "device-back"},
    {AlertEvent::RunTimeout, "run-timeout"},       {AlertEvent::RunDeviceLost, "run-device-lost"},
    {AlertEvent::IdConflict, "id-conflict"},       {AlertEvent::LogTrouble, "log-trouble"},
    {AlertEvent::TaskSkipped, "task-skipped"},     {AlertEvent::TaskGaveUp, "task-gave-up"},
    {AlertEvent::LinkDown, "link-down"},           {AlertEvent::DevicesOffline, "devices-offline"},
};

nlohmann::json deviceJson(const AlertDevice& device) {
    nlohmann::json json{{"id", device.id}};
    if (!device.name.empty()) json["name"] = device.name;
    return json;
}

}  // namespace

std::string_view eventName(AlertEvent event) {
    for (const NamedEvent& named : kNames) {
        if (named.event == event) return named.name;
    }
    return "unknown";
}

std::optional<AlertEvent> parseEventName(std::string_view name) {
    for (AlertEvent event : kSelectableEvents) {
        if (eventName(event) == name) return event;
    }
    return std::nullopt;
}

std::string isoTime(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto since = time.time_since_epoch();
    const auto secs = floor<seconds>(since);
    const auto millis = duration_cast<milliseconds>(since - secs).count();
    const std::time_t whole = static_cast<std::time_t>(secs.count());
    std::tm local{};
    localtime_r(&whole, &local);
    const long offset = local.tm_gmtoff / 60;  // minutes east of UTC
    const long absolute = offset < 0 ? -offset : offset;
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, static_cast<int>(millis), offset < 0 ? '-' : '+',
                  absolute / 60, absolute % 60);
    return text;
}

std::string alertJson(const Alert& alert) {
    nlohmann::ordered_json json;
    json["event"] = eventName(alert.event);
    json["time"] = isoTime(alert.time);
    if (alert.device) {
        json["device"] = alert.device->id;
        if (!alert.device->name.empty()) json["name"] = alert.device->name;
    }
    if (alert.group) json["group"] = *alert.group;
    if (alert.run) json["run"] = *alert.run;
    if (!alert.devices.empty()) {
        nlohmann::json list = nlohmann::json::array();
        for (const AlertDevice& device : alert.devices) list.push_back(deviceJson(device));
        json["devices"] = std::move(list);
    }
    json["text"] = alert.text;
    // Texts from devices may hold bytes that are not UTF-8: replaced, never thrown on.
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace alerts
