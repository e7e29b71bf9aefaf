// Identity and liveness: heartbeats per device id, an id bound to its supervised address,
// offline notices that are never lost, and removal that closes the device's connection.
#include "link_fixture.h"
#include "platform/messages.h"
#include "protocol/console_frames.h"
#include "protocol/device_frames.h"

using namespace linktest;
using namespace protocol;

namespace {

class IdentityTest : public LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        options.clock = [this] { return clock.now(); };
        options.heartbeatPass = 1ms;
        SetWindowHand(&notices);
    }
    void advanceTick() {
        const std::uint64_t before = GetLanwireStats().ticks;
        clock.advance(options.tickPeriod + 1ms);
        ASSERT_TRUE(testkit::waitFor([&] { return GetLanwireStats().ticks == before + 1; }));
    }
    static int counterOf(std::uint16_t id) {
        for (const auto& e : GetLanwireTickTable()) {
            if (e.deviceId == id) return e.counter;
        }
        return -100;  // no entry
    }
    static std::string supervisedAt(std::uint16_t id) {
        for (const auto& e : GetLanwireTickTable()) {
            if (e.deviceId == id) return ipOf(e.address);
        }
        return {};
    }
    static sockaddr_in addressOf(const simtcp::SimDevice& device) {
        return address(device.config().sourceAddress);
    }
    // A registration for `id` sent over `device`'s connection.
    static void registerAs(simtcp::SimDevice& device, std::uint16_t id) {
        RegisterPayload payload;
        payload.header.deviceId = id;
        payload.name = "GW" + std::to_string(id);
        device.sendFrame(buildRegisterFrame(payload));
    }
    // Sends a status report and waits for it: every frame sent before it has been handled.
    void flush(simtcp::SimDevice& device) {
        const std::size_t seen = recorder.from(device.id(), NET_CMD_STATUS).size();
        device.sendStatus();
        ASSERT_TRUE(recorder.waitCount(device.id(), NET_CMD_STATUS, seen + 1));
    }
    // Registers and supervises a device as the console does.
    void supervise(simtcp::SimDevice& device) {
        expectRegistered(device);
        const sockaddr_in peer = addressOf(device);
        ASSERT_TRUE(DoNetReg(device.id(), &peer));
        ASSERT_TRUE(device.waitCommand(NET_CMD_HEARTBEAT, 1));
    }
};

int idOf(const simtcp::ReceivedFrame& frame) {
    return frame.bytes.size() > 17 ? frame.bytes[16] | (frame.bytes[17] << 8) : -1;
}

simtcp::Knobs quietOnce() {
    simtcp::Knobs knobs;
    knobs.answerHeartbeats = false;
    knobs.reconnect = false;
    return knobs;
}

}  // namespace

TEST_F(IdentityTest, TwoIdsBehindOneConnectionKeepTheirOwnPacedHeartbeatChains) {
    simtcp::Knobs knobs;
    knobs.gatewayIds = {1202};
    ASSERT_TRUE(startLink());
    auto& gateway = addDevice(0, 1201, knobs);
    expectRegistered(gateway);
    registerAs(gateway, 1202);
    ASSERT_TRUE(recorder.waitCount(1202, NET_CMD_REGISTER, 1));
    const sockaddr_in peer = addressOf(gateway);
    ASSERT_TRUE(DoNetReg(1201, &peer));
    ASSERT_TRUE(DoNetReg(1202, &peer));
    for (int tick = 0; tick < 6; ++tick) {
        advanceTick();
        ASSERT_TRUE(testkit::waitFor([] { return counterOf(1201) == 3 && counterOf(1202) == 3; }))
            << "tick " << tick << ": " << counterOf(1201) << " " << counterOf(1202);
    }
    EXPECT_TRUE(recorder.from(1201, NET_CMD_OFFLINE).empty());
    EXPECT_TRUE(recorder.from(1202, NET_CMD_OFFLINE).empty());
    // Each id's heartbeats are written at least the heartbeat gap apart, less the half step of
    // the grid they share with other devices (5 ms at most).
    for (const std::uint16_t id : {1201, 1202}) {
        std::vector<Written> beats;
        for (const auto& w : writes.to(gateway.config().sourceAddress, NET_CMD_HEARTBEAT)) {
            if (w.deviceId == id) beats.push_back(w);
        }
        ASSERT_GE(beats.size(), 3u) << id;
        for (std::size_t i = 1; i < beats.size(); ++i) {
            EXPECT_GE(beats[i].at - beats[i - 1].at, options.heartbeatGap - 5ms) << id << " " << i;
        }
    }
}

