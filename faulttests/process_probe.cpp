// Resource read-outs from /proc/self and getrusage.
#include "process_probe.h"

#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace faulttest {

namespace {

std::size_t entries(const char* folder) {
    std::size_t n = 0;
    std::error_code error;
    for (auto it = std::filesystem::directory_iterator(folder, error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        ++n;
    }
    return n;
}

}  // namespace

std::size_t openDescriptors() {
    // The iterator's own descriptor is counted too, the same way every time.
    return entries("/proc/self/fd");
}

std::string describeDescriptors() {
    std::string text;
    std::error_code error;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd", error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        std::error_code linkError;
        const auto target = std::filesystem::read_symlink(it->path(), linkError);
        text += it->path().filename().string() + " -> " + target.string() + "\n";
    }
    return text;
}

std::size_t threadCount() {
    return entries("/proc/self/task");
}

std::size_t residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stoul(line.substr(6));
    }
    return 0;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool residentMemoryIsMeaningful() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return false;
#else
    return true;
#endif
#else
    return true;
#endif
}

}  // namespace faulttest
