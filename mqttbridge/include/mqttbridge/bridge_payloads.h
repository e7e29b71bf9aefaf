// Topics and JSON payloads the bridge publishes: device state and discovery configs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "consolecore/device_snapshot.h"

namespace mqttbridge {

struct Message {
    std::string topic;
    std::string payload;
};

// `text` as valid UTF-8 for a JSON string: valid UTF-8 passes through; any other byte counts
// as one character U+0000..U+00FF, so any byte string gives valid UTF-8 JSON.
std::string jsonText(std::string_view text);
// A JSON string literal (quotes included) of jsonText(text).
std::string jsonString(std::string_view text);

std::string stateTopic(std::string_view base, std::uint16_t id);         // <base>/<id>/state
std::string availabilityTopic(std::string_view base, std::uint16_t id);  // <base>/<id>/availability
std::string statusTopic(std::string_view base);                          // <base>/status
std::string conflictTopic(std::string_view base, std::uint16_t id);      // <base>/<id>/conflict
std::string outletCommandTopic(std::string_view base, std::uint16_t id, int outlet);

// {"id","name","ip","group","mode","number","master","outlets":[16 x bool],"online"}.
std::string stateJson(const consolecore::DeviceSnapshot& device);

// {"id","newcomer","online"}: a registration of `id` from the address `newcomer` was refused
// because the id is online at `online`.
std::string conflictJson(std::uint16_t id, std::string_view newcomer, std::string_view online);

// The discovery configs of one device under "homeassistant/": 16 switches, then the
// connectivity binary_sensor. `nodeId` keeps the topics of several consoles apart.
std::vector<Message> discoveryConfigs(std::string_view base, std::string_view nodeId,
                                      const consolecore::DeviceSnapshot& device);

// The base topic reduced to [A-Za-z0-9_-], as discovery topics require.
std::string discoveryNodeId(std::string_view base);

}  // namespace mqttbridge
