// Routes, bodies, the login limit and the cookie reader: table-driven, without a server.
#include "webapi/api_parse.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>

#include "auth.h"

namespace {

using webapi::Endpoint;
using webapi::Route;
using webapi::RouteError;

TEST(ApiParse, RoutesTakeTheirParametersAndRefuseWhatIsOutOfRange) {
    const struct {
        const char* method;
        const char* target;
        int status;  // 0: a route
        Endpoint endpoint;
        int value;  // device, outlet*100000, group or run, as the route names it
    } cases[] = {
        {"GET", "/healthz", 0, Endpoint::Health, 0},
        {"GET", "/metrics", 0, Endpoint::Metrics, 0},
        {"POST", "/api/login", 0, Endpoint::Login, 0},
        {"GET", "/api/login", 405, {}, 0},
        {"GET", "/api/devices", 0, Endpoint::Devices, 0},
        {"GET", "/api/devices?x=1", 0, Endpoint::Devices, 0},
        {"GET", "/api/devices/65535", 0, Endpoint::Device, 65535},
        {"GET", "/api/devices/65536", 404, {}, 0},
        {"GET", "/api/devices/-1", 404, {}, 0},
        {"GET", "/api/devices/+1", 404, {}, 0},
        {"GET", "/api/devices/1x", 404, {}, 0},
        {"PUT", "/api/devices/7/outlets/16", 0, Endpoint::Outlet, 1600007},
        {"PUT", "/api/devices/7/outlets/0", 400, {}, 0},
        {"PUT", "/api/devices/7/outlets/17", 400, {}, 0},
        {"PUT", "/api/devices/7/outlets/a", 400, {}, 0},
        {"GET", "/api/devices/7/outlets/1", 405, {}, 0},
        {"POST", "/api/groups/6/runs", 0, Endpoint::GroupRuns, 6},
        {"POST", "/api/groups/7/runs", 400, {}, 0},
        {"POST", "/api/groups/0/runs", 400, {}, 0},
        {"GET", "/api/runs/18446744073709551615", 0, Endpoint::Run, -1},
        {"DELETE", "/api/runs/3", 0, Endpoint::Run, 3},
        {"GET", "/api/runs/18446744073709551616", 404, {}, 0},
        {"PUT", "/api/runs/3", 405, {}, 0},
        {"GET", "/api/events", 0, Endpoint::Events, 0},
        {"GET", "/api/log?type=2", 0, Endpoint::Log, 0},
        {"GET", "/api/log.csv", 0, Endpoint::LogCsv, 0},
        {"GET", "/api/tasks", 0, Endpoint::Tasks, 0},
        {"GET", "/api/tasks/state", 0, Endpoint::TaskState, 0},
        {"POST", "/api/tasks/%E4%B8%80%E5%8F%B7/apply", 0, Endpoint::TaskApply, 0},
        {"POST", "/api/tasks/a%2/apply", 404, {}, 0},
        {"POST", "/api/tasks/a%0Ab/apply", 404, {}, 0},
        {"GET", "/api/tasks/x/apply", 405, {}, 0},
        {"DELETE", "/api/tasks/x", 0, Endpoint::TaskDelete, 0},
        {"PUT", "/api/tasks/x", 0, Endpoint::TaskPut, 0},
        {"POST", "/api/tasks/x", 405, {}, 0},
        {"PUT", "/api/holidays", 0, Endpoint::Holidays, 0},
        {"POST", "/api/holidays", 405, {}, 0},
        {"GET", "/api/nothing", 404, {}, 0},
        {"GET", "/apix/devices", 404, {}, 0},
        {"GET", "api/devices", 404, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.target);
        const auto parsed = webapi::parseRoute(c.method, c.target);
        if (c.status != 0) {
            ASSERT_TRUE(std::holds_alternative<RouteError>(parsed));
            EXPECT_EQ(std::get<RouteError>(parsed).status, c.status);
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<Route>(parsed));
        const Route& r = std::get<Route>(parsed);
        EXPECT_EQ(r.endpoint, c.endpoint);
        EXPECT_EQ(r.write, std::string(c.method) != "GET");
        const long long value =
            r.device + r.outlet * 100000LL + r.group + static_cast<long long>(r.run);
        EXPECT_EQ(value, c.value);
    }
    const auto task = webapi::parseRoute("POST", "/api/tasks/%E4%B8%80%E5%8F%B7/apply");
    EXPECT_EQ(std::get<Route>(task).task, "一号");
}

TEST(ApiParse, BodiesNeedTheirKeysWithTheirTypes) {
    const struct {
        const char* body;
        bool outlet;  // reads as an outlet body
        bool run;     // reads as a run body
        bool login;   // reads as a login body
    } cases[] = {
        {R"({"on":true})", true, false, false},
        {R"({"on":1})", false, false, false},
        {R"({"on":"true"})", false, false, false},
        {R"([{"on":true}])", false, false, false},
        {R"({"on":true)", false, false, false},
        {"", false, false, false},
        {R"({"kind":"serial","on":false})", true, true, false},
        {R"({"kind":"Serial","on":false})", true, false, false},
        {R"({"kind":"parallel"})", false, false, false},
        {R"({"user":"a","password":"b"})", false, false, true},
        {R"({"user":"a","password":7})", false, false, false},
        {R"({"user":"a"})", false, false, false},
    };
    EXPECT_EQ(webapi::parseHolidaysBody(R"({"dates":["2026-01-01","x"]})")->size(), 2u);
    EXPECT_FALSE(webapi::parseHolidaysBody(R"({"dates":["2026-01-01",1]})"));
    EXPECT_FALSE(webapi::parseHolidaysBody(R"({"dates":"2026-01-01"})"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        EXPECT_EQ(webapi::parseOutletBody(c.body).has_value(), c.outlet);
        EXPECT_EQ(webapi::parseRunBody(c.body).has_value(), c.run);
        EXPECT_EQ(webapi::parseLoginBody(c.body).has_value(), c.login);
    }
    const auto run = webapi::parseRunBody(R"({"kind":"serial","on":false})");
    EXPECT_EQ(run->kind, consolecore::GroupKind::Serial);
    EXPECT_FALSE(run->on);
}

TEST(ApiParse, TaskBodiesTakeTheEditorsFieldsAndRefuseWhatItCannotHold) {
    const std::string device77 =
        R"({"id":77,"outlets":[true,false,false,false,false,false,false,false,false,false,)"
        R"(false,false,false,false,false,true]})";
    // A valid body with one key's value replaced (or a key added).
    const auto body = [&](const std::string& key = "", const std::string& value = "") {
        std::map<std::string, std::string> fields{{"kind", R"("week")"},
                                                  {"from", R"("2026-01-01")"},
                                                  {"to", R"("2026-12-31")"},
                                                  {"weekdays", "[0,6]"},
                                                  {"start", R"("08:00:00")"},
                                                  {"end", R"("18:30:05")"},
                                                  {"devices", "[" + device77 + "]"}};
        if (!key.empty()) fields[key] = value;
        std::string text = "{";
        for (const auto& [name, json] : fields) text += "\"" + name + "\":" + json + ",";
        text.back() = '}';
        return text;
    };
    const auto task = webapi::parseTaskBody(body());
    ASSERT_TRUE(task) << body();
    EXPECT_TRUE(task->week);
    EXPECT_EQ(task->to.month, 12);
    EXPECT_EQ(task->end, 18u * 3600 + 30 * 60 + 5);
    EXPECT_EQ(task->weekdays, (std::array<bool, 7>{true, false, false, false, false, false, true}));
    EXPECT_TRUE(task->enabled);
    EXPECT_FALSE(task->skipHolidays);
    ASSERT_EQ(task->devices.size(), 1u);
    EXPECT_EQ(task->devices[0].id, 77);
    EXPECT_TRUE(task->devices[0].outlets[0] && task->devices[0].outlets[15]);
    EXPECT_FALSE(task->devices[0].outlets[1]);
    const struct {
        const char* key;
        std::string value;
        bool reads;
    } cases[] = {
        {"kind", R"("date")", true},
        {"kind", R"("month")", false},
        {"from", R"("2026-13-01")", false},
        {"from", R"("2026-1-01")", false},
        {"to", R"("0000-01-01")", false},
        {"start", R"("24:00:00")", false},
        {"end", R"("08:60:00")", false},
        {"start", R"("8:00:00")", false},
        {"start", "28800", false},
        {"weekdays", "[7]", false},
        {"weekdays", R"("0")", false},
        {"skipHolidays", "true", true},
        {"enabled", R"("no")", false},
        {"devices", "[]", true},
        {"devices", "[" + device77 + "," + device77 + "]", false},
        {"devices", R"([{"id":0,"outlets":[]}])", false},
        {"devices", R"([{"id":70000,"outlets":[]}])", false},
        {"devices", R"([{"id":5,"outlets":[true]}])", false},
        {"devices", R"({"id":5})", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(body(c.key, c.value));
        EXPECT_EQ(webapi::parseTaskBody(body(c.key, c.value)).has_value(), c.reads);
    }
    EXPECT_FALSE(webapi::parseTaskBody(R"({"kind":"week"})"));
}

TEST(ApiParse, ApplyBodiesNameSomeDevicesOrNoneForAll) {
    using Ids = std::vector<std::uint16_t>;
    const struct {
        const char* body;
        bool reads;
        std::optional<Ids> devices;  // none: every device of the task
    } cases[] = {
        {"", true, std::nullopt},
        {"{}", true, std::nullopt},
        {R"({"devices":[1002,7]})", true, Ids{1002, 7}},
        {R"({"devices":[65535]})", true, Ids{65535}},
        {R"({"devices":[]})", false, std::nullopt},
        {R"({"devices":[0]})", false, std::nullopt},
        {R"({"devices":[65536]})", false, std::nullopt},
        {R"({"devices":[7,7]})", false, std::nullopt},
        {R"({"devices":["7"]})", false, std::nullopt},
        {R"({"devices":[-7]})", false, std::nullopt},
        {R"({"devices":7})", false, std::nullopt},
        {R"({"device":[7]})", false, std::nullopt},
        {R"({"devices":[7],"all":true})", false, std::nullopt},
        {"[7]", false, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        const auto body = webapi::parseApplyBody(c.body);
        ASSERT_EQ(body.has_value(), c.reads);
        if (body) {
            EXPECT_EQ(body->devices, c.devices);
        }
    }
    std::string many = R"({"devices":[1)";
    for (std::size_t id = 2; id <= webapi::kTaskBodyDevices + 1; ++id)
        many += "," + std::to_string(id);
    EXPECT_FALSE(webapi::parseApplyBody(many + "]}"));
}

TEST(ApiParse, LogQueriesTakeDatesATypeALimitAndAPlaceAndNothingElse) {
    const struct {
        const char* target;
        bool ok;
    } cases[] = {
        {"/api/log", true},
        {"/api/log?from=2026-01-02&to=2026-12-31&type=3&limit=1000&before=9", true},
        {"/api/log?from=2026-1-02", false},
        {"/api/log?to=2026-01-0x", false},
        {"/api/log?type=0", false},
        {"/api/log?type=4", false},
        {"/api/log?limit=0", false},
        {"/api/log?limit=1001", false},
        {"/api/log?before=0", false},
        {"/api/log?before=2147483648", false},
        {"/api/log?type=1&type=2", false},
        {"/api/log?sort=asc", false},
        {"/api/log?type", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(webapi::parseLogQuery(c.target).has_value(), c.ok) << c.target;
    const auto q = webapi::parseLogQuery("/api/log?from=2026-01-02&type=3&limit=7&before=9");
    EXPECT_EQ(q->from, "2026-01-02");
    EXPECT_EQ(q->to, "9999-12-31");
    EXPECT_EQ(q->type, 3);
    EXPECT_EQ(q->limit, 7);
    EXPECT_EQ(q->before, 9);
}

TEST(ApiParse, FiveFailuresWithinAMinuteLimitAnAddressUntilTheFirstIsAMinuteOld) {
    auto now = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
    webapi::FailureLimiter limiter([&] { return now; });
    for (int i = 0; i < 5; ++i) {
        EXPECT_FALSE(limiter.limited("10.0.0.1"));
        limiter.failed("10.0.0.1");
        now += std::chrono::seconds(10);
    }
    EXPECT_TRUE(limiter.limited("10.0.0.1"));
    EXPECT_FALSE(limiter.limited("10.0.0.2"));
    now += std::chrono::seconds(9);  // the first failure is 59 s old
    EXPECT_TRUE(limiter.limited("10.0.0.1"));
    now += std::chrono::seconds(1);
    EXPECT_FALSE(limiter.limited("10.0.0.1"));
}

TEST(ApiParse, TheSessionCookieIsFoundAmongOthers) {
    const struct {
        const char* header;
        const char* value;  // null: none
    } cases[] = {
        {"vantrel_session=ab12", "ab12"},
        {"a=1; vantrel_session=ab12; b=2", "ab12"},
        {"xvantrel_session=ab12", nullptr},
        {"vantrel_session", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        const auto value = webapi::cookieValue(c.header, webapi::kSessionCookie);
        EXPECT_EQ(value.has_value(), c.value != nullptr) << c.header;
        if (value && c.value) {
            EXPECT_EQ(*value, c.value);
        }
    }
}

}  // namespace
