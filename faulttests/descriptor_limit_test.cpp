// More connections than file descriptors: the console neither spins nor loses the devices it
// has, and takes the waiting ones as soon as descriptors are free again.
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "console_rig.h"
#include "lanwire/lanwire.h"
#include "platform/messages.h"
#include "process_probe.h"
#include "raw_peer.h"
#include "simtcp/sim_fleet.h"

namespace faulttest {
namespace {

using namespace std::chrono_literals;

// Lowers the soft descriptor limit to what is open now; restores it however the test ends.
class DescriptorLimit {
public:
    DescriptorLimit() { getrlimit(RLIMIT_NOFILE, &m_saved); }
    ~DescriptorLimit() { restore(); }
    bool exhaust() {
        const int probe = ::dup(0);
        if (probe < 0) return false;
        ::close(probe);  // the lowest free descriptor: a new one needs at least this number
        rlimit limit = m_saved;
        limit.rlim_cur = static_cast<rlim_t>(probe);
        return setrlimit(RLIMIT_NOFILE, &limit) == 0;
    }
    void restore() { setrlimit(RLIMIT_NOFILE, &m_saved); }

private:
    rlimit m_saved{};
};

TEST(DescriptorExhaustion, NoBusyLoopExistingDevicesServedWaitingOnesAcceptedLater) {
    LanwireOptions options;
    options.tickPeriod = 30s;  // the raw peers never answer heartbeats
    options.acceptBackoff = 500ms;
    ConsoleRig console(options);
    ASSERT_TRUE(console.started());
    simtcp::SimFleet fleet("127.0.0.1", console.port());
    constexpr std::size_t kGood = 3;
    for (std::size_t i = 0; i < kGood; ++i) {
        fleet.add(simtcp::makeDeviceConfig(500 + i, static_cast<std::uint16_t>(500 + i)));
    }
    fleet.start();
    ASSERT_TRUE(console.waitRows(kGood));
    ASSERT_TRUE(testkit::waitFor([] { return GetLanwireStats().connections == kGood; }));

    // The late devices' sockets exist before the limit drops; connecting needs no new
    // descriptor on their side, accepting them does.
    constexpr std::size_t kLate = 20;
    std::vector<std::unique_ptr<RawPeer>> late;
    for (std::size_t i = 0; i < kLate; ++i) {
        late.push_back(std::make_unique<RawPeer>(simtcp::loopbackAddress(520 + i)));
        ASSERT_TRUE(late.back()->valid());
    }
    DescriptorLimit limit;
    // One descriptor some library closes while the limit is low: the slot it frees lies
    // inside the reserve, so connections accepted into it are refused.
    const int freedLater = ::dup(0);
    ASSERT_GE(freedLater, 0);
    ASSERT_TRUE(limit.exhaust());
    const auto refusedBefore = GetLanwireStats().connectionsRefused;
    for (auto& peer : late) ASSERT_TRUE(peer->connect(console.port()));
    ::close(freedLater);

    const double cpuBefore = cpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    // The known devices keep reporting while accepting fails.
    for (std::size_t i = 0; i < kGood; ++i) {
        for (int k = 0; k < 20; ++k) fleet.device(i).sendStatus();
    }
    for (std::size_t i = 0; i < kGood; ++i) {
        EXPECT_TRUE(console.waitEvents(static_cast<std::uint16_t>(500 + i),
                                       platform::DEV_EVENT_STATUS, 20));
    }
    std::this_thread::sleep_for(500ms);  // the quiet stretch is what is measured
    const double cpu = cpuSeconds() - cpuBefore;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    EXPECT_EQ(GetLanwireStats().connections, kGood);
    limit.restore();
    // A server retrying accept at once would keep one core busy all the time.
    EXPECT_LT(cpu, 0.3 * wall) << "cpu " << cpu << " s in " << wall << " s";
    // A refusal pauses accepting: the freed slot must not refuse the whole backlog at once.
    EXPECT_LE(GetLanwireStats().connectionsRefused - refusedBefore, kLate / 2);

    // Descriptors are back: every waiting device is accepted and can register; a refused
    // one connects again, as a device does.
    std::vector<bool> reconnected(kLate, false);
    ASSERT_TRUE(testkit::waitFor(
        [&] {
            for (std::size_t i = 0; i < kLate; ++i) {
                if (reconnected[i] || !late[i]->closedByConsole(0)) continue;
                late[i] = std::make_unique<RawPeer>(simtcp::loopbackAddress(520 + i));
                reconnected[i] = late[i]->connect(console.port());
            }
            return GetLanwireStats().connections == kGood + kLate;
        },
        20s))
        << GetLanwireStats().connections;
    for (std::size_t i = 0; i < kLate; ++i) {
        ASSERT_TRUE(late[i]->send(registrationFrame(static_cast<std::uint16_t>(520 + i))));
    }
    EXPECT_TRUE(console.waitRows(static_cast<int>(kGood + kLate)));
    // The first devices were never disturbed.
    for (std::size_t i = 0; i < kGood; ++i) {
        EXPECT_EQ(fleet.device(i).state().connects, 1u);
    }
    fleet.stop();
}

}  // namespace
}  // namespace faulttest
