// The console's settings file "Vantrel.ini" in the data folder: one section per feature.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace consolecore {

struct ConsoleSettings {
    int stepTimeoutSec = 15;      // [Console] StepTimeoutSec: a serial step's time-out, 1..3600
    bool confirmGroupOff = true;  // [Console] ConfirmGroupOff: ask before 平行关/串行关
    // [Console] KeepOfflineRows: a lost device's row stays greyed, offline, instead of going.
    bool keepOfflineRows = false;
    bool operator==(const ConsoleSettings&) const = default;
};

struct TaskSettings {
    bool reapplyOnRegister = false;  // [Tasks] ReapplyOnRegister
    // [Tasks] ReapplyStaggerMs, 0..10000: re-applies of devices registering together start
    // this far apart (0: all at once).
    int reapplyStaggerMs = 0;
    bool operator==(const TaskSettings&) const = default;
};

struct LogSettings {
    int keepDays = 0;  // [Log] KeepDays: rows older than this many days are deleted; 0 keeps all
    bool operator==(const LogSettings&) const = default;
};

struct MqttSettings {
    std::string host;  // [Mqtt] Host; empty: the bridge is off
    int port = 1883;   // [Mqtt] Port, 1..65535
    std::string user;
    std::string password;
    std::string caFile;                 // TLS when set
    std::string baseTopic = "vantrel";  // no MQTT wildcards ('+', '#'), not empty
    std::string clientId;               // empty: the bridge picks one

    bool enabled() const { return !host.empty(); }
    bool operator==(const MqttSettings&) const = default;
};

// The HTTP API: off with Port=0.
struct WebSettings {
    int port = 8080;                 // [Web] Port, 0..65535; 0: no server
    std::string bind = "127.0.0.1";  // [Web] Bind: the address to listen on
    std::string certFile;            // [Web] CertFile and KeyFile: HTTPS when both are set
    std::string keyFile;
    int sessionMinutes = 480;  // [Web] SessionMinutes, 1..43200: how long a login lasts
    bool metricsOpen = false;  // [Web] MetricsOpen: /metrics without a token
    // [Web] StreamBacklog, 16..65536: events an event stream may hold unwritten (beyond what its
    // connection takes) before it is dropped; a device's events count once.
    int streamBacklog = 1024;

    bool enabled() const { return port != 0; }
    bool operator==(const WebSettings&) const = default;
};

struct VantrelSettings {
    ConsoleSettings console;
    TaskSettings tasks;
    LogSettings log;
    MqttSettings mqtt;
    WebSettings web;
    bool operator==(const VantrelSettings&) const = default;
};

// The longest value read; a longer one is refused (its default used) with a problem text.
inline constexpr std::size_t kMaxSettingValueBytes = 4096;

// "Vantrel.ini" in the data folder (GetDataPath()).
std::string settingsPath();

struct SettingsLoad {
    VantrelSettings settings;
    // One text per value that was present but not valid (its default is used instead).
    std::vector<std::string> problems;
};

// Reads the file: a missing file or key gives the default; a bad value gives the default and
// a problem text. Does not log (see loadSettingsAndLog).
SettingsLoad readSettings(const std::string& path);

// readSettings, plus one log line per problem.
VantrelSettings loadSettingsAndLog(const std::string& path);

}  // namespace consolecore
