// The process-wide device registry: the id table, the id list and the record map, each
// behind its own re-entrant lock.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "devroster/device_base.h"
#include "devroster/devroster_export.h"

// Id table: device id -> record. Records are shared-owned, so a reader that copied the
// pointer under devMapLock keeps a valid record after the device has left the table; the
// record is freed when the last holder lets go. Record fields are written only under
// devMapLock, so read them under it too (copy what you need, then release).
using DeviceInfoMap = std::unordered_map<std::uint16_t, std::shared_ptr<CDeviceBase>>;
// Id list in order of registration; may hold an id twice.
using DeviceArray = std::vector<std::uint16_t>;
// Record map: id -> record held by value.
using DeviceMap = std::map<std::uint16_t, CDeviceBase>;

// Empty all three containers; InitDevrosterMod at start-up, ReleaseDevroster at exit.
DEVROSTER_EXPORT void InitDevrosterMod();
DEVROSTER_EXPORT void ReleaseDevroster();

// Re-entrant locks, blocking without time-out. No registry function holds two at once.
DEVROSTER_EXPORT void devMapLock();
DEVROSTER_EXPORT void devMapUnLock();
DEVROSTER_EXPORT void devArrayLock();
DEVROSTER_EXPORT void devArrayUnLock();
DEVROSTER_EXPORT void devLock();
DEVROSTER_EXPORT void devUnLock();

// The containers themselves; hold the matching lock while using them.
DEVROSTER_EXPORT DeviceInfoMap& GetDeviceInfoMap();
DEVROSTER_EXPORT DeviceArray& GetDeviceArray();
DEVROSTER_EXPORT DeviceMap* GetDeviceMap();

// Files the record under its id unless the id is present already (then the table keeps its
// record and the caller keeps the new one). Returns whether the record was stored.
DEVROSTER_EXPORT bool PlusDevice(std::shared_ptr<CDeviceBase> device);
// Takes the id out of the table; holders of the record keep it alive.
DEVROSTER_EXPORT void RemoveDevFromObjDevInfoMap(std::uint16_t id);
// Copies every field of `source` into the stored record of `id`, if there is one.
DEVROSTER_EXPORT void UpdateDeviceAllInfo(std::uint16_t id, const CDeviceBase* source);

DEVROSTER_EXPORT void PlusDevtoArray(std::uint16_t id);
// Removes every copy of `id`, keeping the order of the others.
DEVROSTER_EXPORT void RemoveFromDevArray(std::uint16_t id);

// The record map entry for `id` or null; takes no lock (the caller holds devLock).
DEVROSTER_EXPORT CDeviceBase* GetDeviceAccoID(std::uint16_t id);
DEVROSTER_EXPORT void RemoveDeviceFromMap(std::uint16_t id);

// Conveniences over the id table, each taking devMapLock for the look-up only.
// FindDevice hands out shared ownership of the stored record (null when absent);
// CopyDevice returns a copy of its fields made under the lock.
DEVROSTER_EXPORT std::shared_ptr<CDeviceBase> FindDevice(std::uint16_t id);
DEVROSTER_EXPORT std::optional<CDeviceBase> CopyDevice(std::uint16_t id);

// Scoped holders of the three locks.
template <void (*Lock)(), void (*Unlock)()>
class DevLockGuard {
public:
    DevLockGuard() { Lock(); }
    ~DevLockGuard() { Unlock(); }
    DevLockGuard(const DevLockGuard&) = delete;
    DevLockGuard& operator=(const DevLockGuard&) = delete;
};

using DevMapGuard = DevLockGuard<&devMapLock, &devMapUnLock>;
using DevArrayGuard = DevLockGuard<&devArrayLock, &devArrayUnLock>;
using DevGuard = DevLockGuard<&devLock, &devUnLock>;
