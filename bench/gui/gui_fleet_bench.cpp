// A fleet at the scale of a large site against the real program: vantrel (Release, offscreen)
// in its own process, the devices in several vantrel-sim processes (idle devices: they
// register and answer heartbeats). Measures the time until every device has its row, the
// program's RSS, whether every device is still online a while later with no connection
// dropped, and the CPU each side spends per heartbeat.
//   gui_fleet_bench VANTREL VANTREL_SIM [--devices 20000] [--processes 2] [--threads 1]
//                   [--alive-seconds 60] [--register-seconds 60]
// Every device takes a descriptor in the program and one in a fleet process. The program
// raises its soft limit to the hard one (inherited from here); the devices it cannot hold with
// its reserve left free ride behind gateway connections (several ids per connection), and the
// figure says so.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "bench_process.h"

using namespace guibench;
using namespace std::chrono_literals;

namespace {

// Descriptors the program keeps for itself besides device connections: its reserve (64) and
// what it opens at start (about 40 offscreen), with room to spare.
constexpr std::uint64_t kProgramDescriptors = 200;

struct Options {
    std::string vantrel;
    std::string sim;
    int devices = 20000;
    int processes = 2;
    int threads = 1;
    int aliveSeconds = 60;
    int registerSeconds = 60;
};

struct FleetTotals {
    int devices = 0;  // connections reported
    int singleConnect = 0;
    int closedByConsole = 0;
    int silent = 0;   // connections that heard no heartbeat
    int dropped = 0;  // connections made more than once or closed by the program
    unsigned long long heartbeats = 0;
    std::vector<std::string> missing;  // lines of the connections that dropped or heard nothing
};

// Reads the per-connection lines a vantrel-sim --idle fleet prints when it ends.
void addFleetOutput(const std::string& path, FleetTotals& totals) {
    static const std::regex line(
        R"(device (\d+) from (\S+): (\d+) connects, (\d+) closed by the console, received HEARTBEAT=(\d+))");
    std::ifstream in(path);
    std::string text;
    std::smatch m;
    while (std::getline(in, text)) {
        if (!std::regex_search(text, m, line)) continue;
        ++totals.devices;
        const int connects = std::stoi(m[3]);
        const int closed = std::stoi(m[4]);
        const unsigned long long beats = std::stoull(m[5]);
        totals.singleConnect += connects == 1 ? 1 : 0;
        totals.closedByConsole += closed > 0 ? 1 : 0;
        totals.silent += beats == 0 ? 1 : 0;
        totals.heartbeats += beats;
        totals.dropped += connects != 1 || closed > 0 ? 1 : 0;
        if (connects != 1 || closed > 0 || beats == 0) totals.missing.push_back(text);
    }
}

// The heartbeats a fleet process has heard so far: it prints them on SIGUSR1.
std::uint64_t heardSoFar(pid_t fleet, const std::string& output) {
    const auto counts = [&output] {
        std::vector<std::uint64_t> seen;
        std::ifstream in(output);
        std::string text;
        while (std::getline(in, text)) {
            if (text.rfind("heartbeats ", 0) == 0) seen.push_back(std::stoull(text.substr(11)));
        }
        return seen;
    };
    const std::size_t before = counts().size();
    kill(fleet, SIGUSR1);
    const auto deadline = Clock::now() + 5s;
    while (Clock::now() < deadline) {
        const auto seen = counts();
        if (seen.size() > before) return seen.back();
        std::this_thread::sleep_for(10ms);
    }
    return 0;
}

std::uint64_t heardSoFar(const std::vector<pid_t>& fleets,
                         const std::vector<std::string>& outputs) {
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < fleets.size(); ++i) total += heardSoFar(fleets[i], outputs[i]);
    return total;
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

long long hardDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_max == RLIM_INFINITY) return 1 << 30;
    return static_cast<long long>(limit.rlim_max);
}

