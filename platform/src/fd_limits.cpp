// Soft and hard descriptor limits.
#include "platform/fd_limits.h"

#include <sys/resource.h>

#include <limits>

namespace platform {

namespace {

std::uint64_t asLimit(rlim_t value) {
    if (value == RLIM_INFINITY) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(value);
}

}  // namespace

std::uint64_t raiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return descriptorLimit();
    if (limit.rlim_cur != limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) return asLimit(raised.rlim_cur);
    }
    return asLimit(limit.rlim_cur);
}

std::uint64_t descriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return std::numeric_limits<std::uint64_t>::max();
    return asLimit(limit.rlim_cur);
}

bool intoDescriptorReserve(int fd, std::uint64_t reserve) {
    if (fd < 0) return true;
    const std::uint64_t limit = descriptorLimit();
    if (limit == std::numeric_limits<std::uint64_t>::max()) return false;
    const auto used = static_cast<std::uint64_t>(fd) + 1;
    return used + reserve > limit;
}

}  // namespace platform
