// What the HTTP API reads from a request itself: the route with its parameters, and the JSON
// bodies of login, outlet and group-run calls. Pure functions, fuzzed and table-tested.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "consolecore/switching_groups.h"

namespace webapi {

enum class Endpoint {
    Login,       // POST /api/login
    Logout,      // POST /api/logout
    Devices,     // GET /api/devices
    Device,      // GET /api/devices/{id}
    Outlet,      // PUT /api/devices/{id}/outlets/{n}
    GroupRuns,   // POST /api/groups/{g}/runs
    Run,         // GET, DELETE /api/runs/{run}
    Events,      // GET /api/events
    Health,      // GET /healthz
    Metrics,     // GET /metrics
    Log,         // GET /api/log?...
    LogCsv,      // GET /api/log.csv?...
    Tasks,       // GET /api/tasks
    TaskState,   // GET /api/tasks/state
    TaskApply,   // POST /api/tasks/{name}/apply
    TaskDelete,  // DELETE /api/tasks/{name}
    TaskPut,     // PUT /api/tasks/{name}
    Holidays,    // GET, PUT /api/holidays
};

struct Route {
    Endpoint endpoint = Endpoint::Health;
    bool write = false;  // the call changes state (needs the CSRF header with a cookie)
    std::uint16_t device = 0;
    int outlet = 0;  // 1..16
    int group = 0;   // 1..6
    std::uint64_t run = 0;
    std::string task;  // a task's name, percent-decoded UTF-8
};

struct RouteError {
    int status = 404;  // 404 no such path or id, 405 method, 400 outlet or group out of range
    std::string text;
};

// `target` is the request target (its query, if any, is ignored here).
std::variant<Route, RouteError> parseRoute(std::string_view method, std::string_view target);

struct LoginBody {
    std::string user;
    std::string password;
};
struct RunBody {
    consolecore::GroupKind kind = consolecore::GroupKind::Parallel;
    bool on = true;
};

// The query of /api/log: from and to "YYYY-MM-DD" (included), type 1..3, limit 1..1000,
// before a sequence number (the next page). Each key at most once; unknown keys are refused.
struct LogQuery {
    std::string from = "0000-00-00";
    std::string to = "9999-12-31";
    std::optional<int> type;
    int limit = 100;
    std::optional<int> before;
};
std::optional<LogQuery> parseLogQuery(std::string_view target);

// {"user":"..","password":".."}: both strings.
std::optional<LoginBody> parseLoginBody(std::string_view body);
// {"dates":["YYYY-MM-DD",..]}: strings (their dates are checked by the task store), at most
// 1000.
std::optional<std::vector<std::string>> parseHolidaysBody(std::string_view body);
// {"on":true|false}.
std::optional<bool> parseOutletBody(std::string_view body);

// A task as the editor stores it; the name comes from the route.
struct TaskDate {
    int year = 0;
    int month = 0;  // 1..12
    int day = 0;    // 1..31
};
struct TaskBody {
    bool week = false;  // weekday mode, else date mode
    TaskDate from;
    TaskDate to;
    std::array<bool, 7> weekdays{};  // Sunday first
    std::uint32_t start = 0;         // seconds after midnight
    std::uint32_t end = 0;
    bool skipHolidays = false;
    bool enabled = true;
    struct Device {
        std::uint16_t id = 0;
        std::array<bool, 16> outlets{};
    };
    std::vector<Device> devices;
};
constexpr std::size_t kTaskBodyDevices = 1000;
// {"kind":"date"|"week","from":"YYYY-MM-DD","to":"YYYY-MM-DD","weekdays":[0..6,..],
//  "start":"HH:MM:SS","end":"HH:MM:SS","skipHolidays":bool,"enabled":bool,
//  "devices":[{"id":1..65535,"outlets":[16 booleans]},..]}: skipHolidays and enabled may be
// left out (false, true); at most kTaskBodyDevices devices, each id once. The editor's own
// checks (name, date and time order) are made by the caller.
std::optional<TaskBody> parseTaskBody(std::string_view body);
// What an apply reaches: every device of the task, or only those named.
struct ApplyBody {
    std::optional<std::vector<std::uint16_t>> devices;  // none: all of the task's devices
};
// An empty body or {} (all devices), or {"devices":[1..65535,..]}: at least one id, at most
// kTaskBodyDevices, each once.
std::optional<ApplyBody> parseApplyBody(std::string_view body);
// {"kind":"parallel"|"serial","on":true|false}.
std::optional<RunBody> parseRunBody(std::string_view body);

}  // namespace webapi
