// The receive queue: the 2000-record bound counts the record being handled; waiting wakes on
// a push or a stop.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "recv_queue.h"

using lanwire::RecvQueue;
using lanwire::RecvRecord;

namespace {
RecvRecord record(std::uint32_t id) {
    RecvRecord r;
    r.deviceId = id;
    r.data = {static_cast<std::uint8_t>(id)};
    r.length = 1;
    return r;
}
}  // namespace

TEST(RecvQueue, HoldsAtMost2000RecordsIncludingTheOneInTheCallback) {
    RecvQueue queue;
    queue.start();
    for (std::uint32_t i = 0; i < RecvQueue::kCapacity; ++i) ASSERT_TRUE(queue.push(record(i)));
    EXPECT_FALSE(queue.push(record(9999)));
    auto taken = queue.take();
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->deviceId, 0u);
    EXPECT_EQ(queue.size(), RecvQueue::kCapacity);
    EXPECT_FALSE(queue.push(record(9999))) << "the record in the callback still counts";
    queue.done();
    EXPECT_TRUE(queue.push(record(2000)));
    EXPECT_FALSE(queue.push(record(2001)));
    // Oldest first.
    auto next = queue.take();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->deviceId, 1u);
}

TEST(RecvQueue, TakeWaitsForAPushAndStopWakesIt) {
    RecvQueue queue;
    queue.start();
    auto first = std::async(std::launch::async, [&] { return queue.take(); });
    EXPECT_EQ(first.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
    ASSERT_TRUE(queue.push(record(7)));
    auto got = first.get();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->deviceId, 7u);
    queue.done();

    auto second = std::async(std::launch::async, [&] { return queue.take(); });
    queue.stop();
    EXPECT_FALSE(second.get());
    EXPECT_FALSE(queue.take()) << "a stopped queue does not wait";
    queue.start();
    ASSERT_TRUE(queue.push(record(8)));
    EXPECT_TRUE(queue.take());
}
