// The real program at scale: vantrel (Release, offscreen) in its own process, the simulated
// fleet in this one (idle devices on the light engine for the sizes, full simulated devices
// under status load). Measures, through the program's probe and /proc:
//   - for each fleet size: time until every device has its row, idle CPU share, RSS, and the
//     console's CPU per heartbeat round trip (idle CPU above the empty program's, divided by
//     the heartbeats the devices answered) and its system calls per round trip (counted by
//     perf where perf may count them);
//   - under status load: the GUI thread's lag (a 5 ms timer's lateness) and the time from a
//     status frame leaving a device to its row holding the new outlets.
//   - with --web-clients N: each of these twice, the HTTP API off and then on (its own token,
//     N clients holding /api/events open and reading), one row each;
//   - for each fleet size, the same fleet against a minimal heartbeat server (this benchmark
//     run again as --heartbeat-floor PORT): the floor of the CPU per round trip.
//   gui_load_bench VANTREL [--sizes 1000,5000] [--idle-seconds 20] [--load-devices 1000]
//                  [--rate 2000] [--load-seconds 10] [--register-seconds 180] [--web-clients 0]
//   (--load-devices 0: no load phase)
// When a fleet does not register in full it names the devices missing and how far each got.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "bench_process.h"
#include "event_clients.h"
#include "heartbeat_floor.h"
#include "missing_devices.h"
#include "protocol/device_frames.h"
#include "protocol/frame_types.h"
#include "simtcp/idle_fleet.h"
#include "simtcp/sim_fleet.h"

using namespace guibench;
using namespace std::chrono_literals;

namespace {

struct Options {
    std::string vantrel;
    std::vector<int> sizes{1000, 5000};
    int idleSeconds = 20;
    int loadDevices = 1000;
    int rate = 2000;
    int loadSeconds = 10;
    int registerSeconds = 180;  // how long a fleet may take to register in full
    int webClients = 0;  // > 0: every measurement with the API off, then on with these streams
};

// The one-minute load average: the machine may be shared.
double loadAverage() {
    std::ifstream in("/proc/loadavg");
    double load = 0;
    in >> load;
    return load;
}

// One vantrel process with its probe, in a folder of its own; ended on destruction. With
// `webClients` > 0 its HTTP API listens and that many clients read its event stream (from
// startClients()); otherwise the API is off.
class Program {
public:
    Program(const std::string& vantrel, int lagTickMs, int webClients = 0)
        : m_webClients(webClients) {
        m_folder = std::filesystem::temp_directory_path() /
                   ("gui_load_bench." + std::to_string(getpid()) + "." + std::to_string(++s_count));
        std::filesystem::create_directories(m_folder / "data");
        m_probe = (m_folder / "probe.txt").string();
        port = freePort();
        const std::string data = (m_folder / "data").string();
        if (webClients > 0) {
            m_token = addToken(vantrel, data);
            if (m_token.empty()) {
                std::fprintf(stderr, "vantrel --add-token failed\n");
                std::exit(1);
            }
            m_webPort = freePort();
        }
        pid = spawn({vantrel, "--port=" + std::to_string(port), "--lock-dir=" + m_folder.string(),
                     "--data-dir=" + data, "--web-port=" + std::to_string(m_webPort)},
                    {"QT_QPA_PLATFORM=offscreen", "VANTREL_GUI_PROBE=" + m_probe,
                     "VANTREL_GUI_PROBE_TICK_MS=" + std::to_string(lagTickMs)});
    }
    // The event streams, once the program is up; false when not all of them started.
    bool startClients() {
        if (m_webClients == 0) return true;
        clients = std::make_unique<EventClients>(m_webPort, m_token, m_webClients, 30s);
        if (clients->started() == m_webClients) return true;
        std::fprintf(stderr, "only %d of %d event streams started\n", clients->started(),
                     m_webClients);
        return false;
    }
    // "20/20 event streams open, 3.1 MB read" (empty with the API off).
    std::string clientsText() const {
        if (!clients) return {};
        char text[96];
        std::snprintf(text, sizeof text, "%d/%d event streams open, %.1f MB read", clients->open(),
                      m_webClients, static_cast<double>(clients->bytesRead()) / 1e6);
        return text;
    }
    ~Program() {
        clients.reset();
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        std::filesystem::remove_all(m_folder);
    }
    const std::string& probe() const { return m_probe; }
    std::string logDatabase() const { return (m_folder / "data" / "Vantrel_DB.db3").string(); }
    bool waitRows(int rows, std::chrono::seconds timeout) const {
        return waitProbe(
            m_probe, [rows](const ProbeLine& l) { return l.rows == rows; }, timeout);
    }