TEST_F(IdentityTest, AnOfflineFrameFromTheNetworkIsDroppedAndLogged) {
    ASSERT_TRUE(startLink());
    auto& victim = addDevice(1, 1203);
    auto& forger = addDevice(2, 1204);
    supervise(victim);
    expectRegistered(forger);
    const OfflineNotice forged = buildOfflineNotice(1203);
    forger.sendFrame({forged.begin(), forged.end()});
    flush(forger);
    EXPECT_TRUE(recorder.from(1203, NET_CMD_OFFLINE).empty());
    EXPECT_EQ(counterOf(1203), 3);
    const auto rows =
        logRowsWith("丢弃网络上收到的离线包:1203;IP:" + forger.config().sourceAddress);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].type, 3);
    EXPECT_EQ(rows[0].childType, 4);
}

TEST_F(IdentityTest, HeartbeatAnswersFromAnotherAddressDoNotKeepADeviceOnline) {
    ASSERT_TRUE(startLink());
    auto& silentOne = addDevice(3, 1205, quietOnce());
    auto& forger = addDevice(4, 1206);
    supervise(silentOne);
    expectRegistered(forger);
    for (int tick = 0; tick < 4; ++tick) {
        forger.sendFrame(buildDeviceHeader(NET_CMD_HEARTBEAT_ACK, 1205));
        flush(forger);
        advanceTick();
    }
    EXPECT_EQ(counterOf(1205), -1);
    EXPECT_TRUE(recorder.waitCount(1205, NET_CMD_OFFLINE, 1));
    for (const auto& frame : forger.frames(NET_CMD_HEARTBEAT)) EXPECT_NE(idOf(frame), 1205);
}

TEST_F(IdentityTest, ARegistrationForAnIdOnlineElsewhereIsRefusedLoggedAndPosted) {
    ASSERT_TRUE(startLink());
    auto& owner = addDevice(5, 1207);
    auto& intruder = addDevice(6, 1208);
    supervise(owner);
    expectRegistered(intruder);
    registerAs(intruder, 1207);
    flush(intruder);
    // The console never sees the registration; DoNetReg for the intruder is refused too.
    EXPECT_EQ(recorder.from(1207, NET_CMD_REGISTER).size(), 1u);
    const sockaddr_in intruderAddress = addressOf(intruder);
    EXPECT_FALSE(DoNetReg(1207, &intruderAddress));
    EXPECT_EQ(supervisedAt(1207), owner.config().sourceAddress);
    const std::string line = "设备ID冲突:1207;新IP:" + intruder.config().sourceAddress +
                             ";在线IP:" + owner.config().sourceAddress;
    ASSERT_TRUE(testkit::waitFor([&] { return logRowsWith(line).size() == 2; }));
    EXPECT_EQ(logRowsWith(line)[0].type, 3);
    EXPECT_EQ(logRowsWith(line)[0].childType, 4);
    const auto conflicts = notices.conflicts();
    ASSERT_EQ(conflicts.size(), 2u);
    EXPECT_EQ(conflicts[0].id, 1207u);
    EXPECT_EQ(conflicts[0].newcomer, intruder.config().sourceAddress);
    EXPECT_EQ(conflicts[0].online, owner.config().sourceAddress);
    // A heartbeat for 1207 sent to the intruder would arrive before this probe.
    const ConsoleFrame probe = buildConsoleFrame(NET_CMD_SET_GROUP, 1208, 2);
    ASSERT_TRUE(TCPSend(probe.data(), probe.size(), intruderAddress));
    ASSERT_TRUE(intruder.waitCommand(NET_CMD_SET_GROUP));
    for (const auto& frame : intruder.frames(NET_CMD_HEARTBEAT)) EXPECT_NE(idOf(frame), 1207);
}

TEST_F(IdentityTest, ADeviceBackFromANewAddressAfterItsConnectionWentIsTakenOver) {
    ASSERT_TRUE(startLink());
    auto& before = addDevice(7, 1209, quietOnce());
    supervise(before);
    before.disconnect();
    ASSERT_TRUE(testkit::waitFor([] { return GetLanwireStats().connections == 0; }));
    auto& after = addDevice(8, 1209);  // the same id from a new address
    ASSERT_TRUE(recorder.waitCount(1209, NET_CMD_REGISTER, 2));
    const sockaddr_in peer = addressOf(after);
    ASSERT_TRUE(DoNetReg(1209, &peer));
    EXPECT_EQ(supervisedAt(1209), after.config().sourceAddress);
    for (int tick = 0; tick < 5; ++tick) {
        advanceTick();
        ASSERT_TRUE(testkit::waitFor([] { return counterOf(1209) == 3; })) << "tick " << tick;
    }
    EXPECT_TRUE(recorder.from(1209, NET_CMD_OFFLINE).empty());
}

