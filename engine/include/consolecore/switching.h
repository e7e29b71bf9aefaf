// Parallel and serial group switching started by the operator and paced by device replies,
// with each run's progress, step time-out, cancel and audit line.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "consolecore/actor.h"
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

// What became of a group run asked for. A caller maps it once to what its user sees.
enum class RunStart {
    Started,          // the first commands are out; the run follows in RunProgress
    NothingToSwitch,  // every device of the group is already in the wanted state
    NoSuchGroup,      // outside 1..6, or no group chosen
    GroupBusy,        // a run of this kind for this group is in progress
    GroupEmpty,       // the group has no devices
    Declined,         // the operator said no (the question before switching off, the group
                      // dialog closed)
    LinkDown,         // the link is not running: nothing sent
};

// What became of a cancel.
enum class CancelResult {
    Cancelled,   // the run ended
    Cancelling,  // serial: the device being switched finishes its step first
    UnknownRun,  // no run with that id is in progress
};

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

    // The window's buttons, for the operator (options().userName): the group dialog, then
    // chooseAndStart.
    void OnParallelOn() { chooseAndStart(GroupKind::Parallel, 1, consoleActor()); }
    void OnParallelOff() { chooseAndStart(GroupKind::Parallel, 0, consoleActor()); }
    void OnSerialOn() { chooseAndStart(GroupKind::Serial, 1, consoleActor()); }
    void OnSerialOff() { chooseAndStart(GroupKind::Serial, 0, consoleActor()); }
    // The operator at the window, as options().userName names them.
    Actor consoleActor() const { return {m_options.userName, true}; }

    // Asks the group chooser for the group (a parallel run only when the list has rows), then
    // startGroupRun. A group outside 1..6 is "未选择分组".
    RunStart chooseAndStart(GroupKind kind, std::uint8_t target, const Actor& actor);
    // Runs a given group (1..6); `target` 1: on. An actor at the console may be asked before
    // switching off and is told refusals in a box; any other actor is never asked, and its
    // refusals (group outside 1..6, running, without devices) are log lines naming it
    // (repeats counted, see logbase::RepeatLimiter). The run's audit line names the actor.
    RunStart startGroupRun(GroupKind kind, int group, std::uint8_t target, const Actor& actor);

    // WM_PARALLEL_STEP_DONE.
    void onParallelStepDone(std::uint16_t deviceId);
    // WM_SERIAL_STEP_DONE; `on` is the direction the receive path posted. Only the reply of
    // the device the group's run waits for moves the run on (or ends it, if cancelled).
    void onSerialStepDone(std::uint16_t deviceId, bool on);
    // A device left the registry (DEV_EVENT_REMOVED): a run waiting for it ends.
    void onDeviceRemoved(std::uint16_t deviceId);

    // Serial: the device being switched finishes its step and nothing more is sent.
    // Parallel: every command is already out; the run ends at once. The audit line names
    // `actor` when it is not the one who started the run.
    CancelResult cancelRun(std::uint64_t runId, const Actor& actor);
    // The runs in progress.
    std::vector<GroupRun> activeRuns() const;

private:
    // The runs once the group is known.
    RunStart runParallel(int group, std::uint8_t target, const Actor& actor);
    RunStart runSerial(int group, std::uint8_t target, const Actor& actor);
    // A run of this group already in progress: tells the operator (a box) or logs the
    // refused network command, and returns true.
    bool refuseWhileRunning(GroupKind kind, int group, std::uint8_t target, const Actor& actor);
    // A network command for a group without devices (or outside 1..6): a log line.
    void refuseNetwork(GroupKind kind, int group, std::uint8_t target, const Actor& actor,
                       const std::string& why);
    bool confirmOff(GroupKind kind, int group, const std::vector<std::uint32_t>& order);
    GroupRun* findRun(GroupKind kind, int group);
    GroupRun& beginRun(GroupKind kind, std::uint8_t target, int group,
                       std::vector<std::uint32_t> planned, const Actor& actor);
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
