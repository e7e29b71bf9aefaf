// The number of threads this process runs now, for tests and benchmarks that bound them.
#pragma once

#include <filesystem>

namespace testkit {

inline int processThreads() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task"))
        ++count;
    return count;
}

}  // namespace testkit
