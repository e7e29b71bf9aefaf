// Command line of the tool vantrel-sim: a fleet of simulated sequencers against a console.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "simtcp/sim_fleet.h"

namespace simtcp {

struct FleetOptions {
    std::string host = "127.0.0.1";
    std::uint16_t port = 6000;
    std::size_t count = 1;
    std::uint16_t firstId = 1;
    // The first device connects from loopbackAddress(firstAddress): fleets in several
    // processes take distinct addresses.
    std::size_t firstAddress = 0;
    unsigned groups = 6;
    GroupMode mode = GroupMode::Mixed;
    unsigned threads = 1;
    // Connections the devices share: 0 or `count`, one each; fewer, and the ids go round-robin
    // over them, the first id of each connecting and the others registered behind it.
    std::size_t connections = 0;
    std::chrono::milliseconds stepDelay{100};
    std::chrono::milliseconds heartbeatDelay{0};
    bool silent = false;   // never answer heartbeats (the console reports them offline)
    bool verbose = false;  // print every frame received
    // Devices that only register and answer heartbeats, on the lighter engine (IdleFleet).
    bool idle = false;
    unsigned seconds = 0;  // run time; 0 until interrupted
    bool help = false;
    // Devices that carry out switching orders but never report the step done.
    std::vector<std::uint16_t> noStepDone;
    std::string error;  // set when the command line is not understood
};

FleetOptions parseFleetOptions(const std::vector<std::string>& args);
std::string fleetUsage();

}  // namespace simtcp
