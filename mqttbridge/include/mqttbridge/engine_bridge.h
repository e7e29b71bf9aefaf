// The MQTT bridge as a client of the engine: device events out to the broker, outlet and group
// commands from the broker in, run on the engine's thread.
#pragma once

#include <chrono>
#include <functional>

#include "consolecore/console_engine.h"

namespace mqttbridge {

struct EngineBridgeOptions {
    // The clock that spaces repeated refusal rows; null: the steady clock.
    std::function<std::chrono::steady_clock::time_point()> clock;
};

// Makes the bridge when "Vantrel.ini" names a broker host ([Mqtt] Host); none when it does
// not, or when the bridge cannot start (it logged why).
consolecore::ClientFactory engineBridgeFactory(EngineBridgeOptions options = {});

}  // namespace mqttbridge
