// The stream framer: split, coalesced and corrupted streams give back exactly the frames sent.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "protocol/console_frames.h"
#include "protocol/device_frames.h"
#include "protocol/stream_framer.h"

using namespace protocol;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Frames of several commands and lengths, each with a distinct id.
std::vector<Bytes> sampleFrames() {
    std::vector<Bytes> frames;
    RegisterPayload reg;
    reg.header.deviceId = 1;
    reg.name = "dev-1";
    frames.push_back(buildRegisterFrame(reg));
    StatusPayload st;
    st.header.deviceId = 2;
    st.outlets = expandChannelWord(0x8001);
    frames.push_back(buildStatusFrame(NET_CMD_STATUS, st));
    frames.push_back(buildDeviceHeader(NET_CMD_HEARTBEAT_ACK, 3));
    Bytes stepDone = buildDeviceHeader(NET_CMD_STEP_DONE, 4, 0, 21);
    stepDone.push_back(0x01);
    frames.push_back(stepDone);
    // A frame whose payload happens to contain the marker bytes.
    Bytes tricky = buildDeviceHeader(0x30, 5, 0, 28);
    const Bytes payload = {0xFE, 0xFC, 0xFD, 0xFA, 0x00, 0x00, 0x00, 0x14};
    tricky.insert(tricky.end(), payload.begin(), payload.end());
    frames.push_back(tricky);
    Bytes big = buildDeviceHeader(0x31, 6, 0, static_cast<std::uint32_t>(kMaxFrameSize));
    big.resize(kMaxFrameSize, 0x5A);
    frames.push_back(big);
    return frames;
}

Bytes concat(const std::vector<Bytes>& frames) {
    Bytes all;
    for (const auto& f : frames) all.insert(all.end(), f.begin(), f.end());
    return all;
}

// Feeds `stream` in the given chunk sizes and collects the frames that come out.
std::vector<Bytes> feed(StreamFramer& framer, const Bytes& stream,
                        const std::vector<std::size_t>& chunks) {
    std::vector<Bytes> out;
    std::size_t pos = 0;
    for (std::size_t chunk : chunks) {
        // Copy each chunk to its own allocation: a read beyond it shows under ASan.
        const Bytes piece(stream.begin() + static_cast<std::ptrdiff_t>(pos),
                          stream.begin() + static_cast<std::ptrdiff_t>(pos + chunk));
        framer.append(piece);
        while (auto f = framer.next()) out.emplace_back(f->begin(), f->end());
        pos += chunk;
    }
    return out;
}

std::vector<std::size_t> chunksOf(std::size_t total, std::size_t size) {
    std::vector<std::size_t> chunks;
    for (std::size_t pos = 0; pos < total; pos += size)
        chunks.push_back(std::min(size, total - pos));
    return chunks;
}

}  // namespace

TEST(StreamFramer, ByteByByteYieldsEveryFrameOnce) {
    const auto frames = sampleFrames();
    const Bytes stream = concat(frames);
    StreamFramer framer;
    EXPECT_EQ(feed(framer, stream, chunksOf(stream.size(), 1)), frames);
    EXPECT_EQ(framer.pendingBytes(), 0u);
    EXPECT_EQ(framer.discardedBytes(), 0u);
}

TEST(StreamFramer, CoalescedFramesInOneReadAreSeparated) {
    const auto frames = sampleFrames();
    const Bytes stream = concat(frames);
    StreamFramer framer;
    EXPECT_EQ(feed(framer, stream, {stream.size()}), frames);
}

TEST(StreamFramer, TwoStatusFramesIn52BytesGiveTwoFrames) {
    StatusPayload a;
    a.header.deviceId = 10;
    StatusPayload b;
    b.header.deviceId = 11;
    const std::vector<Bytes> frames = {buildStatusFrame(NET_CMD_STATUS, a),
                                       buildStatusFrame(NET_CMD_STATUS, b)};
    StreamFramer framer;
    EXPECT_EQ(feed(framer, concat(frames), {52}), frames);
}

