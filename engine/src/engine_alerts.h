// The engine's side of alerts: which of its events become which alert. The engine calls it
// from a few places; the log listener brings the lines of the libraries below it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "alerts/alert_service.h"
#include "logbase/log_tap.h"

namespace consolecore {

struct GroupRun;

// The alert a logged line stands for, if any: the task runner's holiday skip and its giving
// up on a device at a task's end, and the log store dropping lines.
std::optional<alerts::Alert> alertOfLogLine(int type, int subType, std::string_view content);
// The log store's own line for lines it dropped ("日志队列已满,丢弃...").
bool isLogTroubleLine(int type, int subType, std::string_view content);

class EngineAlerts {
public:
    ~EngineAlerts();  // stop()
    // Reads [Alerts] from `settingsFile` and, when a webhook or a command is set, starts
    // delivering.
    void start(const std::string& settingsFile, const alerts::AlertTimings& timings);
    // What the alerts take from the log, for the engine's log listener: empty functions when
    // not delivering. Safe to call after stop (they then raise nothing).
    LogTap logTap() const;
    // The problems the last start found in [Alerts]: one log row and one stderr line each.
    // Called once the log store is open.
    void tellSettingsProblems();
    // Delivers what it can within the grace time (the engine stops its log listener first).
    void stop();
    bool running() const { return m_service != nullptr; }

    // On the engine's thread. `name` may be empty when the table dropped the row earlier
    // (a burst of losses leaves together): the name the device registered with is used.
    void deviceOffline(std::uint16_t id, const std::string& name);
    // Registration of a device that went offline before: device-back. A first registration
    // is not an alert (a starting console would raise one per device).
    void deviceRegistered(std::uint16_t id, const std::string& name);
    void runEnded(const GroupRun& run, const std::string& text);
    void idConflict(std::uint16_t id, const std::string& text);
    void linkDown(const std::string& text);

private:
    std::shared_ptr<alerts::AlertService> m_service;
    std::set<std::uint16_t> m_wentOffline;                   // engine thread only
    std::unordered_map<std::uint16_t, std::string> m_names;  // online devices' names
    std::string m_settingsFile;
    std::vector<std::string> m_problems;
};

}  // namespace consolecore
