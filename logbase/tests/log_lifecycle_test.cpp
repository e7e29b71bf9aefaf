// The writer under concurrent callers, lines logged while closed, and storing at exit.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "log_test_support.h"

namespace {

using logtest::countRows;
using logtest::queryRows;
using logtest::Rows;

// Stores (and so empties) whatever earlier tests left in the backlog.
void drainBacklog() {
    testkit::TempDir scratch;
    ASSERT_TRUE(InitLogbaseModule(scratch.path().string(), "scratch.db3"));
    ReleaseLogbaseModule();
}

class LogConcurrencyTest : public logtest::LogStoreFixture {};

TEST_F(LogConcurrencyTest, EightThreadsLoseNothingAndNoLineIsDuplicated) {
    constexpr int kThreads = 8;
    constexpr int kPerThread = 2500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kPerThread; ++i) {
                InsertLogOb("%d,%d,'thread %d line %d: it''s'", 2, 1 + (i % 8), t, i);
                // Queries interleave with the inserts, as the viewer would.
                if (t == 0 && i % 500 == 0) {
                    LogObLockLogbase();
                    const auto statement = LogObQueryStatement("select count(*) from Log");
                    LogObUnlockLogbase();
                    EXPECT_NE(statement, nullptr);
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(countRows(), kThreads * kPerThread);
    EXPECT_EQ(queryRows("select count(distinct LogContent) from Log"),
              (Rows{{std::to_string(kThreads * kPerThread)}}));
    EXPECT_EQ(countRows("where LogContent = 'thread 7 line 2499: it''''s'"), 1);
}

TEST_F(LogConcurrencyTest, ReleaseStoresEverythingLoggedBeforeIt) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 1000; ++i) InsertLogOb("%d,%d,'%d-%d'", 2, 8, t, i);
        });
    }
    for (auto& thread : threads) thread.join();
    ReleaseLogbaseModule();  // no query flushed anything yet
    ASSERT_TRUE(InitLogbaseModule(m_dir.path().string(), logtest::kDbName));
    EXPECT_EQ(countRows(), 4000);
}

// The service watchdog's question: the writer answers while the store is open, idle or busy,
// and nobody does once it is closed.
TEST_F(LogConcurrencyTest, WriterAnswersWhileOpenAndNotOnceReleased) {
    using namespace std::chrono_literals;
    EXPECT_TRUE(LogObWriterAnswers(10s));
    for (int i = 0; i < 2000; ++i) InsertLogOb("%d,%d,'busy %d'", 2, 8, i);
    EXPECT_TRUE(LogObWriterAnswers(10s));
    ReleaseLogbaseModule();
    EXPECT_FALSE(LogObWriterAnswers(10ms));
}

TEST(LogBacklogTest, LinesLoggedBeforeOpeningAreStoredWhenItOpens) {
    drainBacklog();
    SetLogbaseClock(&logtest::fakeNow);
    logtest::setLocalTime(2024, 3, 6, 8, 0, 0);
    InsertLogOb("%d,%d,'%s'", 1, 1, "before open");
    testkit::TempDir dir;
    logtest::setLocalTime(2024, 3, 6, 8, 0, 9);
    ASSERT_TRUE(InitLogbaseModule(dir.path().string(), logtest::kDbName));
    InsertLogOb("%d,%d,'%s'", 1, 8, "after open");
    EXPECT_EQ(queryRows("select LogCreateTime, LogContent from Log"),
              (Rows{{"08:00:00", "before open"}, {"08:00:09", "after open"}}));
    ReleaseLogbaseModule();
    SetLogbaseClock(nullptr);
}

TEST(LogBacklogTest, BacklogIsBoundedAndKeepsTheEarliestLines) {
    drainBacklog();
    constexpr int kLogged = 10000 + 250;
    for (int i = 0; i < kLogged; ++i) InsertLogOb("%d,%d,'early %d'", 1, 1, i);
    testkit::TempDir dir;
    ASSERT_TRUE(InitLogbaseModule(dir.path().string(), logtest::kDbName));
    EXPECT_EQ(countRows(), 10000);
    EXPECT_EQ(countRows("where LogContent = 'early 0'"), 1);
    EXPECT_EQ(countRows("where LogContent = 'early 9999'"), 1);
    EXPECT_EQ(countRows("where LogContent = 'early 10000'"), 0);
    // Once open, there is no bound.
    for (int i = 0; i < 10500; ++i) InsertLogOb("%d,%d,'open %d'", 1, 1, i);
    EXPECT_EQ(countRows("where LogContent like 'open %'"), 10500);
    ReleaseLogbaseModule();
}

TEST(LogProcessTest, LinesOfAProcessThatExitsWithoutReleaseAreKept) {
    drainBacklog();
    testkit::TempDir dir;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The child never releases: exit itself must store the queue.
        if (!InitLogbaseModule(dir.path().string(), logtest::kDbName)) _exit(3);
        for (int i = 0; i < 3000; ++i) InsertLogOb("%d,%d,'child %d'", 2, 7, i);
        std::exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);

    ASSERT_TRUE(InitLogbaseModule(dir.path().string(), logtest::kDbName));
    EXPECT_EQ(countRows(), 3000);
    EXPECT_EQ(countRows("where LogContent = 'child 2999' AND LogType = 2 AND LogChildType = 7"), 1);
    ReleaseLogbaseModule();
}

}  // namespace