TEST(StreamFramer, RandomSplitsNeverChangeTheFrames) {
    const auto frames = sampleFrames();
    const Bytes stream = concat(frames);
    std::mt19937 rng(20240611);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::size_t> chunks;
        std::size_t left = stream.size();
        while (left > 0) {
            std::size_t n = std::uniform_int_distribution<std::size_t>(1, 40)(rng);
            if (rng() % 10 == 0) n = std::uniform_int_distribution<std::size_t>(1, 9000)(rng);
            n = std::min(n, left);
            chunks.push_back(n);
            left -= n;
        }
        StreamFramer framer;
        ASSERT_EQ(feed(framer, stream, chunks), frames) << "round " << round;
    }
}

TEST(StreamFramer, GarbageBetweenFramesIsSkipped) {
    const auto frames = sampleFrames();
    const std::vector<Bytes> garbage = {
        {0x00, 0x01, 0x02},
        {0xFE, 0xFC, 0x00},                                // marker prefix then junk
        {0xFE, 0xFC, 0xFD, 0xFA, 0x00, 0x00, 0x00, 0x05},  // marker with length 5
        {0xFE, 0xFC, 0xFD, 0xFA, 0x00, 0x00, 0x20, 0x01},  // marker with length 8193
        {0xFA, 0xFD, 0xFC, 0xFE, 0x18, 0x00, 0x00, 0x00},  // console marker
        {0xFE, 0xFE, 0xFC, 0xFD, 0xFE},
    };
    Bytes stream;
    std::size_t garbageBytes = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const Bytes& g = garbage[i % garbage.size()];
        stream.insert(stream.end(), g.begin(), g.end());
        garbageBytes += g.size();
        stream.insert(stream.end(), frames[i].begin(), frames[i].end());
    }
    for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, stream.size()}) {
        StreamFramer framer;
        EXPECT_EQ(feed(framer, stream, chunksOf(stream.size(), chunk)), frames) << chunk;
        EXPECT_EQ(framer.discardedBytes(), garbageBytes) << chunk;
    }
}

TEST(StreamFramer, LengthBoundsAre20To8192) {
    for (std::uint32_t length : {19u, 20u, 8192u, 8193u, 0u, 0xFFFFFFFFu}) {
        Bytes f = buildDeviceHeader(NET_CMD_STATUS, 9, 0, length);
        const bool valid = length >= 20 && length <= 8192;
        if (valid) f.resize(length, 0);
        StreamFramer framer;
        framer.append(f);
        auto out = framer.next();
        EXPECT_EQ(out.has_value(), valid) << length;
        if (!valid) {
            // Nothing that looks like a frame start is left; the bytes count as skipped.
            EXPECT_EQ(framer.pendingBytes() + framer.discardedBytes(), f.size()) << length;
            EXPECT_LT(framer.pendingBytes(), 4u) << length;
        }
    }
}

TEST(StreamFramer, IncompleteFrameWaitsAndResetDropsIt) {
    const Bytes frame = buildDeviceHeader(NET_CMD_STEP_DONE, 8);
    StreamFramer framer;
    framer.append(std::span(frame).first(19));
    EXPECT_FALSE(framer.next());
    EXPECT_EQ(framer.pendingBytes(), 19u);
    framer.reset();
    EXPECT_EQ(framer.pendingBytes(), 0u);
    EXPECT_EQ(framer.discardedBytes(), 19u);
    // The next whole frame is not mixed with the dropped bytes.
    framer.append(frame);
    auto out = framer.next();
    ASSERT_TRUE(out);
    EXPECT_EQ(Bytes(out->begin(), out->end()), frame);
}

TEST(StreamFramer, ConsoleStreamsUseTheLittleEndianMarkerAndLength) {
    std::vector<Bytes> frames;
    for (std::uint16_t id = 1; id <= 5; ++id) {
        const ConsoleFrame f =
            buildConsoleFrame(NET_CMD_CHANNEL, id, static_cast<std::uint8_t>(id), 1);
        frames.emplace_back(f.begin(), f.end());
    }
    Bytes stream = {0x11, 0x22};
    const Bytes body = concat(frames);
    stream.insert(stream.end(), body.begin(), body.end());
    StreamFramer framer(FrameOrigin::Console);
    EXPECT_EQ(feed(framer, stream, chunksOf(stream.size(), 5)), frames);
    EXPECT_EQ(framer.discardedBytes(), 2u);

    // A device-order frame is not a frame to the console-order framer, and vice versa.
    StreamFramer deviceFramer;
    deviceFramer.append(body);
    EXPECT_FALSE(deviceFramer.next());
}
