// The template part of bench_process.h.
#pragma once

#include <thread>

namespace guibench {

template <typename Condition>
bool waitProbe(const std::string& path, Condition condition, std::chrono::seconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        const auto probe = readProbe(path);
        if (!probe.lines.empty() && condition(probe.lines.back())) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

}  // namespace guibench
