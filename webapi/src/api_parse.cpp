// Routes by path segment; bodies through nlohmann-json without exceptions.
#include "webapi/api_parse.h"

#include <algorithm>
#include <charconv>
#include <nlohmann/json.hpp>
#include <vector>

namespace webapi {

namespace {

using Json = nlohmann::json;

std::vector<std::string_view> segments(std::string_view path) {
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        if (path.front() == '/') {
            path.remove_prefix(1);
            continue;
        }
        const auto slash = path.find('/');
        parts.push_back(path.substr(0, slash));
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash);
    }
    return parts;
}

// Plain decimal digits only (no sign, no blanks) that fit `T`.
template <typename T>
std::optional<T> number(std::string_view text) {
    if (text.empty() || text.size() > 20) return std::nullopt;
    T value{};
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() || text[0] == '-') {
        return std::nullopt;
    }
    return value;
}

// A path segment with its %XX escapes decoded; none for a bad escape, a control character
// or more than a task name can hold (19 UTF-16 units: at most 76 bytes of UTF-8).
std::optional<std::string> percentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size()) return std::nullopt;
            unsigned value = 0;
            const auto result =
                std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
            if (result.ec != std::errc() || result.ptr != text.data() + i + 3) return std::nullopt;
            c = static_cast<char>(value);
            i += 2;
        }
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return std::nullopt;
        out += c;
    }
    if (out.empty() || out.size() > 76) return std::nullopt;
    return out;
}

RouteError error(int status, std::string text) {
    return RouteError{status, std::move(text)};
}

std::variant<Route, RouteError> route(Endpoint endpoint, std::string_view method,
                                      std::string_view allowed, bool write = false) {
    if (method != allowed) return error(405, "method not allowed");
    Route r;
    r.endpoint = endpoint;
    r.write = write;
    return r;
}

// A state-changing call on the task named by the path segment `name`.
std::variant<Route, RouteError> taskRoute(Endpoint endpoint, std::string_view method,
                                          std::string_view allowed, std::string_view name) {
    auto r = route(endpoint, method, allowed, true);
    auto* ok = std::get_if<Route>(&r);
    if (!ok) return r;
    auto decoded = percentDecoded(name);
    if (!decoded) return error(404, "no such task");
    ok->task = std::move(*decoded);
    return r;
}

std::optional<Json> object(std::string_view body) {
    Json json = Json::parse(body.begin(), body.end(), nullptr, false);
    if (json.is_discarded() || !json.is_object()) return std::nullopt;
    return json;
}

std::optional<bool> boolean(const Json& json, const char* key) {
    const auto it = json.find(key);
    if (it == json.end() || !it->is_boolean()) return std::nullopt;
    return it->get<bool>();
}

