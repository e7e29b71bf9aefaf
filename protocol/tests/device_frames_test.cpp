// Device frames: header checks, payload decoding byte by byte, builders that round-trip.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "protocol/device_frames.h"

using namespace protocol;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes header(std::uint8_t command, std::uint16_t id, std::uint32_t length) {
    return {0xFE,
            0xFC,
            0xFD,
            0xFA,
            static_cast<std::uint8_t>(length >> 24),
            static_cast<std::uint8_t>(length >> 16),
            static_cast<std::uint8_t>(length >> 8),
            static_cast<std::uint8_t>(length),
            0x00,
            0x00,
            0x00,
            command,
            0x00,
            0x00,
            0x00,
            0x00,
            0x00,
            0x00,
            static_cast<std::uint8_t>(id >> 8),
            static_cast<std::uint8_t>(id)};
}

// A registration exactly as a device would put it on the wire, field by field.
Bytes registration() {
    Bytes b = header(NET_CMD_REGISTER, 0x0102, 65);
    const Bytes rest = {0,    0,    0,    0,    0,    0,
                        0,    0,    0x42, 0x41,              // name, last character first
                        192,  168,  1,    50,                // own IP (unused)
                        0xFF, 0xFF, 0xFF, 0x00,              // mask
                        192,  168,  1,    1,                 // gateway
                        0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E,  // MAC
                        3,                                   // group
                        1,                                   // mode
                        9,    9,    9,                       // reserved
                        4,                                   // number
                        0x00, 0x00, 0x01, 0x00,              // on/off (nonzero)
                        7,    7,                             // reserved
                        0x80, 0x01,                          // channels: outlets 16 and 1
                        0xAA, 0xBB, 0xCC};                   // unused tail
    b.insert(b.end(), rest.begin(), rest.end());
    return b;
}

Bytes status(std::uint8_t command, std::uint8_t hi, std::uint8_t lo) {
    Bytes b = header(command, 0x00FE, 26);
    const Bytes rest = {2, 0, 5, 1, hi, lo};
    b.insert(b.end(), rest.begin(), rest.end());
    return b;
}

std::string dotted(std::uint32_t word) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", word >> 24, (word >> 16) & 0xFF,
                  (word >> 8) & 0xFF, word & 0xFF);
    return text;
}

}  // namespace

TEST(DeviceFrames, MarkerIsBuiltFromItsFourBytes) {
    EXPECT_EQ(makeFrameMagic(), FRAME_MAGIC);
    EXPECT_EQ(FRAME_MAGIC, 0xFEFCFDFAu);
    EXPECT_EQ(commandName(NET_CMD_CHANNEL), "NET_CMD_CHANNEL");
    EXPECT_EQ(commandName(NET_CMD_OFFLINE), "NET_CMD_OFFLINE");
    EXPECT_EQ(commandName(4), "unknown");
}

TEST(DeviceFrames, HeaderTakesCommandFromLastByteAndIdFromBytes18And19) {
    Bytes b = header(NET_CMD_STATUS, 0xBEEF, 26);
    b[8] = 0x77;  // offsets 8-10 are ignored
    b[9] = 0x66;
    b[10] = 0x55;
    b[12] = 0x12;
    b[15] = 0x34;
    b[16] = 0xEE;  // reserved
    b[17] = 0xDD;
    auto h = decodeHeader(b);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->marker, FRAME_MAGIC);
    EXPECT_EQ(h->length, 26u);
    EXPECT_EQ(h->command, NET_CMD_STATUS);
    EXPECT_EQ(h->value, 0x12000034u);
    EXPECT_EQ(h->deviceId, 0xBEEF);
}

