// The least a console can spend on a heartbeat round trip on this machine: one thread, one
// epoll set, one send per heartbeat and one receive per answer, and nothing else (no
// supervision, no log, no pacing but the heartbeat grid). Measured like the program, its CPU
// per round trip is the floor that the kernel's loopback TCP sets for any design that keeps
// one connection per device and plain socket calls.
#pragma once

#include <cstdint>

namespace guibench {

// Serves heartbeats on `port` of every address until killed, to fleets of one device per
// connection: a registration gets a heartbeat
// at once, every answer the next one 250 ms later, on a grid of 10 ms steps like the
// program's. Returns only when it cannot listen (1).
int runHeartbeatFloor(std::uint16_t port);

}  // namespace guibench
