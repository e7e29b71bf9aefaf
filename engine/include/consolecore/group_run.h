// The state of one parallel or serial group run as the operator follows it: progress, the
// device being switched, the outcome, and the texts the run panel and the audit line show.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "consolecore/switching_groups.h"

namespace consolecore {

using RunClock = std::chrono::steady_clock;

enum class RunOutcome { Running, Completed, TimedOut, Cancelled, DeviceLost };

struct GroupRun {
    std::uint64_t id = 0;
    GroupKind kind = GroupKind::Serial;
    std::uint8_t target = 1;  // 1 on, 0 off
    int group = 0;
    std::vector<std::uint32_t> planned;      // devices that need a command, in switching order
    std::vector<std::uint32_t> switched;     // devices commanded so far, in order
    std::vector<std::uint32_t> confirmed;    // devices whose step reply came
    std::vector<std::uint32_t> unconfirmed;  // at the end: commanded, never confirmed
    std::vector<std::uint32_t> lost;         // commanded devices that went offline
    std::optional<std::uint32_t> current;    // serial: the device being switched
    bool cancelRequested = false;
    std::string actor;        // who started it, named in the audit line
    std::string cancelledBy;  // who asked to cancel it, if anybody
    RunOutcome outcome = RunOutcome::Running;
    RunClock::time_point started{};
    RunClock::time_point ended{};

    bool running() const { return outcome == RunOutcome::Running; }
    // Devices done: confirmed by their step reply.
    std::size_t doneCount() const { return confirmed.size(); }
};

// "串行关 分组2".
std::string runTitle(const GroupRun& run);
// What the panel shows beside the title: progress, current device and elapsed time while
// running; the outcome once ended.
std::string runStatusText(const GroupRun& run, RunClock::time_point now);
// "完成", "超时", "已取消", "设备掉线".
std::string outcomeText(RunOutcome outcome);
// The one log line that sums a run up (without the "%d,%d," prefix): kind, direction, group,
// device ids in switching order, outcome, duration and user; then who cancelled it, when that
// was somebody else.
std::string auditText(const GroupRun& run, const std::string& user);
// The local user's login name (the password database, else $USER, else the uid).
std::string localUserName();

// Arms one-shot timers on the GUI thread for run time-outs. Re-arming a key replaces its
// timer; a disarmed timer never fires.
class RunTimer {
public:
    virtual ~RunTimer() = default;
    virtual void arm(std::uint64_t key, std::chrono::milliseconds after,
                     std::function<void()> fire) = 0;
    virtual void disarm(std::uint64_t key) = 0;
};

}  // namespace consolecore