    pid_t pid = 0;
    std::uint16_t port = 0;
    std::unique_ptr<EventClients> clients;

private:
    static inline int s_count = 0;
    int m_webClients = 0;
    std::uint16_t m_webPort = 0;  // 0: the API is off
    std::string m_token;
    std::filesystem::path m_folder;
    std::string m_probe;
};

// A fleet of `count` devices against the program, ids from 1, not yet started.
std::unique_ptr<simtcp::SimFleet> makeFleet(const Program& program, int count) {
    auto fleet = std::make_unique<simtcp::SimFleet>("127.0.0.1", program.port, 2);
    simtcp::Knobs knobs;
    knobs.recordFrames = false;
    for (int i = 0; i < count; ++i) {
        fleet->add(simtcp::makeDeviceConfig(static_cast<std::size_t>(i),
                                            static_cast<std::uint16_t>(1 + i)),
                   knobs);
    }
    return fleet;
}

// An idle fleet for the size measurements: it costs the machine little beside the program.
std::unique_ptr<simtcp::IdleFleet> makeIdleFleet(std::uint16_t port, int count) {
    auto fleet = std::make_unique<simtcp::IdleFleet>("127.0.0.1", port, 2);
    for (int i = 0; i < count; ++i) {
        fleet->add(simtcp::makeDeviceConfig(static_cast<std::size_t>(i),
                                            static_cast<std::uint16_t>(1 + i)));
    }
    return fleet;
}

std::uint64_t heartbeats(const simtcp::IdleFleet& fleet) {
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < fleet.size(); ++i) total += fleet.counts(i).heartbeats;
    return total;
}

// CPU share of one core over `seconds`, in percent; the CPU seconds used in `used`.
double cpuShare(pid_t pid, int seconds, double* used = nullptr) {
    const double before = cpuSeconds(pid);
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const double spent = cpuSeconds(pid) - before;
    if (used) *used = spent;
    return 100.0 * spent / elapsed;
}

// The program's threads with the CPU each used over `seconds`, busiest first.
std::string threadShares(pid_t pid, int seconds) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    std::vector<std::pair<pid_t, double>> before;
    for (const auto& entry : std::filesystem::directory_iterator(tasks)) {
        const pid_t tid = std::atoi(entry.path().filename().c_str());
        before.emplace_back(tid, cpuSeconds(pid, tid));
    }
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    std::vector<std::pair<double, std::string>> used;
    for (const auto& [tid, seconds0] : before) {
        std::string name;
        std::ifstream comm(tasks + "/" + std::to_string(tid) + "/comm");
        std::getline(comm, name);
        const double share = 100.0 * (cpuSeconds(pid, tid) - seconds0) / seconds;
        if (share > 0) used.emplace_back(share, name + "/" + std::to_string(tid));
    }
    std::sort(used.rbegin(), used.rend());
    std::ostringstream text;
    for (const auto& [share, name] : used) {
        char figure[32];
        std::snprintf(figure, sizeof figure, " %.2f%%", share);
        text << ' ' << name << figure;
    }
    return text.str();
}

// System calls the program makes over `seconds`, counted by perf on the raw_syscalls
// tracepoint; -1 where perf cannot count them (not installed, or not allowed).
long long syscallCount(pid_t pid, int seconds) {
    const std::string command = "perf stat -x, -e raw_syscalls:sys_enter -p " +
                                std::to_string(pid) + " -- sleep " + std::to_string(seconds) +
                                " 2>&1 >/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    long long count = -1;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        if (std::strstr(line, "raw_syscalls:sys_enter") == nullptr) continue;
        char* end = nullptr;
        const long long value = std::strtoll(line, &end, 10);
        if (end != line && *end == ',') count = value;
    }
    pclose(pipe);
    return count;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p / 100.0 * static_cast<double>(values.size() - 1));
    return values[index];
}

