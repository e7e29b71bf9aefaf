// Process helpers of the real-program benchmarks.
#include "bench_process.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace guibench {

long long nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
}

long long nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv,
            const std::string& output) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> env(extraEnv);
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int failed =
        posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        std::fprintf(stderr, "cannot start %s\n", args[0].c_str());
        std::exit(1);
    }
    return pid;
}

std::uint16_t freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t length = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    close(fd);
    return ntohs(a.sin_port);
}

ProbeFile readProbe(const std::string& path, bool details) {
    ProbeFile probe;
    std::ifstream in(path);
    std::string text;
    while (std::getline(in, text)) {
        if (text.rfind("lag ", 0) == 0) {
            if (!details) continue;
            // A period's samples follow its line.
            const long long lineMs = probe.lines.empty() ? 0 : probe.lines.back().ms;
            std::istringstream values(text.substr(4));
            int us = 0;
            while (values >> us) probe.lags.push_back({lineMs, us});
            continue;
        }
        if (text.rfind("shown ", 0) == 0) {
            if (!details) continue;
            ProbeShown shown{};
            if (std::sscanf(text.c_str(), "shown %lld %u %u", &shown.ns, &shown.id, &shown.mask) ==
                3) {
                probe.shown.push_back(shown);
            }
            continue;
        }
        ProbeLine line;
        const int fields = std::sscanf(text.c_str(), "%lld rows=%d lag_max_ms=%lf appended_ms=%lld",
                                       &line.ms, &line.rows, &line.lagMs, &line.appendedMs);
        if (fields >= 3) probe.lines.push_back(line);
    }
    return probe;
}

namespace {

// Fields 14 and 15 of a stat file (utime, stime), after the parenthesised name.
double statSeconds(const std::string& path) {
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    const auto close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::strtoull(field.c_str(), nullptr, 10);
        if (i == 15) stime = std::strtoull(field.c_str(), nullptr, 10);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace

double cpuSeconds(pid_t pid, pid_t tid) {
    const std::string base = "/proc/" + std::to_string(pid);
    return statSeconds(tid ? base + "/task/" + std::to_string(tid) + "/stat" : base + "/stat");
}

double rssMb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string text;
    while (std::getline(in, text)) {
        if (text.rfind("VmRSS:", 0) == 0) return std::strtod(text.c_str() + 6, nullptr) / 1024.0;
    }
    return 0;
}

}  // namespace guibench
