// The registry: add, remove, update, release, generations and record lifetime.
#include <gtest/gtest.h>

#include <map>

#include "devroster/devroster.h"

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
    DeviceRegistry& registry = deviceRegistry();
};

TEST_F(Registry, PlusDeviceKeepsTheFirstRecordForAnId) {
    auto first = makeDevice(7, "first");
    auto second = makeDevice(7, "second");
    EXPECT_TRUE(PlusDevice(first));
    EXPECT_FALSE(PlusDevice(second));
    EXPECT_FALSE(PlusDevice(nullptr));
    ASSERT_EQ(registry.size(), 1u);
    EXPECT_EQ(registry.find(7), first);
    EXPECT_TRUE(registry.holds(7, first.get()));
    EXPECT_FALSE(registry.holds(7, second.get()));
    EXPECT_EQ(second.use_count(), 1);  // the caller still owns the rejected record
}

TEST_F(Registry, RemoveFromIdTableLeavesOthersAndIgnoresAbsentIds) {
    PlusDevice(makeDevice(1));
    PlusDevice(makeDevice(2));
    RemoveDevFromObjDevInfoMap(1);
    RemoveDevFromObjDevInfoMap(99);
    std::vector<std::uint16_t> left;
    registry.forEach([&](std::uint16_t id, const CDeviceBase&) { left.push_back(id); });
    EXPECT_EQ(left, std::vector<std::uint16_t>{2});
}

// Each stored record gets a new generation: a device that comes back is told apart from the
// record that left.
TEST_F(Registry, EveryStoredRecordGetsANewGeneration) {
    PlusDevice(makeDevice(5));
    const std::uint64_t first = registry.generation(5);
    EXPECT_NE(first, 0u);
    PlusDevice(makeDevice(5));  // refused: the generation stays
    EXPECT_EQ(registry.generation(5), first);
    RemoveDevFromObjDevInfoMap(5);
    EXPECT_EQ(registry.generation(5), 0u);
    PlusDevice(makeDevice(5));
    EXPECT_GT(registry.generation(5), first);
}

TEST_F(Registry, UpdateAndReadReachTheStoredRecordOnly) {
    auto stored = makeDevice(5, "old");
    PlusDevice(stored);
    EXPECT_TRUE(registry.update(5, [](CDeviceBase& d) {
        d.SetDeviceName("new");
        d.SetLed(3, true);
    }));
    EXPECT_FALSE(registry.update(6, [](CDeviceBase& d) { d.SetDeviceName("x"); }));
    std::string name;
    EXPECT_TRUE(registry.read(5, [&](const CDeviceBase& d) { name = d.GetDeviceName(); }));
    EXPECT_EQ(name, "new");
    EXPECT_TRUE(stored->GetLed(3));
    EXPECT_FALSE(registry.read(6, [&](const CDeviceBase&) { name = "absent"; }));
    EXPECT_EQ(name, "new");
}

TEST_F(Registry, IdListRemovesEveryCopyAndKeepsOrder) {
    for (std::uint16_t id : {4, 9, 4, 2, 9}) PlusDevtoArray(id);
    RemoveFromDevArray(9);
    EXPECT_EQ(registry.ids(), (std::vector<std::uint16_t>{4, 4, 2}));
}

TEST_F(Registry, ReleaseEmptiesTableAndListAndFreesUnheldRecords) {
    std::weak_ptr<CDeviceBase> unheld;
    {
        auto d = makeDevice(11);
        unheld = d;
        PlusDevice(std::move(d));
    }
    auto held = makeDevice(12);
    PlusDevice(held);
    for (std::uint16_t id = 0; id < 100; ++id) PlusDevtoArray(id);
    ReleaseDevroster();
    EXPECT_TRUE(unheld.expired());
    EXPECT_EQ(held.use_count(), 1);
    EXPECT_EQ(registry.size(), 0u);
    EXPECT_TRUE(registry.ids().empty());
}

TEST_F(Registry, RemovedRecordStaysValidForItsReaderAndIsFreedAfterwards) {
    PlusDevice(makeDevice(42, "rack-42"));
    std::shared_ptr<CDeviceBase> reader = FindDevice(42);
    ASSERT_TRUE(reader);
    std::weak_ptr<CDeviceBase> watch = reader;

    RemoveDevFromObjDevInfoMap(42);
    EXPECT_EQ(FindDevice(42), nullptr);
    EXPECT_FALSE(CopyDevice(42).has_value());
    std::string name;
    registry.readHeld(*reader, [&](const CDeviceBase& d) { name = d.GetDeviceName(); });
    EXPECT_EQ(name, "rack-42");  // still valid (ASan would flag a free)
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
    registry.update(8, [](CDeviceBase& r) { r.SetDeviceName("changed"); });
    EXPECT_EQ(copy->GetDeviceName(), "eight");
}

}  // namespace
