// Device and run documents of the API.
#include "api_json.h"

namespace webapi {

using nlohmann::json;

json deviceJson(const consolecore::DeviceSnapshot& device) {
    json outlets = json::array();
    for (const bool on : device.leds) outlets.push_back(on);
    return json{{"id", device.id},
                {"name", device.name},
                {"ip", consolecore::formatIpAddress(device.ip)},
                {"group", device.group},
                {"mode", device.mode},
                {"number", device.number},
                {"master", device.onOff},
                {"online", device.online},
                {"outlets", std::move(outlets)}};
}

const char* runStateText(consolecore::RunOutcome outcome) {
    switch (outcome) {
        case consolecore::RunOutcome::Running:
            return "running";
        case consolecore::RunOutcome::Completed:
            return "done";
        case consolecore::RunOutcome::TimedOut:
            return "timeout";
        case consolecore::RunOutcome::Cancelled:
            return "cancelled";
        case consolecore::RunOutcome::DeviceLost:
            return "device-lost";
    }
    return "running";
}

json runJson(const consolecore::GroupRun& run, consolecore::RunClock::time_point now) {
    const auto end = run.running() ? now : run.ended;
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(end - run.started);
    return json{{"run", run.id},
                {"kind", run.kind == consolecore::GroupKind::Serial ? "serial" : "parallel"},
                {"group", run.group},
                {"on", run.target == 1},
                {"state", runStateText(run.outcome)},
                {"done", run.doneCount()},
                {"total", run.planned.size()},
                {"current", run.current ? json(*run.current) : json(nullptr)},
                {"elapsedMs", elapsed.count()},
                {"devices", run.planned}};
}

std::string jsonText(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace webapi
