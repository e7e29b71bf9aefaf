// The switching-group tables: filing, re-filing, removal, and the selection dialogs' logic.
#include <gtest/gtest.h>

#include <thread>

#include "consolecore/group_selection.h"
#include "consolecore/switching_groups.h"

using namespace consolecore;

namespace {

class SwitchingGroupsTest : public ::testing::Test {
protected:
    void SetUp() override { groups().reset(); }
    static SwitchingGroups& groups() { return switchingGroups(); }
    static int entriesOf(std::uint32_t id) {
        int n = 0;
        for (GroupKind kind : {GroupKind::Serial, GroupKind::Parallel})
            for (int g = 1; g <= MAX_GROUP_NUMBER; ++g)
                for (const auto& e : groups().devices(kind, g)) n += e.deviceId == id;
        return n;
    }
};

TEST_F(SwitchingGroupsTest, GroupsAreNumberedAndNamedLink1ToLink6) {
    for (int i = 0; i < MAX_GROUP_NUMBER; ++i) {
        EXPECT_EQ(groups().group(GroupKind::Serial, i + 1).groupNumber, i + 1);
        EXPECT_EQ(groups().group(GroupKind::Parallel, i + 1).groupNumber, i + 1);
        EXPECT_EQ(groups().group(GroupKind::Serial, i + 1).name, "Link" + std::to_string(i + 1));
        EXPECT_EQ(groups().group(GroupKind::Parallel, i + 1).name, "Link" + std::to_string(i + 1));
        EXPECT_EQ(groups().group(GroupKind::Serial, i + 1).direction, 0);
    }
}

TEST_F(SwitchingGroupsTest, RegistrationFilesByModeAndIgnoresBadGroupOrMode) {
    groups().fileRegistered(10, 3, 1, 2, 0);
    groups().fileRegistered(11, 3, 0, 1, 1);
    groups().fileRegistered(12, 3, 2, 1, 0);  // mode 2: no group list
    groups().fileRegistered(13, 0, 0, 1, 0);
    groups().fileRegistered(14, 7, 1, 1, 0);
    ASSERT_EQ(groups().devices(GroupKind::Serial, 3).size(), 1u);
    EXPECT_EQ(groups().devices(GroupKind::Serial, 3)[0].deviceId, 10u);
    EXPECT_EQ(groups().devices(GroupKind::Serial, 3)[0].number, 2);
    ASSERT_EQ(groups().devices(GroupKind::Parallel, 3).size(), 1u);
    EXPECT_EQ(groups().devices(GroupKind::Parallel, 3)[0].onOff, 1);
    EXPECT_EQ(entriesOf(12) + entriesOf(13) + entriesOf(14), 0);
}

TEST_F(SwitchingGroupsTest, StatusMovesSerialDeviceToParallelWithFreshEntry) {
    groups().fileRegistered(10, 3, 1, 2, 0);
    groups().devices(GroupKind::Serial, 3)[0].handled = 1;
    groups().refileOnStatus(10, 3, 0, 2, 1, 0);
    EXPECT_TRUE(groups().devices(GroupKind::Serial, 3).empty());
    ASSERT_EQ(groups().devices(GroupKind::Parallel, 3).size(), 1u);
    EXPECT_EQ(groups().devices(GroupKind::Parallel, 3)[0].handled, 0);
    EXPECT_EQ(groups().devices(GroupKind::Parallel, 3)[0].onOff, 1);
}

TEST_F(SwitchingGroupsTest, StatusWithGroupZeroOrSevenRemovesEverywhere) {
    groups().fileRegistered(10, 1, 1, 1, 0);
    groups().refileOnStatus(10, 0, 1, 1, 0, 0);
    EXPECT_EQ(entriesOf(10), 0);
    groups().fileRegistered(10, 1, 1, 1, 0);
    groups().refileOnStatus(10, 7, 1, 1, 0, 0);
    EXPECT_EQ(entriesOf(10), 0);
}

TEST_F(SwitchingGroupsTest, StatusMovesDeviceToEndAndKeepsOneEntry) {
    groups().fileRegistered(1, 2, 1, 1, 0);
    groups().fileRegistered(2, 2, 1, 2, 0);
    groups().refileOnStatus(1, 2, 1, 1, 1, 3);
    const auto& list = groups().devices(GroupKind::Serial, 2);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].deviceId, 2u);
    EXPECT_EQ(list[1].deviceId, 1u);
    EXPECT_EQ(entriesOf(1), 1);
}

