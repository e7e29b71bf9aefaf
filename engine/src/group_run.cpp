// Texts of a group run for the run panel and the audit line.
#include "consolecore/group_run.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace consolecore {

namespace {

std::string idList(const std::vector<std::uint32_t>& ids) {
    std::string text;
    for (std::uint32_t id : ids) {
        if (!text.empty()) text += ',';
        text += std::to_string(id);
    }
    return text;
}

std::string seconds(RunClock::duration d) {
    const double s = std::chrono::duration<double>(d).count();
    char text[32];
    std::snprintf(text, sizeof text, "%.1f秒", s < 0 ? 0.0 : s);
    return text;
}

std::string progress(const GroupRun& run) {
    return std::to_string(run.doneCount()) + "/" + std::to_string(run.planned.size());
}

}  // namespace

std::string runTitle(const GroupRun& run) {
    return std::string(run.kind == GroupKind::Serial ? "串行" : "平行") +
           (run.target != 0 ? "开" : "关") + " " + groupName(run.group);
}

std::string outcomeText(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::Running:
            return "进行中";
        case RunOutcome::Completed:
            return "完成";
        case RunOutcome::TimedOut:
            return "超时";
        case RunOutcome::Cancelled:
            return "已取消";
        case RunOutcome::DeviceLost:
            return "设备掉线";
    }
    return {};
}

std::string runStatusText(const GroupRun& run, RunClock::time_point now) {
    if (run.running()) {
        std::string text = "进行中 " + progress(run);
        if (run.current) {
            text += run.cancelRequested ? ", 正在取消, 等待设备" : ", 正在切换设备";
            text += std::to_string(*run.current);
        } else if (run.cancelRequested) {
            text += ", 正在取消";
        }
        return text + ", 已用" + seconds(now - run.started);
    }
    std::string text = outcomeText(run.outcome) + " " + progress(run);
    if (run.outcome == RunOutcome::TimedOut && !run.unconfirmed.empty()) {
        text += ": 设备" + idList(run.unconfirmed) + "未确认";
    } else if (run.outcome == RunOutcome::DeviceLost && !run.lost.empty()) {
        text += ": 设备" + idList(run.lost) + "掉线";
    }
    return text + ", 用时" + seconds(run.ended - run.started);
}

std::string auditText(const GroupRun& run, const std::string& user) {
    std::string text = std::string(run.kind == GroupKind::Serial ? "串行" : "平行") +
                       (run.target != 0 ? "开" : "关") + "分组" + std::to_string(run.group) +
                       "汇总:顺序[" + idList(run.switched) + "],结果:" + outcomeText(run.outcome);
    if (!run.unconfirmed.empty()) text += ",未确认[" + idList(run.unconfirmed) + "]";
    if (!run.lost.empty()) text += ",掉线[" + idList(run.lost) + "]";
    text += ",用时" + seconds(run.ended - run.started) + ",用户:" + user;
    if (!run.cancelledBy.empty() && run.cancelledBy != user) text += ",取消:" + run.cancelledBy;
    return text;
}

std::string localUserName() {
    const uid_t uid = geteuid();
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_name) {
        return found->pw_name;
    }
    if (const char* user = std::getenv("USER"); user && *user) return user;
    return "uid" + std::to_string(uid);
}

}  // namespace consolecore
