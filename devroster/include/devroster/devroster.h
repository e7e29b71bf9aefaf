// The process-wide device registry: one object, one lock, for the id table (device id ->
// record) and the id list (ids in order of registration). Callers get copies or shared
// records; nothing outside holds the lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include "devroster/device_base.h"
#include "devroster/devroster_export.h"

// Records are shared-owned, so a reader keeps a valid record after the device has left the
// table; the record is freed when the last holder lets go. Record fields are written only
// through update(), under the registry's lock, so read them through read() or a copy.
class DEVROSTER_EXPORT DeviceRegistry {
public:
    // Files the record under its id unless the id is present already (then the table keeps its
    // record and the caller keeps the new one). Returns whether the record was stored; a
    // stored record gets the next generation number.
    bool add(std::shared_ptr<CDeviceBase> device);
    // Takes the id out of the table; holders of the record keep it alive.
    void remove(std::uint16_t id);
    // Appends to the id list (which may hold an id twice) / removes every copy of the id.
    void appendId(std::uint16_t id);
    void removeId(std::uint16_t id);
    // Empties the table and the list.
    void clear();

    // The stored record (shared ownership) or null.
    std::shared_ptr<CDeviceBase> find(std::uint16_t id) const;
    // A copy of the stored record's fields, made under the lock.
    std::optional<CDeviceBase> copy(std::uint16_t id) const;
    // The generation the stored record of `id` was filed with (0: none stored).
    std::uint64_t generation(std::uint16_t id) const;
    // Whether `record` is the one stored under `id`.
    bool holds(std::uint16_t id, const CDeviceBase* record) const;
    std::size_t size() const;
    // The id list, in order of registration.
    std::vector<std::uint16_t> ids() const;

    // Runs `reader` on the stored record under the lock; false when there is none. The
    // reader copies what it needs and must not call the registry or anything that waits.
    bool read(std::uint16_t id, const std::function<void(const CDeviceBase&)>& reader) const;
    // The same, with the stored record's shared ownership and generation.
    bool readEntry(std::uint16_t id,
                   const std::function<void(const std::shared_ptr<CDeviceBase>& record,
                                            std::uint64_t generation)>& reader) const;
    // Runs `reader` on a record got from find() earlier, stored or not, under the lock (its
    // fields may still change while it is stored).
    void readHeld(const CDeviceBase& record,
                  const std::function<void(const CDeviceBase&)>& reader) const;
    // The same for changing the record's fields.
    bool update(std::uint16_t id, const std::function<void(CDeviceBase&)>& writer);
    // Every stored record, in no particular order, under the lock (same rules as read()).
    void forEach(const std::function<void(std::uint16_t, const CDeviceBase&)>& visit) const;

private:
    struct Entry {
        std::shared_ptr<CDeviceBase> record;
        std::uint64_t generation = 0;
    };
    mutable std::mutex m_mutex;
    std::unordered_map<std::uint16_t, Entry> m_table;
    std::vector<std::uint16_t> m_ids;
    std::uint64_t m_generations = 0;
};

// The one registry of the process.
DEVROSTER_EXPORT DeviceRegistry& deviceRegistry();

// Entry points over deviceRegistry() kept for their callers.
// Empty the table and the list; InitDevrosterMod at start-up, ReleaseDevroster at exit.
DEVROSTER_EXPORT void InitDevrosterMod();
DEVROSTER_EXPORT void ReleaseDevroster();
DEVROSTER_EXPORT bool PlusDevice(std::shared_ptr<CDeviceBase> device);
DEVROSTER_EXPORT void RemoveDevFromObjDevInfoMap(std::uint16_t id);
DEVROSTER_EXPORT void PlusDevtoArray(std::uint16_t id);
DEVROSTER_EXPORT void RemoveFromDevArray(std::uint16_t id);
DEVROSTER_EXPORT std::shared_ptr<CDeviceBase> FindDevice(std::uint16_t id);
DEVROSTER_EXPORT std::optional<CDeviceBase> CopyDevice(std::uint16_t id);
