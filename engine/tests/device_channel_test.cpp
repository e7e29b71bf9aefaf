// The receive path of the command channel fed with real frames, checked in the registry,
// the switching groups, the posted messages and the real log store.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "consolecore/device_channel.h"
#include "consolecore/switching_groups.h"
#include "core_test_support.h"
#include "devroster/devroster.h"
#include "lanwire/lanwire.h"
#include "lanwire/lanwire_options.h"
#include "platform/messages.h"
#include "protocol/console_frames.h"
#include "protocol/device_frames.h"
#include "protocol/frame_types.h"
#include "simtcp/sim_fleet.h"
#include "testkit/wait_for.h"

using namespace consolecore;
using coretest::LogRow;
using coretest::PostedMessage;

namespace {

sockaddr_in peerAddress(const char* ip, std::uint16_t port = 40000) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, ip, &a.sin_addr);
    return a;
}

protocol::RegisterPayload registration(std::uint16_t id, std::uint8_t group, std::uint8_t mode,
                                       std::uint8_t number) {
    protocol::RegisterPayload p;
    p.header.deviceId = id;
    p.name = "Rack" + std::to_string(id);
    p.mask = 0xFFFFFF00;
    p.gateway = 0xC0A80101;
    p.mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    p.group = group;
    p.mode = mode;
    p.number = number;
    return p;
}

protocol::StatusPayload status(std::uint16_t id, std::uint8_t group, std::uint8_t mode,
                               std::uint8_t number, bool on, std::uint16_t word = 0) {
    protocol::StatusPayload p;
    p.header.deviceId = id;
    p.group = group;
    p.mode = mode;
    p.number = number;
    p.onOff = on;
    p.outlets = protocol::expandChannelWord(word);
    return p;
}

int feed(const std::vector<std::uint8_t>& frame, const char* ip = "127.0.0.2") {
    return CDeviceChannel::OnNetData(0, peerAddress(ip), frame.data(),
                                     static_cast<std::int32_t>(frame.size()));
}

// A main window that notes, for each posted message, whether another thread could take the
// groups lock while the message was being posted.
class GroupsLockProbe : public platform::MessageTarget {
public:
    ~GroupsLockProbe() override { join(); }
    void post(std::uint32_t message, std::uintptr_t, std::intptr_t) override {
        auto taken = std::make_shared<std::promise<void>>();
        std::future<void> done = taken->get_future();
        std::lock_guard lock(m_mutex);
        m_threads.emplace_back([taken] {
            auto guard = switchingGroups().lock();
            taken->set_value();
        });
        const bool free = done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        m_posts.emplace_back(message, free);
    }
    void join() {
        for (std::thread& t : m_threads) t.join();
        m_threads.clear();
    }
    std::vector<std::pair<std::uint32_t, bool>> m_posts;

private:
    std::mutex m_mutex;
    std::vector<std::thread> m_threads;
};

class DeviceChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(InitLogbaseModule(m_dir.path().string() + "/", "Vantrel_DB.db3"));
        InitDevrosterMod();
        switchingGroups().reset();
    }
    void TearDown() override {
        ReleaseLogbaseModule();
        InitDevrosterMod();
    }
    void registerDevice(std::uint16_t id, std::uint8_t group, std::uint8_t mode,
                        std::uint8_t number = 1) {
        ASSERT_EQ(feed(protocol::buildRegisterFrame(registration(id, group, mode, number))), 0);
        ASSERT_EQ(m_window.next(),
                  (PostedMessage{platform::WM_DEVICE_EVENT, id, platform::DEV_EVENT_REGISTERED}));
    }

    testkit::TempDir m_dir;
    coretest::MessageQueue m_window;
    CDeviceChannel m_channel{m_window};  // the receive path posts to m_window
};

TEST_F(DeviceChannelTest, RegistrationFillsRecordFilesGroupAndLogs) {
    registerDevice(21, 3, 1, 4);
    const auto record = CopyDevice(21);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->GetDeviceName(), "Rack21");
    EXPECT_EQ(record->GetDeviceSockSubNetMask().sin_addr.s_addr, 0xFFFFFF00u);
    EXPECT_EQ(record->GetDeviceSockGateWay().sin_addr.s_addr, 0xC0A80101u);
    EXPECT_EQ(record->GetDeviceSockIPAddr().sin_addr.s_addr, inet_addr("127.0.0.2"));
    EXPECT_TRUE(record->GetOnLine());
    EXPECT_EQ(record->GetNumber(), 4);
    ASSERT_EQ(switchingGroups().devices(GroupKind::Serial, 3).size(), 1u);
    EXPECT_EQ(deviceRegistry().ids(), std::vector<std::uint16_t>{21});
    EXPECT_EQ(coretest::countLog({2, 4, "设备注册:21"}), 1);
    EXPECT_EQ(coretest::countLog({2, 6, "设备[ID:21;IP:127.0.0.2]注册成功!"}), 1);
}