TEST(DeviceFrames, ShortBlocksAndConsoleMarkerAreIgnoredByEveryDecoder) {
    const Bytes full = registration();
    // Every block shorter than 20 bytes, each in its own exact-size allocation so a read past
    // the end shows under the address sanitizer.
    for (std::size_t n = 0; n < 20; ++n) {
        const Bytes block(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_FALSE(decodeHeader(block)) << n;
        EXPECT_FALSE(decodeStepDone(block)) << n;
        EXPECT_FALSE(decodeStatus(block)) << n;
        EXPECT_FALSE(decodeRegister(block)) << n;
    }
    Bytes console = full;
    console[0] = 0xFA;
    console[1] = 0xFD;
    console[2] = 0xFC;
    console[3] = 0xFE;
    EXPECT_FALSE(decodeHeader(console));
    EXPECT_FALSE(decodeRegister(console));
    EXPECT_FALSE(decodeStatus(console));
    EXPECT_FALSE(decodeStepDone(console));
    for (std::size_t i = 0; i < 4; ++i) {
        Bytes one = full;
        one[i] ^= 0x01;
        EXPECT_FALSE(decodeHeader(one)) << "marker byte " << i;
    }
}

TEST(DeviceFrames, RegistrationDecodesEveryField) {
    const Bytes b = registration();
    auto reg = decodeRegister(b);
    ASSERT_TRUE(reg);
    EXPECT_EQ(reg->header.deviceId, 0x0102);
    EXPECT_EQ(reg->header.command, NET_CMD_REGISTER);
    EXPECT_EQ(reg->name, "AB");  // first the character 0x41, then 0x42
    EXPECT_EQ(reg->ipAddress, 0xC0A80132u);
    EXPECT_EQ(reg->mask, 0xFFFFFF00u);
    EXPECT_EQ(dotted(reg->mask), "255.255.255.0");
    EXPECT_EQ(dotted(reg->gateway), "192.168.1.1");
    EXPECT_EQ(reg->mac, (std::array<std::uint8_t, 6>{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
    EXPECT_EQ(reg->group, 3);
    EXPECT_EQ(reg->mode, 1);
    EXPECT_EQ(reg->number, 4);
    EXPECT_EQ(reg->onOff, 0x100u);
    for (std::size_t k = 0; k < 16; ++k) {
        EXPECT_EQ(reg->outlets[k], k == 0 || k == 15) << "outlet " << k + 1;
    }
}

TEST(DeviceFrames, RegistrationNeeds65Bytes) {
    Bytes b = registration();
    b.resize(64);
    EXPECT_FALSE(decodeRegister(b));
    b = registration();
    b.resize(65);
    EXPECT_TRUE(decodeRegister(b));
}

TEST(DeviceFrames, NameBytesMapOneToOneAndZeroBytesAddNothing) {
    Bytes b = registration();
    // Bytes 20..29: 'x' 0 0xE9 0 ... 0xFF 'y'. Read from 29 down: 'y', 0xFF, 0xE9, 'x'.
    const Bytes name = {'x', 0, 0xE9, 0, 0, 0, 0, 0, 0xFF, 'y'};
    std::copy(name.begin(), name.end(), b.begin() + 20);
    auto reg = decodeRegister(b);
    ASSERT_TRUE(reg);
    EXPECT_EQ(reg->name, "y\xC3\xBF\xC3\xA9x");  // y, U+00FF, U+00E9, x

    std::fill(b.begin() + 20, b.begin() + 30, 0);
    reg = decodeRegister(b);
    ASSERT_TRUE(reg);
    EXPECT_EQ(reg->name, "");
}

TEST(DeviceFrames, StatusNeeds26BytesAndCommand102DecodesLikeCommand3) {
    Bytes b = status(NET_CMD_STATUS, 0x80, 0x01);
    Bytes short25(b.begin(), b.begin() + 25);
    EXPECT_FALSE(decodeStatus(short25));
    auto s3 = decodeStatus(b);
    ASSERT_TRUE(s3);
    EXPECT_EQ(s3->group, 2);
    EXPECT_EQ(s3->mode, 0);
    EXPECT_EQ(s3->number, 5);
    EXPECT_TRUE(s3->onOff);
    for (std::size_t k = 0; k < 16; ++k) EXPECT_EQ(s3->outlets[k], k == 0 || k == 15) << k;
    EXPECT_EQ(highestOutletOn(s3->outlets), 16);

    for (std::uint8_t cmd : {NET_CMD_PARALLEL, NET_CMD_SERIAL}) {
        auto other = decodeStatus(status(cmd, 0x80, 0x01));
        ASSERT_TRUE(other);
        EXPECT_EQ(other->header.command, cmd);
        EXPECT_EQ(other->group, s3->group);
        EXPECT_EQ(other->mode, s3->mode);
        EXPECT_EQ(other->number, s3->number);
        EXPECT_EQ(other->onOff, s3->onOff);
        EXPECT_EQ(other->outlets, s3->outlets);
    }
}

TEST(DeviceFrames, StatusOnOffByteIsABoolean) {
    Bytes b = status(NET_CMD_STATUS, 0, 0);
    b[23] = 0x7F;
    EXPECT_TRUE(decodeStatus(b)->onOff);
    b[23] = 0;
    EXPECT_FALSE(decodeStatus(b)->onOff);
    EXPECT_EQ(highestOutletOn(decodeStatus(b)->outlets), 0);
}

TEST(DeviceFrames, ChannelWordExpandsHighByteToOutlets16To9) {
    // 0x0100: bit 0 of the high byte is outlet 9; 0x0080 bit 7 of the low byte is outlet 8.
    auto a = expandChannelWord(0x0100);
    auto b = expandChannelWord(0x0080);
    for (std::size_t k = 0; k < 16; ++k) {
        EXPECT_EQ(a[k], k == 8) << k;
        EXPECT_EQ(b[k], k == 7) << k;
    }
    for (std::uint32_t word = 0; word <= 0xFFFF; word += 97) {
        EXPECT_EQ(channelWord(expandChannelWord(static_cast<std::uint16_t>(word))), word);
    }
    EXPECT_EQ(highestOutletOn(expandChannelWord(0x0007)), 3);
}

TEST(DeviceFrames, StepDoneIsTheHeaderAlone) {
    const Bytes b = header(NET_CMD_STEP_DONE, 42, 20);
    auto h = decodeStepDone(b);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->command, NET_CMD_STEP_DONE);
    EXPECT_EQ(h->deviceId, 42);
    Bytes withExtra = header(NET_CMD_STEP_DONE, 42, 21);
    withExtra.push_back(0x55);  // a device may add one byte
    EXPECT_TRUE(decodeStepDone(withExtra));
}

TEST(DeviceFrames, BuildersRoundTripThroughTheDecoders) {
    RegisterPayload in;
    in.header.deviceId = 513;
    in.name = "Rack\xC3\xA9-01\xE4\xB8\xAD!XYZ";  // 'é' fits a byte, the CJK char does not
    in.ipAddress = 0x0A000005;
    in.mask = 0xFFFF0000;
    in.gateway = 0x0A000001;
    in.mac = {1, 2, 3, 4, 5, 6};
    in.group = 6;
    in.mode = 1;
    in.number = 12;
    in.onOff = 1;
    in.outlets = expandChannelWord(0xA5C3);
    const Bytes frame = buildRegisterFrame(in);
    ASSERT_EQ(frame.size(), 65u);
    auto out = decodeRegister(frame);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->header.length, 65u);
    EXPECT_EQ(out->name, "Rack\xC3\xA9-01?!");  // cut to 10 characters
    EXPECT_EQ(out->ipAddress, in.ipAddress);
    EXPECT_EQ(out->mask, in.mask);
    EXPECT_EQ(out->gateway, in.gateway);
    EXPECT_EQ(out->mac, in.mac);
    EXPECT_EQ(out->group, 6);
    EXPECT_EQ(out->mode, 1);
    EXPECT_EQ(out->number, 12);
    EXPECT_EQ(out->onOff, 1u);
    EXPECT_EQ(channelWord(out->outlets), 0xA5C3);

    StatusPayload st;
    st.header.deviceId = 77;
    st.group = 4;
    st.mode = 1;
    st.number = 2;
    st.onOff = true;
    st.outlets = expandChannelWord(0x00FF);
    const Bytes sf = buildStatusFrame(NET_CMD_SERIAL, st);
    ASSERT_EQ(sf.size(), 26u);
    EXPECT_EQ(sf[24], 0x00);
    EXPECT_EQ(sf[25], 0xFF);
    auto so = decodeStatus(sf);
    ASSERT_TRUE(so);
    EXPECT_EQ(so->header.command, NET_CMD_SERIAL);
    EXPECT_EQ(so->header.deviceId, 77);
    EXPECT_EQ(so->number, 2);
    EXPECT_EQ(channelWord(so->outlets), 0x00FF);
}
