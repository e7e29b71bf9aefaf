// link_bench: the network link with N simulated sequencers on loopback. Prints the time to
// connect and register all, frames per second through to the receive callback with the p99
// latency from a device's send to the callback, the time to deliver one frame to each device,
// and the CPU the link uses while N idle devices keep heartbeating (fleet in a child process).
//   link_bench [--devices 100,1000] [--frames 100000] [--cpu-seconds 10]
#include <arpa/inet.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lanwire/lanwire.h"
#include "lanwire/lanwire_options.h"
#include "protocol/console_frames.h"
#include "protocol/device_frames.h"
#include "public/work_path.h"
#include "simtcp/sim_fleet.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// What the receive callback sees, kept cheap so that it measures the link, not the callback.
struct Sink {
    std::mutex lock;
    std::condition_variable changed;
    std::atomic<std::size_t> statusTarget{~std::size_t{0}};  // wake a waiter at this count
    std::vector<Clock::time_point> registered;               // by device index
    std::size_t registrations = 0;
    std::vector<Clock::time_point> arrived;  // by status tag
    std::atomic<std::size_t> statuses{0};
    std::uint16_t firstId = 1;
    bool superviseOnRegister = true;

    int onFrame(std::uint32_t id, sockaddr_in peer, const std::uint8_t* data, std::int32_t n) {
        const auto now = Clock::now();
        const auto header = protocol::decodeHeader(std::span<const std::uint8_t>(data, n));
        if (!header) return -1;
        if (header->command == protocol::NET_CMD_REGISTER) {
            if (superviseOnRegister) DoNetReg(id, &peer);
            std::lock_guard<std::mutex> guard(lock);
            const std::size_t index = id - firstId;
            if (index < registered.size() && registered[index] == Clock::time_point{}) {
                registered[index] = now;
                if (++registrations == registered.size()) changed.notify_all();
            }
        } else if (header->command == protocol::NET_CMD_STATUS) {
            if (header->value < arrived.size()) arrived[header->value] = now;
            if (++statuses >= statusTarget.load()) {
                std::lock_guard<std::mutex> guard(lock);
                changed.notify_all();
            }
        }
        return 0;
    }

    bool waitRegistrations(Clock::duration timeout) {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, timeout, [&] { return registrations == registered.size(); });
    }

    // Waits until `count` status frames arrived, or until `dropped()` accounts for the rest.
    template <typename Dropped>
    void waitStatuses(std::size_t count, Dropped dropped, Clock::duration timeout) {
        std::unique_lock<std::mutex> guard(lock);
        statusTarget = count > 0 ? count : 0;
        const auto deadline = Clock::now() + timeout;
        while (statuses.load() + dropped() < count && Clock::now() < deadline) {
            // Drops do not wake us; look again every few milliseconds for those.
            changed.wait_for(guard, 5ms);
        }
        statusTarget = ~std::size_t{0};
    }
};

void raiseFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

std::string programFolder() {
    return GetCurWorkPath();
}

bool startLink(Sink& sink, const std::string& dumpFolder) {
    LanwireOptions options;
    options.programFolder = dumpFolder;
    SetLanwireOptions(options);
    return InitLanwire(0, [&sink](std::uint32_t id, sockaddr_in peer, const std::uint8_t* data,
                                  std::int32_t n) { return sink.onFrame(id, peer, data, n); });
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
    return values[index];
}

constexpr std::size_t kPaced = 2000;

