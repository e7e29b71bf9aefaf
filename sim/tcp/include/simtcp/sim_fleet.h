// A fleet of simulated sequencers sharing one I/O context: what tests, demos and load
// benchmarks start against a console.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "simtcp/sim_device.h"

namespace simtcp {

// The loopback address of the index-th device: 127.0.0.2, 127.0.0.3, ... (127.0.1.1 after
// 127.0.0.255; addresses ending in .0 and .255 are skipped).
std::string loopbackAddress(std::size_t index);

// A device with id `id`, named "SIM<id>", connecting from loopbackAddress(index), in no group.
DeviceConfig makeDeviceConfig(std::size_t index, std::uint16_t id);

// How a fleet spreads over switching groups.
enum class GroupMode { Parallel, Serial, Mixed };  // Mixed: odd groups parallel, even serial

// `count` devices with ids from `firstId`, spread round-robin over groups 1..`groups`
// (0: no groups), numbered 1, 2, ... within each group.
std::vector<DeviceConfig> makeFleetConfigs(std::size_t count, std::uint16_t firstId,
                                           unsigned groups, GroupMode mode);

class SimFleet {
public:
    // Devices connect to `host`:`port`; `threads` run the fleet's network I/O.
    SimFleet(std::string host, std::uint16_t port, unsigned threads = 1);
    ~SimFleet();
    SimFleet(const SimFleet&) = delete;
    SimFleet& operator=(const SimFleet&) = delete;

    // Adds a device (not yet connected). The reference stays valid for the fleet's life.
    SimDevice& add(const DeviceConfig& config, const Knobs& knobs = {});
    // Connects every device that has not been connected yet.
    void start();
    // Closes every connection and ends the I/O threads.
    void stop();

    std::size_t size() const { return m_devices.size(); }
    SimDevice& device(std::size_t index) { return *m_devices.at(index); }
    SimDevice* find(std::uint16_t id);
    // Waits until every device satisfies `condition` (a device that satisfied it once is
    // not asked again, so use lasting conditions such as "has registered").
    bool waitAll(const std::function<bool(const SimDevice&)>& condition,
                 std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;

private:
    struct Context;
    std::unique_ptr<Context> m_context;
    std::vector<std::unique_ptr<SimDevice>> m_devices;
    std::vector<bool> m_started;
};

}  // namespace simtcp
