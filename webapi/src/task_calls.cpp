// The timed-task calls: the store's tasks, the should-be/is rows of the task view, applying
// a task now, and the admin's edits. They run on the slow-work thread: the store and the runner
// have locks of their own and neither the engine's thread nor the server's should wait on them.
#include <algorithm>
#include <boost/asio/post.hpp>
#include <cstdio>

#include "api_json.h"
#include "chronrun/chronrun.h"
#include "chronrun/task_rules.h"
#include "chronstore/chronstore.h"
#include "chronstore/holidays.h"
#include "consolecore/task_view.h"
#include "consolecore/tim_task_rules.h"
#include "logbase/log_codes.h"
#include "logbase/logbase.h"
#include "web_client.h"

namespace webapi {

namespace {

using nlohmann::json;

std::vector<TimTaskPoint_> storedTasks() {
    TimTaskGuard guard;
    return GetTTPointArray();
}

std::string dateText(int year, int month, int day) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", year % 10000, month % 100, day % 100);
    return text;
}

std::string clockText(std::uint32_t seconds) {
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", (seconds / 3600) % 100, seconds / 60 % 60,
                  seconds % 60);
    return text;
}

json outlets(const std::array<bool, 16>& states) {
    return json(states);
}

// The next start by the runner's rules, as the window's task list shows it; null when none.
json nextRunJson(const std::optional<ChronrunLocalTime>& next) {
    if (!next) return nullptr;
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", next->year % 10000,
                  next->month % 100, next->day % 100, next->hour % 100, next->minute % 100,
                  next->second % 100);
    return text;
}

json taskJson(const TimTaskPoint_& task) {
    json weekdays = json::array();
    for (int day = 0; day < 7; ++day) {
        if (TaskRunsOnWeekday(task, day)) weekdays.push_back(day);
    }
    json devices = json::array();
    for (const DeviceOnOff_& device : task.devList) {
        std::array<bool, 16> states{};
        for (std::size_t k = 0; k < states.size(); ++k) states[k] = device.devLED[k] != 0;
        devices.push_back({{"id", device.devID}, {"outlets", outlets(states)}});
    }
    const char* kinds[] = {"date", "week"};
    const char* states[] = {"idle", "running", "ended"};
    return {{"name", GetTimNameUtf8(task)},
            {"number", task.timID},
            {"enabled", task.ttEnable != 0},
            {"kind", task.ttType < 2 ? kinds[task.ttType] : "other"},
            {"from", dateText(task.staYear, task.staMonth, task.staDay)},
            {"to", dateText(task.endYear, task.endMonth, task.endDay)},
            {"weekdays", std::move(weekdays)},
            {"start", clockText(task.statime)},
            {"end", clockText(task.endtime)},
            {"skipHolidays", task.skipHolidays},
            {"state", task.runState < 3 ? states[task.runState] : "idle"},
            {"devices", std::move(devices)}};
}

Answer ok(const Request& request, http::status status, const json& body) {
    return Answer{jsonResponse(request, status, jsonText(body)), false};
}

json holidayList() {
    json dates = json::array();
    for (const HolidayDate date : GetHolidays()) dates.push_back(FormatHolidayDate(date));
    return json{{"dates", std::move(dates)}};
}

Answer refuse(const Request& request, http::status status, const std::string& text) {
    return Answer{errorResponse(request, status, text), false};
}

// GET: the list; PUT (admin): the list replaced, written through the store as the holiday
// dialog writes it.
Answer holidays(const Request& request, const Route& route, const Identity& who) {
    if (!route.write) return ok(request, http::status::ok, holidayList());
    const auto texts = parseHolidaysBody(request.body());
    if (!texts) return refuse(request, http::status::bad_request, "body must be {\"dates\":[..]}");
    HolidayList dates;
    for (const std::string& text : *texts) {
        const auto date = ParseHolidayDate(text);
        if (!date) return refuse(request, http::status::bad_request, "not a date: " + text);
        dates.push_back(*date);
    }
    SetHolidays(NormaliseHolidays(std::move(dates)));
    if (!SaveHolidaysToFile()) {
        return refuse(request, http::status::service_unavailable, "Holidays.ini cannot be written");
    }
    logEvent(logcode::kRun, logcode::kTimedTask,
             "网页用户" + who.user + "修改节假日:" + std::to_string(GetHolidays().size()) + "天");
    return ok(request, http::status::ok, holidayList());
}

