// Device configuration end to end: the form logic over the real serial link, a real
// pseudo-terminal and the simulated configurable device.
#include "consolecore/device_config.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <memory>
#include <optional>

#include "consolecore/device_channel.h"
#include "core_test_support.h"
#include "devroster/devroster.h"
#include "lanwire/lanwire.h"
#include "lanwire/lanwire_options.h"
#include "serialsim/com_port_links.h"
#include "serialsim/serial_device.h"
#include "simtcp/sim_fleet.h"
#include "testkit/wait_for.h"

namespace {

using consolecore::ConfigField;
using consolecore::DeviceConfig;
using consolecore::Ipv4Octets;
using coretest::countLog;
using coretest::PostedMessage;
using Bytes = std::vector<std::uint8_t>;

serialsim::ComPortLinks& comLinks() {
    static serialsim::ComPortLinks links;
    return links;
}
// The COM override is set before any thread of the test program runs.
[[maybe_unused]] const auto& g_links = comLinks();

const Bytes kReadRequest = {0xC3, 0x40, 0x02, 0x00, 0x3C, 0xD4};

class DeviceConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(InitLogbaseModule(m_dir.path().string() + "/", "Vantrel_DB.db3"));
        InitDevrosterMod();
        ASSERT_TRUE(m_device.valid());
        ASSERT_TRUE(comLinks().link(1, m_device.slavePath()));
        consolecore::DeviceConfigOptions options;
        options.prompt = &m_prompt;
        options.dialog = &m_dialog;
        options.mainWindow = &m_mainWindow;
        options.removeFromGroups = [this](std::uint16_t id) { m_groupRemovals.push_back(id); };
        m_config = std::make_unique<DeviceConfig>(std::move(options));
    }
    void TearDown() override {
        CancelLanwire();  // started by the test that needs it; also after a failed assertion
        SetLanwireOptions({});
        m_config.reset();
        ReleaseLogbaseModule();
        InitDevrosterMod();
    }

    // The read button, then the reply message delivered on this (the dialog's) thread.
    bool readAndShow() {
        m_config->read();
        const auto message = m_dialog.next();
        if (!message || message->message != platform::WM_SERIAL_REPLY) return false;
        return m_config->handleSerialReply();
    }
    // The requests the device has received once it holds `count` of them.
    std::vector<Bytes> requestsOnceThere(std::size_t count) {
        EXPECT_TRUE(testkit::waitFor([&] { return m_device.requests().size() >= count; }));
        return m_device.requests();
    }
    std::vector<Bytes> writesReceived() {
        std::vector<Bytes> writes;
        for (auto& r : m_device.requests()) {
            if (r.size() == 38) writes.push_back(r);
        }
        return writes;
    }

    testkit::TempDir m_dir;
    serialsim::SimSerialDevice m_device;
    coretest::RecordingPrompt m_prompt;
    coretest::MessageQueue m_dialog;
    coretest::MessageQueue m_mainWindow;
    std::vector<std::uint16_t> m_groupRemovals;
    std::unique_ptr<DeviceConfig> m_config;
};

