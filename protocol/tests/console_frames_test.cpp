// Console frames byte for byte, the offline notice, and device-name text mapping.
#include <gtest/gtest.h>

#include <vector>

#include "protocol/console_frames.h"
#include "protocol/device_frames.h"
#include "protocol/device_text.h"

using namespace protocol;
using Bytes = std::vector<std::uint8_t>;

namespace {
Bytes bytes(const ConsoleFrame& f) {
    return Bytes(f.begin(), f.end());
}
}  // namespace

TEST(ConsoleFrames, ChannelFrameForDevice7Outlet3On) {
    const Bytes expected = {0xFA, 0xFD, 0xFC, 0xFE, 0x18, 0x00, 0x00, 0x00, 0x68, 0x00, 0x00, 0x00,
                            0x00, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 0x03, 0x01, 0x00, 0x00};
    EXPECT_EQ(bytes(buildConsoleFrame(NET_CMD_CHANNEL, 7, 3, 1)), expected);
}

TEST(ConsoleFrames, IdIsLittleEndianAndParametersFollowInOrder) {
    const Bytes f = bytes(buildConsoleFrame(NET_CMD_PARALLEL, 0xABCD, 1, 0, 5, 9));
    const Bytes expected = {0xFA, 0xFD, 0xFC, 0xFE, 0x18, 0x00, 0x00, 0x00, 0x66, 0x00, 0x00, 0x00,
                            0x00, 0x00, 0x00, 0x00, 0xCD, 0xAB, 0x00, 0x00, 0x01, 0x00, 0x05, 0x09};
    EXPECT_EQ(f, expected);
}

TEST(ConsoleFrames, HeartbeatCarriesTheValue2) {
    const Bytes f = bytes(buildHeartbeatFrame(0x0203));
    const Bytes expected = {0xFA, 0xFD, 0xFC, 0xFE, 0x18, 0x00, 0x00, 0x00, 0x64, 0x00, 0x00, 0x00,
                            0x00, 0x00, 0x00, 0x00, 0x03, 0x02, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00};
    EXPECT_EQ(f, expected);
}

TEST(ConsoleFrames, OfflineNoticeLayoutAndDecodesAsDeviceHeader) {
    const OfflineNotice n = buildOfflineNotice(0x1234);
    const Bytes expected = {0xFE, 0xFC, 0xFD, 0xFA, 0x00, 0x00, 0x00, 0x14, 0x00, 0x00,
                            0x00, 0xFF, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x12, 0x34};
    EXPECT_EQ(Bytes(n.begin(), n.end()), expected);
    auto h = decodeHeader(n);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->command, NET_CMD_OFFLINE);
    EXPECT_EQ(h->length, 20u);
    EXPECT_EQ(h->value, 1u);
    EXPECT_EQ(h->deviceId, 0x1234);
}

TEST(ConsoleFrames, DeviceSideDecodingChecksMarkerLengthAndSize) {
    const ConsoleFrame f = buildConsoleFrame(NET_CMD_SET_GROUP, 300, 4);
    auto c = decodeConsoleFrame(f);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->command, NET_CMD_SET_GROUP);
    EXPECT_EQ(c->deviceId, 300u);
    EXPECT_EQ(c->params, (std::array<std::uint8_t, 4>{4, 0, 0, 0}));

    const Bytes shortBlock(f.begin(), f.begin() + 23);
    EXPECT_FALSE(decodeConsoleFrame(shortBlock));
    Bytes wrongMarker = bytes(f);
    wrongMarker[0] = 0xFE;
    EXPECT_FALSE(decodeConsoleFrame(wrongMarker));
    Bytes wrongLength = bytes(f);
    wrongLength[4] = 0x19;
    EXPECT_FALSE(decodeConsoleFrame(wrongLength));
}

TEST(DeviceText, BytesMapToLatinOneCodePointsAndBack) {
    std::string text;
    for (int b = 1; b <= 0xFF; ++b) appendDeviceChar(text, static_cast<std::uint8_t>(b));
    const std::vector<std::uint8_t> back = utf8ToDeviceBytes(text);
    ASSERT_EQ(back.size(), 255u);
    for (int b = 1; b <= 0xFF; ++b) EXPECT_EQ(back[static_cast<std::size_t>(b - 1)], b);
}

TEST(DeviceText, UnmappableAndMalformedTextBecomesQuestionMarks) {
    EXPECT_EQ(utf8ToDeviceBytes("\xE4\xB8\xAD"), (Bytes{'?'}));  // U+4E2D
    EXPECT_EQ(utf8ToDeviceBytes("\xF0\x9F\x98\x80"
                                "a"),
              (Bytes{'?', 'a'}));                              // emoji
    EXPECT_EQ(utf8ToDeviceBytes("\xC3"), (Bytes{'?'}));        // truncated
    EXPECT_EQ(utf8ToDeviceBytes("\x80z"), (Bytes{'?', 'z'}));  // stray continuation
    EXPECT_EQ(utf8ToDeviceBytes("\xC1\x81"), (Bytes{'?'}));    // overlong 'A'
}