std::optional<std::string> text(const Json& json, const char* key) {
    const auto it = json.find(key);
    if (it == json.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

}  // namespace

std::variant<Route, RouteError> parseRoute(std::string_view method, std::string_view target) {
    const auto query = target.find('?');
    const std::vector<std::string_view> s = segments(target.substr(0, query));
    if (s.size() == 1 && s[0] == "healthz") return route(Endpoint::Health, method, "GET");
    if (s.size() == 1 && s[0] == "metrics") return route(Endpoint::Metrics, method, "GET");
    if (s.empty() || s[0] != "api" || target.front() != '/') return error(404, "not found");
    if (s.size() == 2 && s[1] == "login") return route(Endpoint::Login, method, "POST", true);
    if (s.size() == 2 && s[1] == "logout") return route(Endpoint::Logout, method, "POST", true);
    if (s.size() == 2 && s[1] == "events") return route(Endpoint::Events, method, "GET");
    if (s.size() == 2 && s[1] == "devices") return route(Endpoint::Devices, method, "GET");
    if (s.size() == 2 && s[1] == "log") return route(Endpoint::Log, method, "GET");
    if (s.size() == 2 && s[1] == "log.csv") return route(Endpoint::LogCsv, method, "GET");
    if (s.size() >= 3 && s[1] == "devices") {
        const auto id = number<std::uint16_t>(s[2]);
        if (s.size() == 3) {
            if (!id) return error(404, "no such device");
            auto r = route(Endpoint::Device, method, "GET");
            if (auto* ok = std::get_if<Route>(&r)) ok->device = *id;
            return r;
        }
        if (s.size() == 5 && s[3] == "outlets") {
            if (!id) return error(404, "no such device");
            auto r = route(Endpoint::Outlet, method, "PUT", true);
            auto* ok = std::get_if<Route>(&r);
            if (!ok) return r;
            const auto outlet = number<int>(s[4]);
            if (!outlet || *outlet < 1 || *outlet > 16) return error(400, "outlet must be 1..16");
            ok->device = *id;
            ok->outlet = *outlet;
            return r;
        }
    }
    if (s.size() == 2 && s[1] == "tasks") return route(Endpoint::Tasks, method, "GET");
    if (s.size() == 2 && s[1] == "holidays") {
        if (method != "GET" && method != "PUT") return error(405, "method not allowed");
        Route r;
        r.endpoint = Endpoint::Holidays;
        r.write = method == "PUT";
        return r;
    }
    if (s.size() == 3 && s[1] == "tasks" && s[2] == "state" && method == "GET") {
        return route(Endpoint::TaskState, method, "GET");
    }
    if (s.size() == 3 && s[1] == "tasks") {
        return method == "PUT" ? taskRoute(Endpoint::TaskPut, method, "PUT", s[2])
                               : taskRoute(Endpoint::TaskDelete, method, "DELETE", s[2]);
    }
    if (s.size() == 4 && s[1] == "tasks" && s[3] == "apply") {
        return taskRoute(Endpoint::TaskApply, method, "POST", s[2]);
    }
    if (s.size() == 4 && s[1] == "groups" && s[3] == "runs") {
        auto r = route(Endpoint::GroupRuns, method, "POST", true);
        auto* ok = std::get_if<Route>(&r);
        if (!ok) return r;
        const auto group = number<int>(s[2]);
        if (!group || *group < 1 || *group > 6) return error(400, "group must be 1..6");
        ok->group = *group;
        return r;
    }
    if (s.size() == 3 && s[1] == "runs") {
        const auto run = number<std::uint64_t>(s[2]);
        if (!run) return error(404, "no such run");
        if (method != "GET" && method != "DELETE") return error(405, "method not allowed");
        Route r;
        r.endpoint = Endpoint::Run;
        r.write = method == "DELETE";
        r.run = *run;
        return r;
    }
    return error(404, "not found");
}

namespace {

bool isDate(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
    for (const std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    return true;
}

}  // namespace

std::optional<LogQuery> parseLogQuery(std::string_view target) {
    LogQuery query;
    const auto mark = target.find('?');
    std::string_view rest =
        mark == std::string_view::npos ? std::string_view() : target.substr(mark + 1);
    std::vector<std::string_view> seen;
    while (!rest.empty()) {
        const auto amp = rest.find('&');
        const std::string_view pair = rest.substr(0, amp);
        rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
        if (pair.empty()) continue;
        const auto eq = pair.find('=');
        if (eq == std::string_view::npos) return std::nullopt;
        const std::string_view key = pair.substr(0, eq);
        const std::string_view value = pair.substr(eq + 1);
        if (std::find(seen.begin(), seen.end(), key) != seen.end()) return std::nullopt;
        seen.push_back(key);
        if (key == "from" || key == "to") {
            if (!isDate(value)) return std::nullopt;
            (key == "from" ? query.from : query.to) = std::string(value);
        } else if (key == "type") {
            const auto type = number<int>(value);
            if (!type || *type < 1 || *type > 3) return std::nullopt;
            query.type = *type;
        } else if (key == "limit") {
            const auto limit = number<int>(value);
            if (!limit || *limit < 1 || *limit > 1000) return std::nullopt;
            query.limit = *limit;
        } else if (key == "before") {
            const auto before = number<int>(value);
            if (!before || *before < 1) return std::nullopt;
            query.before = *before;
        } else {
            return std::nullopt;
        }
    }
    return query;
}

std::optional<LoginBody> parseLoginBody(std::string_view body) {
    const auto json = object(body);
    if (!json) return std::nullopt;
    auto user = text(*json, "user");
    auto password = text(*json, "password");
    if (!user || !password) return std::nullopt;
    return LoginBody{std::move(*user), std::move(*password)};
}

std::optional<std::vector<std::string>> parseHolidaysBody(std::string_view body) {
    const auto json = object(body);
    if (!json) return std::nullopt;
    const auto it = json->find("dates");
    if (it == json->end() || !it->is_array() || it->size() > 1000) return std::nullopt;
    std::vector<std::string> dates;
    for (const Json& date : *it) {
        if (!date.is_string()) return std::nullopt;
        dates.push_back(date.get<std::string>());
    }
    return dates;
}

std::optional<bool> parseOutletBody(std::string_view body) {
    const auto json = object(body);
    if (!json) return std::nullopt;
    return boolean(*json, "on");
}

namespace {

std::optional<TaskDate> taskDate(const Json& json, const char* key) {
    const auto value = text(json, key);
    if (!value || !isDate(*value)) return std::nullopt;
    const TaskDate date{*number<int>(value->substr(0, 4)), *number<int>(value->substr(5, 2)),
                        *number<int>(value->substr(8, 2))};
    if (date.year < 1 || date.month < 1 || date.month > 12 || date.day < 1 || date.day > 31) {
        return std::nullopt;
    }
    return date;
}

// "HH:MM:SS" as seconds after midnight.
std::optional<std::uint32_t> clockTime(const Json& json, const char* key) {
    const auto value = text(json, key);
    if (!value || value->size() != 8 || (*value)[2] != ':' || (*value)[5] != ':') {
        return std::nullopt;
    }
    const auto hours = number<std::uint32_t>(value->substr(0, 2));
    const auto minutes = number<std::uint32_t>(value->substr(3, 2));
    const auto seconds = number<std::uint32_t>(value->substr(6, 2));
    if (!hours || !minutes || !seconds || *hours > 23 || *minutes > 59 || *seconds > 59) {
        return std::nullopt;
    }
    return *hours * 3600 + *minutes * 60 + *seconds;
}

std::optional<TaskBody::Device> taskDevice(const Json& json) {
    if (!json.is_object()) return std::nullopt;
    const auto id = json.find("id");
    const auto outlets = json.find("outlets");
    if (id == json.end() || !id->is_number_unsigned() || outlets == json.end() ||
        !outlets->is_array() || outlets->size() != 16) {
        return std::nullopt;
    }
    const auto number = id->get<std::uint64_t>();
    if (number < 1 || number > 65535) return std::nullopt;
    TaskBody::Device device;
    device.id = static_cast<std::uint16_t>(number);
    for (std::size_t k = 0; k < device.outlets.size(); ++k) {
        if (!(*outlets)[k].is_boolean()) return std::nullopt;
        device.outlets[k] = (*outlets)[k].get<bool>();
    }
    return device;
}

}  // namespace

std::optional<TaskBody> parseTaskBody(std::string_view body) {
    const auto json = object(body);
    if (!json) return std::nullopt;
    TaskBody task;
    const auto kind = text(*json, "kind");
    if (!kind || (*kind != "date" && *kind != "week")) return std::nullopt;
    task.week = *kind == "week";
    const auto from = taskDate(*json, "from");
    const auto to = taskDate(*json, "to");
    const auto start = clockTime(*json, "start");
    const auto end = clockTime(*json, "end");
    if (!from || !to || !start || !end) return std::nullopt;
    task.from = *from;
    task.to = *to;
    task.start = *start;
    task.end = *end;
    const auto weekdays = json->find("weekdays");
    if (weekdays == json->end() || !weekdays->is_array() || weekdays->size() > 7) {
        return std::nullopt;
    }
    for (const Json& day : *weekdays) {
        if (!day.is_number_unsigned() || day.get<std::uint64_t>() > 6) return std::nullopt;
        task.weekdays[day.get<std::size_t>()] = true;
    }
    for (const char* key : {"skipHolidays", "enabled"}) {
        if (!json->contains(key)) continue;
        const auto flag = boolean(*json, key);
        if (!flag) return std::nullopt;
        (std::string_view(key) == "enabled" ? task.enabled : task.skipHolidays) = *flag;
    }
    const auto devices = json->find("devices");
    if (devices == json->end() || !devices->is_array() || devices->size() > kTaskBodyDevices) {
        return std::nullopt;
    }
    for (const Json& entry : *devices) {
        const auto device = taskDevice(entry);
        if (!device) return std::nullopt;
        for (const TaskBody::Device& known : task.devices) {
            if (known.id == device->id) return std::nullopt;
        }
        task.devices.push_back(*device);
    }
    return task;
}

std::optional<ApplyBody> parseApplyBody(std::string_view body) {
    if (body.empty()) return ApplyBody{};
    const auto json = object(body);
    if (!json) return std::nullopt;
    // Any other key is refused: a misspelt one must not turn into "every device".
    if (json->empty()) return ApplyBody{};
    const auto devices = json->find("devices");
    if (json->size() != 1 || devices == json->end() || !devices->is_array() || devices->empty() ||
        devices->size() > kTaskBodyDevices) {
        return std::nullopt;
    }
    std::vector<std::uint16_t> ids;
    for (const Json& id : *devices) {
        if (!id.is_number_unsigned()) return std::nullopt;
        const auto number = id.get<std::uint64_t>();
        if (number < 1 || number > 65535) return std::nullopt;
        ids.push_back(static_cast<std::uint16_t>(number));
    }
    std::vector<std::uint16_t> sorted = ids;
    std::sort(sorted.begin(), sorted.end());
    if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) return std::nullopt;
    return ApplyBody{std::move(ids)};
}

std::optional<RunBody> parseRunBody(std::string_view body) {
    const auto json = object(body);
    if (!json) return std::nullopt;
    const auto kind = text(*json, "kind");
    const auto on = boolean(*json, "on");
    if (!kind || !on || (*kind != "parallel" && *kind != "serial")) return std::nullopt;
    return RunBody{
        *kind == "serial" ? consolecore::GroupKind::Serial : consolecore::GroupKind::Parallel, *on};
}

}  // namespace webapi