TEST_F(DeviceConfigTest, ReadOpensThePortAndFillsBothColumnsFromTheReply) {
    EXPECT_EQ(m_config->current().deviceNumber, "0");
    EXPECT_FALSE(m_config->isNewFieldEnabled(ConfigField::Name));
    ASSERT_TRUE(readAndShow());
    EXPECT_TRUE(m_config->isPortOpen());
    EXPECT_EQ(requestsOnceThere(1), std::vector<Bytes>{kReadRequest});

    for (const auto* values : {&m_config->current(), &m_config->proposed()}) {
        EXPECT_EQ(values->deviceNumber, "300");
        EXPECT_EQ(values->name, "Rack-A");
        EXPECT_EQ(values->ipAddress, (Ipv4Octets{192, 168, 1, 50}));
        EXPECT_EQ(values->subnetMask, (Ipv4Octets{255, 255, 255, 0}));
        EXPECT_EQ(values->gateway, (Ipv4Octets{192, 168, 1, 1}));
        EXPECT_EQ(values->serverIp, (Ipv4Octets{192, 168, 1, 10}));
        EXPECT_EQ(values->macAddress, "00.1A.2B.3C.4D.5E");
    }
    EXPECT_EQ(m_config->macBytes(), (consolecore::MacBytes{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
    EXPECT_TRUE(m_prompt.messages.empty());
    EXPECT_EQ(countLog({2, 8, "成功打开串口."}), 1);
    EXPECT_EQ(countLog({2, 8, "串口读取信息."}), 1);
    EXPECT_EQ(countLog({2, 8, "0串口数据:revlen:38"}), 1);
    EXPECT_EQ(countLog({2, 8, "串口读取信息返回:len:38."}), 1);
    EXPECT_EQ(countLog({2, 8, "解析头通过."}), 1);
    EXPECT_EQ(countLog({2, 8, "功能码通过.len:34"}), 1);
    EXPECT_EQ(countLog({2, 8, "串口监视线程创建"}), 1);
}

TEST_F(DeviceConfigTest, TickedFieldsKeepTheirNewValuesOnReadButTheMacIsAlwaysShown) {
    m_config->setUseNew(ConfigField::Name, true);
    m_config->setUseNew(ConfigField::IpAddress, true);
    m_config->setUseNew(ConfigField::MacAddress, true);
    EXPECT_TRUE(m_config->isNewFieldEnabled(ConfigField::Name));
    m_config->proposed().name = "Mine";
    m_config->proposed().ipAddress = {10, 0, 0, 9};
    m_config->proposed().macAddress = "11.22.33.44.55.66";
    ASSERT_TRUE(readAndShow());
    EXPECT_EQ(m_config->proposed().name, "Mine");
    EXPECT_EQ(m_config->proposed().ipAddress, (Ipv4Octets{10, 0, 0, 9}));
    EXPECT_EQ(m_config->proposed().deviceNumber, "300");
    EXPECT_EQ(m_config->proposed().macAddress, "00.1A.2B.3C.4D.5E");
    EXPECT_EQ(m_config->current().name, "Rack-A");
}

TEST_F(DeviceConfigTest, ReplySplitEightAndThirtyIsJoinedAndParsedOnce) {
    m_device.setReplyShape({{8}, {}});
    // The second piece leaves only after the link has handed the first to the callback.
    m_device.setBetweenPieces([](std::size_t) {
        testkit::waitFor([] { return countLog({2, 8, "C3 40 03 22 01 2C 52 61 len:8"}) == 1; });
    });
    ASSERT_TRUE(readAndShow());
    EXPECT_EQ(countLog({2, 8, "C3 40 03 22 01 2C 52 61 len:8"}), 1);
    EXPECT_EQ(countLog({2, 8, "63 6B 2D 41 00 00 00 00 C0 A8 01 32 len:30"}), 1);
    EXPECT_EQ(countLog({2, 8, "0串口数据:revlen:38"}), 1);
    EXPECT_FALSE(m_dialog.next(std::chrono::milliseconds(100)));
    EXPECT_EQ(m_config->current().deviceNumber, "300");
}

TEST_F(DeviceConfigTest, FortyByteReplyIsParsedFromItsFirstThirtyEight) {
    m_device.setReplyShape({{}, {0xEE, 0xFF}});
    m_config->read();
    const auto message = m_dialog.next();
    ASSERT_TRUE(message);
    EXPECT_EQ(*message, (PostedMessage{platform::WM_SERIAL_REPLY, 40, 0}));
    ASSERT_TRUE(m_config->handleSerialReply());
    EXPECT_EQ(countLog({2, 8, "串口读取信息返回:len:40."}), 1);
    EXPECT_EQ(m_config->current().serverIp, (Ipv4Octets{192, 168, 1, 10}));
}

TEST_F(DeviceConfigTest, PortThatCannotOpenShowsTheMessageAndTheNextReadTriesAgain) {
    ASSERT_TRUE(comLinks().link(16, m_device.slavePath()));
    m_config->selectPort(15);  // COM16
    EXPECT_EQ(m_config->selectedPort(), 16u);
    m_config->read();
    EXPECT_EQ(m_prompt.messages, std::vector<std::string>{"打开串口失败!"});
    EXPECT_FALSE(m_config->isPortOpen());
    EXPECT_EQ(countLog({2, 8, "成功打开串口."}), 0);
    EXPECT_EQ(countLog({2, 8, "串口读取信息."}), 1);

    m_config->selectPort(0);
    ASSERT_TRUE(readAndShow());
    EXPECT_TRUE(m_config->isPortOpen());
    // The failed read sent nothing; only the second request reached the device.
    EXPECT_EQ(requestsOnceThere(1), std::vector<Bytes>{kReadRequest});
}

TEST_F(DeviceConfigTest, UnansweredReadChangesNothing) {
    m_device.setSilent(true);
    m_config->read();
    ASSERT_EQ(requestsOnceThere(1).size(), 1u);
    EXPECT_FALSE(m_dialog.next(std::chrono::milliseconds(150)));
    EXPECT_FALSE(m_config->handleSerialReply());
    EXPECT_EQ(m_config->current().deviceNumber, "0");
    EXPECT_EQ(m_config->current().name, "");
    EXPECT_TRUE(m_prompt.messages.empty());
}

TEST_F(DeviceConfigTest, PortStaysFixedWhileOpenAndCloseReleasesIt) {
    ASSERT_TRUE(readAndShow());
    m_config->selectPort(4);
    EXPECT_EQ(m_config->selectedPort(), 1u);
    m_config->close();
    EXPECT_FALSE(m_config->isPortOpen());
    EXPECT_EQ(countLog({2, 8, "串口已关闭."}), 1);
    EXPECT_EQ(countLog({2, 8, "串口模块退出"}), 1);
    m_config->selectPort(4);
    EXPECT_EQ(m_config->selectedPort(), 5u);
    m_config->selectPort(20);  // outside the combo
    EXPECT_EQ(m_config->selectedPort(), 5u);
}

TEST_F(DeviceConfigTest, CloseCompletesWhileACompletedReplyWaitsForTheDialog) {
    m_config->read();
    ASSERT_TRUE(m_dialog.next());  // posted, never handled
    m_config->close();
    EXPECT_FALSE(m_config->isPortOpen());
    EXPECT_FALSE(m_config->handleSerialReply());  // the waiting reply went with the port
    EXPECT_EQ(m_config->current().deviceNumber, "0");
}

TEST_F(DeviceConfigTest, WriteBeforeAnyReadAsksForAReadAndRemovesNothing) {
    EXPECT_FALSE(m_config->write());
    EXPECT_EQ(m_prompt.messages, std::vector<std::string>{"请先读取设备信息!"});
    EXPECT_FALSE(m_mainWindow.next(std::chrono::milliseconds(0)).has_value());
    EXPECT_TRUE(m_groupRemovals.empty());

    // With the port open and nothing read (the device is silent) nothing is sent either: a
    // later read request is the only frame behind the first.
    m_device.setSilent(true);
    m_config->read();
    EXPECT_FALSE(m_config->write());
    m_config->read();
    EXPECT_EQ(requestsOnceThere(2), (std::vector<Bytes>{kReadRequest, kReadRequest}));
}

TEST_F(DeviceConfigTest, ValidationMessagesStopTheFrame) {
    ASSERT_TRUE(readAndShow());
    m_config->setUseNew(ConfigField::DeviceNumber, true);
    for (const char* number : {"0", "65535", "70000", "abc", ""}) {
        m_config->proposed().deviceNumber = number;
        EXPECT_FALSE(m_config->write()) << number;
    }
    m_config->proposed().deviceNumber = "65534";
    m_config->setUseNew(ConfigField::Name, true);
    m_config->proposed().name = "";
    EXPECT_FALSE(m_config->write());
    m_config->proposed().name = "N";
    m_config->setUseNew(ConfigField::MacAddress, true);
    m_config->proposed().macAddress = "GG.00.00.00.00.00";
    EXPECT_FALSE(m_config->write());
    m_config->proposed().macAddress = "123.4.5.6.7.8";
    EXPECT_FALSE(m_config->write());
    // A name the device would store as "??B" is refused, not mangled.
    m_config->proposed().macAddress = "1.2.3.4.5.6";
    m_config->proposed().name =
        "\xE6\x9C\xBA\xE6\x9F\x9C"
        "B";
    EXPECT_FALSE(m_config->prepareWrite().has_value());
    m_config->proposed().name = "N";
    m_config->proposed().macAddress = "GG.00.00.00.00.00";
    EXPECT_FALSE(m_config->prepareWrite().has_value());
    const std::vector<std::string> expected = {
        "请输入正确的设备ID!",
        "请输入正确的设备ID!",
        "请输入正确的设备ID!",
        "请输入正确的设备ID!",
        "请输入正确的设备ID!",
        "请输入设备名称!",
        "物理地址只能是16进制.",
        "输入的物理地址格式不对",
        "设备名称含设备无法保存的字符: \xE6\x9C\xBA\xE6\x9F\x9C",
        "物理地址只能是16进制."};
    EXPECT_EQ(m_prompt.messages, expected);
    EXPECT_EQ(m_config->macBytes(), (consolecore::MacBytes{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));

    // Only the accepted write reaches the device, with 65534 and the one-digit MAC parts.
    m_config->proposed().macAddress = "1.2.3.4.5.6";
    EXPECT_TRUE(m_config->write());
    ASSERT_TRUE(testkit::waitFor([&] { return m_device.writesApplied() == 1; }));
    const auto writes = writesReceived();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0][4], 0xFF);
    EXPECT_EQ(writes[0][5], 0xFE);
    EXPECT_EQ(Bytes(writes[0].begin() + 28, writes[0].begin() + 34), (Bytes{1, 2, 3, 4, 5, 6}));
    // Only the write handed to the port removed the device it was about.
    EXPECT_EQ(m_groupRemovals, std::vector<std::uint16_t>{300});
}

TEST_F(DeviceConfigTest, PreparedWriteListsOldAndNewValuesAndSendsOnlyWhenAskedTo) {
    ASSERT_TRUE(readAndShow());
    m_config->setUseNew(ConfigField::DeviceNumber, true);
    m_config->setUseNew(ConfigField::Name, true);
    m_config->setUseNew(ConfigField::MacAddress, true);
    m_config->setUseNew(ConfigField::Gateway, true);
    m_config->proposed().deviceNumber = "301";
    m_config->proposed().name = "Rack-B";
    m_config->proposed().macAddress = "1.2.3.4.5.6";
    m_config->proposed().gateway = {192, 168, 1, 1};  // ticked but the same: not a change
    const auto plan = m_config->prepareWrite();
    ASSERT_TRUE(plan.has_value());
    using Change = consolecore::WritePlan::Change;
    const std::vector<Change> expected = {
        {ConfigField::DeviceNumber, "300", "301"},
        {ConfigField::Name, "Rack-A", "Rack-B"},
        {ConfigField::MacAddress, "00.1A.2B.3C.4D.5E", "01.02.03.04.05.06"},
    };
    EXPECT_EQ(plan->changes, expected);
    // Preparing sends nothing and keeps the MAC read from the device.
    EXPECT_EQ(requestsOnceThere(1).size(), 1u);
    EXPECT_EQ(m_config->macBytes(), (consolecore::MacBytes{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
    EXPECT_TRUE(m_prompt.messages.empty());

    ASSERT_TRUE(m_config->sendWrite(*plan));
    ASSERT_TRUE(testkit::waitFor([&] { return m_device.writesApplied() == 1; }));
    EXPECT_TRUE(testkit::waitFor(
        [&] { return m_config->writeProgress() == consolecore::WriteProgress::Written; }));
    EXPECT_EQ(m_device.parameters().deviceNumber, 301);
    EXPECT_EQ(m_device.parameters().name, serialsim::nameField("Rack-B"));
}

TEST_F(DeviceConfigTest, ValidFormWithThePortClosedSendsAndRemovesNothing) {
    auto record = std::make_shared<CDeviceBase>();
    record->SetDeviceID(300);
    ASSERT_TRUE(PlusDevice(record));
    ASSERT_TRUE(readAndShow());
    m_config->close();
    EXPECT_FALSE(m_config->write());
    EXPECT_EQ(m_prompt.messages.back(), "串口未打开,请先读取设备信息!");
    EXPECT_TRUE(FindDevice(300));
    EXPECT_TRUE(m_groupRemovals.empty());
    EXPECT_FALSE(m_mainWindow.next(std::chrono::milliseconds(0)).has_value());
}

TEST_F(DeviceConfigTest, LongNewNameIsSentAsItsFirstTenCharacters) {
    ASSERT_TRUE(readAndShow());
    m_config->setUseNew(ConfigField::Name, true);
    m_config->proposed().name = "ABCDEFGHIJKL";
    EXPECT_TRUE(m_config->write());
    ASSERT_TRUE(testkit::waitFor([&] { return m_device.writesApplied() == 1; }));
    EXPECT_EQ(m_device.parameters().name, serialsim::nameField("ABCDEFGHIJ"));
}

TEST_F(DeviceConfigTest, WriteSendsTheExactFrameAndRemovesTheDeviceEverywhere) {
    auto record = std::make_shared<CDeviceBase>();
    record->SetDeviceID(300);
    ASSERT_TRUE(PlusDevice(record));
    PlusDevtoArray(299);
    PlusDevtoArray(300);
    ASSERT_TRUE(readAndShow());

    EXPECT_TRUE(m_config->write());  // nothing ticked: the values read go back unchanged
    ASSERT_TRUE(testkit::waitFor([&] { return m_device.writesApplied() == 1; }));
    Bytes expected = serialsim::encodeReply(serialsim::sampleParameters());
    expected[2] = 0x01;
    expected[3] = 0x20;
    EXPECT_EQ(writesReceived(), std::vector<Bytes>{expected});

    EXPECT_FALSE(FindDevice(300));
    EXPECT_EQ(deviceRegistry().ids(), std::vector<std::uint16_t>{299});
    EXPECT_EQ(m_mainWindow.next(std::chrono::milliseconds(0)),
              (PostedMessage{platform::WM_DEVICE_EVENT, 300, platform::DEV_EVENT_REMOVED}));
    EXPECT_EQ(m_groupRemovals, std::vector<std::uint16_t>{300});
}

// The device written to leaves supervision and its connection closes, as after an offline
// notice: no heartbeats to a device no longer listed, and it may register from a new address.
TEST_F(DeviceConfigTest, WriteEndsTheDevicesSupervisionAndClosesItsConnection) {
    LanwireOptions options;
    options.programFolder = m_dir.path().string() + "/";
    SetLanwireOptions(options);
    coretest::IgnoredMessages ignored;
    consolecore::CDeviceChannel channel{ignored};
    ASSERT_TRUE(channel.Start(0));
    const auto supervisedAt = [](std::uint16_t id) -> std::optional<std::uint32_t> {
        for (const auto& e : GetLanwireTickTable()) {
            if (e.deviceId == id) return e.address.sin_addr.s_addr;
        }
        return std::nullopt;
    };
    {
        simtcp::SimFleet fleet("127.0.0.1", GetLanwirePort());
        simtcp::Knobs once;
        once.reconnect = false;
        auto& before = fleet.add(simtcp::makeDeviceConfig(0, 300), once);
        fleet.start();
        ASSERT_TRUE(testkit::waitFor([&] { return FindDevice(300) && supervisedAt(300); }));
        ASSERT_TRUE(readAndShow());
        EXPECT_TRUE(m_config->write());
        EXPECT_FALSE(supervisedAt(300));
        EXPECT_TRUE(before.waitState([](const auto& s) { return s.closedByPeer == 1; }));

        auto& after = fleet.add(simtcp::makeDeviceConfig(1, 300));
        fleet.start();
        const in_addr_t moved = inet_addr(after.config().sourceAddress.c_str());
        // Supervision moves first, then the record follows it.
        ASSERT_TRUE(testkit::waitFor([&] { return supervisedAt(300) == moved; }));
        EXPECT_TRUE(testkit::waitFor([&] {
            const auto record = CopyDevice(300);
            return record && record->GetDeviceSockIPAddr().sin_addr.s_addr == moved;
        }));
        fleet.stop();
    }
}

TEST_F(DeviceConfigTest, RoundTripChangesEveryParameterAndReadsItBack) {
    ASSERT_TRUE(readAndShow());
    for (int f = 0; f < consolecore::kConfigFieldCount; ++f) {
        m_config->setUseNew(static_cast<ConfigField>(f), true);
    }
    auto& next = m_config->proposed();
    next.deviceNumber = "4242";
    next.name = "L\xC3\xA4ufer-7";  // "Läufer-7": one byte per character on the wire
    next.ipAddress = {10, 1, 2, 3};
    next.subnetMask = {255, 255, 0, 0};
    next.gateway = {10, 1, 0, 1};
    next.serverIp = {10, 1, 0, 100};
    next.macAddress = "de.ad.be.ef.0.1";
    EXPECT_TRUE(m_config->write());
    ASSERT_TRUE(testkit::waitFor([&] { return m_device.writesApplied() == 1; }));

    serialsim::DeviceParameters expected;
    expected.deviceNumber = 4242;
    expected.name = {'L', 0xE4, 'u', 'f', 'e', 'r', '-', '7', 0, 0};
    expected.ip = {10, 1, 2, 3};
    expected.mask = {255, 255, 0, 0};
    expected.gateway = {10, 1, 0, 1};
    expected.mac = {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01};
    expected.serverIp = {10, 1, 0, 100};
    EXPECT_EQ(m_device.parameters(), expected);

    ASSERT_TRUE(readAndShow());
    const auto& now = m_config->current();
    EXPECT_EQ(now.deviceNumber, "4242");
    EXPECT_EQ(now.name, "L\xC3\xA4ufer-7");
    EXPECT_EQ(now.ipAddress, (Ipv4Octets{10, 1, 2, 3}));
    EXPECT_EQ(now.subnetMask, (Ipv4Octets{255, 255, 0, 0}));
    EXPECT_EQ(now.gateway, (Ipv4Octets{10, 1, 0, 1}));
    EXPECT_EQ(now.serverIp, (Ipv4Octets{10, 1, 0, 100}));
    EXPECT_EQ(now.macAddress, "DE.AD.BE.EF.00.01");

    // Written back unticked, the name read from the device is sent unchanged.
    for (int f = 0; f < consolecore::kConfigFieldCount; ++f) {
        m_config->setUseNew(static_cast<ConfigField>(f), false);
    }
    EXPECT_TRUE(m_config->write());
    ASSERT_TRUE(testkit::waitFor([&] { return m_device.writesApplied() == 2; }));
    EXPECT_EQ(m_device.parameters(), expected);
}

}  // namespace
