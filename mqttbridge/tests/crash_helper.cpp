// Test helper: runs a bridge until it is killed, so the broker publishes its last will.
//   mqttbridge_crash_helper <port> <base topic>
#include <cstdio>
#include <cstdlib>

#include "mqttbridge/mqtt_bridge.h"
#include "testkit/wait_for.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    consolecore::MqttSettings settings;
    settings.host = "127.0.0.1";
    settings.port = std::atoi(argv[1]);
    settings.baseTopic = argv[2];
    mqttbridge::MqttBridge bridge(settings, {[](const mqttbridge::Command&) {}, {}});
    if (!bridge.start()) return 1;
    if (!testkit::waitFor([&] { return bridge.connected(); })) return 1;
    std::puts("connected");
    std::fflush(stdout);
    for (;;) pause();
}
