// Parallel and serial group switching started by the operator and paced by device replies,
// with each run's progress, step time-out, cancel and audit line.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "consolecore/group_run.h"
#include "consolecore/switching_groups.h"
#include "logbase/repeat_limiter.h"

namespace platform {
class Prompt;
}

namespace consolecore {

class CDeviceChannel;
class GroupChooser;

// The group's entries in switching order: ascending numbers to switch on, descending to
// switch off; devices with equal numbers keep their list order.
std::vector<stLocDevInfo_> switchingOrder(std::vector<stLocDevInfo_> entries, std::uint8_t target);

struct SwitchingOptions {
    // A serial step, or a whole parallel run, without a step reply in this time ends the run.
    std::chrono::milliseconds stepTimeout{std::chrono::seconds(15)};
    // Ask before 平行关/串行关 send anything.
    bool confirmGroupOff = true;
    // Asks the operator the question, the devices listed in switching order (an order only
    // for a serial run; a parallel one switches them together); true goes on. Null: no question.
    std::function<bool(const std::string& question, const std::vector<std::uint32_t>& order,
                       GroupKind kind)>
        confirm;
    RunTimer* timer = nullptr;  // null: runs never time out
    std::function<RunClock::time_point()> clock = [] { return RunClock::now(); };
    std::string userName = localUserName();
};

// Runs on the GUI thread. Holds the switching-groups lock for each complete run start and
// step handling; lock order: the groups lock before the registry's. Never calls out (prompt,
// observer) while holding it.
class SwitchingController {
public:
    // `deviceRowCount` tells how many rows the main device list has.
    SwitchingController(CDeviceChannel& channel, GroupChooser& chooser, platform::Prompt& prompt,
                        std::function<int()> deviceRowCount);
    ~SwitchingController();  // counts of refusals not yet logged are logged

    void configure(SwitchingOptions options) { m_options = std::move(options); }
    const SwitchingOptions& options() const { return m_options; }
    // Called with a run's state whenever it starts, advances or ends.
    void setRunObserver(std::function<void(const GroupRun&)> observer) {
        m_observer = std::move(observer);
    }
    // Called with a run's final state when it ends, after its audit line (the engine's).
    void setRunEndedObserver(std::function<void(const GroupRun&)> observer) {
        m_endedObserver = std::move(observer);
    }

    void OnParallelOn() { startParallel(1); }
    void OnParallelOff() { startParallel(0); }
    void OnSerialOn() { startSerial(1); }
    void OnSerialOff() { startSerial(0); }

    // A command from the network (`source`: "MQTT", later the web API) to run a given group
    // (1..6); `target` 1: on. The same log lines, run state and time-out as the buttons after
    // their group dialog, but it never asks and never shows a box: nobody is there to answer.
    // A group outside 1..6, a group with a run going and a group without devices are
    // refused with a log line (repeats counted, see logbase::RepeatLimiter).
    void startGroupRun(GroupKind kind, int group, std::uint8_t target, const std::string& source);

    // WM_PARALLEL_STEP_DONE.
    void onParallelStepDone(std::uint16_t deviceId);
    // WM_SERIAL_STEP_DONE; `on` is the direction the receive path posted. Only the reply of
    // the device the group's run waits for moves the run on (or ends it, if cancelled).
    void onSerialStepDone(std::uint16_t deviceId, bool on);
    // A device left the registry (DEV_EVENT_REMOVED): a run waiting for it ends.
    void onDeviceRemoved(std::uint16_t deviceId);

    // Serial: the device being switched finishes its step and nothing more is sent.
    // Parallel: every command is already out; the run ends at once. False for no such run.
    bool cancelRun(std::uint64_t runId);
    // The runs in progress.
    std::vector<GroupRun> activeRuns() const;

private:
    void startParallel(std::uint8_t target);
    void startSerial(std::uint8_t target);
    // Who asked for a run: the operator at the window, or a command from the network
    // (named by its source), which is never asked anything.
    struct Requester {
        const std::string* networkSource = nullptr;  // null: the operator
        bool operatorAsks() const { return networkSource == nullptr; }
    };
    // The runs once the group is known.
    void runParallel(int group, std::uint8_t target, Requester requester);
    void runSerial(int group, std::uint8_t target, Requester requester);
    // A run of this group already in progress: tells the operator (a box) or logs the
    // refused network command, and returns true.
    bool refuseWhileRunning(GroupKind kind, int group, std::uint8_t target, Requester requester);
    // A network command for a group without devices (or outside 1..6): a log line.
    void refuseNetwork(GroupKind kind, int group, std::uint8_t target, Requester requester,
                       const std::string& why);
    bool confirmOff(GroupKind kind, int group, const std::vector<std::uint32_t>& order);
    GroupRun* findRun(GroupKind kind, int group);
    GroupRun& beginRun(GroupKind kind, std::uint8_t target, int group,
                       std::vector<std::uint32_t> planned);
    void armTimeout(const GroupRun& run);
    void onTimeout(std::uint64_t runId);
    // Ends the run: outcome, audit line, observer; the run leaves the active list.
    void endRun(std::uint64_t runId, RunOutcome outcome);
    void notify(const GroupRun& run);

    CDeviceChannel& m_channel;
    GroupChooser& m_chooser;
    platform::Prompt& m_prompt;
    std::function<int()> m_deviceRowCount;
    SwitchingOptions m_options;
    std::function<void(const GroupRun&)> m_observer;
    std::function<void(const GroupRun&)> m_endedObserver;
    std::map<std::uint64_t, GroupRun> m_runs;  // in progress, GUI thread only
    std::uint64_t m_nextRunId = 1;
    logbase::RepeatLimiter m_refusals;
};

}  // namespace consolecore