struct SizeResult {
    int devices = 0;
    int webClients = 0;
    bool registered = false;
    double idleCpuSeconds = 0;
    double load = 0;  // the load average as the idle measurement began
    std::string clients;
    long long registerMs = 0;
    double emptyCpu = 0;
    double idleCpu = 0;
    double rss = 0;
    double roundTripsPerSecond = 0;
    double syscallsPerRoundTrip = -1;  // < 0: not counted
};

SizeResult measureSize(const Options& options, int devices, int webClients) {
    SizeResult result;
    result.devices = devices;
    result.webClients = webClients;
    Program program(options.vantrel, 0, webClients);
    if (!program.waitRows(0, 60s)) {
        std::fprintf(stderr, "the program did not come up\n");
        return result;
    }
    if (!program.startClients()) return result;
    std::this_thread::sleep_for(2s);
    result.emptyCpu = cpuShare(program.pid, std::max(options.idleSeconds / 2, 5));
    auto fleet = makeIdleFleet(program.port, devices);
    const long long startedMs = nowMs();
    fleet->start();
    result.registered = program.waitRows(devices, std::chrono::seconds(options.registerSeconds));
    if (!result.registered) {
        const auto lines = readProbe(program.probe()).lines;
        std::fprintf(stderr, "%d devices: not every device registered (%d rows)\n%s", devices,
                     lines.empty() ? -1 : lines.back().rows,
                     describeMissingDevices(*fleet, program.logDatabase()).c_str());
        return result;
    }
    result.registerMs = readProbe(program.probe()).lines.back().appendedMs - startedMs;
    std::this_thread::sleep_for(3s);  // past the registration burst
    const std::uint64_t beats = heartbeats(*fleet);
    const auto start = Clock::now();
    result.load = loadAverage();
    result.idleCpu = cpuShare(program.pid, options.idleSeconds, &result.idleCpuSeconds);
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    result.roundTripsPerSecond = static_cast<double>(heartbeats(*fleet) - beats) / elapsed;
    result.rss = rssMb(program.pid);
    std::printf("%d devices: threads over 5 s:%s\n", devices, threadShares(program.pid, 5).c_str());
    const std::uint64_t beatsBefore = heartbeats(*fleet);
    const long long calls = syscallCount(program.pid, 5);
    const std::uint64_t roundTrips = heartbeats(*fleet) - beatsBefore;
    if (calls >= 0 && roundTrips > 0) {
        result.syscallsPerRoundTrip = static_cast<double>(calls) / static_cast<double>(roundTrips);
    }
    result.clients = program.clientsText();
    std::printf(
        "%d devices: registered in %lld ms; idle CPU %.2f %% of one core, %.2f s in %d s (empty "
        "program %.2f %%); RSS %.1f MB; %.0f heartbeat round trips/s; load average %.2f%s%s\n",
        devices, result.registerMs, result.idleCpu, result.idleCpuSeconds, options.idleSeconds,
        result.emptyCpu, result.rss, result.roundTripsPerSecond, result.load,
        result.clients.empty() ? "" : "; ", result.clients.c_str());
    std::fflush(stdout);
    fleet->stop();
    return result;
}

// The same idle fleet against the minimal heartbeat server: its CPU per round trip, in us (0
// when the fleet did not get its heartbeats).
struct FloorResult {
    int devices = 0;
    double perRoundTripUs = 0;
    double roundTripsPerSecond = 0;
    double load = 0;
};

FloorResult measureFloor(const Options& options, int devices) {
    FloorResult result;
    result.devices = devices;
    const std::uint16_t port = freePort();
    const pid_t pid = spawn({"/proc/self/exe", "--heartbeat-floor", std::to_string(port)}, {});
    auto fleet = makeIdleFleet(port, devices);
    fleet->start();
    const auto deadline = Clock::now() + std::chrono::seconds(options.registerSeconds);
    const auto everyDeviceHeard = [&] {
        for (std::size_t i = 0; i < fleet->size(); ++i) {
            if (fleet->counts(i).heartbeats == 0) return false;
        }
        return true;
    };
    while (!everyDeviceHeard() && Clock::now() < deadline) std::this_thread::sleep_for(100ms);
    if (everyDeviceHeard()) {
        std::this_thread::sleep_for(3s);
        const std::uint64_t beats = heartbeats(*fleet);
        const auto start = Clock::now();
        result.load = loadAverage();
        const double share = cpuShare(pid, options.idleSeconds);
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        result.roundTripsPerSecond = static_cast<double>(heartbeats(*fleet) - beats) / elapsed;
        if (result.roundTripsPerSecond > 0) {
            result.perRoundTripUs = share / 100.0 / result.roundTripsPerSecond * 1e6;
        }
    }
    fleet->stop();
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    std::printf("%d devices, minimal heartbeat server: %.1f us per round trip (%.0f/s)\n", devices,
                result.perRoundTripUs, result.roundTripsPerSecond);
    std::fflush(stdout);
    return result;
}

