// JSON text from arbitrary bytes, and settings the bridge refuses to start with.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "mqttbridge/bridge_payloads.h"
#include "mqttbridge/mqtt_bridge.h"

namespace {

TEST(JsonString, AnyBytesGiveValidJsonThatReadsBackOneCharacterPerStrayByte) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "plain"},
        {std::string("\0\x1f\x7f", 3), std::string("\0\x1f\x7f", 3)},
        {"q\"b\\s/", "q\"b\\s/"},
        {"中文", "中文"},                                          // UTF-8 passes through
        {"\x80", "\xc2\x80"},                                      // stray continuation byte
        {"\xc0\x80", "\xc3\x80\xc2\x80"},                          // overlong NUL
        {"\xed\xa0\x80", "\xc3\xad\xc2\xa0\xc2\x80"},              // surrogate
        {"\xe4\xb8", "\xc3\xa4\xc2\xb8"},                          // cut short
        {"\xf5\x80\x80\x80", "\xc3\xb5\xc2\x80\xc2\x80\xc2\x80"},  // beyond U+10FFFF
    };
    for (const auto& [bytes, decoded] : cases) {
        const auto text = mqttbridge::jsonString(bytes);
        for (const char c : text) EXPECT_GE(static_cast<unsigned char>(c), 0x20) << text;
        EXPECT_EQ(nlohmann::json::parse(text).get<std::string>(), decoded) << text;
    }
}

TEST(JsonString, StateKeepsItsKeysInTheirOrderAndStrayBytesReadable) {
    consolecore::DeviceSnapshot device;
    device.id = 7;
    device.name = "R\xff";
    device.ip.sin_addr.s_addr = htonl(0x7F000002);
    device.group = 2;
    device.number = 3;
    device.onOff = true;
    device.leds[15] = true;
    EXPECT_EQ(mqttbridge::stateJson(device),
              "{\"id\":7,\"name\":\"R\xc3\xbf\",\"ip\":\"127.0.0.2\",\"group\":2,\"mode\":0,"
              "\"number\":3,\"master\":true,\"outlets\":[false,false,false,false,false,false,"
              "false,false,false,false,false,false,false,false,false,true],\"online\":false}");
}

TEST(MqttBridgeStart, RefusesUnusableSettings) {
    const auto settingsWith = [](auto change) {
        consolecore::MqttSettings settings;
        settings.host = "127.0.0.1";
        change(settings);
        return settings;
    };
    const consolecore::MqttSettings cases[] = {
        settingsWith([](auto& s) { s.host.clear(); }),
        settingsWith([](auto& s) { s.port = 0; }),
        settingsWith([](auto& s) { s.baseTopic = "a/+"; }),
        settingsWith([](auto& s) { s.baseTopic = "a/#"; }),
        settingsWith([](auto& s) { s.baseTopic.clear(); }),
    };
    for (const auto& settings : cases) {
        mqttbridge::MqttBridge bridge(settings, {[](const mqttbridge::Command&) {}, {}});
        EXPECT_FALSE(bridge.start()) << settings.baseTopic << " " << settings.port;
    }
    mqttbridge::MqttBridge noSink(settingsWith([](auto&) {}), {});
    EXPECT_FALSE(noSink.start());
}

}  // namespace