TEST_F(SwitchingGroupsTest, SerialProgressFollowsDirection) {
    groups().fileRegistered(1, 2, 1, 1, 0);
    groups().addSerialRecord({2, 1, 0, {1}});
    groups().setDirection(GroupKind::Serial, 2, 1);
    groups().refileOnStatus(1, 2, 1, 1, 1, 16);
    EXPECT_EQ(groups().findSerialRecord(2)->progress, 16);
    groups().setDirection(GroupKind::Serial, 2, 0);
    groups().refileOnStatus(1, 2, 1, 1, 0, 0);
    EXPECT_EQ(groups().findSerialRecord(2)->progress, 1);
}

TEST_F(SwitchingGroupsTest, FindGroupOfTakesFirstGroupInTableOrder) {
    groups().devices(GroupKind::Serial, 5).push_back({9, 0, 1, 0});
    groups().devices(GroupKind::Serial, 2).push_back({9, 0, 1, 0});
    EXPECT_EQ(groups().findGroupOf(GroupKind::Serial, 9), 2);
    EXPECT_FALSE(groups().findGroupOf(GroupKind::Parallel, 9).has_value());
}

TEST_F(SwitchingGroupsTest, SelectionListsDevicesInWrongStateOnly) {
    groups().fileRegistered(5, 2, 1, 1, 0);
    groups().fileRegistered(9, 2, 1, 2, 1);
    groups().fileRegistered(11, 2, 1, 3, 0);
    GroupSelectionModel model(GroupKind::Serial, 1);
    EXPECT_EQ(model.hintText(), "打开操作只能操作关闭状态的设备");
    ASSERT_EQ(model.groupRows().size(), 6u);
    EXPECT_EQ(model.groupRows()[1].name, "Link2");
    const auto& rows = model.selectGroup(1);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].position, 1);
    EXPECT_EQ(rows[0].deviceId, 5u);
    EXPECT_EQ(rows[1].position, 2);
    EXPECT_EQ(rows[1].deviceId, 11u);
    EXPECT_EQ(model.result(), 2);
}

TEST_F(SwitchingGroupsTest, SelectionOfGroupAlreadyInStateGivesMinusOne) {
    groups().fileRegistered(5, 2, 0, 1, 1);
    groups().fileRegistered(6, 2, 0, 2, 1);
    GroupSelectionModel model(GroupKind::Parallel, 1);
    model.selectGroup(1);
    EXPECT_TRUE(model.deviceRows().empty());
    EXPECT_EQ(model.result(), -1);
    GroupSelectionModel offModel(GroupKind::Parallel, 0);
    EXPECT_EQ(offModel.hintText(), "关闭操作只能操作打开状态的设备");
    EXPECT_EQ(offModel.selectGroup(1).size(), 2u);
    EXPECT_EQ(offModel.result(), 2);
    // Selecting a group without devices after a good one resets the result.
    offModel.selectGroup(4);
    EXPECT_EQ(offModel.result(), -1);
}

// The receive thread re-files devices while the GUI thread reads selections: with the one
// lock, every snapshot sees each device exactly once.
TEST_F(SwitchingGroupsTest, ConcurrentRefilingAndSelectionStayConsistent) {
    for (std::uint32_t id = 1; id <= 20; ++id) groups().fileRegistered(id, 1, 1, id, 0);
    std::atomic<bool> stop{false};
    std::thread receiver([&] {
        std::uint8_t mode = 0;
        while (!stop) {
            for (std::uint32_t id = 1; id <= 20; ++id) {
                auto guard = groups().lock();
                groups().refileOnStatus(id, 1, mode, static_cast<std::uint8_t>(id), 0, 0);
            }
            mode ^= 1;
        }
    });
    for (int i = 0; i < 300; ++i) {
        auto guard = groups().lock();
        const auto total = groups().devices(GroupKind::Serial, 1).size() +
                           groups().devices(GroupKind::Parallel, 1).size();
        ASSERT_EQ(total, 20u);
    }
    stop = true;
    receiver.join();
}

}  // namespace