struct LoadResult {
    bool ran = false;
    int webClients = 0;
    double cpuSeconds = 0;  // the program's, over the load
    double load = 0;        // the load average as the load began
    std::string clients;
    std::size_t sent = 0;
    double lagP50 = 0, lagP99 = 0, lagMax = 0;
    std::size_t lagSamples = 0;
    std::size_t matched = 0;
    double showP50 = 0, showP99 = 0, showMax = 0;
};

// Outlet 1 in bit 15 down to outlet 16 in bit 0, as the list's hidden column keeps it.
unsigned rowMask(const protocol::OutletStates& outlets) {
    unsigned mask = 0;
    for (bool on : outlets) mask = mask * 2 + (on ? 1 : 0);
    return mask;
}

LoadResult measureLoad(const Options& options, int webClients) {
    LoadResult result;
    result.webClients = webClients;
    Program program(options.vantrel, 5, webClients);
    if (!program.waitRows(0, 60s)) return result;
    if (!program.startClients()) return result;
    auto fleet = makeFleet(program, options.loadDevices);
    fleet->start();
    if (!program.waitRows(options.loadDevices, std::chrono::seconds(options.registerSeconds))) {
        std::fprintf(stderr, "load: not every device registered\n%s",
                     describeMissingDevices(*fleet, program.logDatabase()).c_str());
        return result;
    }
    std::this_thread::sleep_for(3s);

    // Every 5 ms a slice of the rate, round-robin over the devices, each frame with outlets
    // the device has not reported before.
    struct Sent {
        long long ns;
        bool matched;
    };
    std::unordered_map<std::uint64_t, Sent> sent;
    std::vector<std::uint32_t> reports(fleet->size(), 0);
    const int perTick = std::max(options.rate / 200, 1);
    result.load = loadAverage();
    const double cpuBefore = cpuSeconds(program.pid);
    const long long loadStartMs = nowMs();
    const auto end = Clock::now() + std::chrono::seconds(options.loadSeconds);
    auto next = Clock::now();
    std::size_t device = 0;
    while (Clock::now() < end) {
        for (int i = 0; i < perTick; ++i) {
            simtcp::SimDevice& d = fleet->device(device);
            const std::uint16_t word = static_cast<std::uint16_t>(++reports[device] * 40503u);
            protocol::StatusPayload status;
            status.header.deviceId = d.id();
            status.group = d.config().group;
            status.mode = d.config().mode;
            status.number = d.config().number;
            status.onOff = d.config().onOff;
            status.outlets = protocol::expandChannelWord(word);
            auto frame = protocol::buildStatusFrame(protocol::NET_CMD_STATUS, status);
            const std::uint64_t key = (std::uint64_t{d.id()} << 16) | rowMask(status.outlets);
            sent[key] = {nowNs(), false};
            d.sendFrame(std::move(frame));
            device = (device + 1) % fleet->size();
        }
        next += 5ms;
        std::this_thread::sleep_until(next);
    }
    const long long loadEndMs = nowMs();
    result.cpuSeconds = cpuSeconds(program.pid) - cpuBefore;
    std::this_thread::sleep_for(2s);  // the last rows and probe lines
    result.clients = program.clientsText();
    result.sent = sent.size();

    const ProbeFile probe = readProbe(program.probe(), true);
    std::vector<double> lags;
    for (const auto& lag : probe.lags) {
        if (lag.lineMs > loadStartMs && lag.lineMs <= loadEndMs + 250) lags.push_back(lag.us / 1e3);
    }
    std::vector<double> shows;
    for (const auto& shown : probe.shown) {
        const auto it = sent.find((std::uint64_t{shown.id} << 16) | shown.mask);
        if (it == sent.end() || it->second.matched || shown.ns < it->second.ns) continue;
        it->second.matched = true;
        shows.push_back(static_cast<double>(shown.ns - it->second.ns) / 1e6);
    }
    fleet->stop();
    result.ran = true;
    result.lagSamples = lags.size();
    result.lagP50 = percentile(lags, 50);
    result.lagP99 = percentile(lags, 99);
    result.lagMax = lags.empty() ? 0 : *std::max_element(lags.begin(), lags.end());
    result.matched = shows.size();
    result.showP50 = percentile(shows, 50);
    result.showP99 = percentile(shows, 99);
    result.showMax = shows.empty() ? 0 : *std::max_element(shows.begin(), shows.end());
    std::printf(
        "load: %zu status frames in %d s from %d devices; GUI lag over %zu ticks: p50 %.2f ms, "
        "p99 %.2f ms, max %.2f ms; frame to row: %zu matched, p50 %.2f ms, p99 %.2f ms, max "
        "%.2f ms; program CPU %.2f s; load average %.2f%s%s\n",
        result.sent, options.loadSeconds, options.loadDevices, result.lagSamples, result.lagP50,
        result.lagP99, result.lagMax, result.matched, result.showP50, result.showP99,
        result.showMax, result.cpuSeconds, result.load, result.clients.empty() ? "" : "; ",
        result.clients.c_str());
    std::fflush(stdout);
    return result;
}

