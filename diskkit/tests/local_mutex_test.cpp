// LocalMutex: re-entry, trylock from other threads, mutual exclusion.
#include "diskkit/local_mutex.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace {

int tryFromOtherThread(LocalMutex& mutex) {
    return std::async(std::launch::async,
                      [&mutex] {
                          const int entered = mutex.trylock();
                          if (entered) mutex.Unlock();
                          return entered;
                      })
        .get();
}

TEST(LocalMutexTest, OwnerReentersAndOthersWaitUntilItLeavesAsOftenAsItEntered) {
    LocalMutex mutex;
    mutex.Lock();
    mutex.Lock();                   // re-entry must not deadlock
    EXPECT_NE(mutex.trylock(), 0);  // nor trylock by the owner
    EXPECT_EQ(tryFromOtherThread(mutex), 0);
    mutex.Unlock();
    mutex.Unlock();
    EXPECT_EQ(tryFromOtherThread(mutex), 0);  // still held once
    mutex.Unlock();
    EXPECT_NE(tryFromOtherThread(mutex), 0);
}

TEST(LocalMutexTest, KeepsConcurrentUpdatesExclusive) {
    LocalMutex mutex;
    long counter = 0;  // plain on purpose: only the lock protects it
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                if (i % 2 == 0) {
                    std::lock_guard guard(mutex);
                    ++counter;
                } else {
                    mutex.Lock();
                    mutex.Lock();
                    ++counter;
                    mutex.Unlock();
                    mutex.Unlock();
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 8 * 20000);
}

}  // namespace
