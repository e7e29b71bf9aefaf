// The process-wide device registry behind its one lock.
#include <algorithm>

#include "devroster/devroster.h"

bool DeviceRegistry::add(std::shared_ptr<CDeviceBase> device) {
    if (!device) return false;
    std::lock_guard lock(m_mutex);
    const std::uint16_t id = device->GetDeviceID();
    return m_table.try_emplace(id, Entry{std::move(device), ++m_generations}).second;
}

void DeviceRegistry::remove(std::uint16_t id) {
    std::shared_ptr<CDeviceBase> dropped;  // freed after the lock is released
    std::lock_guard lock(m_mutex);
    if (auto it = m_table.find(id); it != m_table.end()) {
        dropped = std::move(it->second.record);
        m_table.erase(it);
    }
}

void DeviceRegistry::appendId(std::uint16_t id) {
    std::lock_guard lock(m_mutex);
    m_ids.push_back(id);
}

void DeviceRegistry::removeId(std::uint16_t id) {
    std::lock_guard lock(m_mutex);
    std::erase(m_ids, id);
}

void DeviceRegistry::clear() {
    // Records leave with their last holder; readers still using one keep it alive.
    std::unordered_map<std::uint16_t, Entry> dropped;
    std::vector<std::uint16_t> ids;
    std::lock_guard lock(m_mutex);
    dropped.swap(m_table);
    ids.swap(m_ids);  // size and capacity 0
}

std::shared_ptr<CDeviceBase> DeviceRegistry::find(std::uint16_t id) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_table.find(id);
    return it == m_table.end() ? nullptr : it->second.record;
}

std::optional<CDeviceBase> DeviceRegistry::copy(std::uint16_t id) const {
    std::optional<CDeviceBase> result;
    read(id, [&result](const CDeviceBase& record) { result = record; });
    return result;
}

std::uint64_t DeviceRegistry::generation(std::uint16_t id) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_table.find(id);
    return it == m_table.end() ? 0 : it->second.generation;
}

bool DeviceRegistry::holds(std::uint16_t id, const CDeviceBase* record) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_table.find(id);
    return it != m_table.end() && it->second.record.get() == record;
}

std::size_t DeviceRegistry::size() const {
    std::lock_guard lock(m_mutex);
    return m_table.size();
}

std::vector<std::uint16_t> DeviceRegistry::ids() const {
    std::lock_guard lock(m_mutex);
    return m_ids;
}

bool DeviceRegistry::read(std::uint16_t id,
                          const std::function<void(const CDeviceBase&)>& reader) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_table.find(id);
    if (it == m_table.end() || !it->second.record) return false;
    reader(*it->second.record);
    return true;
}

bool DeviceRegistry::readEntry(
    std::uint16_t id,
    const std::function<void(const std::shared_ptr<CDeviceBase>&, std::uint64_t)>& reader) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_table.find(id);
    if (it == m_table.end() || !it->second.record) return false;
    reader(it->second.record, it->second.generation);
    return true;
}

void DeviceRegistry::readHeld(const CDeviceBase& record,
                              const std::function<void(const CDeviceBase&)>& reader) const {
    std::lock_guard lock(m_mutex);
    reader(record);
}

bool DeviceRegistry::update(std::uint16_t id, const std::function<void(CDeviceBase&)>& writer) {
    std::lock_guard lock(m_mutex);
    const auto it = m_table.find(id);
    if (it == m_table.end() || !it->second.record) return false;
    writer(*it->second.record);
    return true;
}

void DeviceRegistry::forEach(
    const std::function<void(std::uint16_t, const CDeviceBase&)>& visit) const {
    std::lock_guard lock(m_mutex);
    for (const auto& [id, entry] : m_table) {
        if (entry.record) visit(id, *entry.record);
    }
}

DeviceRegistry& deviceRegistry() {
    // Built on first use (thread-safe), lives until the library is unloaded.
    static DeviceRegistry instance;
    return instance;
}

void InitDevrosterMod() {
    deviceRegistry().clear();
}
void ReleaseDevroster() {
    deviceRegistry().clear();
}
bool PlusDevice(std::shared_ptr<CDeviceBase> device) {
    return deviceRegistry().add(std::move(device));
}
void RemoveDevFromObjDevInfoMap(std::uint16_t id) {
    deviceRegistry().remove(id);
}
void PlusDevtoArray(std::uint16_t id) {
    deviceRegistry().appendId(id);
}
void RemoveFromDevArray(std::uint16_t id) {
    deviceRegistry().removeId(id);
}
std::shared_ptr<CDeviceBase> FindDevice(std::uint16_t id) {
    return deviceRegistry().find(id);
}
std::optional<CDeviceBase> CopyDevice(std::uint16_t id) {
    return deviceRegistry().copy(id);
}
