// The figures /metrics shows, in the Prometheus text format.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "lanwire/lanwire_options.h"

namespace webapi {

struct MetricsFigures {
    int devicesRegistered = 0;  // rows of the device table
    int devicesOnline = 0;
    LanwireStats link;
    std::map<std::string, std::uint64_t> runsByOutcome;  // ended runs seen since start
    std::uint64_t logTroubles = 0;                       // the log store's trouble notices
    std::map<int, std::uint64_t> httpByStatus;           // answers written, by status
};

std::string metricsText(const MetricsFigures& figures);

}  // namespace webapi