TEST_F(DeviceChannelTest, SecondRegistrationChangesNothingAndPostsNothing) {
    registerDevice(21, 3, 1, 4);
    auto again = registration(21, 5, 0, 9);
    again.name = "Other";
    EXPECT_EQ(feed(protocol::buildRegisterFrame(again)), 0);
    EXPECT_EQ(coretest::countLog({2, 4, "已经注册过了:21"}), 1);
    EXPECT_FALSE(m_window.next(std::chrono::milliseconds(50)));
    EXPECT_EQ(CopyDevice(21)->GetDeviceName(), "Rack21");
    EXPECT_TRUE(switchingGroups().devices(GroupKind::Parallel, 5).empty());
}

TEST_F(DeviceChannelTest, RegistrationWithModeTwoFilesNoGroup) {
    registerDevice(30, 3, 2);
    EXPECT_TRUE(CopyDevice(30));
    EXPECT_FALSE(switchingGroups().findGroupOf(GroupKind::Serial, 30));
    EXPECT_FALSE(switchingGroups().findGroupOf(GroupKind::Parallel, 30));
}

TEST_F(DeviceChannelTest, ShortOrBadFramesAreRejectedWithoutChanges) {
    auto frame = protocol::buildRegisterFrame(registration(40, 1, 0, 1));
    frame.resize(64);
    EXPECT_EQ(feed(frame), -1);
    std::vector<std::uint8_t> wrongMarker(30, 0);
    wrongMarker[0] = 0xFA;
    EXPECT_EQ(feed(wrongMarker), -1);
    EXPECT_EQ(feed(std::vector<std::uint8_t>(19, 0xFE)), 0);
    auto shortStatus = protocol::buildStatusFrame(protocol::NET_CMD_STATUS, status(40, 1, 0, 1, 1));
    shortStatus.resize(25);
    EXPECT_EQ(feed(shortStatus), -1);
    EXPECT_FALSE(CopyDevice(40));
    EXPECT_TRUE(m_window.drain().empty());
}

TEST_F(DeviceChannelTest, StatusUpdatesRecordRefilesAndPosts) {
    registerDevice(50, 2, 1, 1);
    for (std::uint8_t command :
         {protocol::NET_CMD_STATUS, protocol::NET_CMD_SERIAL, protocol::NET_CMD_PARALLEL}) {
        EXPECT_EQ(feed(protocol::buildStatusFrame(command, status(50, 4, 0, 7, true, 0x8001))), 0);
        EXPECT_EQ(m_window.next(),
                  (PostedMessage{platform::WM_DEVICE_EVENT, 50, platform::DEV_EVENT_STATUS}));
        const auto record = CopyDevice(50);
        EXPECT_TRUE(record->GetLed(0));
        EXPECT_TRUE(record->GetLed(15));
        EXPECT_FALSE(record->GetLed(1));
        EXPECT_EQ(record->GetMarshalling(), 4);
        EXPECT_EQ(switchingGroups().findGroupOf(GroupKind::Parallel, 50), 4);
        EXPECT_FALSE(switchingGroups().findGroupOf(GroupKind::Serial, 50));
    }
}

TEST_F(DeviceChannelTest, StatusWithGroupZeroLeavesAllGroupsButStillPosts) {
    registerDevice(51, 2, 1, 1);
    EXPECT_EQ(feed(protocol::buildStatusFrame(protocol::NET_CMD_STATUS, status(51, 0, 1, 1, 0))),
              0);
    EXPECT_EQ(m_window.next(),
              (PostedMessage{platform::WM_DEVICE_EVENT, 51, platform::DEV_EVENT_STATUS}));
    EXPECT_FALSE(switchingGroups().findGroupOf(GroupKind::Serial, 51));
}

TEST_F(DeviceChannelTest, StatusOfUnknownDeviceIsIgnored) {
    EXPECT_EQ(feed(protocol::buildStatusFrame(protocol::NET_CMD_STATUS, status(52, 1, 1, 1, 0))),
              0);
    EXPECT_TRUE(m_window.drain().empty());
    EXPECT_FALSE(switchingGroups().findGroupOf(GroupKind::Serial, 52));
}

TEST_F(DeviceChannelTest, StepDoneOfParallelDevicePostsOnlyParallelMessage) {
    registerDevice(60, 1, 0);
    EXPECT_EQ(feed(protocol::buildDeviceHeader(protocol::NET_CMD_STEP_DONE, 60)), 0);
    EXPECT_EQ(m_window.next(), (PostedMessage{platform::WM_PARALLEL_STEP_DONE, 60, 0}));
    EXPECT_FALSE(m_window.next(std::chrono::milliseconds(50)));
}