const char* verdict(bool met) {
    return met ? "met" : "MISSED";
}

// What a row's name says of the API: nothing when the run has no variants.
std::string apiText(const Options& options, int webClients) {
    if (options.webClients == 0) return {};
    if (webClients == 0) return ", API off";
    return ", API on, " + std::to_string(webClients) + " event streams";
}

void printSizeRows(const Options& options, const SizeResult& r) {
    const std::string api = apiText(options, r.webClients);
    if (!r.registered) {
        std::printf("vantrel: %d devices registered (rows)%s|not all registered|-|-|MISSED\n",
                    r.devices, api.c_str());
        return;
    }
    const bool big = r.devices >= 5000;
    std::printf("vantrel: %d devices registered (rows)%s|%lld ms|%s|-|%s\n", r.devices, api.c_str(),
                r.registerMs, big ? "< 3 s" : "-", big ? verdict(r.registerMs < 3000) : "measured");
    const double idleGoal = r.devices <= 1000 ? 5 : 20;
    std::printf(
        "vantrel: idle CPU, %d devices%s|%.2f %% of one core, %.2f s CPU in %d s (empty: %.2f %%; "
        "load average %.2f%s%s)|< %.0f %%|-|%s\n",
        r.devices, api.c_str(), r.idleCpu, r.idleCpuSeconds, options.idleSeconds, r.emptyCpu,
        r.load, r.clients.empty() ? "" : "; ", r.clients.c_str(), idleGoal,
        verdict(r.idleCpu < idleGoal));
    std::printf("vantrel: RSS, %d devices%s|%.1f MB|%s|-|%s\n", r.devices, api.c_str(), r.rss,
                r.devices <= 1000 ? "< 100 MB" : "-",
                r.devices <= 1000 ? verdict(r.rss < 100) : "measured");
    const double perRoundTripUs =
        r.roundTripsPerSecond > 0 ? (r.idleCpu - r.emptyCpu) / 100.0 / r.roundTripsPerSecond * 1e6
                                  : 0;
    std::printf(
        "vantrel: CPU per heartbeat round trip, %d devices%s|%.1f us (%.0f/s; %.0f %% "
        "of idle CPU)|< 8 us|-|%s\n",
        r.devices, api.c_str(), perRoundTripUs, r.roundTripsPerSecond,
        r.idleCpu > 0 ? 100.0 * (r.idleCpu - r.emptyCpu) / r.idleCpu : 0,
        verdict(perRoundTripUs > 0 && perRoundTripUs < 8));
    if (r.syscallsPerRoundTrip >= 0) {
        std::printf(
            "vantrel: system calls per heartbeat round trip, %d devices%s|%.2f (all of the "
            "program's, perf)|-|-|measured\n",
            r.devices, api.c_str(), r.syscallsPerRoundTrip);
    } else {
        std::printf(
            "vantrel: system calls per heartbeat round trip, %d devices%s|not counted (perf "
            "unavailable)|-|-|measured\n",
            r.devices, api.c_str());
    }
}

