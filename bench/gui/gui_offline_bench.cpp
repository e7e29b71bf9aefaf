// 2000 devices offline at once on the real program: the longest stall of its GUI thread (from
// the program's own probe) and how soon devices registering meanwhile get their first
// heartbeat.
//   gui_offline_bench VANTREL VANTREL_SIM [--gone N (2000)] [--stay N (500)]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_process.h"
#include "protocol/frame_types.h"
#include "simtcp/sim_fleet.h"

using namespace guibench;
using namespace std::chrono_literals;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s VANTREL VANTREL_SIM [--gone N] [--stay N]\n", argv[0]);
        return 2;
    }
    const std::string vantrel = argv[1];
    const std::string sim = argv[2];
    int gone = 2000;
    int stay = 500;
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--gone") gone = std::atoi(argv[i + 1]);
        if (option == "--stay") stay = std::atoi(argv[i + 1]);
    }
    const auto folder =
        std::filesystem::temp_directory_path() / ("gui_offline_bench." + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string probe = (folder / "probe.txt").string();
    const std::uint16_t port = freePort();

    const pid_t console = spawn({vantrel, "--port=" + std::to_string(port),
                                 "--lock-dir=" + folder.string(), "--web-port=0"},
                                {"QT_QPA_PLATFORM=offscreen", "VANTREL_GUI_PROBE=" + probe});
    if (!waitProbe(
            probe, [](const ProbeLine& l) { return l.rows == 0; }, 60s)) {
        std::fprintf(stderr, "the program did not come up\n");
        kill(console, SIGTERM);
        return 1;
    }

    // The devices that stay (and later the newcomers) live here, from addresses after the
    // ones the vantrel-sim process uses.
    simtcp::SimFleet fleet("127.0.0.1", port, 2);
    simtcp::Knobs knobs;
    knobs.recordFrames = false;
    for (int i = 0; i < stay; ++i) {
        fleet.add(simtcp::makeDeviceConfig(static_cast<std::size_t>(gone + i),
                                           static_cast<std::uint16_t>(20001 + i)),
                  knobs);
    }
    fleet.start();
    const pid_t goneFleet = spawn({sim, "--port", std::to_string(port), "--count",
                                   std::to_string(gone), "--first-id", "1", "--threads", "2"},
                                  {});
    const int all = gone + stay;
    if (!waitProbe(
            probe, [all](const ProbeLine& l) { return l.rows == all; }, 180s)) {
        std::fprintf(stderr, "not every device registered\n");
        kill(goneFleet, SIGTERM);
        kill(console, SIGTERM);
        return 1;
    }
    std::this_thread::sleep_for(3s);  // past the registration burst

    // The vantrel-sim process ends: its devices fall silent together.
    const long long killedAt = nowMs();
    kill(goneFleet, SIGTERM);
    waitpid(goneFleet, nullptr, 0);

    // Newcomers register every 100 ms until the removals are over, and one second more.
    struct Newcomer {
        long long registeredAt = 0;
        std::atomic<long long> firstHeartbeatAt{0};
    };
    std::vector<std::unique_ptr<Newcomer>> newcomers;
    long long removedAt = 0;
    const auto give_up = Clock::now() + 120s;
    while (Clock::now() < give_up) {
        const int index = static_cast<int>(newcomers.size());
        auto newcomer = std::make_unique<Newcomer>();
        Newcomer* n = newcomer.get();
        simtcp::SimDevice& device =
            fleet.add(simtcp::makeDeviceConfig(static_cast<std::size_t>(gone + stay + index),
                                               static_cast<std::uint16_t>(30001 + index)),
                      knobs);
        device.setFrameObserver([n](const simtcp::ReceivedFrame& frame) {
            long long none = 0;
            if (frame.command() == protocol::NET_CMD_HEARTBEAT) {
                n->firstHeartbeatAt.compare_exchange_strong(none, nowMs());
            }
        });
        n->registeredAt = nowMs();
        device.connect();
        newcomers.push_back(std::move(newcomer));
        std::this_thread::sleep_for(100ms);
        const auto lines = readProbe(probe).lines;
        if (removedAt == 0 && !lines.empty() && lines.back().ms > killedAt &&
            lines.back().rows <= stay + static_cast<int>(newcomers.size())) {
            removedAt = lines.back().ms;
        }
        if (removedAt != 0 && nowMs() > removedAt + 1000) break;
    }
    std::this_thread::sleep_for(1500ms);  // heartbeats still on their way

    double stall = 0;
    long long firstRemovalAt = 0;
    int before = all;
    for (const auto& line : readProbe(probe).lines) {
        if (line.ms <= killedAt) continue;
        stall = std::max(stall, line.lagMs);
        if (firstRemovalAt == 0 && line.rows < before) firstRemovalAt = line.ms;
        before = line.rows;
    }
    long long worstHeartbeat = 0;
    int answered = 0;
    for (const auto& n : newcomers) {
        const long long at = n->firstHeartbeatAt.load();
        if (at == 0) continue;
        ++answered;
        worstHeartbeat = std::max(worstHeartbeat, at - n->registeredAt);
    }
    kill(console, SIGTERM);
    waitpid(console, nullptr, 0);
    fleet.stop();
    std::filesystem::remove_all(folder);

    std::printf(
        "%d of %d devices gone at once; removals from %+lld ms to %+lld ms after the kill\n", gone,
        all, firstRemovalAt ? firstRemovalAt - killedAt : -1,
        removedAt ? removedAt - killedAt : -1);
    std::printf("newcomers: %zu registered, %d got a heartbeat, slowest first heartbeat %lld ms\n",
                newcomers.size(), answered, worstHeartbeat);
    std::printf("longest GUI stall after the kill: %.1f ms\n", stall);
    const bool removed = removedAt != 0;
    const bool allAnswered = answered == static_cast<int>(newcomers.size());
    std::printf("\nTABLE\n");
    std::printf("vantrel: %d devices offline at once, longest GUI stall|%.1f ms%s|< 100 ms|-|%s\n",
                gone, stall, removed ? "" : " (not all removed)",
                removed && stall < 100 ? "met" : "MISSED");
    std::printf(
        "vantrel: first heartbeat of a device registering meanwhile|max %lld ms (%d/%zu)|< 1 "
        "s|-|%s\n",
        worstHeartbeat, answered, newcomers.size(),
        allAnswered && worstHeartbeat < 1000 ? "met" : "MISSED");
    return 0;
}