TEST_F(DeviceChannelTest, StepDoneOfSerialDeviceNeedsARunRecord) {
    registerDevice(61, 2, 1);
    feed(protocol::buildDeviceHeader(protocol::NET_CMD_STEP_DONE, 61));
    EXPECT_TRUE(m_window.drain().empty());
    {
        auto guard = switchingGroups().lock();
        switchingGroups().addSerialRecord({2, 61, 0, {61}});
        switchingGroups().setDirection(GroupKind::Serial, 2, 1);
    }
    feed(protocol::buildDeviceHeader(protocol::NET_CMD_STEP_DONE, 61));
    EXPECT_EQ(m_window.next(), (PostedMessage{platform::WM_SERIAL_STEP_DONE, 61, 1}));
}

TEST_F(DeviceChannelTest, StepDoneIsPostedAfterTheGroupsLockIsReleased) {
    registerDevice(62, 1, 0);
    GroupsLockProbe probe;
    {
        CDeviceChannel probed(probe);
        feed(protocol::buildDeviceHeader(protocol::NET_CMD_STEP_DONE, 62));
    }
    probe.join();
    EXPECT_EQ(
        probe.m_posts,
        (std::vector<std::pair<std::uint32_t, bool>>{{platform::WM_PARALLEL_STEP_DONE, true}}));
}

TEST_F(DeviceChannelTest, OfflineNoticeForUnknownIdStillLogsAndPostsRemoval) {
    const auto notice = protocol::buildOfflineNotice(77);
    EXPECT_EQ(CDeviceChannel::OnNetData(77, peerAddress("127.0.0.9"), notice.data(),
                                        static_cast<std::int32_t>(notice.size())),
              0);
    EXPECT_EQ(m_window.next(),
              (PostedMessage{platform::WM_DEVICE_EVENT, 77, platform::DEV_EVENT_REMOVED}));
    EXPECT_EQ(coretest::countLog({3, 4, "删除map中掉线设备:77"}), 1);
}

TEST_F(DeviceChannelTest, OfflineNoticeRemovesRegistryAndGroupEntries) {
    registerDevice(78, 2, 1);
    const auto notice = protocol::buildOfflineNotice(78);
    feed(std::vector<std::uint8_t>(notice.begin(), notice.end()));
    EXPECT_FALSE(CopyDevice(78));
    EXPECT_FALSE(switchingGroups().findGroupOf(GroupKind::Serial, 78));
    EXPECT_TRUE(deviceRegistry().ids().empty());
}

TEST_F(DeviceChannelTest, SendOperationsSayWhatBecameOfTheFrameAndLogOnlyWhatWasSent) {
    registerDevice(90, 1, 0);  // known at 127.0.0.2, where no device is connected
    CDeviceChannel& channel = m_channel;
    EXPECT_EQ(channel.SendChannelSwitch(91, 3, 1), SendResult::UnknownDevice);  // no line
    EXPECT_EQ(channel.SendParallelSwitch(91, 1, 1, 1), SendResult::UnknownDevice);
    EXPECT_EQ(channel.SendSerialSwitch(91, 0, 2, 1, 1), SendResult::UnknownDevice);
    EXPECT_EQ(coretest::countLog({3, 5, "平行操作Map中没有找到91的设备"}), 1);
    EXPECT_EQ(coretest::countLog({3, 6, "串行操作Map中没有找到91的设备"}), 1);
    // With the link stopped every frame is refused, and the lines say so.
    EXPECT_EQ(channel.SendChannelSwitch(90, 12, 0), SendResult::Refused);
    EXPECT_EQ(channel.SendParallelSwitch(90, 1, 2, 3), SendResult::Refused);
    EXPECT_EQ(channel.SendSerialSwitch(90, 0, 1, 1, 3), SendResult::Refused);
    EXPECT_EQ(coretest::countLog({2, 5, "平行开(设备:90,num:2)失败!"}), 1);
    EXPECT_EQ(coretest::countLog({2, 6, "串行关分组1失败,设备:90"}), 1);
    // Running, but nothing is connected from the device's address: nothing is sent.
    ASSERT_TRUE(channel.Start(0));
    EXPECT_EQ(channel.SendChannelSwitch(90, 12, 0), SendResult::NotConnected);
    EXPECT_EQ(channel.SendSetMode(90, 1), SendResult::NotConnected);
    EXPECT_EQ(coretest::countLog({2, 8, "设备:Rack90关灯:12"}), 0);
    // A connected device gets the frame, and the line names it.
    simtcp::SimFleet fleet("127.0.0.1", GetLanwirePort());
    simtcp::SimDevice& device = fleet.add(simtcp::makeDeviceConfig(5, 92));
    fleet.start();
    ASSERT_TRUE(testkit::waitFor([] { return FindDevice(92) != nullptr; }));
    EXPECT_EQ(channel.SendChannelSwitch(92, 12, 0), SendResult::Queued);
    EXPECT_TRUE(device.waitCommand(protocol::NET_CMD_CHANNEL));
    EXPECT_EQ(coretest::countLog({2, 8, "设备:SIM92关灯:12"}), 1);
    fleet.stop();
    channel.Stop();
}

}  // namespace
