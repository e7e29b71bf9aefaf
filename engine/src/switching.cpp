// Parallel switching sends every device of a group its order at once; serial switching
// sends one device at a time and continues on each device's step reply.
#include "consolecore/switching.h"

#include <algorithm>
#include <vector>

#include "consolecore/device_channel.h"
#include "consolecore/group_selection.h"
#include "consolecore/switching_groups.h"
#include "logbase/log_codes.h"
#include "logbase/logbase.h"
#include "platform/prompt.h"

namespace consolecore {

namespace {

const char* const kNoGroupChosen = "未选择分组";
const char* const kNoParallelDevices = "当前无平行操作的设备!";

std::uint8_t countByte(std::size_t n) {
    return static_cast<std::uint8_t>(n);
}

void markHandled(std::vector<stLocDevInfo_>& devices, std::uint32_t id) {
    for (auto& e : devices) {
        if (e.deviceId == id) {
            e.handled = 1;
            return;
        }
    }
}

std::string commandName(GroupKind kind, std::uint8_t target) {
    return std::string(kind == GroupKind::Serial ? "串行" : "平行") + (target != 0 ? "开" : "关");
}

int logSubType(GroupKind kind) {
    return kind == GroupKind::Serial ? logcode::kSerial : logcode::kParallel;
}

bool contains(const std::vector<std::uint32_t>& ids, std::uint32_t id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// The ids of the sorted entries that still need a command.
std::vector<std::uint32_t> idsToSwitch(const std::vector<stLocDevInfo_>& sorted,
                                       std::uint8_t target) {
    std::vector<std::uint32_t> ids;
    for (const auto& e : sorted) {
        if (!isInState(e.onOff, target)) ids.push_back(e.deviceId);
    }
    return ids;
}

}  // namespace

std::vector<stLocDevInfo_> switchingOrder(std::vector<stLocDevInfo_> entries, std::uint8_t target) {
    // Stable, as a neighbour-swapping bubble sort that swaps only strictly out-of-order
    // pairs is: equal numbers keep their list order.
    std::stable_sort(entries.begin(), entries.end(),
                     [target](const stLocDevInfo_& a, const stLocDevInfo_& b) {
                         return target == 1 ? a.number < b.number : a.number > b.number;
                     });
    return entries;
}

SwitchingController::SwitchingController(CDeviceChannel& channel, GroupChooser& chooser,
                                         platform::Prompt& prompt,
                                         std::function<int()> deviceRowCount)
    : m_channel(channel),
      m_chooser(chooser),
      m_prompt(prompt),
      m_deviceRowCount(std::move(deviceRowCount)),
      m_refusals(std::chrono::seconds(10), [this] { return m_options.clock(); }) {}

SwitchingController::~SwitchingController() {
    m_refusals.flush(true);
}

GroupRun* SwitchingController::findRun(GroupKind kind, int group) {
    for (auto& [id, run] : m_runs) {
        if (run.kind == kind && run.group == group) return &run;
    }
    return nullptr;
}

std::vector<GroupRun> SwitchingController::activeRuns() const {
    std::vector<GroupRun> runs;
    for (const auto& [id, run] : m_runs) runs.push_back(run);
    return runs;
}

bool SwitchingController::refuseWhileRunning(GroupKind kind, int group, std::uint8_t target,
                                             const Actor& actor) {
    if (!findRun(kind, group)) return false;
    if (actor.atConsole) {
        const std::string text = groupName(group) +
                                 (kind == GroupKind::Serial ? "的串行操作" : "的平行操作") +
                                 "正在进行,请等待其结束或取消后再试";
        m_prompt.showMessage(text);
        return true;
    }
    const std::string& source = actor.name;
    m_refusals.log(logcode::kFailure, logSubType(kind),
                   "running:" + source + ":" + commandName(kind, target) + std::to_string(group),
                   "分组" + std::to_string(group) + "正在执行,忽略" + source + "的" +
                       commandName(kind, target));
    return true;
}

void SwitchingController::refuseNetwork(GroupKind kind, int group, std::uint8_t target,
                                        const Actor& actor, const std::string& why) {
    const std::string& source = actor.name;
    m_refusals.log(
        logcode::kFailure, logSubType(kind),
        why + ":" + source + ":" + commandName(kind, target) + std::to_string(group),
        "分组" + std::to_string(group) + why + ",忽略" + source + "的" + commandName(kind, target));
}

bool SwitchingController::confirmOff(GroupKind kind, int group,
                                     const std::vector<std::uint32_t>& order) {
    if (!m_options.confirmGroupOff || !m_options.confirm || order.empty()) return true;
    const std::string question =
        "确定要关闭" + groupName(group) + "的" + std::to_string(order.size()) + "台设备吗?";
    return m_options.confirm(question, order, kind);
}

GroupRun& SwitchingController::beginRun(GroupKind kind, std::uint8_t target, int group,
                                        std::vector<std::uint32_t> planned, const Actor& actor) {
    GroupRun run;
    run.actor = actor.name;
    run.id = m_nextRunId++;
    run.kind = kind;
    run.target = target;
    run.group = group;
    run.planned = std::move(planned);
    run.started = m_options.clock();
    return m_runs.emplace(run.id, std::move(run)).first->second;
}

void SwitchingController::armTimeout(const GroupRun& run) {
    if (!m_options.timer) return;
    const std::uint64_t id = run.id;
    m_options.timer->arm(id, m_options.stepTimeout, [this, id] { onTimeout(id); });
}

void SwitchingController::notify(const GroupRun& run) {
    if (m_observer) m_observer(run);
}

void SwitchingController::endRun(std::uint64_t runId, RunOutcome outcome) {
    auto it = m_runs.find(runId);
    if (it == m_runs.end()) return;
    GroupRun run = std::move(it->second);
    m_runs.erase(it);
    if (m_options.timer) m_options.timer->disarm(runId);
    run.outcome = outcome;
    run.ended = m_options.clock();
    run.current.reset();
    if (run.unconfirmed.empty() && outcome != RunOutcome::Completed) {
        for (std::uint32_t id : run.switched) {
            if (!contains(run.confirmed, id) && !contains(run.lost, id)) {
                run.unconfirmed.push_back(id);
            }
        }
    }
    logEvent(logcode::kRun, run.kind == GroupKind::Serial ? logcode::kSerial : logcode::kParallel,
             auditText(run, run.actor));
    notify(run);
    if (m_endedObserver) m_endedObserver(run);
}

RunStart SwitchingController::chooseAndStart(GroupKind kind, std::uint8_t target,
                                             const Actor& actor) {
    if (kind == GroupKind::Parallel && m_deviceRowCount() == 0) return RunStart::GroupEmpty;
    const auto chosen = m_chooser.chooseGroup(kind, target);
    if (!chosen) return RunStart::Declined;
    if (*chosen <= 0 || *chosen > MAX_GROUP_NUMBER) {
        m_prompt.showMessage(kNoGroupChosen);
        return RunStart::NoSuchGroup;
    }
    return startGroupRun(kind, *chosen, target, actor);
}

RunStart SwitchingController::startGroupRun(GroupKind kind, int group, std::uint8_t target,
                                            const Actor& actor) {
    if (group <= 0 || group > MAX_GROUP_NUMBER) {
        if (!actor.atConsole) refuseNetwork(kind, group, target, actor, "不存在");
        return RunStart::NoSuchGroup;
    }
    return kind == GroupKind::Parallel ? runParallel(group, target, actor)
                                       : runSerial(group, target, actor);
}

RunStart SwitchingController::runParallel(int group, std::uint8_t target, const Actor& actor) {
    if (refuseWhileRunning(GroupKind::Parallel, group, target, actor)) return RunStart::GroupBusy;
    auto& groups = switchingGroups();
    if (target == 0 && actor.atConsole) {
        std::vector<std::uint32_t> order;
        {
            auto guard = groups.lock();
            order = idsToSwitch(switchingOrder(groups.devices(GroupKind::Parallel, group), 0), 0);
        }
        if (!confirmOff(GroupKind::Parallel, group, order)) return RunStart::Declined;
        // While the question was open, the event loop ran on: a network command may have
        // started a run of this group meanwhile.
        if (refuseWhileRunning(GroupKind::Parallel, group, target, actor)) {
            return RunStart::GroupBusy;
        }
    }

    auto guard = groups.lock();
    auto& devices = groups.devices(GroupKind::Parallel, group);
    const std::size_t count = devices.size();
    if (count == 0) {
        guard.unlock();  // never hold the groups lock across a modal message box
        if (actor.atConsole) {
            m_prompt.showMessage(kNoParallelDevices);
        } else {
            refuseNetwork(GroupKind::Parallel, group, target, actor, "没有设备");
        }
        return RunStart::GroupEmpty;
    }
    const auto sorted = switchingOrder(devices, target);
    if (!groups.findParallRecord(group)) {
        st_Parall_Record_ record;
        record.groupNumber = static_cast<std::uint8_t>(group);
        for (const auto& e : sorted) record.deviceIds.push_back(e.deviceId);
        groups.addParallRecord(std::move(record));
    }
    for (auto& e : devices) e.handled = 0;
    auto planned = idsToSwitch(sorted, target);
    if (planned.empty()) return RunStart::NothingToSwitch;  // nothing to send or follow
    GroupRun& run = beginRun(GroupKind::Parallel, target, group, planned, actor);
    run.switched = planned;
    guard.unlock();  // the frames go out after the groups lock is released
    std::uint8_t position = 1;
    for (std::uint32_t id : planned) {
        m_channel.SendParallelSwitch(static_cast<std::uint16_t>(id), target, position++,
                                     countByte(count));
    }
    armTimeout(run);
    notify(run);
    return RunStart::Started;
}

void SwitchingController::onParallelStepDone(std::uint16_t deviceId) {
    auto& groups = switchingGroups();
    std::optional<int> group;
    {
        auto guard = groups.lock();
        group = groups.findGroupOf(GroupKind::Parallel, deviceId);
        if (!group) return;
        auto& devices = groups.devices(GroupKind::Parallel, *group);
        markHandled(devices, deviceId);
        const bool allHandled = std::all_of(devices.begin(), devices.end(),
                                            [](const auto& e) { return e.handled == 1; });
        if (allHandled) groups.eraseParallRecord(*group);
    }
    GroupRun* run = findRun(GroupKind::Parallel, *group);
    if (!run || !contains(run->switched, deviceId) || contains(run->confirmed, deviceId)) return;
    run->confirmed.push_back(deviceId);
    if (run->confirmed.size() + run->lost.size() < run->switched.size()) {
        notify(*run);
        return;
    }
    endRun(run->id, run->lost.empty() ? RunOutcome::Completed : RunOutcome::DeviceLost);
}

RunStart SwitchingController::runSerial(int group, std::uint8_t target, const Actor& actor) {
    if (refuseWhileRunning(GroupKind::Serial, group, target, actor)) return RunStart::GroupBusy;
    auto& groups = switchingGroups();
    if (!actor.atConsole) {
        bool empty = false;
        {
            auto guard = groups.lock();
            empty = groups.devices(GroupKind::Serial, group).empty();
        }
        if (empty) {
            refuseNetwork(GroupKind::Serial, group, target, actor, "没有设备");
            return RunStart::GroupEmpty;
        }
    }
    logEvent(logcode::kRun, logcode::kSerial,
             (target == 1 ? "点击串行开" : "点击串行关") + std::to_string(group));

    if (target == 0 && actor.atConsole) {
        std::vector<std::uint32_t> order;
        {
            auto guard = groups.lock();
            order = idsToSwitch(switchingOrder(groups.devices(GroupKind::Serial, group), 0), 0);
        }
        if (!confirmOff(GroupKind::Serial, group, order)) return RunStart::Declined;
        // A network command may have started a run of this group while the question was open.
        if (refuseWhileRunning(GroupKind::Serial, group, target, actor)) {
            return RunStart::GroupBusy;
        }
    }

    auto guard = groups.lock();
    auto& devices = groups.devices(GroupKind::Serial, group);
    const auto sorted = switchingOrder(devices, target);
    const std::size_t count = sorted.size();
    // The run follows its own order: a record left by an earlier run that stalled is
    // replaced, never continued.
    groups.eraseSerialRecord(group);
    st_Serial_Record_ record;
    record.groupNumber = static_cast<std::uint8_t>(group);
    for (const auto& e : sorted) record.deviceIds.push_back(e.deviceId);
    record.lastDeviceId = record.deviceIds.empty() ? 0 : record.deviceIds.back();
    record.progress = 0;
    groups.addSerialRecord(std::move(record));
    for (auto& e : devices) e.handled = 0;

    for (const auto& e : sorted) {
        if (isInState(e.onOff, target)) {
            // Passed over: mark the device's own entry, not whatever stands at its position.
            markHandled(devices, e.deviceId);
            continue;
        }
        groups.setDirection(GroupKind::Serial, group, target);
        GroupRun& run =
            beginRun(GroupKind::Serial, target, group, idsToSwitch(sorted, target), actor);
        run.switched.push_back(e.deviceId);
        run.current = e.deviceId;
        guard.unlock();  // the frame goes out after the groups lock is released
        m_channel.SendSerialSwitch(static_cast<std::uint16_t>(e.deviceId), target,
                                   static_cast<std::uint8_t>(group), 1, countByte(count));
        logEvent(logcode::kRun, logcode::kSerial, target == 1 ? "串行开" : "串行关");
        armTimeout(run);
        notify(run);
        return RunStart::Started;
    }
    // An empty group at the console, or every device already in the wanted state.
    return sorted.empty() ? RunStart::GroupEmpty : RunStart::NothingToSwitch;
}

void SwitchingController::onSerialStepDone(std::uint16_t deviceId, bool on) {
    const std::uint8_t target = on ? 1 : 0;
    auto& groups = switchingGroups();
    auto guard = groups.lock();
    const auto found = groups.findGroupOf(GroupKind::Serial, deviceId);
    if (!found) return;
    const int group = *found;
    // A reply queued before its run ended (timed out, cancelled, device lost) finds no record:
    // nothing more is sent for a run nobody follows.
    if (!groups.findSerialRecord(group)) return;
    // Only the device the run waits for moves it on: a reply from any other device of the
    // group (late, repeated or unasked for) changes nothing, so it can neither skip a device
    // nor get past a cancel that was asked for.
    GroupRun* run = findRun(GroupKind::Serial, group);
    if (!run || run->current != deviceId) return;
    auto& devices = groups.devices(GroupKind::Serial, group);
    markHandled(devices, deviceId);
    const std::size_t count = devices.size();
    run->confirmed.push_back(deviceId);
    run->current.reset();
    if (run->cancelRequested) {
        groups.eraseSerialRecord(group);
        guard.unlock();
        endRun(run->id, RunOutcome::Cancelled);
        return;
    }

    // Continue in the run's own number order (kept in the run record), then with any device
    // that joined the group after the run started, in list order; skip devices already
    // handled or already in the wanted state.
    const auto qualifies = [target](const stLocDevInfo_& e) {
        return e.handled == 0 && !isInState(e.onOff, target);
    };
    const stLocDevInfo_* next = nullptr;
    if (auto* record = groups.findSerialRecord(group)) {
        for (std::uint32_t id : record->deviceIds) {
            auto it = std::find_if(devices.begin(), devices.end(),
                                   [id](const auto& e) { return e.deviceId == id; });
            if (it != devices.end() && qualifies(*it)) {
                next = &*it;
                break;
            }
        }
    }
    if (!next) {
        auto it = std::find_if(devices.begin(), devices.end(), qualifies);
        if (it != devices.end()) next = &*it;
    }

    if (next) {
        const std::uint32_t nextId = next->deviceId;
        guard.unlock();  // the frame goes out after the groups lock is released
        m_channel.SendSerialSwitch(static_cast<std::uint16_t>(nextId), target,
                                   static_cast<std::uint8_t>(group), 1, countByte(count));
        run->switched.push_back(nextId);
        if (!contains(run->planned, nextId)) run->planned.push_back(nextId);
        run->current = nextId;
        armTimeout(*run);
        notify(*run);
        return;
    }
    groups.eraseSerialRecord(group);
    guard.unlock();
    logEvent(logcode::kRun, logcode::kSerial,
             (target == 1 ? "串行开分组" : "串行关分组") + std::to_string(group) + "结束!");
    endRun(run->id, RunOutcome::Completed);
}

void SwitchingController::onTimeout(std::uint64_t runId) {
    auto it = m_runs.find(runId);
    if (it == m_runs.end()) return;
    GroupRun& run = it->second;
    if (run.kind == GroupKind::Serial) {
        {
            auto& groups = switchingGroups();
            auto guard = groups.lock();
            groups.eraseSerialRecord(run.group);
        }
        if (run.current) {
            logEvent(logcode::kFailure, logcode::kSerial,
                     std::string("串行") + (run.target != 0 ? "开" : "关") + "分组" +
                         std::to_string(run.group) + "超时:设备" +
                         std::to_string(static_cast<int>(*run.current)));
            run.unconfirmed = {*run.current};
        }
    } else {
        for (std::uint32_t id : run.switched) {
            if (contains(run.confirmed, id) || contains(run.lost, id)) continue;
            run.unconfirmed.push_back(id);
            logEvent(logcode::kFailure, logcode::kParallel,
                     std::string("平行") + (run.target != 0 ? "开" : "关") + "分组" +
                         std::to_string(run.group) + "超时:设备" +
                         std::to_string(static_cast<int>(id)));
        }
    }
    endRun(runId, RunOutcome::TimedOut);
}

void SwitchingController::onDeviceRemoved(std::uint16_t deviceId) {
    std::vector<std::uint64_t> ended;
    for (auto& [id, run] : m_runs) {
        if (!contains(run.switched, deviceId) || contains(run.confirmed, deviceId) ||
            contains(run.lost, deviceId)) {
            continue;
        }
        run.lost.push_back(deviceId);
        if (run.kind == GroupKind::Serial) {
            // The step reply will never come: the run and its record end here.
            auto& groups = switchingGroups();
            auto guard = groups.lock();
            groups.eraseSerialRecord(run.group);
            ended.push_back(id);
        } else if (run.confirmed.size() + run.lost.size() >= run.switched.size()) {
            ended.push_back(id);
        } else {
            notify(run);
        }
    }
    for (std::uint64_t id : ended) endRun(id, RunOutcome::DeviceLost);
}

CancelResult SwitchingController::cancelRun(std::uint64_t runId, const Actor& actor) {
    auto it = m_runs.find(runId);
    if (it == m_runs.end()) return CancelResult::UnknownRun;
    GroupRun& run = it->second;
    if (run.cancelledBy.empty()) run.cancelledBy = actor.name;
    if (run.kind == GroupKind::Parallel || !run.current) {
        endRun(runId, RunOutcome::Cancelled);
        return CancelResult::Cancelled;
    }
    run.cancelRequested = true;
    notify(run);
    return CancelResult::Cancelling;
}

}  // namespace consolecore
