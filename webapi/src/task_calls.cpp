// The timed-task calls: the store's tasks, the should-be/is rows of the task view, and
// applying a task now. They run on the slow-work thread: the store and the runner have locks
// of their own and neither the engine's thread nor the server's should wait on them.
#include <boost/asio/post.hpp>
#include <cstdio>

#include "api_json.h"
#include "chronrun/chronrun.h"
#include "chronstore/chronstore.h"
#include "consolecore/task_view.h"
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

}  // namespace

void WebClient::tasks(Request&& request, const Reply& to, const Route& route, const Identity& who) {
    auto shared = std::make_shared<const Request>(std::move(request));
    boost::asio::post(m_slowWork, [shared, to, route, who] {
        const Request& r = *shared;
        switch (route.endpoint) {
            case Endpoint::Tasks: {
                json list = json::array();
                for (const TimTaskPoint_& task : storedTasks()) list.push_back(taskJson(task));
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
            default:
                break;
        }
        // Apply: every device of the task gets its pattern now, as a run sends it.
        for (const TimTaskPoint_& task : storedTasks()) {
            if (GetTimNameUtf8(task) != route.task) continue;
            int sent = 0;
            for (const DeviceOnOff_& device : task.devList) {
                sent += ApplyChronrunTask(task.timID, device.devID) ? 1 : 0;
            }
            logEvent(logcode::kRun, logcode::kTimedTask,
                     "网页用户" + who.user + "应用定时任务[" + route.task + "]到" +
                         std::to_string(sent) + "台设备");
            if (sent == 0 && !task.devList.empty()) {
                return answer(to, Answer{errorResponse(r, http::status::service_unavailable,
                                                       "the task runner is not running"),
                                         false});
            }
            return answer(to, ok(r, http::status::ok, {{"applied", sent}}));
        }
        answer(to, Answer{errorResponse(r, http::status::not_found, "no such task"), false});
    });
}

}  // namespace webapi