// Admin: the task leaves the store and its file.
Answer deleteTask(const Request& request, const Route& route, const Identity& who) {
    bool found = false;
    bool saved = false;
    {
        TimTaskGuard guard;
        for (int i = 0; i < GetTTPointCount(); ++i) {
            if (GetTimNameUtf8(GetTTPointByIndex(i)) != route.task) continue;
            RemoveTTPointByIdx(i);
            found = true;
            saved = SaveTimPointToFile();
            break;
        }
    }
    if (!found) return refuse(request, http::status::not_found, "no such task");
    logEvent(logcode::kRun, logcode::kTimedTask,
             "网页用户" + who.user + "删除定时任务[" + route.task + "]");
    if (!saved)
        return refuse(request, http::status::service_unavailable,
                      "TimingTask.ini cannot be written");
    return ok(request, http::status::ok, json::object());
}

// Admin: the task stored under its name as the editor stores it (same checks, same record),
// replacing one of that name or added with the next free number.
Answer putTask(const Request& request, const Route& route, const Identity& who) {
    auto body = parseTaskBody(request.body());
    if (!body) {
        return refuse(request, http::status::bad_request,
                      "body must be {\"kind\":\"date\"|\"week\",\"from\":\"YYYY-MM-DD\","
                      "\"to\":..,\"weekdays\":[0..6],\"start\":\"HH:MM:SS\",\"end\":..,"
                      "\"devices\":[{\"id\":N,\"outlets\":[16 booleans]}]}");
    }
    TimTaskPoint_ named;
    SetTimNameUtf8(named, route.task);
    if (GetTimNameUtf8(named) != route.task) {
        return refuse(request, http::status::bad_request, "a task name holds 19 characters");
    }
    consolecore::TaskForm form;
    form.name = GetTimName(named);
    form.type = body->week ? kTaskWeekMode : kTaskDateMode;
    form.startDate = {body->from.year, body->from.month, body->from.day};
    form.endDate = {body->to.year, body->to.month, body->to.day};
    form.weekdays = body->weekdays;
    form.startTime = body->start;
    form.endTime = body->end;
    form.skipHolidays = body->skipHolidays;
    const consolecore::TaskCheck check = consolecore::checkTaskForm(form, false);
    if (check != consolecore::TaskCheck::Ok) {
        return refuse(request, http::status::bad_request, consolecore::taskCheckMessage(check));
    }
    std::vector<DeviceOnOff_> devices;
    for (const TaskBody::Device& device : body->devices) {
        DeviceOnOff_ entry;
        entry.devID = device.id;
        for (std::size_t k = 0; k < kDeviceOutletCount; ++k) entry.devLED[k] = device.outlets[k];
        devices.push_back(entry);
    }
    TimTaskPoint_ task = consolecore::buildTask(form, devices);
    task.ttEnable = body->enabled ? 1 : 0;
    bool added = true;
    bool saved = false;
    {
        TimTaskGuard guard;
        std::vector<std::uint16_t> numbers;
        int index = -1;
        for (int i = 0; i < GetTTPointCount(); ++i) {
            const TimTaskPoint_& stored = GetTTPointByIndex(i);
            numbers.push_back(static_cast<std::uint16_t>(stored.timID));
            if (index < 0 && GetTimNameUtf8(stored) == route.task) index = i;
        }
        if (index >= 0) {
            added = false;
            task.timID = GetTTPointByIndex(index).timID;
            ModifyTTPoint(index, task);
        } else {
            task.timID = consolecore::nextTaskNumber(std::move(numbers));
            PlusTTPoint(task);
        }
        saved = SaveTimPointToFile();
    }
    logEvent(
        logcode::kRun, logcode::kTimedTask,
        "网页用户" + who.user + (added ? "添加定时任务[" : "修改定时任务[") + route.task + "]");
    if (!saved) {
        return refuse(request, http::status::service_unavailable,
                      "TimingTask.ini cannot be written");
    }
    return ok(request, added ? http::status::created : http::status::ok, taskJson(task));
}

