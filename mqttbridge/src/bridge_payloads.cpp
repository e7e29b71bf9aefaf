// The state and discovery messages of one device.
#include "mqttbridge/bridge_payloads.h"

#include "mqttbridge/bridge_command.h"

namespace mqttbridge {
namespace {

const char* jsonBool(bool value) {
    return value ? "true" : "false";
}

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

std::string deviceBlock(std::string_view nodeId, const consolecore::DeviceSnapshot& device) {
    const std::string name =
        device.name.empty() ? "时序器" + std::to_string(device.id) : device.name;
    return "{\"identifiers\":[" +
           jsonString(std::string(nodeId) + "_" + std::to_string(device.id)) +
           "],\"name\":" + jsonString(name) + ",\"model\":\"16路电源时序器\"}";
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
    return "{\"id\":" + std::to_string(id) + ",\"newcomer\":" + jsonString(newcomer) +
           ",\"online\":" + jsonString(online) + "}";
}

std::string statusTopic(std::string_view base) {
    return std::string(base) + "/status";
}

std::string outletCommandTopic(std::string_view base, std::uint16_t id, int outlet) {
    return deviceTopic(base, id, "outlet/" + std::to_string(outlet) + "/set");
}

std::string stateJson(const consolecore::DeviceSnapshot& device) {
    std::string json = "{\"id\":" + std::to_string(device.id);
    json += ",\"name\":" + jsonString(device.name);
    json += ",\"ip\":" + jsonString(consolecore::formatIpAddress(device.ip));
    json += ",\"group\":" + std::to_string(device.group);
    json += ",\"mode\":" + std::to_string(device.mode);
    json += ",\"number\":" + std::to_string(device.number);
    json += ",\"master\":";
    json += jsonBool(device.onOff);
    json += ",\"outlets\":[";
    for (std::size_t i = 0; i < device.leds.size(); ++i) {
        if (i) json += ',';
        json += jsonBool(device.leds[i]);
    }
    json += "],\"online\":";
    json += jsonBool(device.online);
    json += '}';
    return json;
}

std::vector<Message> discoveryConfigs(std::string_view base, std::string_view nodeId,
                                      const consolecore::DeviceSnapshot& device) {
    const std::string unique = std::string(nodeId) + "_" + std::to_string(device.id);
    const std::string state = jsonString(stateTopic(base, device.id));
    const std::string block = deviceBlock(nodeId, device);
    const std::string status = jsonString(statusTopic(base));
    std::vector<Message> messages;
    for (int outlet = 1; outlet <= kOutletCount; ++outlet) {
        const std::string n = std::to_string(outlet);
        std::string json = "{\"name\":" + jsonString("第" + n + "路");
        json += ",\"unique_id\":" + jsonString(unique + "_outlet" + n);
        json += ",\"command_topic\":" + jsonString(outletCommandTopic(base, device.id, outlet));
        json += ",\"state_topic\":" + state;
        json += ",\"value_template\":" + jsonString("{{ 'ON' if value_json.outlets[" +
                                                    std::to_string(outlet - 1) + "] else 'OFF' }}");
        json += ",\"payload_on\":\"ON\",\"payload_off\":\"OFF\"";
        json += ",\"availability\":[{\"topic\":" + status +
                "},{\"topic\":" + jsonString(availabilityTopic(base, device.id)) + "}]";
        json += ",\"availability_mode\":\"all\"";
        json += ",\"device\":" + block + '}';
        messages.push_back({switchConfigTopic(nodeId, device.id, outlet), std::move(json)});
    }
    std::string json = "{\"name\":\"在线\"";
    json += ",\"unique_id\":" + jsonString(unique + "_online");
    json += ",\"device_class\":\"connectivity\"";
    json += ",\"state_topic\":" + state;
    json += ",\"value_template\":\"{{ 'ON' if value_json.online else 'OFF' }}\"";
    json += ",\"availability_topic\":" + status;
    json += ",\"device\":" + block + '}';
    messages.push_back({sensorConfigTopic(nodeId, device.id), std::move(json)});
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
