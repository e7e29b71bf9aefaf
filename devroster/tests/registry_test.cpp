// The three registry containers: add, remove, update, release, and record lifetime.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "devroster/devroster.h"
#include "testkit/wait_for.h"

namespace {

std::shared_ptr<CDeviceBase> makeDevice(std::uint16_t id, const char* name = "dev") {
    auto d = std::make_shared<CDeviceBase>();
    d->SetDeviceID(id);
    d->SetDeviceName(name);
    return d;
}

class Registry : public ::testing::Test {
protected:
    void SetUp() override { InitDevrosterMod(); }
    void TearDown() override { ReleaseDevroster(); }
};

TEST_F(Registry, PlusDeviceKeepsTheFirstRecordForAnId) {
    auto first = makeDevice(7, "first");
    auto second = makeDevice(7, "second");
    EXPECT_TRUE(PlusDevice(first));
    EXPECT_FALSE(PlusDevice(second));
    EXPECT_FALSE(PlusDevice(nullptr));
    DevMapGuard guard;
    ASSERT_EQ(GetDeviceInfoMap().size(), 1u);
    EXPECT_EQ(GetDeviceInfoMap().at(7), first);
    EXPECT_EQ(GetDeviceInfoMap().at(7)->GetDeviceName(), "first");
    EXPECT_EQ(second.use_count(), 1);  // the caller still owns the rejected record
}

TEST_F(Registry, RemoveFromIdTableLeavesOthersAndIgnoresAbsentIds) {
    PlusDevice(makeDevice(1));
    PlusDevice(makeDevice(2));
    RemoveDevFromObjDevInfoMap(1);
    RemoveDevFromObjDevInfoMap(99);
    DevMapGuard guard;
    ASSERT_EQ(GetDeviceInfoMap().size(), 1u);
    EXPECT_TRUE(GetDeviceInfoMap().contains(2));
}

TEST_F(Registry, UpdateDeviceAllInfoCopiesIntoTheStoredRecordOnly) {
    auto stored = makeDevice(5, "old");
    PlusDevice(stored);
    CDeviceBase status;
    status.SetDeviceID(5);
    status.SetDeviceName("new");
    status.SetLed(3, true);
    status.SetOnOff(true);
    UpdateDeviceAllInfo(5, &status);
    EXPECT_EQ(stored->GetDeviceName(), "new");
    EXPECT_TRUE(stored->GetLed(3));
    EXPECT_TRUE(stored->GetOnOff());

    // Absent id: nothing changes, nothing is added.
    CDeviceBase other;
    other.SetDeviceID(6);
    other.SetDeviceName("ghost");
    UpdateDeviceAllInfo(6, &other);
    UpdateDeviceAllInfo(5, nullptr);
    DevMapGuard guard;
    EXPECT_EQ(GetDeviceInfoMap().size(), 1u);
    EXPECT_FALSE(GetDeviceInfoMap().contains(6));
    EXPECT_EQ(stored->GetDeviceName(), "new");
}

TEST_F(Registry, IdListRemovesEveryCopyAndKeepsOrder) {
    for (std::uint16_t id : {4, 9, 4, 2, 9, 4}) PlusDevtoArray(id);
    RemoveFromDevArray(4);
    {
        DevArrayGuard guard;
        EXPECT_EQ(GetDeviceArray(), (DeviceArray{9, 2, 9}));
    }
    RemoveFromDevArray(77);  // absent: unchanged
    DevArrayGuard guard;
    EXPECT_EQ(GetDeviceArray(), (DeviceArray{9, 2, 9}));
}

TEST_F(Registry, RecordMapLookUpAndErase) {
    {
        DevGuard guard;
        CDeviceBase d;
        d.SetDeviceID(300);
        d.SetNumber(3);
        GetDeviceMap()->emplace(300, d);
        ASSERT_NE(GetDeviceAccoID(300), nullptr);
        EXPECT_EQ(GetDeviceAccoID(300)->GetNumber(), 3);
        EXPECT_EQ(GetDeviceAccoID(301), nullptr);
    }
    RemoveDeviceFromMap(301);
    {
        DevGuard guard;
        EXPECT_EQ(GetDeviceMap()->size(), 1u);
    }
    RemoveDeviceFromMap(300);
    DevGuard guard;
    EXPECT_EQ(GetDeviceAccoID(300), nullptr);
    EXPECT_TRUE(GetDeviceMap()->empty());
}

TEST_F(Registry, ReleaseEmptiesAllContainersAndFreesUnheldRecords) {
    std::weak_ptr<CDeviceBase> unheld;
    {
        auto d = makeDevice(11);
        unheld = d;
        PlusDevice(std::move(d));
    }
    auto held = makeDevice(12);
    PlusDevice(held);
    for (std::uint16_t id = 0; id < 100; ++id) PlusDevtoArray(id);
    {
        DevGuard guard;
        GetDeviceMap()->emplace(11, CDeviceBase{});
    }
    ReleaseDevroster();
    EXPECT_TRUE(unheld.expired());
    EXPECT_EQ(held.use_count(), 1);
    {
        DevMapGuard guard;
        EXPECT_TRUE(GetDeviceInfoMap().empty());
    }
    {
        DevArrayGuard guard;
        EXPECT_EQ(GetDeviceArray().size(), 0u);
        EXPECT_EQ(GetDeviceArray().capacity(), 0u);
    }
    DevGuard guard;
    EXPECT_TRUE(GetDeviceMap()->empty());
}

TEST_F(Registry, RemovedRecordStaysValidForItsReaderAndIsFreedAfterwards) {
    PlusDevice(makeDevice(42, "rack-42"));
    std::shared_ptr<CDeviceBase> reader = FindDevice(42);
    ASSERT_TRUE(reader);
    std::weak_ptr<CDeviceBase> watch = reader;

    RemoveDevFromObjDevInfoMap(42);
    EXPECT_EQ(FindDevice(42), nullptr);
    EXPECT_FALSE(CopyDevice(42).has_value());
    EXPECT_EQ(reader->GetDeviceName(), "rack-42");  // still valid (ASan would flag a free)
    EXPECT_FALSE(watch.expired());

    reader.reset();
    EXPECT_TRUE(watch.expired());
}

TEST_F(Registry, CopyDeviceTakesTheFieldsOfTheStoredRecord) {
    auto d = makeDevice(8, "eight");
    d->SetLed(2, true);
    PlusDevice(d);
    std::optional<CDeviceBase> copy = CopyDevice(8);
    ASSERT_TRUE(copy.has_value());
    EXPECT_EQ(copy->GetDeviceName(), "eight");
    EXPECT_TRUE(copy->GetLed(2));
    d->SetDeviceName("changed");
    EXPECT_EQ(copy->GetDeviceName(), "eight");
}

TEST_F(Registry, LocksAreReentrantAndRegistryCallsWorkUnderThem) {
    DevMapGuard outer;
    DevMapGuard inner;          // same thread again: must not deadlock
    PlusDevice(makeDevice(3));  // takes the lock a third time inside
    EXPECT_EQ(GetDeviceInfoMap().size(), 1u);
    DevArrayGuard arrayOuter;
    DevArrayGuard arrayInner;
    PlusDevtoArray(3);
    DevGuard recOuter;
    DevGuard recInner;
    RemoveDeviceFromMap(3);
}

TEST_F(Registry, HeldIdTableLockBlocksAnotherThreadsAdd) {
    std::atomic<bool> started{false};
    std::atomic<bool> added{false};
    std::thread writer;
    {
        DevMapGuard guard;
        writer = std::thread([&] {
            started = true;
            PlusDevice(makeDevice(17));
            added = true;
        });
        ASSERT_TRUE(testkit::waitFor([&] { return started.load(); }));
        // The writer cannot get past the lock while this thread holds it.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(added.load());
        EXPECT_TRUE(GetDeviceInfoMap().empty());
    }
    EXPECT_TRUE(testkit::waitFor([&] { return added.load(); }));
    writer.join();
    EXPECT_NE(FindDevice(17), nullptr);
}

// While one lock is held by this thread, another thread still gets through the operations
// that take the other two. The held lock is let go before the join, so a lock that is not
// independent fails the test instead of hanging it.
TEST_F(Registry, TheThreeLocksAreIndependent) {
    struct Case {
        const char* held;
        void (*lock)();
        void (*unlock)();
        void (*otherTwo)();
    };
    const Case cases[] = {
        {"devMapLock", devMapLock, devMapUnLock,
         [] {
             PlusDevtoArray(1);       // devArrayLock
             RemoveDeviceFromMap(1);  // devLock
         }},
        {"devArrayLock", devArrayLock, devArrayUnLock,
         [] {
             RemoveDevFromObjDevInfoMap(1);  // devMapLock
             RemoveDeviceFromMap(1);         // devLock
         }},
        {"devLock", devLock, devUnLock,
         [] {
             RemoveDevFromObjDevInfoMap(1);  // devMapLock
             PlusDevtoArray(1);              // devArrayLock
         }},
    };
    for (const Case& c : cases) {
        c.lock();
        std::atomic<bool> done{false};
        std::thread other([&] {
            c.otherTwo();
            done = true;
        });
        EXPECT_TRUE(testkit::waitFor([&] { return done.load(); })) << "holding " << c.held;
        c.unlock();
        other.join();
    }
}

}  // namespace