// Operator: the task's pattern sent now to each of its devices, or to those the body names,
// through the runner as a run sends it. Named devices the task does not hold are refused.
Answer applyTask(const Request& request, const Route& route, const Identity& who) {
    const auto body = parseApplyBody(request.body());
    if (!body) {
        return refuse(request, http::status::bad_request,
                      "body must be empty, {} or {\"devices\":[ids]}");
    }
    for (const TimTaskPoint_& task : storedTasks()) {
        if (GetTimNameUtf8(task) != route.task) continue;
        std::vector<std::uint16_t> named;
        for (const DeviceOnOff_& device : task.devList) named.push_back(device.devID);
        const std::vector<std::uint16_t> wanted = body->devices.value_or(named);
        json sent = json::array();
        json refused = json::array();
        int tried = 0;
        for (const std::uint16_t id : wanted) {
            const bool held = std::find(named.begin(), named.end(), id) != named.end();
            tried += held ? 1 : 0;
            const bool ok = held && ApplyChronrunTask(task.timID, id);
            (ok ? sent : refused).push_back(id);
        }
        logEvent(logcode::kRun, logcode::kTimedTask,
                 "网页用户" + who.user + "应用定时任务[" + route.task + "]到" +
                     std::to_string(sent.size()) + "台设备");
        // Devices the task holds were tried and none took it: the runner is not running.
        if (sent.empty() && tried > 0) {
            return refuse(request, http::status::service_unavailable,
                          "the task runner is not running");
        }
        return ok(
            request, http::status::ok,
            {{"applied", sent.size()}, {"sent", std::move(sent)}, {"refused", std::move(refused)}});
    }
    return refuse(request, http::status::not_found, "no such task");
}

}  // namespace

void WebClient::tasks(Request&& request, const Reply& to, const Route& route, const Identity& who) {
    auto shared = std::make_shared<const Request>(std::move(request));
    boost::asio::post(m_slowWork, [shared, to, route, who] {
        const Request& r = *shared;
        switch (route.endpoint) {
            case Endpoint::Tasks: {
                json list = json::array();
                const ChronrunLocalTime now = consolecore::runnerNow();
                const HolidayList holidays = GetHolidays();
                for (const TimTaskPoint_& task : storedTasks()) {
                    json entry = taskJson(task);
                    entry["nextRun"] = nextRunJson(chronrun::nextStart(task, now, holidays));
                    list.push_back(std::move(entry));
                }
                return answer(to, ok(r, http::status::ok, list));
            }
            case Endpoint::TaskState: {
                json rows = json::array();
                for (const consolecore::TaskViewRow& row : consolecore::currentTaskView()) {
                    rows.push_back({{"device", row.devID},
                                    {"deviceName", row.deviceName},
                                    {"task", row.taskName},
                                    {"should", outlets(row.should)},
                                    {"is", outlets(row.is)},
                                    {"online", row.online},
                                    {"mismatch", row.mismatch()}});
                }
                return answer(to, ok(r, http::status::ok, rows));
            }
            case Endpoint::Holidays:
                return answer(to, holidays(r, route, who));
            case Endpoint::TaskDelete:
                return answer(to, deleteTask(r, route, who));
            case Endpoint::TaskPut:
                return answer(to, putTask(r, route, who));
            default:
                break;
        }
        return answer(to, applyTask(r, route, who));
    });
}

}  // namespace webapi
