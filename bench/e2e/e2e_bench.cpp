// End-to-end benchmark: the console side (link + console core) in this process against a
// fleet of simulated sequencers in another, each device from its own 127.0.0.x address.
// Prints one row per scenario: figure, goal, and the described design's figure.
//   e2e_bench [--devices 1000] [--idle-seconds 60] [--offline 50] [--heartbeat-gap 250]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "console_side.h"
#include "lanwire/lanwire.h"
#include "lanwire/lanwire_options.h"

extern char** environ;

namespace {

using e2e::Clock;
using namespace std::chrono_literals;

// A child process with its stdin and stdout on pipes.
class Child {
public:
    // `talk`: stdin and stdout on pipes; otherwise the child's output is discarded.
    explicit Child(std::vector<std::string> args, bool talk = true) {
        int in[2];
        int out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        if (talk) {
            posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        } else {
            posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        }
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, args[0].c_str(), &actions, nullptr, argv.data(), environ) != 0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        m_in = ::fdopen(in[1], "w");
        m_out = ::fdopen(out[0], "r");
    }
    ~Child() {
        if (m_in) std::fclose(m_in);
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_out) std::fclose(m_out);
    }
    bool ok() const { return m_pid > 0 && m_in && m_out; }
    void say(const std::string& line) {
        std::fprintf(m_in, "%s\n", line.c_str());
        std::fflush(m_in);
    }
    std::string hear() {
        char buffer[256];
        if (!std::fgets(buffer, sizeof buffer, m_out)) return {};
        std::string line = buffer;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        return line;
    }
    void end() {
        if (m_in) std::fclose(m_in);
        m_in = nullptr;
        if (m_pid > 0) ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
    std::FILE* m_in = nullptr;
    std::FILE* m_out = nullptr;
};

struct Row {
    std::string scenario, figure, goal, reference, verdict;
};
std::vector<Row> g_rows;

void addRow(std::string scenario, std::string figure, std::string goal, std::string reference,
            bool met) {
    g_rows.push_back({std::move(scenario), std::move(figure), std::move(goal), std::move(reference),
                      met ? "met" : "MISSED"});
    const auto& r = g_rows.back();
    std::printf("  -> %s: %s (goal %s) %s\n", r.scenario.c_str(), r.figure.c_str(), r.goal.c_str(),
                r.verdict.c_str());
    std::fflush(stdout);
}

