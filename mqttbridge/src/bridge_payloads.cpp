// The state and discovery messages of one device.
#include "mqttbridge/bridge_payloads.h"

#include <nlohmann/json.hpp>

#include "mqttbridge/bridge_command.h"

namespace mqttbridge {
namespace {

// Keys in the order written, as subscribers have always seen them.
using Json = nlohmann::ordered_json;

std::string deviceTopic(std::string_view base, std::uint16_t id, std::string_view leaf) {
    std::string topic(base);
    topic += '/';
    topic += std::to_string(id);
    topic += '/';
    topic += leaf;
    return topic;
}

std::string switchConfigTopic(std::string_view nodeId, std::uint16_t id, int outlet) {
    return "homeassistant/switch/" + std::string(nodeId) + "_" + std::to_string(id) + "/outlet" +
           std::to_string(outlet) + "/config";
}

std::string sensorConfigTopic(std::string_view nodeId, std::uint16_t id) {
    return "homeassistant/binary_sensor/" + std::string(nodeId) + "_" + std::to_string(id) +
           "/online/config";
}

Json deviceBlock(std::string_view nodeId, const consolecore::DeviceSnapshot& device) {
    const std::string name =
        device.name.empty() ? "时序器" + std::to_string(device.id) : device.name;
    return Json{{"identifiers",
                 Json::array({jsonText(std::string(nodeId) + "_" + std::to_string(device.id))})},
                {"name", jsonText(name)},
                {"model", "16路电源时序器"}};
}

}  // namespace

std::string stateTopic(std::string_view base, std::uint16_t id) {
    return deviceTopic(base, id, "state");
}

std::string availabilityTopic(std::string_view base, std::uint16_t id) {
    return deviceTopic(base, id, "availability");
}

std::string conflictTopic(std::string_view base, std::uint16_t id) {
    return deviceTopic(base, id, "conflict");
}

std::string conflictJson(std::uint16_t id, std::string_view newcomer, std::string_view online) {
    return Json{{"id", id}, {"newcomer", jsonText(newcomer)}, {"online", jsonText(online)}}.dump();
}

std::string statusTopic(std::string_view base) {
    return std::string(base) + "/status";
}

std::string outletCommandTopic(std::string_view base, std::uint16_t id, int outlet) {
    return deviceTopic(base, id, "outlet/" + std::to_string(outlet) + "/set");
}

std::string stateJson(const consolecore::DeviceSnapshot& device) {
    return Json{{"id", device.id},
                {"name", jsonText(device.name)},
                {"ip", consolecore::formatIpAddress(device.ip)},
                {"group", device.group},
                {"mode", device.mode},
                {"number", device.number},
                {"master", device.onOff},
                {"outlets", device.leds},
                {"online", device.online}}
        .dump();
}

std::vector<Message> discoveryConfigs(std::string_view base, std::string_view nodeId,
                                      const consolecore::DeviceSnapshot& device) {
    const std::string unique = jsonText(std::string(nodeId) + "_" + std::to_string(device.id));
    const std::string state = jsonText(stateTopic(base, device.id));
    const Json block = deviceBlock(nodeId, device);
    const std::string status = jsonText(statusTopic(base));
    std::vector<Message> messages;
    for (int outlet = 1; outlet <= kOutletCount; ++outlet) {
        const std::string n = std::to_string(outlet);
        const Json config{
            {"name", "第" + n + "路"},
            {"unique_id", unique + "_outlet" + n},
            {"command_topic", jsonText(outletCommandTopic(base, device.id, outlet))},
            {"state_topic", state},
            {"value_template",
             "{{ 'ON' if value_json.outlets[" + std::to_string(outlet - 1) + "] else 'OFF' }}"},
            {"payload_on", "ON"},
            {"payload_off", "OFF"},
            {"availability",
             Json::array({Json{{"topic", status}},
                          Json{{"topic", jsonText(availabilityTopic(base, device.id))}}})},
            {"availability_mode", "all"},
            {"device", block}};
        messages.push_back({switchConfigTopic(nodeId, device.id, outlet), config.dump()});
    }
    const Json sensor{{"name", "在线"},
                      {"unique_id", unique + "_online"},
                      {"device_class", "connectivity"},
                      {"state_topic", state},
                      {"value_template", "{{ 'ON' if value_json.online else 'OFF' }}"},
                      {"availability_topic", status},
                      {"device", block}};
    messages.push_back({sensorConfigTopic(nodeId, device.id), sensor.dump()});
    return messages;
}

std::string discoveryNodeId(std::string_view base) {
    std::string id;
    for (const char c : base) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '_' || c == '-';
        id.push_back(plain ? c : '_');
    }
    return id;
}

}  // namespace mqttbridge
