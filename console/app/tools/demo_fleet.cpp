// vantrel-demo-fleet: the sequencers of `./run.sh --demo`. Twelve simulated devices in two
// parallel groups (1, 3) and two serial groups (2, 4), with mixed outlet patterns, joining
// the console one after another so the rows visibly appear. Runs until SIGINT or SIGTERM.
//   vantrel-demo-fleet [--host ADDRESS] [--port N]
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "simtcp/sim_fleet.h"

namespace {

constexpr std::size_t kDevices = 12;
constexpr std::uint16_t kFirstId = 1001;
// Outlet patterns (bit k = outlet k+1) the devices start with.
constexpr std::uint16_t kPatterns[] = {0x0000, 0x00FF, 0xFFFF, 0x0F0F, 0x8001, 0x3C3C,
                                       0x0000, 0xF000, 0x5555, 0x0000, 0x07E0, 0xFFFF};

bool parsePort(const char* text, std::uint16_t& port) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || value < 1 || value > 65535) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string host = "127.0.0.1";
    std::uint16_t port = 6000;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--host" && i + 1 < argc) {
            host = argv[++i];
        } else if (arg == "--port" && i + 1 < argc && parsePort(argv[i + 1], port)) {
            ++i;
        } else {
            std::fprintf(stderr, "usage: %s [--host ADDRESS] [--port N]\n", argv[0]);
            return 2;
        }
    }

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    simtcp::SimFleet fleet(host, port);
    simtcp::Knobs knobs;
    knobs.stepDelay = std::chrono::milliseconds(150);  // a run is slow enough to watch
    knobs.recordFrames = false;
    const auto configs = simtcp::makeFleetConfigs(kDevices, kFirstId, 4, simtcp::GroupMode::Mixed);
    std::printf("vantrel-demo-fleet: %zu devices joining %s:%u\n", configs.size(), host.c_str(),
                port);
    std::fflush(stdout);
    for (std::size_t i = 0; i < configs.size(); ++i) {
        simtcp::DeviceConfig config = configs[i];
        config.name = "RACK-" + std::to_string(i + 1);
        config.outlets = kPatterns[i % std::size(kPatterns)];
        config.onOff = config.outlets != 0;
        fleet.add(config, knobs);
        fleet.start();
        // One device after another: the pause is the point of the demo.
        const timespec pause{0, 400 * 1000 * 1000};
        if (sigtimedwait(&signals, nullptr, &pause) > 0) {
            fleet.stop();
            return 0;
        }
    }
    int received = 0;
    sigwait(&signals, &received);
    fleet.stop();
    return 0;
}