std::string format(const char* pattern, double a, double b = 0, double c = 0) {
    char text[256];
    std::snprintf(text, sizeof text, pattern, a, b, c);
    return text;
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double residentMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

// Waits until `target` status posts have arrived or none arrived for a second (frames the
// full receive queue dropped never will).
void waitPostsOrQuiet(e2e::ConsoleSide& console, std::uint64_t target) {
    while (console.statusPosts() < target) {
        if (!console.waitStatusPosts(console.statusPosts() + 1, 1s)) return;
    }
}

void raiseFileLimit() {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t devices = 1000;
    int idleSeconds = 60;
    std::size_t offline = 50;
    int heartbeatGap = static_cast<int>(LanwireOptions{}.heartbeatGap.count());
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--devices")
            devices = std::strtoul(argv[i + 1], nullptr, 10);
        else if (arg == "--idle-seconds")
            idleSeconds = std::atoi(argv[i + 1]);
        else if (arg == "--offline")
            offline = std::strtoul(argv[i + 1], nullptr, 10);
        else if (arg == "--heartbeat-gap")
            heartbeatGap = std::atoi(argv[i + 1]);
    }
    if (devices < 100 || devices > 4000 || idleSeconds < 1 || offline < 1 || offline > 1000 ||
        heartbeatGap < 0 || heartbeatGap > 2000) {
        std::fprintf(stderr,
                     "usage: e2e_bench [--devices 100..4000] [--idle-seconds N] "
                     "[--offline 1..1000] [--heartbeat-gap 0..2000 ms]\n");
        return 2;
    }
    raiseFileLimit();
    signal(SIGPIPE, SIG_IGN);
    char folderTemplate[] = "/tmp/vantrel-e2e-XXXXXX";
    if (!mkdtemp(folderTemplate)) return 1;
    const std::string folder = std::string(folderTemplate) + "/";

    e2e::ConsoleSide console(folder, std::chrono::milliseconds(heartbeatGap));
    if (!console.started()) {
        std::fprintf(stderr, "the link did not start\n");
        return 1;
    }
    const std::string port = std::to_string(console.port());
    std::printf("e2e_bench: %zu devices in a separate process, port %s, %u processors\n", devices,
                port.c_str(), std::thread::hardware_concurrency());

    // 1. Connect and register: every row in the device table.
    const auto connectStart = Clock::now();
    Child fleet({E2E_FLEET, port, std::to_string(devices), "2"});
    if (!fleet.ok()) return 1;
    const bool allRows = console.waitRows(devices, 120s);
    const double registerSeconds = seconds(Clock::now() - connectStart);
    addRow(std::to_string(devices) + " devices connect + register (rows in table)",
           allRows ? format("%.2f s", registerSeconds)
                   : "only " + std::to_string(console.rows()) + " rows",
           "< 3 s", "-", allRows && registerSeconds < 3.0);
    if (!allRows) return 1;
    std::this_thread::sleep_for(1s);  // let the registration heartbeats settle

    // 2. Status frames end to end, unthrottled.
    constexpr int kFlood = 40;
    const auto dropped0 = GetLanwireStats().framesDropped;
    const auto posts0 = console.statusPosts();
    const auto floodStart = Clock::now();
    fleet.say("flood " + std::to_string(kFlood));
    fleet.hear();
    const std::uint64_t expected = static_cast<std::uint64_t>(kFlood) * devices;
    waitPostsOrQuiet(console, posts0 + expected);
    const auto delivered = console.statusPosts() - posts0;
    const double floodSeconds = seconds(console.lastStatusPost() - floodStart);
    const double rate = static_cast<double>(delivered) / floodSeconds;
    const auto dropped = GetLanwireStats().framesDropped - dropped0;
    addRow("status frames end to end, " + std::to_string(devices) + " devices",
           format("%.0f frames/s (%.0f of %.0f posted", rate, static_cast<double>(delivered),
                  static_cast<double>(expected)) +
               format(", %.0f dropped at the full queue)", static_cast<double>(dropped)),
           ">= 20,000/s", "<= 1,000/s", rate >= 20000.0);

    // 3. Latency from the device's send to the posted message at 2,000 frames/s.
    console.recordLatencies(true);
    const auto posts1 = console.statusPosts();
    fleet.say("paced 2000 5");
    fleet.hear();
    waitPostsOrQuiet(console, posts1 + 10000);
    const auto lat = console.latencies();
    console.recordLatencies(false);
    const double p50 = percentile(lat, 0.50) / 1000.0;
    const double p99 = percentile(lat, 0.99) / 1000.0;
    addRow("send-to-post latency at 2,000 frames/s",
           format("p50 %.2f ms, p99 %.2f ms", p50, p99) +
               format(" (%.0f frames)", static_cast<double>(lat.size())),
           "p99 < 5 ms", "-", p99 < 5.0 && lat.size() >= 9900);

    // 4. Parallel switch of the 100-device group 1.
    const auto parallelStart = Clock::now();
    console.onGui([&] { console.switching.OnParallelOn(); });
    fleet.say("parallel");
    const std::string reply = fleet.hear();
    const long long lastUs = reply.size() > 9 ? std::atoll(reply.c_str() + 9) : -1;
    const double parallelMs =
        lastUs > 0 ? (static_cast<double>(lastUs) -
                      static_cast<double>(std::chrono::duration_cast<std::chrono::microseconds>(
                                              parallelStart.time_since_epoch())
                                              .count())) /
                         1000.0
                   : -1;
    addRow("parallel on, 100-device group: last order received",
           parallelMs >= 0 ? format("%.1f ms", parallelMs) : "not all orders arrived", "< 50 ms",
           ">= 1 s (100 x 10 ms + 30 ms per connection walked)",
           parallelMs >= 0 && parallelMs < 50.0);
    std::this_thread::sleep_for(2s);  // the switching steps and their reports end

    // 5. Idle devices heartbeating.
    const auto sent0 = GetLanwireStats().framesSent;
    const double cpu0 = cpuSeconds();
    const auto idleStart = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));  // the idle time measured
    const double idleWall = seconds(Clock::now() - idleStart);
    const double cpuShare = 100.0 * (cpuSeconds() - cpu0) / idleWall;
    const double heartbeats = static_cast<double>(GetLanwireStats().framesSent - sent0) /
                              static_cast<double>(devices) / idleWall;
    const double rss = residentMiB();
    addRow(std::to_string(devices) + " idle devices, " + std::to_string(idleSeconds) +
               " s: console CPU",
           format("%.1f %% of one core (%.1f heartbeats/device/s)", cpuShare, heartbeats), "< 10 %",
           "-", cpuShare < 10.0);
    addRow(std::to_string(devices) + " idle devices: console RSS", format("%.0f MB", rss),
           "< 150 MB", "-", rss < 150.0);
    fleet.say("quit");
    fleet.end();

    // 6. Offline detection: silent devices are removed 3 to 4 ticks after their last answer
    // (they never answer, so after the heartbeat sent at registration). A tick comes 2.5 s
    // after the last plus up to one 100 ms look, so the earliest removal is 3 x 2.5 s when the
    // registration lands just before a tick, the latest 4 x 2.6 s.
    const std::uint16_t firstSilent = 20001;
    Child silent({E2E_SIM, "--port", port, "--count", std::to_string(offline), "--first-id",
                  std::to_string(firstSilent), "--groups", "0", "--silent", "--seconds", "40"},
                 false);
    std::vector<double> removal;
    const auto offlineStart = Clock::now();
    while (removal.size() < offline && Clock::now() - offlineStart < 40s) {
        removal.clear();
        for (std::size_t i = 0; i < offline; ++i) {
            const auto id = static_cast<std::uint16_t>(firstSilent + i);
            const auto reg = console.registeredAt(id);
            const auto gone = console.removedAt(id);
            if (reg != Clock::time_point{} && gone > reg) removal.push_back(seconds(gone - reg));
        }
        std::this_thread::sleep_for(200ms);  // a look every 200 ms; the figures are seconds
    }
    const double lo = removal.empty() ? 0 : *std::min_element(removal.begin(), removal.end());
    const double hi = removal.empty() ? 0 : *std::max_element(removal.begin(), removal.end());
    addRow("offline detection over " + std::to_string(offline) + " silent devices",
           format("min %.2f s, max %.2f s", lo, hi) +
               format(" (%.0f removed)", static_cast<double>(removal.size())),
           "3 to 4 ticks: 7.5 .. 10.4 s", "about 7.8 .. 10.4 s",
           removal.size() == offline && lo >= 7.5 && hi <= 10.4);

    std::printf("\nTABLE\n");
    for (const auto& r : g_rows) {
        std::printf("%s|%s|%s|%s|%s\n", r.scenario.c_str(), r.figure.c_str(), r.goal.c_str(),
                    r.reference.c_str(), r.verdict.c_str());
    }
    std::filesystem::remove_all(folderTemplate);
    return 0;
}
