// The three process-wide device containers and their locks.
#include <algorithm>
#include <mutex>

#include "devroster/devroster.h"

namespace {

struct Registry {
    std::recursive_mutex mapMutex;
    DeviceInfoMap infoMap;
    std::recursive_mutex arrayMutex;
    DeviceArray array;
    std::recursive_mutex recordMutex;
    DeviceMap recordMap;
};

// Built on first use (thread-safe), lives until the library is unloaded.
Registry& registry() {
    static Registry instance;
    return instance;
}

}  // namespace

void InitDevrosterMod() {
    ReleaseDevroster();
}

void ReleaseDevroster() {
    Registry& r = registry();
    {
        std::lock_guard lock(r.recordMutex);
        r.recordMap.clear();
    }
    {
        // Records leave with their last holder; readers still using one keep it alive.
        DeviceInfoMap dropped;
        {
            std::lock_guard lock(r.mapMutex);
            dropped.swap(r.infoMap);
        }
    }
    {
        std::lock_guard lock(r.arrayMutex);
        DeviceArray().swap(r.array);  // size and capacity 0
    }
}

void devMapLock() {
    registry().mapMutex.lock();
}
void devMapUnLock() {
    registry().mapMutex.unlock();
}
void devArrayLock() {
    registry().arrayMutex.lock();
}
void devArrayUnLock() {
    registry().arrayMutex.unlock();
}
void devLock() {
    registry().recordMutex.lock();
}
void devUnLock() {
    registry().recordMutex.unlock();
}

DeviceInfoMap& GetDeviceInfoMap() {
    return registry().infoMap;
}
DeviceArray& GetDeviceArray() {
    return registry().array;
}
DeviceMap* GetDeviceMap() {
    return &registry().recordMap;
}

bool PlusDevice(std::shared_ptr<CDeviceBase> device) {
    if (!device) return false;
    Registry& r = registry();
    std::lock_guard lock(r.mapMutex);
    const std::uint16_t id = device->GetDeviceID();
    return r.infoMap.try_emplace(id, std::move(device)).second;
}

void RemoveDevFromObjDevInfoMap(std::uint16_t id) {
    Registry& r = registry();
    std::shared_ptr<CDeviceBase> dropped;  // freed after the lock is released
    std::lock_guard lock(r.mapMutex);
    if (auto it = r.infoMap.find(id); it != r.infoMap.end()) {
        dropped = std::move(it->second);
        r.infoMap.erase(it);
    }
}

void UpdateDeviceAllInfo(std::uint16_t id, const CDeviceBase* source) {
    if (source == nullptr) return;
    Registry& r = registry();
    std::lock_guard lock(r.mapMutex);
    if (auto it = r.infoMap.find(id); it != r.infoMap.end() && it->second) {
        it->second->CopyDeviceInfo(source);
    }
}

void PlusDevtoArray(std::uint16_t id) {
    Registry& r = registry();
    std::lock_guard lock(r.arrayMutex);
    r.array.push_back(id);
}

void RemoveFromDevArray(std::uint16_t id) {
    Registry& r = registry();
    std::lock_guard lock(r.arrayMutex);
    std::erase(r.array, id);
}

CDeviceBase* GetDeviceAccoID(std::uint16_t id) {
    DeviceMap& map = registry().recordMap;
    auto it = map.find(id);
    return it == map.end() ? nullptr : &it->second;
}

void RemoveDeviceFromMap(std::uint16_t id) {
    Registry& r = registry();
    std::lock_guard lock(r.recordMutex);
    r.recordMap.erase(id);
}

std::shared_ptr<CDeviceBase> FindDevice(std::uint16_t id) {
    Registry& r = registry();
    std::lock_guard lock(r.mapMutex);
    auto it = r.infoMap.find(id);
    return it == r.infoMap.end() ? nullptr : it->second;
}

std::optional<CDeviceBase> CopyDevice(std::uint16_t id) {
    Registry& r = registry();
    std::lock_guard lock(r.mapMutex);
    auto it = r.infoMap.find(id);
    if (it == r.infoMap.end() || !it->second) return std::nullopt;
    return *it->second;
}
