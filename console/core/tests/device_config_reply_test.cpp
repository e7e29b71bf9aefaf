// Reply reassembly: chunks as the serial link may cut them.
#include "consolecore/device_config_reply.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

using consolecore::ReplyAssembler;
using Bytes = std::vector<std::uint8_t>;

Bytes reply(std::size_t size = 38) {
    Bytes r(size);
    std::iota(r.begin(), r.end(), std::uint8_t{0x10});
    r[0] = 0xC3;
    r[1] = 0x40;
    r[2] = 0x03;
    return r;
}

std::span<const std::uint8_t> part(const Bytes& b, std::size_t from, std::size_t count) {
    return std::span(b).subspan(from, count);
}

TEST(ReplyAssembler, SplitReplyIsHandedOverOnceWhenComplete) {
    ReplyAssembler assembler;
    const auto r = reply();
    EXPECT_FALSE(assembler.feed(part(r, 0, 8)));
    EXPECT_EQ(assembler.fillCount(), 8u);
    const auto done = assembler.feed(part(r, 8, 30));
    ASSERT_TRUE(done);
    EXPECT_EQ(*done, r);
    EXPECT_EQ(assembler.fillCount(), 0u);
}

TEST(ReplyAssembler, WholeChunkWithTrailingBytesIsHandedOverWhole) {
    ReplyAssembler assembler;
    const auto r = reply(40);
    const auto done = assembler.feed(r);
    ASSERT_TRUE(done);
    EXPECT_EQ(*done, r);
}

TEST(ReplyAssembler, ChunksThatDoNotStartAReplyAreDroppedWhileEmpty) {
    ReplyAssembler assembler;
    const auto r = reply();
    EXPECT_FALSE(assembler.feed(part(r, 8, 30)));  // the tail of a reply whose head was lost
    EXPECT_FALSE(assembler.feed(Bytes{0xC3, 0x40, 0x02, 0x00}));
    EXPECT_FALSE(assembler.feed(Bytes{}));
    EXPECT_EQ(assembler.fillCount(), 0u);
    EXPECT_TRUE(assembler.feed(r));
}

TEST(ReplyAssembler, ReplyCutInsideItsHeadIsStillJoined) {
    ReplyAssembler assembler;
    const auto r = reply();
    EXPECT_FALSE(assembler.feed(part(r, 0, 1)));
    EXPECT_FALSE(assembler.feed(part(r, 1, 1)));
    const auto done = assembler.feed(part(r, 2, 36));
    ASSERT_TRUE(done);
    EXPECT_EQ(*done, r);

    // A head start that is not continued is dropped; the new chunk is judged on its own.
    EXPECT_FALSE(assembler.feed(Bytes{0xC3}));
    EXPECT_FALSE(assembler.feed(Bytes{0x99, 0x98}));
    EXPECT_EQ(assembler.fillCount(), 0u);
    EXPECT_FALSE(assembler.feed(Bytes{0xC3, 0x40}));
    EXPECT_TRUE(assembler.feed(r));  // starts over with a whole reply
}

TEST(ReplyAssembler, IncompleteReplyWaitsAndLaterChunksCompleteIt) {
    ReplyAssembler assembler;
    const auto r = reply();
    EXPECT_FALSE(assembler.feed(part(r, 0, 20)));
    // Whatever comes next is appended, even another reply's head.
    const auto done = assembler.feed(r);
    ASSERT_TRUE(done);
    EXPECT_EQ(done->size(), 58u);
    EXPECT_TRUE(std::equal(r.begin(), r.begin() + 20, done->begin()));
}

TEST(ReplyAssembler, OversizedChunkIsCutToTheBuffer) {
    ReplyAssembler assembler;
    const auto big = reply(1024);
    const auto done = assembler.feed(big);
    ASSERT_TRUE(done);
    EXPECT_EQ(done->size(), consolecore::kReplyBufferSize);
    EXPECT_TRUE(std::equal(done->begin(), done->end(), big.begin()));
    EXPECT_EQ(assembler.fillCount(), 0u);
}

}  // namespace
