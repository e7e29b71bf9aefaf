// vantrel-sim: a fleet of simulated sequencers for demos and load tests.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/frame_types.h"
#include "simtcp/fleet_cli.h"
#include "simtcp/idle_fleet.h"

namespace {

// Waits for SIGINT/SIGTERM, or for SIGALRM after `seconds`; each SIGUSR1 meanwhile prints
// "heartbeats <n>", the heartbeats heard so far. The signals are blocked in every thread, so
// only this wait sees them.
void waitForEnd(const sigset_t& signals, unsigned seconds,
                const std::function<std::uint64_t()>& heartbeats) {
    if (seconds > 0) alarm(seconds);
    int received = 0;
    while (sigwait(&signals, &received) == 0 && received == SIGUSR1) {
        std::printf("heartbeats %llu\n", static_cast<unsigned long long>(heartbeats()));
        std::fflush(stdout);
    }
}

// A large fleet needs a descriptor per connection: the soft limit goes up to the hard one.
// Returns the soft limit in force.
rlim_t raiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return RLIM_INFINITY;
    if (limit.rlim_cur != limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) return raised.rlim_cur;
    }
    return limit.rlim_cur;
}

// The ids that connection `index` of `connections` registers behind its own: every
// connections-th device after it.
std::vector<std::uint16_t> idsBehind(const std::vector<simtcp::DeviceConfig>& configs,
                                     std::size_t index, std::size_t connections) {
    std::vector<std::uint16_t> ids;
    for (std::size_t behind = index + connections; behind < configs.size(); behind += connections) {
        ids.push_back(configs[behind].id);
    }
    return ids;
}

int runIdleFleet(const simtcp::FleetOptions& options, const sigset_t& signals,
                 const std::vector<simtcp::DeviceConfig>& configs, std::size_t connections) {
    simtcp::IdleFleet fleet(options.host, options.port, options.threads);
    for (std::size_t index = 0; index < connections; ++index) {
        fleet.add(configs[index], idsBehind(configs, index, connections));
    }
    fleet.start();
    std::printf("vantrel-sim: %zu idle devices (ids %u..%zu) on %zu connections to %s:%u\n",
                options.count, options.firstId, options.firstId + options.count - 1, connections,
                options.host.c_str(), options.port);
    std::fflush(stdout);
    waitForEnd(signals, options.seconds, [&fleet] {
        std::uint64_t total = 0;
        for (std::size_t i = 0; i < fleet.size(); ++i) total += fleet.counts(i).heartbeats;
        return total;
    });
    fleet.stop();
    for (std::size_t i = 0; i < fleet.size(); ++i) {
        const simtcp::IdleDeviceCounts counts = fleet.counts(i);
        std::printf(
            "device %u from %s: %u connects, %u closed by the console, received "
            "HEARTBEAT=%llu\n",
            fleet.config(i).id, fleet.config(i).sourceAddress.c_str(), counts.connects,
            counts.closedByPeer, static_cast<unsigned long long>(counts.heartbeats));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const simtcp::FleetOptions options =
        simtcp::parseFleetOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help) {
        std::fputs(simtcp::fleetUsage().c_str(), stdout);
        return 0;
    }
    if (!options.error.empty()) {
        std::fprintf(stderr, "vantrel-sim: %s (try --help)\n", options.error.c_str());
        return 2;
    }
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGALRM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    const std::size_t connections =
        options.connections == 0 ? options.count : std::min(options.connections, options.count);
    const rlim_t descriptors = raiseDescriptorLimit();
    if (descriptors != RLIM_INFINITY && connections + 16 > descriptors) {
        std::fprintf(stderr,
                     "vantrel-sim: %zu connections need more descriptors than the limit %llu "
                     "allows (ulimit -n)\n",
                     connections, static_cast<unsigned long long>(descriptors));
    }

    auto configs =
        simtcp::makeFleetConfigs(options.count, options.firstId, options.groups, options.mode);
    if (options.firstAddress > 0) {
        for (std::size_t i = 0; i < configs.size(); ++i) {
            configs[i].sourceAddress = simtcp::loopbackAddress(options.firstAddress + i);
        }
    }
    if (options.idle) return runIdleFleet(options, signals, configs, connections);

    simtcp::SimFleet fleet(options.host, options.port, options.threads);
    simtcp::Knobs knobs;
    knobs.answerHeartbeats = !options.silent;
    knobs.heartbeatDelay = options.heartbeatDelay;
    knobs.stepDelay = options.stepDelay;
    knobs.recordFrames = false;  // a long run keeps counts only
    std::mutex printLock;
    for (std::size_t index = 0; index < connections; ++index) {
        const simtcp::DeviceConfig& config = configs[index];
        simtcp::Knobs deviceKnobs = knobs;
        deviceKnobs.gatewayIds = idsBehind(configs, index, connections);
        deviceKnobs.registerGatewayIds = !deviceKnobs.gatewayIds.empty();
        deviceKnobs.reportStepDone = std::find(options.noStepDone.begin(), options.noStepDone.end(),
                                               config.id) == options.noStepDone.end();
        simtcp::SimDevice& device = fleet.add(config, deviceKnobs);
        if (options.verbose) {
            device.setFrameObserver([&printLock, id = config.id](const simtcp::ReceivedFrame& f) {
                std::string hex;
                for (std::uint8_t byte : f.bytes) {
                    char text[4];
                    std::snprintf(text, sizeof text, "%02X ", byte);
                    hex += text;
                }
                std::lock_guard<std::mutex> guard(printLock);
                std::printf("device %u <- %s: %s\n", id,
                            std::string(protocol::commandName(f.command())).c_str(), hex.c_str());
                std::fflush(stdout);
            });
        }
    }
    fleet.start();
    std::printf("vantrel-sim: %zu devices (ids %u..%zu) on %zu connections to %s:%u\n",
                options.count, options.firstId, options.firstId + options.count - 1, connections,
                options.host.c_str(), options.port);
    std::fflush(stdout);
    if (fleet.waitAll([](const simtcp::SimDevice& d) { return d.state().connects > 0; },
                      std::chrono::seconds(10))) {
        std::printf("vantrel-sim: all devices connected\n");
    } else {
        std::printf(
            "vantrel-sim: not every device could connect yet; retrying in the background\n");
    }
    std::fflush(stdout);

    waitForEnd(signals, options.seconds, [&fleet] {
        std::uint64_t total = 0;
        for (std::size_t i = 0; i < fleet.size(); ++i) {
            total += fleet.device(i).received(protocol::NET_CMD_HEARTBEAT);
        }
        return total;
    });
    fleet.stop();

    for (std::size_t i = 0; i < fleet.size(); ++i) {
        const simtcp::SimDevice& device = fleet.device(i);
        const simtcp::DeviceState state = device.state();
        std::printf("device %u from %s: %u connects, outlets %04X, received", device.id(),
                    device.config().sourceAddress.c_str(), state.connects, state.outlets);
        for (unsigned command = 0; command < 256; ++command) {
            const auto n = device.received(static_cast<std::uint8_t>(command));
            if (n > 0) {
                std::printf(
                    " %s=%llu",
                    std::string(protocol::commandName(static_cast<std::uint8_t>(command))).c_str(),
                    static_cast<unsigned long long>(n));
            }
        }
        std::printf("\n");
    }
    return 0;
}