void runInProcess(std::size_t devices, std::size_t frames, const std::string& dumpFolder) {
    Sink sink;
    sink.registered.assign(devices, {});
    sink.arrived.assign(frames + kPaced, {});  // sized once: the callback writes into it
    if (!startLink(sink, dumpFolder)) {
        std::printf("  link did not start\n");
        return;
    }
    const std::uint16_t port = GetLanwirePort();
    {
        simtcp::SimFleet fleet("127.0.0.1", port, 2);
        for (const auto& config :
             simtcp::makeFleetConfigs(devices, 1, 6, simtcp::GroupMode::Mixed)) {
            simtcp::Knobs knobs;
            knobs.recordFrames = false;
            fleet.add(config, knobs);
        }

        // 1. Connect and register every device.
        const auto t0 = Clock::now();
        fleet.start();
        sink.waitRegistrations(120s);
        Clock::time_point last{};
        {
            std::lock_guard<std::mutex> guard(sink.lock);
            for (auto t : sink.registered) last = std::max(last, t);
            std::printf("  connect + register all %zu: %.1f ms (%zu registered)\n", devices,
                        ms(last - t0), sink.registrations);
        }

        // 2. Frames through to the callback: status reports tagged with their send time slot.
        std::vector<Clock::time_point> sent(frames);
        const LanwireStats before = GetLanwireStats();
        auto dropped = [&] {
            return static_cast<std::size_t>(GetLanwireStats().framesDropped - before.framesDropped);
        };
        const auto s0 = Clock::now();
        for (std::size_t i = 0; i < frames; ++i) {
            sent[i] = Clock::now();
            fleet.device(i % devices)
                .sendStatus(protocol::NET_CMD_STATUS, static_cast<std::uint32_t>(i));
            // Keep the offered load within what the receive queue holds; drops still count.
            if (i % 1000 == 999) sink.waitStatuses(i - 999, dropped, 60s);
        }
        sink.waitStatuses(frames, dropped, 120s);
        Clock::time_point lastArrival{};
        std::vector<double> latency;
        for (std::size_t i = 0; i < frames; ++i) {
            if (sink.arrived[i] == Clock::time_point{}) continue;
            lastArrival = std::max(lastArrival, sink.arrived[i]);
            latency.push_back(ms(sink.arrived[i] - sent[i]));
        }
        const double seconds = ms(lastArrival - s0) / 1000.0;
        std::printf(
            "  %zu status frames: %.0f frames/s to the callback, latency p50 %.2f ms, "
            "p99 %.2f ms, max %.2f ms, dropped %llu\n",
            latency.size(), static_cast<double>(latency.size()) / seconds, percentile(latency, 0.5),
            percentile(latency, 0.99), percentile(latency, 1.0),
            static_cast<unsigned long long>(GetLanwireStats().framesDropped -
                                            before.framesDropped));

        // 2b. The same path at a moderate rate (2000 frames/s offered): latency without queueing.
        {
            const std::size_t base = frames;  // tags past the burst's
            std::vector<Clock::time_point> pacedSent(kPaced);
            const std::size_t statusesBefore = sink.statuses.load();
            const auto p0 = Clock::now();
            for (std::size_t i = 0; i < kPaced; ++i) {
                std::this_thread::sleep_until(p0 + i * 500us);  // the pacing is the point here
                pacedSent[i] = Clock::now();
                fleet.device(i % devices)
                    .sendStatus(protocol::NET_CMD_STATUS, static_cast<std::uint32_t>(base + i));
            }
            sink.waitStatuses(statusesBefore + kPaced, dropped, 60s);
            std::vector<double> pacedLatency;
            for (std::size_t i = 0; i < kPaced; ++i) {
                if (sink.arrived[base + i] == Clock::time_point{}) continue;
                pacedLatency.push_back(ms(sink.arrived[base + i] - pacedSent[i]));
            }
            std::printf("  %zu status frames at 2000/s: latency p50 %.3f ms, p99 %.3f ms\n",
                        pacedLatency.size(), percentile(pacedLatency, 0.5),
                        percentile(pacedLatency, 0.99));
        }

        // 3. One frame to every device.
        const auto f0 = Clock::now();
        for (std::size_t i = 0; i < devices; ++i) {
            const auto& d = fleet.device(i);
            const protocol::ConsoleFrame frame =
                protocol::buildConsoleFrame(protocol::NET_CMD_CHANNEL, d.id(), 1, 1);
            sockaddr_in to{};
            to.sin_family = AF_INET;
            inet_pton(AF_INET, d.config().sourceAddress.c_str(), &to.sin_addr);
            TCPSend(frame.data(), frame.size(), to);
        }
        const bool all = fleet.waitAll(
            [](const simtcp::SimDevice& d) { return d.received(protocol::NET_CMD_CHANNEL) >= 1; },
            60s);
        std::printf(
            "  one frame to each of %zu devices: last arrived after %.1f ms%s "
            "(one paced send thread: >= %zu ms)\n",
            devices, ms(Clock::now() - f0), all ? "" : " (not all arrived)", devices * 10);
        fleet.stop();
    }
    CancelLanwire();
}