int latestRows(const std::string& probe) {
    const auto lines = readProbe(probe).lines;
    return lines.empty() ? -1 : lines.back().rows;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: %s VANTREL VANTREL_SIM [--devices N] [--processes N] [--threads N] "
                     "[--alive-seconds S] [--register-seconds S]\n",
                     argv[0]);
        return 2;
    }
    Options options;
    options.vantrel = argv[1];
    options.sim = argv[2];
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (option == "--devices") {
            options.devices = std::clamp(value, 1, 60000);
        } else if (option == "--processes") {
            options.processes = std::max(value, 1);
        } else if (option == "--threads") {
            options.threads = std::max(value, 1);
        } else if (option == "--alive-seconds") {
            options.aliveSeconds = std::max(value, 1);
        } else if (option == "--register-seconds") {
            options.registerSeconds = std::max(value, 1);
        } else {
            std::fprintf(stderr, "unknown option %s\n", option.c_str());
            return 2;
        }
    }

    // One connection per device where the program's descriptors allow; each fleet process
    // holds its share of them within the same hard limit.
    const long long hard = hardDescriptorLimit();
    const int connections = static_cast<int>(std::min<long long>(
        options.devices,
        std::max<long long>(1, hard - static_cast<long long>(kProgramDescriptors))));
    const int processes = std::max<int>(
        options.processes, static_cast<int>((connections + hard - 101) / (hard - 100)));
    std::printf(
        "descriptors: hard limit %lld; %d devices on %d connections from %d fleet "
        "processes (the program needs a hard limit of about %d for one connection per "
        "device)\n",
        hard, options.devices, connections, processes,
        options.devices + static_cast<int>(kProgramDescriptors));
    std::fflush(stdout);

    const auto folder =
        std::filesystem::temp_directory_path() / ("gui_fleet_bench." + std::to_string(getpid()));
    std::filesystem::create_directories(folder / "data");
    const std::string probe = (folder / "probe.txt").string();
    const std::uint16_t port = freePort();
    const pid_t program = spawn(
        {options.vantrel, "--port=" + std::to_string(port), "--lock-dir=" + folder.string(),
         "--data-dir=" + (folder / "data").string(), "--web-port=0"},
        {"QT_QPA_PLATFORM=offscreen", "VANTREL_GUI_PROBE=" + probe, "VANTREL_GUI_PROBE_TICK_MS=0"});
    if (!waitProbe(
            probe, [](const ProbeLine& l) { return l.rows == 0; }, 60s)) {
        std::fprintf(stderr, "the program did not come up\n");
        kill(program, SIGTERM);
        waitpid(program, nullptr, 0);
        return 1;
    }
    std::this_thread::sleep_for(1s);

    // Process k takes a slice of the ids and of the connections, from its own addresses.
    std::vector<pid_t> fleets;
    std::vector<std::string> outputs;
    const long long startedMs = nowMs();
    const double programCpuStart = cpuSeconds(program);
    int firstDevice = 0;
    int firstConnection = 0;
    for (int k = 0; k < processes; ++k) {
        const int count = options.devices / processes + (k < options.devices % processes ? 1 : 0);
        const int links = connections / processes + (k < connections % processes ? 1 : 0);
        outputs.push_back((folder / ("fleet" + std::to_string(k) + ".txt")).string());
        fleets.push_back(spawn(
            {options.sim, "--idle", "--port", std::to_string(port), "--count",
             std::to_string(count), "--first-id", std::to_string(1 + firstDevice),
             "--first-address", std::to_string(firstConnection), "--connections",
             std::to_string(links), "--groups", "0", "--threads", std::to_string(options.threads)},
            {}, outputs.back()));
        firstDevice += count;
        firstConnection += links;
    }
    const int devices = options.devices;
    const bool registered = waitProbe(
        probe, [devices](const ProbeLine& l) { return l.rows == devices; },
        std::chrono::seconds(options.registerSeconds));
    long long registerMs = -1;
    if (registered) registerMs = readProbe(probe).lines.back().appendedMs - startedMs;
    const double programCpuRegistration = cpuSeconds(program) - programCpuStart;
    const int rowsAtRegistration = latestRows(probe);
    const double rssRegistered = rssMb(program);
    const std::string loadRegistered = loadAverage();
    std::printf(
        "registration: %s in %lld ms (%d rows); the program used %.1f s of CPU "
        "meanwhile; RSS %.1f MB; load average %s\n",
        registered ? "every device" : "NOT every device", registerMs, rowsAtRegistration,
        programCpuRegistration, rssRegistered, loadRegistered.c_str());
    std::fflush(stdout);

    // The alive period; its second half measures CPU per heartbeat.
    const int measureSeconds = std::max(options.aliveSeconds / 2, 1);
    std::this_thread::sleep_for(std::chrono::seconds(options.aliveSeconds - measureSeconds));
    const std::uint64_t beats0 = heardSoFar(fleets, outputs);
    double fleetCpu0 = 0;
    for (const pid_t fleet : fleets) fleetCpu0 += cpuSeconds(fleet);
    const double programCpu0 = cpuSeconds(program);
    const auto measureStart = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(measureSeconds));
    double fleetCpu1 = 0;
    for (const pid_t fleet : fleets) fleetCpu1 += cpuSeconds(fleet);
    const double programCpu1 = cpuSeconds(program);
    const double measured = std::chrono::duration<double>(Clock::now() - measureStart).count();
    const std::uint64_t beats1 = heardSoFar(fleets, outputs);
    const int rowsAlive = latestRows(probe);
    const double rssAlive = rssMb(program);
    const std::string load = loadAverage();

    for (const pid_t fleet : fleets) kill(fleet, SIGTERM);
    for (const pid_t fleet : fleets) waitpid(fleet, nullptr, 0);
    kill(program, SIGTERM);
    waitpid(program, nullptr, 0);
    FleetTotals totals;
    for (const std::string& output : outputs) addFleetOutput(output, totals);
    std::filesystem::remove_all(folder);

    const double beats = static_cast<double>(std::max<std::uint64_t>(beats1 - beats0, 1));
    const double fleetShare = 100.0 * (fleetCpu1 - fleetCpu0) / measured;
    const double programShare = 100.0 * (programCpu1 - programCpu0) / measured;
    const double fleetUsPerBeat = (fleetCpu1 - fleetCpu0) / beats * 1e6;
    const double programUsPerBeat = (programCpu1 - programCpu0) / beats * 1e6;
    std::printf(
        "after %d s: %d rows; RSS %.1f MB; connections with one connect %d/%d, closed by "
        "the program %d, without a heartbeat %d\n",
        options.aliveSeconds, rowsAlive, rssAlive, totals.singleConnect, totals.devices,
        totals.closedByConsole, totals.silent);
    std::printf(
        "over the last %.0f s: %.0f heartbeats/s (%.2f per device and second); the fleet "
        "used %.1f %% of a core (%.2f us per heartbeat), the program %.1f %% (%.2f us "
        "per heartbeat); load average %s\n",
        measured, beats / measured, beats / measured / options.devices, fleetShare, fleetUsPerBeat,
        programShare, programUsPerBeat, load.c_str());
    for (std::size_t i = 0; i < totals.missing.size() && i < 20; ++i) {
        std::printf("  dropped or silent: %s\n", totals.missing[i].c_str());
    }

    const bool noneDropped =
        totals.devices == connections && totals.dropped == 0 && totals.silent == 0;
    const bool met = registered && registerMs < 10000 && noneDropped && rssRegistered < 400 &&
                     rssAlive < 400 && rowsAlive == options.devices;
    const std::string took =
        registered ? std::to_string(registerMs) + " ms" : std::string("not all registered");
    std::printf("\nTABLE\n");
    std::printf(
        "vantrel: %d devices registered (%d connections, %d fleet processes, hard "
        "descriptor limit %lld)|%s (program CPU %.1f s, load %s); RSS %.0f MB, after %d "
        "s %.0f MB; after %d s %d rows, %d of %d connections dropped|< 10 s, none "
        "dropped, RSS < 400 MB, all online after 60 s|-|%s\n",
        options.devices, connections, processes, hard, took.c_str(), programCpuRegistration,
        loadRegistered.c_str(), rssRegistered, options.aliveSeconds, rssAlive, options.aliveSeconds,
        rowsAlive, totals.dropped + (connections - totals.devices), connections,
        met ? "met" : "MISSED");
    std::printf(
        "fleet: CPU per heartbeat, %d idle devices|%.2f us (%.0f heartbeats/s, %.1f %% of "
        "a core; load %s); the program %.2f us, %.1f %%|-|-|measured\n",
        options.devices, fleetUsPerBeat, beats / measured, fleetShare, load.c_str(),
        programUsPerBeat, programShare);
    return 0;
}
