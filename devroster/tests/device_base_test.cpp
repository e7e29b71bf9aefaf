// CDeviceBase: field defaults, copying, outlet bounds, address printing.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>

#include "devroster/device_base.h"

namespace {

CDeviceBase makeFilledDevice() {
    CDeviceBase d;
    d.SetDeviceID(0xBEEF);
    d.SetDeviceName("机柜A-01");
    sockaddr_in ip{};
    ip.sin_family = AF_INET;
    ip.sin_port = htons(50123);
    ip.sin_addr.s_addr = inet_addr("192.168.1.77");
    d.SetDeviceSockIPAddr(ip);
    d.SetDeviceSockSubNetMask(MakeHostOrderAddr(0xFFFFFF00u));
    d.SetDeviceSockGateWay(MakeHostOrderAddr(0xC0A80101u));
    const std::uint8_t mac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    d.SetMacAddr(mac);
    d.SetMarshalling(4);
    d.SetSeriPallModule(1);
    d.SetNumber(9);
    d.SetOnOff(true);
    d.SetLed(0, true);
    d.SetLed(15, true);
    d.SetOnLine(true);
    return d;
}

void expectSameFields(const CDeviceBase& a, const CDeviceBase& b) {
    EXPECT_EQ(a.GetDeviceID(), b.GetDeviceID());
    EXPECT_EQ(a.GetDeviceName(), b.GetDeviceName());
    const sockaddr_in ipA = a.GetDeviceSockIPAddr(), ipB = b.GetDeviceSockIPAddr();
    EXPECT_EQ(0, std::memcmp(&ipA, &ipB, sizeof ipA));
    const sockaddr_in mA = a.GetDeviceSockSubNetMask(), mB = b.GetDeviceSockSubNetMask();
    EXPECT_EQ(0, std::memcmp(&mA, &mB, sizeof mA));
    const sockaddr_in gA = a.GetDeviceSockGateWay(), gB = b.GetDeviceSockGateWay();
    EXPECT_EQ(0, std::memcmp(&gA, &gB, sizeof gA));
    EXPECT_EQ(0, std::memcmp(a.GetMacAddr(), b.GetMacAddr(), 6));
    EXPECT_EQ(a.GetMarshalling(), b.GetMarshalling());
    EXPECT_EQ(a.GetSeriPallModule(), b.GetSeriPallModule());
    EXPECT_EQ(a.GetNumber(), b.GetNumber());
    EXPECT_EQ(a.GetOnOff(), b.GetOnOff());
    for (std::uint8_t i = 0; i < 16; ++i) EXPECT_EQ(a.GetLed(i), b.GetLed(i)) << int(i);
    EXPECT_EQ(a.GetOnLine(), b.GetOnLine());
}

TEST(DeviceBase, DefaultRecordIsAllZero) {
    CDeviceBase d;
    EXPECT_EQ(d.GetDeviceID(), 0);
    EXPECT_TRUE(d.GetDeviceName().empty());
    const sockaddr_in ip = d.GetDeviceSockIPAddr();
    const sockaddr_in zero{};
    EXPECT_EQ(0, std::memcmp(&ip, &zero, sizeof ip));
    for (int i = 0; i < 6; ++i) EXPECT_EQ(d.GetMacAddr()[i], 0);
    EXPECT_EQ(d.GetMarshalling(), 0);
    EXPECT_EQ(d.GetSeriPallModule(), 0);
    EXPECT_EQ(d.GetNumber(), 0);
    EXPECT_FALSE(d.GetOnOff());
    EXPECT_FALSE(d.GetOnLine());
    for (std::uint8_t i = 0; i < 16; ++i) EXPECT_FALSE(d.GetLed(i));
}

TEST(DeviceBase, CopyConstructionAssignmentAndCopyDeviceInfoTakeEveryField) {
    const CDeviceBase src = makeFilledDevice();
    CDeviceBase constructed(src);
    expectSameFields(constructed, src);

    CDeviceBase assigned;
    assigned = src;
    expectSameFields(assigned, src);

    CDeviceBase copied;
    copied.SetDeviceID(1);
    copied.SetLed(7, true);
    copied.CopyDeviceInfo(&src);
    expectSameFields(copied, src);
    EXPECT_EQ(copied.GetDeviceID(), 0xBEEF);  // the id is copied too
    EXPECT_FALSE(copied.GetLed(7));

    // The name is held by value: changing the source later leaves the copy alone.
    CDeviceBase source = makeFilledDevice();
    CDeviceBase copy(source);
    source.SetDeviceName("other");
    EXPECT_EQ(copy.GetDeviceName(), "机柜A-01");

    copy.CopyDeviceInfo(nullptr);  // ignored
    EXPECT_EQ(copy.GetDeviceID(), 0xBEEF);
    copy.CopyDeviceInfo(&copy);  // self copy keeps everything
    EXPECT_EQ(copy.GetDeviceName(), "机柜A-01");
}

TEST(DeviceBase, OutletIndexOutOfRangeIsIgnored) {
    CDeviceBase d;
    d.SetLed(16, true);
    d.SetLed(255, true);
    EXPECT_FALSE(d.GetLed(16));
    EXPECT_FALSE(d.GetLed(255));
    for (std::uint8_t i = 0; i < 16; ++i) EXPECT_FALSE(d.GetLed(i)) << int(i);
    d.SetLed(15, true);
    EXPECT_TRUE(d.GetLed(15));
    d.SetLed(15, false);
    EXPECT_FALSE(d.GetLed(15));
}

TEST(DeviceBase, MacAddressCopiesSixBytesAndIgnoresNull) {
    CDeviceBase d;
    const std::uint8_t mac[8] = {1, 2, 3, 4, 5, 6, 0xEE, 0xEE};
    d.SetMacAddr(mac);
    d.SetMacAddr(nullptr);
    EXPECT_EQ(0, std::memcmp(d.GetMacAddr(), mac, 6));
}

TEST(DeviceBase, MaskFromWireBytesPrintsMostSignificantFirst) {
    // Wire bytes FF FF FF 00 accumulated big-endian into the address word.
    const unsigned char wire[4] = {0xFF, 0xFF, 0xFF, 0x00};
    std::uint32_t word = 0;
    for (unsigned char b : wire) word = (word << 8) | b;
    CDeviceBase d;
    d.SetDeviceSockSubNetMask(MakeHostOrderAddr(word));
    EXPECT_EQ(FormatHostOrderAddr(d.GetDeviceSockSubNetMask()), "255.255.255.0");
    EXPECT_EQ(d.GetDeviceSockSubNetMask().sin_family, 0);
    EXPECT_EQ(d.GetDeviceSockSubNetMask().sin_port, 0);

    d.SetDeviceSockGateWay(MakeHostOrderAddr(0xC0A80A01u));
    EXPECT_EQ(FormatHostOrderAddr(d.GetDeviceSockGateWay()), "192.168.10.1");
}

TEST(DeviceBase, PeerAddressPrintsFromFirstMemoryByte) {
    sockaddr_in ip{};
    ip.sin_family = AF_INET;
    ASSERT_EQ(inet_pton(AF_INET, "10.20.30.40", &ip.sin_addr), 1);
    EXPECT_EQ(FormatSockIPAddr(ip), "10.20.30.40");
    ip.sin_addr.s_addr = 0xFFFFFFFFu;
    EXPECT_EQ(FormatSockIPAddr(ip), "255.255.255.255");
}

}  // namespace
