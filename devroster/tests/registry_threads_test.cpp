// Registry under concurrent writers and readers: invariants hold, records are freed once
// the last holder lets go (run under ASan and TSan as well).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "devroster/devroster.h"

namespace {

constexpr int kWriters = 3;
constexpr int kReaders = 3;
constexpr int kIdsPerWriter = 40;
constexpr int kRounds = 1500;

std::string nameFor(std::uint16_t id) {
    return "d" + std::to_string(id);
}

struct WriterResult {
    std::set<std::uint16_t> present;
    std::vector<std::pair<std::uint16_t, std::weak_ptr<CDeviceBase>>> created;
};

void writerLoop(int writer, WriterResult& out) {
    const auto base = static_cast<std::uint16_t>(1000 * (writer + 1));
    for (int round = 0; round < kRounds; ++round) {
        const auto id = static_cast<std::uint16_t>(base + (round * 7) % kIdsPerWriter);
        if (out.present.contains(id)) {
            RemoveDevFromObjDevInfoMap(id);
            RemoveFromDevArray(id);
            out.present.erase(id);
        } else {
            auto d = std::make_shared<CDeviceBase>();
            d->SetDeviceID(id);
            d->SetDeviceName(nameFor(id));
            out.created.emplace_back(id, d);
            ASSERT_TRUE(PlusDevice(std::move(d)));
            PlusDevtoArray(id);
            out.present.insert(id);
            // A status update as the command channel does it, in place under the lock.
            deviceRegistry().update(id, [round](CDeviceBase& record) {
                record.SetLed(static_cast<std::uint8_t>(round % 16), true);
            });
        }
    }
}

// Returns the number of inconsistencies seen.
int readerLoop(const std::atomic<bool>& stop, int seed) {
    int faults = 0;
    std::vector<std::shared_ptr<CDeviceBase>> held;
    unsigned next = static_cast<unsigned>(seed);
    while (!stop.load()) {
        deviceRegistry().forEach([&faults](std::uint16_t id, const CDeviceBase& record) {
            if (record.GetDeviceID() != id || record.GetDeviceName() != nameFor(id)) ++faults;
        });
        for (std::uint16_t id : deviceRegistry().ids()) {
            if (id < 1000 || id >= 1000 * (kWriters + 1)) ++faults;
        }
        next = next * 1103515245u + 12345u;
        const auto id =
            static_cast<std::uint16_t>(1000 * (1 + next % kWriters) + (next >> 8) % kIdsPerWriter);
        if (auto record = FindDevice(id)) held.push_back(std::move(record));
        if (held.size() > 8) {
            // Records kept across their removal: still readable under the lock.
            for (const auto& record : held) {
                deviceRegistry().readHeld(*record, [&faults](const CDeviceBase& r) {
                    if (r.GetDeviceName() != nameFor(r.GetDeviceID())) ++faults;
                });
            }
            held.clear();
        }
    }
    return faults;
}

TEST(RegistryThreads, ConcurrentAddRemoveAndReadKeepTheContainersConsistent) {
    InitDevrosterMod();
    std::atomic<bool> stop{false};
    std::vector<WriterResult> results(kWriters);
    std::vector<int> readerFaults(kReaders, 0);

    std::vector<std::thread> readers;
    for (int r = 0; r < kReaders; ++r)
        readers.emplace_back([&, r] { readerFaults[r] = readerLoop(stop, r + 1); });
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) writers.emplace_back([&, w] { writerLoop(w, results[w]); });
    for (auto& t : writers) t.join();
    stop = true;
    for (auto& t : readers) t.join();

    for (int r = 0; r < kReaders; ++r) EXPECT_EQ(readerFaults[r], 0) << "reader " << r;

    std::set<std::uint16_t> expected;
    for (const auto& result : results)
        expected.insert(result.present.begin(), result.present.end());
    {
        std::set<std::uint16_t> inTable;
        deviceRegistry().forEach(
            [&inTable](std::uint16_t id, const CDeviceBase&) { inTable.insert(id); });
        EXPECT_EQ(inTable, expected);
    }
    {
        std::vector<std::uint16_t> ids = deviceRegistry().ids();
        std::sort(ids.begin(), ids.end());
        EXPECT_EQ(std::set<std::uint16_t>(ids.begin(), ids.end()), expected);
        EXPECT_EQ(ids.size(), expected.size());  // no id twice
    }

    // Every removed record is freed; every record still filed is alive.
    for (const auto& result : results) {
        std::set<std::uint16_t> live;
        for (const auto& [id, weak] : result.created) {
            if (!weak.expired()) {
                EXPECT_TRUE(result.present.contains(id)) << id;
                EXPECT_TRUE(live.insert(id).second) << "two live records for " << id;
            }
        }
        EXPECT_EQ(live, result.present);
    }

    ReleaseDevroster();
    for (const auto& result : results)
        for (const auto& entry : result.created) EXPECT_TRUE(entry.second.expired());
}

}  // namespace
