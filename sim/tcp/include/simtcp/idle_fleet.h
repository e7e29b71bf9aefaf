// A fleet of idle sequencers for scale runs: each connects from its own loopback address,
// registers (itself and any ids behind it) and answers heartbeats, nothing else. It runs on
// plain epoll loops, one per thread, without per-device strands or timers: a pass reads every
// connection that has bytes once and writes its answers at once, one receive and one send per
// heartbeat, so that tens of thousands of devices cost their console's machine little.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "simtcp/sim_device.h"

namespace simtcp {

struct IdleDeviceCounts {
    bool connected = false;
    unsigned connects = 0;      // successful connections so far
    unsigned closedByPeer = 0;  // connections the console closed
    std::uint64_t heartbeats = 0;
};

class IdleFleet {
public:
    // Devices connect to `host`:`port`; `threads` event loops share them.
    IdleFleet(std::string host, std::uint16_t port, unsigned threads = 1);
    ~IdleFleet();
    IdleFleet(const IdleFleet&) = delete;
    IdleFleet& operator=(const IdleFleet&) = delete;

    // A connection from config.sourceAddress, registering as config.id and then as each id in
    // `behind`, answering heartbeats for all of them. Before start() only.
    void add(const DeviceConfig& config, std::vector<std::uint16_t> behind = {});
    // Connects every device; a connection that fails or is closed is made again 200 ms later.
    void start();
    // Closes every connection and ends the loops.
    void stop();

    std::size_t size() const;
    const DeviceConfig& config(std::size_t index) const;
    IdleDeviceCounts counts(std::size_t index) const;

private:
    struct Device;
    struct Loop;
    std::string m_host;
    std::uint16_t m_port;
    std::vector<std::unique_ptr<Device>> m_devices;
    std::vector<std::unique_ptr<Loop>> m_loops;
};

}  // namespace simtcp