TEST_F(IdentityTest, EveryOfflineNoticeReachesAHandlerThatIsBusyAndRemovesDevices) {
    constexpr std::uint16_t kFirst = 3000;
    constexpr std::uint16_t kCount = 2100;  // beyond the receive queue's 2000 records
    options.sendGap = 0ms;                  // 2100 heartbeats share one connection
    ASSERT_TRUE(startLink());
    const std::uint64_t droppedBefore = GetLanwireStats().framesDropped;
    auto& gateway = addDevice(9, 1210, quietOnce());
    expectRegistered(gateway);
    const sockaddr_in peer = addressOf(gateway);
    for (std::uint16_t id = kFirst; id < kFirst + kCount; ++id) ASSERT_TRUE(DoNetReg(id, &peer));
    // The handler waits in the first notice until the tick has queued them all, then removes
    // each device as the console does (DeleteTickDevice needs the heartbeat table).
    std::mutex gateLock;
    std::condition_variable gateChanged;
    bool open = false;
    recorder.setHook([&](const Delivery& d) {
        if (d.command() != NET_CMD_OFFLINE) return;
        {
            std::unique_lock<std::mutex> lock(gateLock);
            gateChanged.wait_for(lock, 20s, [&] { return open; });
        }
        DeleteTickDevice(static_cast<std::uint16_t>(d.deviceId));
    });
    for (int tick = 0; tick < 3; ++tick) advanceTick();
    advanceTick();  // every counter reaches the notice
    {
        std::lock_guard<std::mutex> guard(gateLock);
        open = true;
    }
    gateChanged.notify_all();
    ASSERT_TRUE(recorder.wait(
        [&](const std::vector<Delivery>& all) {
            std::size_t n = 0;
            for (const auto& d : all) n += d.command() == NET_CMD_OFFLINE ? 1 : 0;
            return n == kCount;
        },
        60s));
    EXPECT_TRUE(testkit::waitFor([] { return GetLanwireTickTable().empty(); }, 20s));
    EXPECT_EQ(GetLanwireStats().framesDropped, droppedBefore);
}

TEST_F(IdentityTest, RemovingADeviceAfterItsNoticeClosesItsConnectionSoItsReconnectIsAccepted) {
    ASSERT_TRUE(startLink());
    simtcp::Knobs knobs = silent();
    knobs.reconnectDelay = 10ms;
    auto& device = addDevice(10, 1211, knobs);
    supervise(device);
    recorder.setHook([](const Delivery& d) {
        if (d.command() == NET_CMD_OFFLINE)
            DeleteTickDevice(static_cast<std::uint16_t>(d.deviceId));
    });
    for (int tick = 0; tick < 4; ++tick) advanceTick();
    ASSERT_TRUE(recorder.waitCount(1211, NET_CMD_OFFLINE, 1));
    // No further tick: the removal itself closes the connection.
    EXPECT_TRUE(device.waitState([](const auto& s) { return s.closedByPeer >= 1; }));
    EXPECT_TRUE(recorder.waitCount(1211, NET_CMD_REGISTER, 2));
    EXPECT_TRUE(logRowsWith("carraySocket列表中已有设备:" + device.config().sourceAddress).empty());
}

