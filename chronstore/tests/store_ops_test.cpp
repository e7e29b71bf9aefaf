// Add, change, remove and index checks of the store, and its lock shared by an editor and
// a runner thread.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "chronstore/chronstore.h"
#include "task_fixtures.h"
#include "testkit/wait_for.h"

namespace {

using chronstore_test::makeTask;

class StoreOps : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(InitChronstoreAt(m_dir.path().string())); }
    void TearDown() override { ReleaseChronstore(); }
    testkit::TempDir m_dir;
};

// True when another thread can take the store lock now (the caller must not hold it).
bool lockIsFree() {
    std::atomic<bool> taken{false};
    std::thread other([&] {
        TimTaskGuard guard;
        taken = true;
    });
    const bool ok = testkit::waitFor([&] { return taken.load(); });
    other.join();
    return ok;
}

TEST_F(StoreOps, AddChangeRemoveKeepOrderAndOwnTheirDevices) {
    PlusTTPoint(makeTask("a", 1));
    PlusTTPoint(makeTask("b", 2));
    PlusTTPoint(makeTask("c", 3));
    EXPECT_EQ(GetTTPointCount(), 3);

    TimTaskPoint_ replacement = makeTask("B2", 5, 500);
    replacement.timID = 42;
    replacement.runState = kTaskRunning;
    ModifyTTPoint(1, replacement);
    replacement.devList.clear();  // the store holds its own entries
    RemoveTTPointByIdx(0);

    TimTaskGuard guard;
    ASSERT_EQ(GetTTPointArray().size(), 2u);
    const TimTaskPoint_& first = GetTTPointByIndex(0);
    EXPECT_EQ(GetTimNameUtf8(first), "B2");
    EXPECT_EQ(first.timID, 42);  // timID and runState are overwritten as well
    EXPECT_EQ(first.runState, kTaskRunning);
    ASSERT_EQ(first.devList.size(), 5u);
    EXPECT_EQ(first.devList[4].devID, 504);
    EXPECT_EQ(GetTimNameUtf8(GetTTPointByIndex(1)), "c");
}

TEST_F(StoreOps, StoredRecordsAreMadeConsistent) {
    TimTaskPoint_ task = makeTask("x", 3);
    task.devCount = 99;                           // disagrees with the list
    for (auto& unit : task.timName) unit = u'z';  // no terminator
    PlusTTPoint(task);
    TimTaskGuard guard;
    EXPECT_EQ(GetTTPointByIndex(0).devCount, 3);
    EXPECT_EQ(GetTimName(GetTTPointByIndex(0)).size(), 19u);
}

TEST_F(StoreOps, BadIndexesThrowBeforeAnyChangeAndReleaseTheLock) {
    PlusTTPoint(makeTask("only", 1));
    for (int bad : {-1, 1, 1000}) {
        EXPECT_THROW(GetTTPointByIndex(bad), std::invalid_argument);
        EXPECT_THROW(ModifyTTPoint(bad, makeTask("new", 0)), std::invalid_argument);
        EXPECT_THROW(RemoveTTPointByIdx(bad), std::invalid_argument);
        EXPECT_TRUE(lockIsFree()) << bad;
    }
    EXPECT_EQ(GetTTPointCount(), 1);
    TimTaskGuard guard;
    EXPECT_EQ(GetTimNameUtf8(GetTTPointByIndex(0)), "only");
    EXPECT_EQ(GetTTPointByIndex(0).devList.size(), 1u);
}

TEST_F(StoreOps, LockIsReentrantAndASaveWaitsForTheHolder) {
    PlusTTPoint(makeTask("a", 1));
    std::atomic<bool> saved{false};
    std::thread saver;
    {
        TimTaskGuard outer;
        TimTaskGuard inner;             // same thread again
        PlusTTPoint(makeTask("b", 1));  // and once more inside
        saver = std::thread([&] {
            SaveTimPointToFile();
            saved = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(saved.load());  // blocked on the store lock
    }
    EXPECT_TRUE(testkit::waitFor([&] { return saved.load(); }));
    saver.join();
}

// An editor thread adds, changes, removes and saves while a runner thread sweeps the tasks
// under the lock and writes their run state; counts read without the lock are re-checked.
TEST_F(StoreOps, EditorAndRunnerThreadsShareTheStore) {
    std::atomic<bool> stop{false};
    std::atomic<int> faults{0};
    std::thread runner([&] {
        while (!stop.load()) {
            const int n = GetTTPointCount();
            for (int i = 0; i < n; ++i) {
                TimTaskGuard guard;
                if (i >= GetTTPointCount()) break;
                TimTaskPoint_& task = GetTTPointByIndex(i);
                if (task.devCount != task.devList.size()) ++faults;
                task.runState = task.runState == kTaskRunning ? kTaskEnded : kTaskRunning;
                TimTaskPoint_ copy = task;  // the runner's deep copy
                if (copy.devList.size() != task.devList.size()) ++faults;
            }
        }
    });
    int expected = 0;
    for (int round = 0; round < 300; ++round) {
        PlusTTPoint(makeTask("e", round % 7));
        ++expected;
        if (round % 3 == 0) ModifyTTPoint(0, makeTask("m", round % 5));
        if (round % 4 == 1) {
            RemoveTTPointByIdx(GetTTPointCount() - 1);
            --expected;
        }
        if (round % 50 == 0) {
            EXPECT_TRUE(SaveTimPointToFile());
        }
        {
            TimTaskGuard guard;
            GetTTPointByIndex(0).ttEnable ^= 1;  // the editor flipping a task
        }
    }
    stop = true;
    runner.join();
    EXPECT_EQ(faults.load(), 0);
    EXPECT_EQ(GetTTPointCount(), expected);
}

}  // namespace
