// What the TCP server runs with: the link's own options, plus the keepalive timing the link
// service derives from its supervision settings. One set of defaults: LanwireOptions'.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>

#include "lanwire/lanwire_options.h"

namespace lanwire {

using Clock = std::function<std::chrono::steady_clock::time_point()>;

struct ServerConfig : LanwireOptions {
    // TCP keepalive on every accepted connection: first probe after `keepaliveIdle` of silence,
    // then every `keepaliveIdle`, given up after `keepaliveProbes` unanswered probes.
    std::chrono::seconds keepaliveIdle{3};
    int keepaliveProbes = 3;
};

// A connection that never registered gets no heartbeat, so nothing would ever tell a dead one
// apart: keepalive probes it on the supervision's own time scale (whole seconds, at least one
// second and one probe). A device that rebooted answers the first probe with a reset.
inline ServerConfig serverConfigFor(const LanwireOptions& options) {
    ServerConfig config;
    static_cast<LanwireOptions&>(config) = options;
    const auto tickSeconds = std::chrono::ceil<std::chrono::seconds>(options.tickPeriod);
    config.keepaliveIdle = std::max(std::chrono::seconds(1), tickSeconds);
    config.keepaliveProbes = std::max(1, options.heartbeatCounterStart);
    return config;
}

}  // namespace lanwire
