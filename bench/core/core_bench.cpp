// Measures the console core end to end against a fleet of simulated sequencers:
//  1. status frames per second from N devices until DEV_EVENT_STATUS is posted, unthrottled;
//  2. p99 latency from a device's send to the posted message at a paced 2,000 frames/s;
//  3. time from OnParallelOn for a 100-device group to the last NET_CMD_PARALLEL arriving.
// Usage: core_bench [devices=1000]
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "consolecore/device_channel.h"
#include "consolecore/group_selection.h"
#include "consolecore/switching.h"
#include "consolecore/switching_groups.h"
#include "devroster/devroster.h"
#include "lanwire/lanwire.h"
#include "lanwire/lanwire_options.h"
#include "logbase/logbase.h"
#include "platform/message_target.h"
#include "platform/messages.h"
#include "platform/prompt.h"
#include "protocol/frame_types.h"
#include "simtcp/sim_fleet.h"
#include "testkit/wait_for.h"

using Clock = std::chrono::steady_clock;
using namespace consolecore;

namespace {

// Counts status events as the receive path posts them and notes when each device's arrived.
class StatusCounter : public platform::MessageTarget {
public:
    explicit StatusCounter(std::size_t maxId) : m_lastPost(maxId + 1) {}
    void post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override {
        if (message == platform::WM_DEVICE_EVENT && lParam == platform::DEV_EVENT_REGISTERED) {
            registered.fetch_add(1);
        } else if (message == platform::WM_DEVICE_EVENT && lParam == platform::DEV_EVENT_STATUS) {
            m_lastPost[wParam & 0xFFFF].store(Clock::now().time_since_epoch().count());
            statuses.fetch_add(1);
        }
    }
    Clock::time_point lastPost(std::uint16_t id) const {
        return Clock::time_point(Clock::duration(m_lastPost[id].load()));
    }
    std::atomic<std::size_t> registered{0};
    std::atomic<std::size_t> statuses{0};

private:
    std::vector<std::atomic<Clock::rep>> m_lastPost;
};

class FirstGroupChooser : public GroupChooser {
public:
    std::optional<int> chooseGroup(GroupKind kind, std::uint8_t direction) override {
        GroupSelectionModel model(kind, direction);
        model.selectGroup(0);
        return model.result();
    }
};

class SilentPrompt : public platform::Prompt {
public:
    void showMessage(const std::string& text, const std::string&, platform::PromptIcon) override {
        std::printf("prompt: %s\n", text.c_str());
    }
};

void raiseFileLimit() {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t deviceCount = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000;
    raiseFileLimit();
    testkit::TempDir dir;
    LanwireOptions link;
    link.programFolder = dir.path().string() + "/";
    SetLanwireOptions(link);
    InitLogbaseModule(link.programFolder, "Vantrel_DB.db3");
    switchingGroups().reset();
    InitDevrosterMod();
    StatusCounter counter(deviceCount + 1);
    CDeviceChannel channel(counter);
    if (!channel.Start(0)) {
        std::fprintf(stderr, "link did not start\n");
        return 1;
    }

    simtcp::SimFleet fleet("127.0.0.1", GetLanwirePort(), 1);
    simtcp::Knobs knobs;
    knobs.recordFrames = false;
    knobs.stepDelay = std::chrono::milliseconds(0);
    knobs.statusEachStep = false;
    for (std::size_t i = 0; i < deviceCount; ++i) {
        auto config = simtcp::makeDeviceConfig(i, static_cast<std::uint16_t>(i + 1));
        config.group = 1;  // one big parallel group; the first 100 are the switching group below
        config.mode = 0;
        config.number = static_cast<std::uint8_t>(i % 100 + 1);
        if (i >= 100) config.group = static_cast<std::uint8_t>(2 + i % 5);
        fleet.add(config, knobs);
    }
    const auto connectStart = Clock::now();
    fleet.start();
    if (!testkit::waitFor([&] { return counter.registered.load() == deviceCount; },
                          std::chrono::seconds(120))) {
        std::fprintf(stderr, "only %zu of %zu devices registered\n", counter.registered.load(),
                     deviceCount);
        return 1;
    }
    const double registerSeconds =
        std::chrono::duration<double>(Clock::now() - connectStart).count();
    std::printf("devices registered: %zu in %.3f s\n", deviceCount, registerSeconds);

    // 1. Sustained: rounds of one status frame per device, each round sent as fast as the
    // fleet can write; the next round starts when the previous one has been posted, so the
    // link's bounded receive queue (2000 records) is never what limits the figure.
    const std::size_t rounds = 30;
    const std::size_t total = deviceCount * rounds;
    const std::size_t before = counter.statuses.load();
    const auto dropsBefore = GetLanwireStats().framesDropped;
    const auto burstStart = Clock::now();
    for (std::size_t round = 1; round <= rounds; ++round) {
        for (std::size_t i = 0; i < deviceCount; ++i) fleet.device(i).sendStatus();
        testkit::waitFor([&] { return counter.statuses.load() - before >= deviceCount * round; },
                         std::chrono::seconds(30));
    }
    const double burstSeconds = std::chrono::duration<double>(Clock::now() - burstStart).count();
    const std::size_t delivered = counter.statuses.load() - before;
    std::printf("status frames end to end: %zu of %zu in %.3f s = %.0f frames/s (%llu dropped)\n",
                delivered, total, burstSeconds, delivered / burstSeconds,
                static_cast<unsigned long long>(GetLanwireStats().framesDropped - dropsBefore));

    // 2. Paced at 2,000 frames/s: one frame per device every deviceCount/2000 s.
    std::vector<double> latenciesMs;
    const auto gap = std::chrono::microseconds(500);
    const std::size_t samples = std::max<std::size_t>(4000, deviceCount * 4);
    auto next = Clock::now();
    std::vector<Clock::time_point> sentAt(deviceCount + 1);
    std::size_t late = 0;
    for (std::size_t k = 0; k < samples; ++k) {
        const auto index = k % deviceCount;
        const auto id = static_cast<std::uint16_t>(index + 1);
        if (k >= deviceCount) {  // the previous frame of this device has had its turn
            const auto posted = counter.lastPost(id);
            if (posted >= sentAt[id]) {
                latenciesMs.push_back(
                    std::chrono::duration<double, std::milli>(posted - sentAt[id]).count());
            } else {
                ++late;  // not posted within one full turn of the fleet
            }
        }
        std::this_thread::sleep_until(next);
        sentAt[id] = Clock::now();
        fleet.device(index).sendStatus();
        next += gap;
    }
    std::sort(latenciesMs.begin(), latenciesMs.end());
    if (!latenciesMs.empty()) {
        const auto pct = [&](double p) {
            return latenciesMs[std::min(latenciesMs.size() - 1,
                                        static_cast<std::size_t>(p * latenciesMs.size()))];
        };
        std::printf(
            "at 2000 frames/s: send-to-post latency p50 %.3f ms, p99 %.3f ms, max %.3f ms "
            "(%zu samples, %zu later than one fleet turn)\n",
            pct(0.5), pct(0.99), latenciesMs.back(), latenciesMs.size(), late);
    }

    // 3. Parallel switch of the 100-device group 1.
    FirstGroupChooser chooser;
    SilentPrompt prompt;
    SwitchingController switching(channel, chooser, prompt, [] { return 1; });
    std::vector<std::uint64_t> parallelBefore(100);
    for (std::size_t i = 0; i < 100 && i < deviceCount; ++i) {
        parallelBefore[i] = fleet.device(i).received(protocol::NET_CMD_PARALLEL);
    }
    const auto parallelStart = Clock::now();
    switching.OnParallelOn();
    const bool allArrived = testkit::waitFor(
        [&] {
            for (std::size_t i = 0; i < 100 && i < deviceCount; ++i) {
                if (fleet.device(i).received(protocol::NET_CMD_PARALLEL) == parallelBefore[i]) {
                    return false;
                }
            }
            return true;
        },
        std::chrono::seconds(30));
    const double parallelMs =
        std::chrono::duration<double, std::milli>(Clock::now() - parallelStart).count();
    std::printf("parallel on, 100-device group: last order arrived after %.2f ms%s\n", parallelMs,
                allArrived ? "" : " (NOT all arrived)");

    fleet.stop();
    channel.Stop();
    ReleaseLogbaseModule();
    return 0;
}
