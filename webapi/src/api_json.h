// The JSON the API answers with and streams: a device as the MQTT state shows it, a run.
#pragma once

#include <chrono>
#include <string>

#include <nlohmann/json.hpp>
#include "consolecore/device_snapshot.h"
#include "consolecore/group_run.h"

namespace webapi {

// {"id","name","ip","group","mode","number","master","online","outlets":[16 x bool]}.
nlohmann::json deviceJson(const consolecore::DeviceSnapshot& device);
// {"run","kind","group","on","state","done","total","current","elapsedMs","devices"}.
nlohmann::json runJson(const consolecore::GroupRun& run, consolecore::RunClock::time_point now);
// "running", "done", "timeout", "cancelled", "device-lost".
const char* runStateText(consolecore::RunOutcome outcome);
// Compact text; bytes that are not UTF-8 (a device's name) become U+FFFD.
std::string jsonText(const nlohmann::json& json);

}  // namespace webapi