void printLoadRows(const Options& options, const LoadResult& load) {
    const std::string api = apiText(options, load.webClients);
    if (!load.ran) {
        std::printf("vantrel: GUI lag under status load%s|did not run|p99 < 16 ms|-|MISSED\n",
                    api.c_str());
        return;
    }
    std::printf(
        "vantrel: GUI lag at %d status/s, %d rows%s|p50 %.2f ms, p99 %.2f ms, max %.1f "
        "ms (program CPU %.2f s in %d s; load average %.2f%s%s)|p99 < 16 ms, max < 100 ms|-|%s\n",
        options.rate, options.loadDevices, api.c_str(), load.lagP50, load.lagP99, load.lagMax,
        load.cpuSeconds, options.loadSeconds, load.load, load.clients.empty() ? "" : "; ",
        load.clients.c_str(),
        verdict(load.lagSamples > 0 && load.lagP99 < 16 && load.lagMax < 100));
    std::printf(
        "vantrel: status frame to row updated%s|p50 %.2f ms, p99 %.2f ms (%zu/%zu "
        "shown)|p99 < 50 ms|-|%s\n",
        api.c_str(), load.showP50, load.showP99, load.matched, load.sent,
        verdict(load.matched > 0 && load.showP99 < 50 && load.matched * 100 >= load.sent * 99));
}

}  // namespace

void printFloorRow(const FloorResult& floor) {
    std::printf(
        "floor: CPU per heartbeat round trip of a minimal server, %d devices (one thread, one "
        "send and one receive per round trip, nothing else; load %.2f)|%.1f us (%.0f/s)|-|-|"
        "measured\n",
        floor.devices, floor.load, floor.perRoundTripUs, floor.roundTripsPerSecond);
}

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--heartbeat-floor") == 0) {
        return runHeartbeatFloor(static_cast<std::uint16_t>(std::atoi(argv[2])));
    }
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: %s VANTREL [--sizes 1000,5000] [--idle-seconds S] [--load-devices N] "
                     "[--rate R] [--load-seconds S] [--register-seconds S] [--web-clients N]\n",
                     argv[0]);
        return 2;
    }
    Options options;
    options.vantrel = argv[1];
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const std::string value = argv[i + 1];
        if (option == "--sizes") {
            options.sizes.clear();
            std::istringstream list(value);
            std::string size;
            while (std::getline(list, size, ',')) options.sizes.push_back(std::atoi(size.c_str()));
        } else if (option == "--idle-seconds") {
            options.idleSeconds = std::max(std::atoi(value.c_str()), 2);
        } else if (option == "--load-devices") {
            options.loadDevices = std::max(std::atoi(value.c_str()), 0);
        } else if (option == "--rate") {
            options.rate = std::max(std::atoi(value.c_str()), 1);
        } else if (option == "--register-seconds") {
            options.registerSeconds = std::max(std::atoi(value.c_str()), 1);
        } else if (option == "--load-seconds") {
            options.loadSeconds = std::max(std::atoi(value.c_str()), 1);
        } else if (option == "--web-clients") {
            options.webClients = std::clamp(std::atoi(value.c_str()), 0, 200);
        } else {
            std::fprintf(stderr, "unknown option %s\n", option.c_str());
            return 2;
        }
    }

    // With the API's variant, off and on follow each other so both see the same machine.
    std::vector<int> variants{0};
    if (options.webClients > 0) variants.push_back(options.webClients);
    std::vector<SizeResult> sizes;
    std::vector<FloorResult> floors;
    for (const int devices : options.sizes) {
        for (const int clients : variants) sizes.push_back(measureSize(options, devices, clients));
        floors.push_back(measureFloor(options, devices));
    }
    std::vector<LoadResult> loads;
    if (options.loadDevices > 0) {
        for (const int clients : variants) loads.push_back(measureLoad(options, clients));
    }

    std::printf("\nTABLE\n");
    for (const SizeResult& r : sizes) printSizeRows(options, r);
    for (const FloorResult& floor : floors) printFloorRow(floor);
    for (const LoadResult& load : loads) printLoadRows(options, load);
    return 0;
}
