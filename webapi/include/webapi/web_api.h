// The HTTP API as a client of the engine: [Web] in "Vantrel.ini" (or --web-port) starts it
// in the window and the service alike.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "consolecore/console_engine.h"

namespace webapi {

struct ServerLimits {
    std::size_t bodyBytes = 64 * 1024;            // larger: 413
    std::chrono::milliseconds headerTime{10000};  // a request's header and body within this
    std::chrono::milliseconds idleTime{60000};    // a kept-alive connection without a request
    int connections = 256;                        // more are closed at once
    // Events a stream has not written yet: more drops it ([Web] StreamBacklog sets it).
    std::size_t streamBacklog = 1024;
};

struct WebOptions {
    std::optional<std::uint16_t> port;  // --web-port: replaces [Web] Port (0: off)
    ServerLimits limits;
    // Paces the login failures and ends the sessions; null: the steady clock.
    std::function<std::chrono::steady_clock::time_point()> clock;
};

// Makes the API's client when its port is not 0; none when it is, or when the port cannot
// be bound (told on standard error and in the log).
consolecore::ClientFactory webApiFactory(WebOptions options = {});

}  // namespace webapi
