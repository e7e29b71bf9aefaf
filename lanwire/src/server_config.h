// Timing and sizing of the TCP server, taken from LanwireOptions at start.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <functional>

namespace lanwire {

using Clock = std::function<std::chrono::steady_clock::time_point()>;

struct ServerConfig {
    unsigned ioThreads = 0;  // 0: twice the processors
    std::chrono::milliseconds sendGap{10};
    std::chrono::milliseconds heartbeatGap{100};
    std::chrono::milliseconds partialFrameTimeout{5000};
    // A connection not registered within `registrationTimeout`, or holding an incomplete frame
    // for `partialFrameHoldLimit`, is closed.
    std::chrono::milliseconds registrationTimeout{30000};
    std::chrono::milliseconds partialFrameHoldLimit{30000};
    std::chrono::milliseconds acceptBackoff{100};
    // Commands waiting for one connection at most; more are refused.
    std::size_t outboxLimit = 1000;
    // A connection whose write has made no progress this long is closed.
    std::chrono::milliseconds writeStallTimeout{10000};
    // Descriptors kept free for the rest of the program; a connection that would take one of
    // them is closed at once, and the refusals are logged at most once per refusalLogPeriod.
    std::uint64_t descriptorReserve = 64;
    std::chrono::milliseconds refusalLogPeriod{60000};
    // TCP keepalive on every accepted connection: first probe after `keepaliveIdle` of silence,
    // then every `keepaliveIdle`, given up after `keepaliveProbes` unanswered probes.
    std::chrono::seconds keepaliveIdle{3};
    int keepaliveProbes = 3;
    Clock clock;  // never null once the server runs
    std::function<void(const sockaddr_in&, const std::uint8_t*, std::size_t,
                       std::chrono::steady_clock::time_point)>
        onFrameWritten;
};

}  // namespace lanwire
