// The process's descriptor limit: raised once at start, read before taking on more sockets.
#pragma once

#include <cstdint>

namespace platform {

// Raises the soft RLIMIT_NOFILE to the hard limit. Returns the soft limit now in force
// (unchanged when raising fails); UINT64_MAX when unlimited.
std::uint64_t raiseDescriptorLimit();

// The soft RLIMIT_NOFILE; UINT64_MAX when unlimited or unreadable.
std::uint64_t descriptorLimit();

// True when descriptor `fd`, just opened, leaves fewer than `reserve` descriptors below the
// soft limit. New descriptors take the lowest free number, so every number below `fd` is in
// use and at most limit - fd - 1 remain.
bool intoDescriptorReserve(int fd, std::uint64_t reserve);

}  // namespace platform
