// Parsing of the vantrel-sim command line.
#include "simtcp/fleet_cli.h"

#include <arpa/inet.h>

#include <charconv>
#include <limits>

namespace simtcp {

namespace {

template <typename T>
bool parseNumber(const std::string& text, T& out, T low, T high) {
    long long value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || value < static_cast<long long>(low) ||
        value > static_cast<long long>(high)) {
        return false;
    }
    out = static_cast<T>(value);
    return true;
}

}  // namespace

std::string fleetUsage() {
    return R"(usage: vantrel-sim [options]

Plays a fleet of simulated 16-outlet sequencers against a Vantrel console. Each device
connects from its own loopback address (127.0.0.2, 127.0.0.3, ...), registers, answers
heartbeats and carries out switching orders like the firmware would. Runs until Ctrl-C.

Fleet mode, e.g. 40 devices in 6 groups against a console on this machine:
  vantrel-sim --port 6000 --count 40 --groups 6

options:
  --host ADDRESS         console address (default 127.0.0.1)
  --port N               console port (default 6000)
  --count N              number of devices (default 1)
  --first-id N           device id of the first device; the others count up (default 1)
  --first-address N      the first device connects from the N-th loopback address counted
                         from 127.0.0.2 (default 0), so that fleets in several processes
                         take distinct addresses
  --groups N             spread the devices round-robin over groups 1..N, numbered 1, 2, ...
                         within each group; 0 puts them in no group (default 6, at most 6)
  --mode MODE            parallel, serial or mixed: odd groups parallel, even groups serial
                         (default mixed)
  --step-delay MS        time per outlet of a parallel or serial switching order (default 100)
  --heartbeat-delay MS   answer every heartbeat this late (default 0)
  --silent               never answer heartbeats, so the console reports the devices offline
  --no-step-done ID      the device with this id carries out switching orders but never
                         reports its step done (repeatable)
  --threads N            network threads of the simulator (default 1)
  --connections N        spread the devices over N connections: each connects as its first
                         device and registers and answers heartbeats for the others behind it,
                         ids going round-robin (default: one connection per device)
  --idle                 devices only register and answer heartbeats, on a lighter engine
                         for scale runs: switching orders are ignored (not with --silent,
                         --heartbeat-delay, --no-step-done or --verbose)
  --seconds N            stop after N seconds (default: run until interrupted); SIGUSR1
                         prints "heartbeats <n>", the heartbeats heard so far
  --verbose              print every frame received
  --help                 this text
)";
}

FleetOptions parseFleetOptions(const std::vector<std::string>& args) {
    FleetOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                options.error = arg + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string text;
        bool ok = true;
        long long ms = 0;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--silent") {
            options.silent = true;
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--idle") {
            options.idle = true;
        } else if (arg == "--host") {
            ok = value(options.host);
        } else if (arg == "--port") {
            ok = value(text) && parseNumber<std::uint16_t>(text, options.port, 1, 65535);
        } else if (arg == "--count") {
            ok = value(text) && parseNumber<std::size_t>(text, options.count, 1, 60000);
        } else if (arg == "--first-id") {
            ok = value(text) && parseNumber<std::uint16_t>(text, options.firstId, 0, 65535);
        } else if (arg == "--first-address") {
            ok = value(text) && parseNumber<std::size_t>(text, options.firstAddress, 0, 1000000);
        } else if (arg == "--groups") {
            ok = value(text) && parseNumber<unsigned>(text, options.groups, 0, 6);
        } else if (arg == "--no-step-done") {
            std::uint16_t id = 0;
            ok = value(text) && parseNumber<std::uint16_t>(text, id, 0, 65535);
            if (ok) options.noStepDone.push_back(id);
        } else if (arg == "--threads") {
            ok = value(text) && parseNumber<unsigned>(text, options.threads, 1, 64);
        } else if (arg == "--connections") {
            ok = value(text) && parseNumber<std::size_t>(text, options.connections, 1, 60000);
        } else if (arg == "--seconds") {
            ok = value(text) && parseNumber<unsigned>(text, options.seconds, 0, 86400 * 365);
        } else if (arg == "--step-delay") {
            ok = value(text) && parseNumber<long long>(text, ms, 0, 60000);
            options.stepDelay = std::chrono::milliseconds(ms);
        } else if (arg == "--heartbeat-delay") {
            ok = value(text) && parseNumber<long long>(text, ms, 0, 600000);
            options.heartbeatDelay = std::chrono::milliseconds(ms);
        } else if (arg == "--mode") {
            ok = value(text);
            if (ok && text == "parallel")
                options.mode = GroupMode::Parallel;
            else if (ok && text == "serial")
                options.mode = GroupMode::Serial;
            else if (ok && text == "mixed")
                options.mode = GroupMode::Mixed;
            else
                ok = false;
        } else {
            options.error = "unknown option: " + arg;
            return options;
        }
        if (!ok) {
            if (options.error.empty()) options.error = "bad value for " + arg + ": " + text;
            return options;
        }
    }
    in_addr parsed{};
    if (inet_pton(AF_INET, options.host.c_str(), &parsed) != 1) {
        options.error = "--host needs an IPv4 address: " + options.host;
        return options;
    }
    if (options.idle && (options.silent || options.verbose || !options.noStepDone.empty() ||
                         options.heartbeatDelay.count() != 0)) {
        options.error = "--idle devices answer every heartbeat at once and print no frames";
        return options;
    }
    if (options.connections > options.count) {
        options.error = "--connections is more than --count";
        return options;
    }
    if (static_cast<std::size_t>(options.firstId) + options.count - 1 >
        std::numeric_limits<std::uint16_t>::max()) {
        options.error = "device ids would run past 65535";
    }
    return options;
}

}  // namespace simtcp
