// Engine events and log lines turned into alerts.
#include "engine_alerts.h"

#include <cstdio>

#include "consolecore/group_run.h"
#include "logbase/log_codes.h"
#include "logbase/log_tap.h"
#include "logbase/logbase.h"

namespace consolecore {

namespace {

alerts::Alert make(alerts::AlertEvent event, std::string text) {
    alerts::Alert alert;
    alert.event = event;
    alert.text = std::move(text);
    return alert;
}

}  // namespace

std::optional<alerts::Alert> alertOfLogLine(int type, int subType, std::string_view content) {
    using alerts::AlertEvent;
    if (subType == logcode::kTimedTask) {
        // The runner's own words: "节假日跳过定时任务:<name>", "定时任务[<name>]结束时间已到,
        // 放弃设备[<id>]".
        if (type == logcode::kSystem && content.starts_with("节假日跳过定时任务:")) {
            return make(AlertEvent::TaskSkipped, std::string(content));
        }
        if (type == logcode::kFailure &&
            content.find("]结束时间已到,放弃设备[") != std::string_view::npos) {
            auto alert = make(AlertEvent::TaskGaveUp, std::string(content));
            const auto open = content.rfind('[');
            unsigned id = 0;
            if (std::sscanf(std::string(content.substr(open + 1)).c_str(), "%u]", &id) == 1 &&
                id <= 0xFFFF) {
                alert.device = alerts::AlertDevice{static_cast<std::uint16_t>(id), {}};
            }
            return alert;
        }
    }
    if (isLogTroubleLine(type, subType, content)) {
        return make(AlertEvent::LogTrouble, std::string(content));
    }
    return std::nullopt;
}

bool isLogTroubleLine(int type, int subType, std::string_view content) {
    return type == logcode::kFailure && subType == logcode::kOther &&
           content.starts_with("日志队列已满,丢弃");
}

EngineAlerts::~EngineAlerts() {
    stop();
}

void EngineAlerts::start(const std::string& settingsFile, const alerts::AlertTimings& timings) {
    if (m_service) return;
    alerts::AlertSettingsLoad load = alerts::readAlertSettings(settingsFile);
    m_settingsFile = settingsFile;
    m_problems = std::move(load.problems);
    if (!load.settings.enabled()) return;
    auto service = std::make_shared<alerts::AlertService>(std::move(load.settings), timings);
    if (!service->start()) {
        logEvent(logcode::kFailure, logcode::kOther, "告警线程启动失败");
        return;
    }
    m_service = service;
}

LogTap EngineAlerts::logTap() const {
    if (!m_service) return {};
    // Lines come from every thread; the listener only queues.
    std::weak_ptr<alerts::AlertService> weak = m_service;
    LogTap tap;
    tap.line = [weak](int type, int subType, std::string_view content) {
        if (auto alert = alertOfLogLine(type, subType, content)) {
            if (auto target = weak.lock()) target->raise(std::move(*alert));
        }
    };
    tap.trouble = [weak](std::string_view problem) {
        if (auto target = weak.lock()) {
            target->raise(make(alerts::AlertEvent::LogTrouble, std::string(problem)));
        }
    };
    return tap;
}

void EngineAlerts::tellSettingsProblems() {
    for (const std::string& problem : m_problems) {
        logEvent(logcode::kFailure, logcode::kParameterChange, "配置项" + problem);
        std::fprintf(stderr, "vantrel: %s: %s\n", m_settingsFile.c_str(), problem.c_str());
    }
    m_problems.clear();
}

void EngineAlerts::stop() {
    if (!m_service) return;
    m_service->stop();
    m_service.reset();
    m_wentOffline.clear();
    m_names.clear();
}

void EngineAlerts::deviceOffline(std::uint16_t id, const std::string& name) {
    if (!m_service) return;
    m_wentOffline.insert(id);
    const auto known = m_names.find(id);
    std::string registeredName = known == m_names.end() ? std::string() : known->second;
    if (known != m_names.end()) m_names.erase(known);
    auto alert = make(alerts::AlertEvent::DeviceOffline, "设备离线:" + std::to_string(id));
    alert.device = alerts::AlertDevice{id, name.empty() ? std::move(registeredName) : name};
    m_service->raise(std::move(alert));
}

void EngineAlerts::deviceRegistered(std::uint16_t id, const std::string& name) {
    if (!m_service) return;
    m_names[id] = name;
    if (m_wentOffline.erase(id) == 0) return;
    auto alert = make(alerts::AlertEvent::DeviceBack, "设备恢复在线:" + std::to_string(id));
    alert.device = alerts::AlertDevice{id, name};
    m_service->raise(std::move(alert));
}

void EngineAlerts::runEnded(const GroupRun& run, const std::string& text) {
    if (!m_service) return;
    alerts::Alert alert;
    if (run.outcome == RunOutcome::TimedOut) {
        alert = make(alerts::AlertEvent::RunTimeout, text);
        for (std::uint32_t id : run.unconfirmed) {
            alert.devices.push_back({static_cast<std::uint16_t>(id), {}});
        }
    } else if (run.outcome == RunOutcome::DeviceLost) {
        alert = make(alerts::AlertEvent::RunDeviceLost, text);
        for (std::uint32_t id : run.lost)
            alert.devices.push_back({static_cast<std::uint16_t>(id), {}});
    } else {
        return;
    }
    alert.group = run.group;
    alert.run = run.id;
    m_service->raise(std::move(alert));
}

void EngineAlerts::idConflict(std::uint16_t id, const std::string& text) {
    if (!m_service) return;
    auto alert = make(alerts::AlertEvent::IdConflict, text);
    alert.device = alerts::AlertDevice{id, {}};
    m_service->raise(std::move(alert));
}

void EngineAlerts::linkDown(const std::string& text) {
    if (m_service) m_service->raise(make(alerts::AlertEvent::LinkDown, text));
}

}  // namespace consolecore
