// Device-configuration frames and text forms: exact bytes, reply checks, MAC and name rules.
#include "consolecore/device_config_frames.h"

#include "consolecore/device_snapshot.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace consolecore;
using Bytes = std::vector<std::uint8_t>;

Bytes sampleReply() {
    return {0xC3, 0x40, 0x03, 0x22, 0x01, 0x2C, 'R',  'a',  'c', 'k', '-', 'A', 0,
            0,    0,    0,    192,  168,  1,    50,   255,  255, 255, 0,   192, 168,
            1,    1,    0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 192, 168, 1,   10};
}

TEST(DeviceConfigFrames, ReadRequestCarriesModbusCrcLowByteFirst) {
    const auto request = buildReadRequest();
    EXPECT_EQ(Bytes(request.begin(), request.end()), (Bytes{0xC3, 0x40, 0x02, 0x00, 0x3C, 0xD4}));
    // The standard check value of CRC-16/MODBUS.
    const std::string check = "123456789";
    EXPECT_EQ(
        crc16Modbus(std::span(reinterpret_cast<const std::uint8_t*>(check.data()), check.size())),
        0x4B37);
    EXPECT_EQ(crc16Modbus({}), 0xFFFF);
}

TEST(DeviceConfigFrames, ReplyParsesEveryFieldAndIgnoresBytesAfterThirtyEight) {
    auto reply = sampleReply();
    reply.push_back(0xEE);
    reply.push_back(0xFF);
    const auto parsed = parseParameterReply(reply);
    ASSERT_EQ(parsed.check, ReplyCheck::Ok);
    EXPECT_EQ(parsed.lengthByte, 0x22);
    const auto& p = parsed.parameters;
    EXPECT_EQ(p.deviceNumber, 300);
    EXPECT_EQ(deviceNameText(p.name), "Rack-A");
    EXPECT_EQ(p.ipAddress, (Ipv4Octets{192, 168, 1, 50}));
    EXPECT_EQ(p.subnetMask, (Ipv4Octets{255, 255, 255, 0}));
    EXPECT_EQ(p.gateway, (Ipv4Octets{192, 168, 1, 1}));
    EXPECT_EQ(p.mac, (MacBytes{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
    EXPECT_EQ(p.serverIp, (Ipv4Octets{192, 168, 1, 10}));
}

TEST(DeviceConfigFrames, ReplyChecksLengthHeaderAndFunctionInThatOrder) {
    auto reply = sampleReply();
    EXPECT_EQ(parseParameterReply(std::span(reply.data(), 37)).check, ReplyCheck::TooShort);
    EXPECT_EQ(parseParameterReply({}).check, ReplyCheck::TooShort);
    reply[2] = 0x05;
    EXPECT_EQ(parseParameterReply(reply).check, ReplyCheck::BadFunction);
    reply[1] = 0x41;
    EXPECT_EQ(parseParameterReply(reply).check, ReplyCheck::BadHeader);
}

TEST(DeviceConfigFrames, WriteRequestHasItsHeadAndTheReplyLayoutWithoutChecksum) {
    const auto parsed = parseParameterReply(sampleReply());
    const auto frame = buildWriteRequest(parsed.parameters);
    Bytes expected = sampleReply();
    expected[2] = 0x01;
    expected[3] = 0x20;
    EXPECT_EQ(Bytes(frame.begin(), frame.end()), expected);
}

TEST(DeviceConfigFrames, MacTextRules) {
    MacBytes mac{9, 9, 9, 9, 9, 9};
    EXPECT_EQ(parseMacText("1.2.3.4.5.6", mac), MacTextError::None);
    EXPECT_EQ(mac, (MacBytes{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(parseMacText("aa.Bb.0C.d.e.FF", mac), MacTextError::None);
    EXPECT_EQ(mac, (MacBytes{0xAA, 0xBB, 0x0C, 0x0D, 0x0E, 0xFF}));
    EXPECT_EQ(parseMacText("..7...", mac), MacTextError::None);  // empty parts are 00
    EXPECT_EQ(mac, (MacBytes{0, 0, 7, 0, 0, 0}));
    // Without dots the first five parts are empty and the sixth is the whole text.
    EXPECT_EQ(parseMacText("A", mac), MacTextError::None);
    EXPECT_EQ(mac, (MacBytes{0, 0, 0, 0, 0, 0x0A}));

    const MacBytes kept{1, 2, 3, 4, 5, 6};
    mac = kept;
    EXPECT_EQ(parseMacText("", mac), MacTextError::None);
    EXPECT_EQ(parseMacText("GG.00.00.00.00.00", mac), MacTextError::NotHex);
    EXPECT_EQ(parseMacText("00.11.22.33.44.5G", mac), MacTextError::NotHex);
    EXPECT_EQ(parseMacText("123.4.5.6.7.8", mac), MacTextError::BadFormat);
    EXPECT_EQ(parseMacText("AABBCCDDEEFF", mac), MacTextError::BadFormat);
    EXPECT_EQ(parseMacText("1.2.3.4.5.6.7", mac), MacTextError::BadFormat);  // sixth is "6.7"
    EXPECT_EQ(parseMacText("1.2.3.4.5.6.", mac), MacTextError::NotHex);      // sixth is "6."
    // The first bad part decides the message, and a refused text changes nothing.
    EXPECT_EQ(parseMacText("1.ZZ.333.4.5.6", mac), MacTextError::NotHex);
    EXPECT_EQ(mac, kept);
    EXPECT_EQ(formatMac({0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}), "00.1A.2B.3C.4D.5E");
}

TEST(DeviceConfigFrames, NamesAreOneBytePerCharacterBothWays) {
    DeviceNameBytes raw{'L', 0xE4, 'u', 'f', 'e', 'r', 0, 'X', 'Y', 'Z'};
    const std::string text = deviceNameText(raw);
    EXPECT_EQ(text, "L\xC3\xA4ufer");  // ends at the first zero byte
    const auto back = deviceNameBytes(text);
    EXPECT_EQ(back, (DeviceNameBytes{'L', 0xE4, 'u', 'f', 'e', 'r', 0, 0, 0, 0}));
    EXPECT_EQ(deviceNameBytes("ABCDEFGHIJKL"),
              (DeviceNameBytes{'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J'}));
    // Characters, not bytes, are counted; one beyond U+00FF cannot be sent and becomes '?'.
    EXPECT_EQ(deviceNameBytes("\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xE6\xB5\x8B"),
              (DeviceNameBytes{0xE4, 0xE4, 0xE4, 0xE4, 0xE4, 0xE4, '?', 0, 0, 0}));
    DeviceNameBytes full;
    full.fill('N');
    EXPECT_EQ(deviceNameText(full), "NNNNNNNNNN");
}

TEST(DeviceConfigFrames, NameCheckCountsBytesAndListsWhatTheDeviceCannotStore) {
    struct Case {
        const char* text;
        std::size_t bytes;
        const char* refused;
    };
    const Case cases[] = {
        {"", 0, ""},
        {"Rack-A", 6, ""},
        {"L\xC3\xA4ufer", 6, ""},  // U+00E4 is one byte
        {"\xE6\x9C\xBA\xE6\x9F\x9C"
         "B",
         3, "\xE6\x9C\xBA\xE6\x9F\x9C"},               // 机柜B
        {"A\xF0\x9F\x98\x80", 2, "\xF0\x9F\x98\x80"},  // beyond the BMP
        {"A\xFFZ", 3, "\xEF\xBF\xBD"},                 // malformed byte
    };
    for (const Case& c : cases) {
        const DeviceNameCheck check = checkDeviceName(c.text);
        EXPECT_EQ(check.bytes, c.bytes) << c.text;
        EXPECT_EQ(check.refused, c.refused) << c.text;
        EXPECT_EQ(check.storable(), std::string(c.refused).empty()) << c.text;
    }
}

TEST(DeviceConfigFrames, Ipv4TextBothWays) {
    EXPECT_EQ(formatIpv4({192, 168, 1, 50}), "192.168.1.50");
    EXPECT_EQ(parseIpv4("10.0.255.1"), (Ipv4Octets{10, 0, 255, 1}));
    for (const char* bad :
         {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3", "a.b.c.d", "1.2.3.4 ", "-1.2.3.4"}) {
        EXPECT_FALSE(parseIpv4(bad)) << bad;
    }
}

}  // namespace
