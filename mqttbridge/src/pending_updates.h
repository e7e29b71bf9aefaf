// The newest snapshot of every device and what still has to go to the broker: callers update
// it from any thread, the bridge's thread takes the work in batches.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
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
        std::vector<Work> devices;
        // Id-conflict payloads to publish retained; empty: delete the retained one.
        std::vector<std::pair<std::uint16_t, std::string>> conflicts;
    };

    // Each returns true when nothing was waiting before, i.e. the taker needs a wake-up.
    bool update(const consolecore::DeviceSnapshot& device);
    bool remove(std::uint16_t id);
    // The id's conflict payload (empty: the conflict is over).
    bool conflict(std::uint16_t id, std::string payload);

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

    bool idleLocked() const { return m_queue.empty() && m_conflictsDue.empty(); }
    void enqueueLocked(std::uint16_t id, Device& device);

    mutable std::mutex m_lock;
    std::unordered_map<std::uint16_t, Device> m_devices;
    std::vector<std::uint16_t> m_queue;                // ids with something to send
    std::map<std::uint16_t, std::string> m_conflicts;  // current ones, sent again on resendAll
    std::vector<std::uint16_t> m_conflictsDue;
};

}  // namespace mqttbridge
