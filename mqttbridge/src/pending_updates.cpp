// Coalescing of device updates between callers and the bridge's thread.
#include "pending_updates.h"

#include <algorithm>

namespace mqttbridge {

void PendingUpdates::enqueueLocked(std::uint16_t id, Device& device) {
    if (device.queued) return;
    device.queued = true;
    m_queue.push_back(id);
}

bool PendingUpdates::update(const consolecore::DeviceSnapshot& device) {
    std::lock_guard guard(m_lock);
    const bool wasIdle = idleLocked();
    auto [it, added] = m_devices.try_emplace(device.id);
    auto& entry = it->second;
    if (!added && entry.snapshot.name != device.name) entry.discoveryDue = true;
    entry.snapshot = device;
    entry.removed = false;
    enqueueLocked(device.id, entry);
    return wasIdle;
}

bool PendingUpdates::remove(std::uint16_t id) {
    std::lock_guard guard(m_lock);
    const auto it = m_devices.find(id);
    if (it == m_devices.end()) return false;
    const bool wasIdle = idleLocked();
    it->second.removed = true;
    enqueueLocked(id, it->second);
    return wasIdle;
}

bool PendingUpdates::conflict(std::uint16_t id, std::string payload) {
    std::lock_guard guard(m_lock);
    const bool wasIdle = idleLocked();
    if (payload.empty()) {
        m_conflicts.erase(id);
    } else {
        m_conflicts[id] = std::move(payload);
    }
    if (std::find(m_conflictsDue.begin(), m_conflictsDue.end(), id) == m_conflictsDue.end()) {
        m_conflictsDue.push_back(id);
    }
    return wasIdle;
}

PendingUpdates::Batch PendingUpdates::take() {
    Batch batch;
    std::lock_guard guard(m_lock);
    for (const auto id : m_conflictsDue) {
        const auto it = m_conflicts.find(id);
        batch.conflicts.emplace_back(id, it == m_conflicts.end() ? std::string() : it->second);
    }
    m_conflictsDue.clear();
    batch.devices.reserve(m_queue.size());
    for (const auto id : m_queue) {
        const auto it = m_devices.find(id);
        if (it == m_devices.end() || !it->second.queued) continue;
        auto& device = it->second;
        device.queued = false;
        batch.devices.push_back({device.snapshot, device.discoveryDue});
        if (device.removed) batch.devices.back().snapshot.online = false;
        device.discoveryDue = false;
    }
    m_queue.clear();
    return batch;
}

void PendingUpdates::resendAll() {
    std::lock_guard guard(m_lock);
    for (const auto& [id, payload] : m_conflicts) {
        if (std::find(m_conflictsDue.begin(), m_conflictsDue.end(), id) == m_conflictsDue.end()) {
            m_conflictsDue.push_back(id);
        }
    }
    for (auto& [id, device] : m_devices) {
        device.discoveryDue = true;
        enqueueLocked(id, device);
    }
}

bool PendingUpdates::holds(std::uint16_t id) const {
    std::lock_guard guard(m_lock);
    const auto it = m_devices.find(id);
    return it != m_devices.end() && !it->second.removed;
}

}  // namespace mqttbridge
