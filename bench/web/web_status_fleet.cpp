// The fleet of the web console's frame-time benchmark: COUNT simulated sequencers that, on
// "go" (stdin), send RATE status frames a second in total for SECS seconds, round-robin, each
// with outlets its device has not reported before (so every frame changes a row).
//   web_status_fleet PORT COUNT RATE SECS
// Prints "ready" once every device is connected, "done N" after the load; ends at EOF.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "protocol/device_frames.h"
#include "protocol/frame_types.h"
#include "simtcp/sim_fleet.h"

using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: web_status_fleet PORT COUNT RATE SECS\n");
        return 2;
    }
    const auto port = static_cast<std::uint16_t>(std::atoi(argv[1]));
    const std::size_t count = std::max<std::size_t>(std::strtoul(argv[2], nullptr, 10), 1);
    const double rate = std::max(std::atof(argv[3]), 1.0);
    const double seconds = std::max(std::atof(argv[4]), 0.1);
    simtcp::SimFleet fleet("127.0.0.1", port, 2);
    simtcp::Knobs knobs;
    knobs.recordFrames = false;
    for (std::size_t i = 0; i < count; ++i) {
        fleet.add(simtcp::makeDeviceConfig(i, static_cast<std::uint16_t>(1 + i)), knobs);
    }
    fleet.start();
    if (!fleet.waitAll([](const simtcp::SimDevice& d) { return d.state().connects > 0; },
                       std::chrono::seconds(120))) {
        std::fprintf(stderr, "web_status_fleet: not every device connected\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    std::vector<std::uint32_t> reports(count, 0);
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line != "go") continue;
        const auto gap = std::chrono::duration<double>(1.0 / rate);
        const auto total = static_cast<std::size_t>(rate * seconds);
        const auto start = Clock::now();
        for (std::size_t i = 0; i < total; ++i) {
            // Sleeping to the next slot is the pacing itself.
            std::this_thread::sleep_until(start +
                                          std::chrono::duration_cast<Clock::duration>(gap * i));
            const std::size_t index = i % count;
            simtcp::SimDevice& d = fleet.device(index);
            protocol::StatusPayload status;
            status.header.deviceId = d.id();
            status.group = d.config().group;
            status.mode = d.config().mode;
            status.number = d.config().number;
            status.onOff = d.config().onOff;
            status.outlets =
                protocol::expandChannelWord(static_cast<std::uint16_t>(++reports[index] * 40503u));
            d.sendFrame(protocol::buildStatusFrame(protocol::NET_CMD_STATUS, status));
        }
        std::printf("done %zu\n", total);
        std::fflush(stdout);
    }
    fleet.stop();
    return 0;
}
