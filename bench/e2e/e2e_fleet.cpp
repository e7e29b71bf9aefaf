// The fleet process of the end-to-end benchmark: N simulated sequencers, driven by commands
// on stdin, answering on stdout. The first 100 devices form parallel group 1 (numbers 1..100);
// the others are in no group.
//   e2e_fleet PORT COUNT [THREADS]
// Commands (one a line):
//   flood K          every device sends K status reports as fast as it can; answers "sent"
//   paced RATE SECS  RATE status reports a second in total for SECS seconds, each carrying its
//                    send time (steady clock, microseconds, low 32 bits) in the header value
//   parallel         answers "parallel <us>" with the steady-clock time at which the last of
//                    the group's devices received its NET_CMD_PARALLEL order
//   quit
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "protocol/frame_types.h"
#include "simtcp/sim_fleet.h"

using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kGroupSize = 100;

std::uint32_t nowMicros() {
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
            .count());
}

// Arrival of each group device's first NET_CMD_PARALLEL order, steady-clock microseconds,
// written on the fleet's network threads.
std::mutex g_parallelLock;
std::condition_variable g_parallelArrived;
std::int64_t g_parallelAt[kGroupSize] = {};
std::size_t g_parallelCount = 0;

// Waits until `n` group devices have their order; false after `timeout`.
bool waitParallel(std::size_t n, std::chrono::milliseconds timeout) {
    std::unique_lock lock(g_parallelLock);
    return g_parallelArrived.wait_for(lock, timeout, [&] { return g_parallelCount >= n; });
}

std::int64_t lastParallelMicros(std::size_t n) {
    std::int64_t last = 0;
    std::lock_guard lock(g_parallelLock);
    for (std::size_t i = 0; i < n; ++i) last = std::max(last, g_parallelAt[i]);
    return last;
}

void answer(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void paced(simtcp::SimFleet& fleet, double rate, double seconds) {
    const auto gap = std::chrono::duration<double>(1.0 / rate);
    const auto total = static_cast<std::size_t>(rate * seconds);
    const auto start = Clock::now();
    for (std::size_t i = 0; i < total; ++i) {
        // Sleeping to the next slot is the pacing itself.
        std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(gap * i));
        fleet.device(i % fleet.size()).sendStatus(protocol::NET_CMD_STATUS, nowMicros());
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: e2e_fleet PORT COUNT [THREADS]\n");
        return 2;
    }
    const auto port = static_cast<std::uint16_t>(std::atoi(argv[1]));
    const std::size_t count = std::strtoul(argv[2], nullptr, 10);
    const unsigned threads = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 2;
    simtcp::SimFleet fleet("127.0.0.1", port, threads);
    simtcp::Knobs knobs;
    knobs.recordFrames = false;
    knobs.stepDelay = std::chrono::milliseconds(1);
    knobs.statusEachStep = false;
    for (std::size_t i = 0; i < count; ++i) {
        auto config = simtcp::makeDeviceConfig(i, static_cast<std::uint16_t>(1 + i));
        if (i < kGroupSize) {
            config.group = 1;
            config.mode = 0;
            config.number = static_cast<std::uint8_t>(1 + i);
        }
        auto& device = fleet.add(config, knobs);
        if (i < kGroupSize) {
            device.setFrameObserver([i](const simtcp::ReceivedFrame& frame) {
                if (frame.command() != protocol::NET_CMD_PARALLEL) return;
                const auto at = std::chrono::duration_cast<std::chrono::microseconds>(
                                    frame.at.time_since_epoch())
                                    .count();
                {
                    std::lock_guard lock(g_parallelLock);
                    if (g_parallelAt[i] != 0) return;
                    g_parallelAt[i] = at;
                    ++g_parallelCount;
                }
                g_parallelArrived.notify_all();
            });
        }
    }
    fleet.start();

    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        if (command == "flood") {
            int k = 0;
            words >> k;
            for (int round = 0; round < k; ++round) {
                for (std::size_t i = 0; i < fleet.size(); ++i) fleet.device(i).sendStatus();
            }
            answer("sent");
        } else if (command == "paced") {
            double rate = 0;
            double seconds = 0;
            words >> rate >> seconds;
            if (rate > 0 && seconds > 0) paced(fleet, rate, seconds);
            answer("sent");
        } else if (command == "parallel") {
            const std::size_t n = std::min(kGroupSize, fleet.size());
            const bool all = waitParallel(n, std::chrono::seconds(10));
            answer(all ? "parallel " + std::to_string(lastParallelMicros(n)) : "parallel -1");
        } else if (command == "quit") {
            break;
        }
    }
    fleet.stop();
    return 0;
}
