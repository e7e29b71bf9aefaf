// Two devices register one id at the same moment: the command channel behind the real link
// ends with one owner, named alike by the record, the heartbeat supervision and every command.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>

#include "consolecore/device_channel.h"
#include "consolecore/switching_groups.h"
#include "core_test_support.h"
#include "devroster/devroster.h"
#include "lanwire/lanwire.h"
#include "lanwire/lanwire_options.h"
#include "platform/ipv4_text.h"
#include "protocol/frame_types.h"
#include "simtcp/sim_fleet.h"
#include "testkit/wait_for.h"

using namespace consolecore;

namespace {

// The receive callback, held shut until both registrations of a round are queued.
class Gate {
public:
    void close() {
        std::lock_guard lock(m_mutex);
        m_open = false;
    }
    void open() {
        {
            std::lock_guard lock(m_mutex);
            m_open = true;
        }
        m_changed.notify_all();
    }
    void pass() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = true;
};

std::string supervisedAt(std::uint16_t id) {
    for (const auto& entry : GetLanwireTickTable()) {
        if (entry.deviceId == id) return platform::formatIpv4(entry.address.sin_addr);
    }
    return {};
}

class RegistrationRace : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(InitLogbaseModule(m_dir.path().string() + "/", "Vantrel_DB.db3"));
        InitDevrosterMod();
        switchingGroups().reset();
        LanwireOptions options;
        options.programFolder = m_dir.path().string() + "/";
        SetLanwireOptions(options);
        ASSERT_TRUE(InitLanwire(0, [this](std::uint32_t id, sockaddr_in peer,
                                          const std::uint8_t* data, std::int32_t length) {
            gate.pass();
            return CDeviceChannel::OnNetData(id, peer, data, length);
        }));
        fleet = std::make_unique<simtcp::SimFleet>("127.0.0.1", GetLanwirePort());
    }
    void TearDown() override {
        gate.open();
        fleet.reset();
        CancelLanwire();
        SetLanwireOptions({});
        ReleaseLogbaseModule();
        InitDevrosterMod();
    }

    testkit::TempDir m_dir;
    Gate gate;
    std::unique_ptr<simtcp::SimFleet> fleet;
};

TEST_F(RegistrationRace, TwoRegistrationsOfOneIdAtOnceEndWithOneOwner) {
    coretest::IgnoredMessages ignored;
    CDeviceChannel channel{ignored};
    simtcp::Knobs knobs;
    knobs.reconnect = false;

    for (std::uint16_t round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        const auto id = static_cast<std::uint16_t>(7000 + round);
        gate.close();
        const std::uint64_t queued = GetLanwireStats().framesQueued;
        auto& first = fleet->add(simtcp::makeDeviceConfig(2u * round, id), knobs);
        auto& second = fleet->add(simtcp::makeDeviceConfig(2u * round + 1, id), knobs);
        fleet->start();
        ASSERT_TRUE(testkit::waitFor([&] { return GetLanwireStats().framesQueued >= queued + 2; }));
        gate.open();

        ASSERT_TRUE(testkit::waitFor([&] { return FindDevice(id) && !supervisedAt(id).empty(); }));
        const auto record = CopyDevice(id);
        ASSERT_TRUE(record);
        const std::string owner = platform::formatIpv4(record->GetDeviceSockIPAddr().sin_addr);
        EXPECT_EQ(supervisedAt(id), owner);
        auto& winner = owner == first.config().sourceAddress ? first : second;
        auto& loser = &winner == &first ? second : first;
        // Commands go where the heartbeats go; the other device hears nothing for the id.
        channel.SendChannelSwitch(id, 1, 1);
        EXPECT_TRUE(winner.waitCommand(protocol::NET_CMD_CHANNEL));
        EXPECT_TRUE(winner.waitCommand(protocol::NET_CMD_HEARTBEAT));
        EXPECT_EQ(loser.received(protocol::NET_CMD_CHANNEL), 0u);
        EXPECT_EQ(loser.received(protocol::NET_CMD_HEARTBEAT), 0u);
        // Nor does it speak for the id: its status report (outlet 1 off) changes nothing.
        ASSERT_TRUE(testkit::waitFor([&] { return CopyDevice(id)->GetLed(0); }));
        const std::uint64_t forged = GetLanwireStats().framesForged;
        loser.sendStatus();
        ASSERT_TRUE(testkit::waitFor([&] { return GetLanwireStats().framesForged > forged; }));
        EXPECT_TRUE(CopyDevice(id)->GetLed(0));
        EXPECT_EQ(supervisedAt(id), owner);
    }
}

}  // namespace

// A device back from a new address while its old connection still stands (it closes just
// before or just after the new registration): the registration is held, and completed once
// the old connection is gone, with its log line, the supervision and the record's address.
TEST_F(RegistrationRace, ADeviceBackFromANewAddressTakesItsIdOverWhenTheOldConnectionCloses) {
    simtcp::Knobs once;
    once.reconnect = false;
    std::size_t index = 0;
    std::uint16_t id = 7100;
    for (const bool closeFirst : {false, true, false, true}) {
        SCOPED_TRACE(id);
        auto& before = fleet->add(simtcp::makeDeviceConfig(index++, id), once);
        fleet->start();
        ASSERT_TRUE(
            testkit::waitFor([&] { return supervisedAt(id) == before.config().sourceAddress; }));
        auto& after = fleet->add(simtcp::makeDeviceConfig(index++, id));
        if (closeFirst) {
            before.disconnect();
            fleet->start();
        } else {
            fleet->start();
            const std::string conflict = "设备ID冲突:" + std::to_string(id) +
                                         ";新IP:" + after.config().sourceAddress +
                                         ";在线IP:" + before.config().sourceAddress;
            ASSERT_TRUE(testkit::waitFor([&] {
                return coretest::countLog({3, 4, conflict}) == 1;
            }));
            before.disconnect();
        }
        const std::string moved = after.config().sourceAddress;
        ASSERT_TRUE(testkit::waitFor([&] {
            const auto record = CopyDevice(id);
            return supervisedAt(id) == moved && record &&
                   platform::formatIpv4(record->GetDeviceSockIPAddr().sin_addr) == moved;
        }));
        EXPECT_TRUE(after.waitCommand(protocol::NET_CMD_HEARTBEAT));
        EXPECT_EQ(coretest::countLog({2, 4, "已经注册过了:" + std::to_string(id)}), 1);
        EXPECT_EQ(GetLanwireStats().registrationsHeld, 0u);
        ++id;
    }
}
