// The newest snapshot of every device and what still has to go to the broker: callers update
// it from any thread, the bridge's thread takes the work in batches.
#pragma once

#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "consolecore/device_snapshot.h"

namespace mqttbridge {

class PendingUpdates {
public:
    struct Work {
        consolecore::DeviceSnapshot snapshot;  // online=false once removed
        bool discovery;                        // new, renamed, or after a reconnect
    };
    struct Batch {
        std::vector<std::uint16_t> forgotten;  // ids whose retained topics are to be deleted
        std::vector<Work> devices;
    };

    // Each returns true when nothing was waiting before, i.e. the taker needs a wake-up.
    bool update(const consolecore::DeviceSnapshot& device);
    bool remove(std::uint16_t id);
    bool forget(std::uint16_t id);

    Batch take();
    // Every device again, with its discovery (the broker may have lost what it retained).
    void resendAll();
    // Published and not removed.
    bool holds(std::uint16_t id) const;

private:
    struct Device {
        consolecore::DeviceSnapshot snapshot;
        bool removed = false;
        bool queued = false;
        bool discoveryDue = true;
    };

    bool idleLocked() const { return m_queue.empty() && m_forgotten.empty(); }
    void enqueueLocked(std::uint16_t id, Device& device);

    mutable std::mutex m_lock;
    std::unordered_map<std::uint16_t, Device> m_devices;
    std::vector<std::uint16_t> m_queue;  // ids with something to send
    std::vector<std::uint16_t> m_forgotten;
};

}  // namespace mqttbridge