TEST_F(IdentityTest, DeviceFramesForAnIdFromAnotherConnectionAreDroppedCountedAndLogged) {
    ASSERT_TRUE(startLink());
    auto& owner = addDevice(11, 1212);
    auto& forger = addDevice(12, 1213);
    supervise(owner);
    expectRegistered(forger);
    const std::uint64_t forgedBefore = GetLanwireStats().framesForged;
    StatusPayload claim;
    claim.header.deviceId = 1212;
    claim.group = 3;
    claim.onOff = true;
    const std::vector<std::uint8_t> commands = {NET_CMD_STATUS, NET_CMD_PARALLEL, NET_CMD_SERIAL,
                                                NET_CMD_STEP_DONE};
    for (const std::uint8_t command : commands) {
        forger.sendFrame(command == NET_CMD_STEP_DONE ? buildDeviceHeader(command, 1212)
                                                      : buildStatusFrame(command, claim));
    }
    flush(forger);
    for (const std::uint8_t command : commands) {
        EXPECT_TRUE(recorder.from(1212, command).empty()) << int(command);
    }
    EXPECT_EQ(GetLanwireStats().framesForged, forgedBefore + commands.size());
    // One line per address and minute, naming the first frame dropped.
    const std::string prefix = "丢弃非本设备连接发来的数据包:1212;命令:";
    const std::string from = ";IP:" + forger.config().sourceAddress;
    const auto rows = logRowsWith(prefix + "3" + from);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].type, 3);
    EXPECT_EQ(rows[0].childType, 4);
    EXPECT_TRUE(logRowsWith(prefix + "5" + from).empty());
    clock.advance(options.forgedLogPeriod);
    forger.sendFrame(buildDeviceHeader(NET_CMD_STEP_DONE, 1212));
    flush(forger);
    EXPECT_EQ(logRowsWith(prefix + "5" + from).size(), 1u);
    // The device's own connection still speaks for it.
    owner.sendStepDone();
    EXPECT_TRUE(recorder.waitCount(1212, NET_CMD_STEP_DONE, 1));
}

// A registration refused while the id's old connection stands is held: it goes through once
// that connection closes or its device is reported offline, and is dropped after the hold.
TEST_F(IdentityTest, ARegistrationHeldForAnIdOnlineElsewhereGoesThroughWhenTheOldOneGoes) {
    enum class OldOne { Closes, GoesOffline, Stays };
    options.registrationHold = 15s;  // longer than the four ticks to an offline notice
    ASSERT_TRUE(startLink());
    recorder.setHook([](const Delivery& d) {
        if (d.command() == NET_CMD_OFFLINE)
            DeleteTickDevice(static_cast<std::uint16_t>(d.deviceId));
    });
    std::size_t index = 13;
    std::uint16_t id = 1214;
    for (const OldOne old : {OldOne::Closes, OldOne::GoesOffline, OldOne::Stays}) {
        SCOPED_TRACE(static_cast<int>(old));
        auto& before = addDevice(index++, id, quietOnce());
        supervise(before);
        auto& after = addDevice(index++, id);
        ASSERT_TRUE(testkit::waitFor([] { return GetLanwireStats().registrationsHeld == 1; }));
        EXPECT_EQ(recorder.from(id, NET_CMD_REGISTER).size(), 1u);
        if (old == OldOne::Closes) {
            before.disconnect();
        } else if (old == OldOne::GoesOffline) {
            for (int tick = 0; tick < 4; ++tick) advanceTick();
        } else {
            // One tick, a whole hold later: the held registration is dropped.
            const std::uint64_t ticks = GetLanwireStats().ticks;
            clock.advance(options.registrationHold + 1ms);
            ASSERT_TRUE(testkit::waitFor([&] { return GetLanwireStats().ticks == ticks + 1; }));
            EXPECT_EQ(GetLanwireStats().registrationsHeld, 0u);
            EXPECT_EQ(recorder.from(id, NET_CMD_REGISTER).size(), 1u);
            EXPECT_EQ(supervisedAt(id), before.config().sourceAddress);
            continue;
        }
        ASSERT_TRUE(recorder.waitCount(id, NET_CMD_REGISTER, 2));
        const auto all = recorder.all();
        const auto registration = std::find_if(all.rbegin(), all.rend(), [&](const Delivery& d) {
            return d.deviceId == id && d.command() == NET_CMD_REGISTER;
        });
        EXPECT_EQ(ipOf(registration->peer), after.config().sourceAddress);
        if (old == OldOne::GoesOffline) {
            // Behind the offline notice, after which the console has removed the old device.
            const auto notice = std::find_if(all.begin(), all.end(), [&](const Delivery& d) {
                return d.deviceId == id && d.command() == NET_CMD_OFFLINE;
            });
            ASSERT_NE(notice, all.end());
            EXPECT_LT(notice - all.begin(), all.rend() - registration - 1);
        }
        const sockaddr_in peer = addressOf(after);
        EXPECT_TRUE(DoNetReg(id, &peer));
        EXPECT_EQ(supervisedAt(id), after.config().sourceAddress);
        EXPECT_EQ(GetLanwireStats().registrationsHeld, 0u);
        ++id;
    }
}
