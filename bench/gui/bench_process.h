// What the real-program benchmarks share: starting vantrel, a free port, reading its probe file
// and its CPU time.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace guibench {

using Clock = std::chrono::steady_clock;

long long nowMs();
long long nowNs();

// Starts a program with `extraEnv` added to this one's environment; its standard output goes
// to `output` (discarded by default). Exits the benchmark when the program cannot start.
pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv,
            const std::string& output = "/dev/null");

std::uint16_t freePort();

// A period line of the program's probe (see console/app/src/gui_probe.h).
struct ProbeLine {
    long long ms = 0;
    int rows = -1;
    double lagMs = 0;
    long long appendedMs = 0;
};

// The probe's period lines; with `details` also its lag samples (us, each with the ms of the
// period line it came with) and its "shown" records.
struct ProbeShown {
    long long ns;
    unsigned id;
    unsigned mask;
};
struct ProbeLag {
    long long lineMs;
    int us;
};
struct ProbeFile {
    std::vector<ProbeLine> lines;
    std::vector<ProbeLag> lags;
    std::vector<ProbeShown> shown;
};
ProbeFile readProbe(const std::string& path, bool details = false);

// Waits until the probe's latest line satisfies `condition`; false after `timeout`.
template <typename Condition>
bool waitProbe(const std::string& path, Condition condition, std::chrono::seconds timeout);

// User plus system CPU time of a process (or, with `tid`, one of its threads), in seconds.
double cpuSeconds(pid_t pid, pid_t tid = 0);
// Resident set size in MB (VmRSS).
double rssMb(pid_t pid);

}  // namespace guibench

#include "bench_process_wait.h"