void runCpu(std::size_t devices, int seconds, const std::string& dumpFolder) {
    Sink sink;
    sink.registered.assign(devices, {});
    if (!startLink(sink, dumpFolder)) return;
    const std::string port = std::to_string(GetLanwirePort());
    const std::string count = std::to_string(devices);
    const std::string total = std::to_string(seconds + 30);
    const std::string sim = programFolder() + "vantrel-sim";
    std::vector<const char*> args = {sim.c_str(),   "--port",    port.c_str(),  "--count",
                                     count.c_str(), "--seconds", total.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    if (posix_spawn(&child, sim.c_str(), &actions, nullptr, const_cast<char**>(args.data()),
                    environ) != 0) {
        std::printf("  cannot start %s\n", sim.c_str());
        CancelLanwire();
        return;
    }
    sink.waitRegistrations(60s);
    std::this_thread::sleep_for(1s);  // let the heartbeat exchange settle before measuring
    rusage r0{};
    rusage r1{};
    getrusage(RUSAGE_SELF, &r0);
    const LanwireStats s0 = GetLanwireStats();
    const auto w0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    getrusage(RUSAGE_SELF, &r1);
    const LanwireStats s1 = GetLanwireStats();
    const double wall = ms(Clock::now() - w0) / 1000.0;
    auto cpu = [](const rusage& r) {
        return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
               static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
    };
    std::printf(
        "  %zu idle devices heartbeating (fleet in its own process): link process CPU "
        "%.1f%% of one core, %.0f heartbeats/s sent, %zu supervised\n",
        devices, 100.0 * (cpu(r1) - cpu(r0)) / wall,
        static_cast<double>(s1.framesSent - s0.framesSent) / wall, GetLanwireTickTable().size());
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    CancelLanwire();
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::size_t> fleetSizes = {100, 1000};
    std::size_t frames = 100000;
    int cpuSeconds = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--devices") {
            fleetSizes.clear();
            std::string list = argv[i + 1];
            for (std::size_t pos = 0; pos != std::string::npos;) {
                const std::size_t comma = list.find(',', pos);
                fleetSizes.push_back(std::stoul(list.substr(pos, comma - pos)));
                pos = comma == std::string::npos ? comma : comma + 1;
            }
        } else if (arg == "--frames") {
            frames = std::stoul(argv[i + 1]);
        } else if (arg == "--cpu-seconds") {
            cpuSeconds = std::stoi(argv[i + 1]);
        }
    }
    raiseFileLimit();
    const std::string dumpFolder =
        (std::filesystem::temp_directory_path() / ("link_bench-" + std::to_string(getpid())))
            .string() +
        "/";
    std::filesystem::create_directories(dumpFolder);
    std::printf("link_bench: loopback, %u processors, dumps in %s\n",
                std::thread::hardware_concurrency(), dumpFolder.c_str());
    for (std::size_t n : fleetSizes) {
        std::printf("N = %zu\n", n);
        runInProcess(n, frames, dumpFolder);
        if (cpuSeconds > 0) runCpu(n, cpuSeconds, dumpFolder);
    }
    std::filesystem::remove_all(dumpFolder);
    return 0;
}
