// The API on the real engine in-process (the engine on a thread of its own, the server on its
// own): a token's calls reach the engine and a device, and the device's events reach a stream.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <iterator>

#include <nlohmann/json.hpp>

#include "chronrun/chronrun_options.h"
#include "chronstore/chronstore.h"
#include "chronstore/holidays.h"
#include "consolecore/tim_task_rules.h"
#include "engine_thread.h"
#include "http_test_client.h"
#include "lanwire/lanwire_options.h"
#include "protocol/frame_types.h"
#include "public/data_path.h"
#include "simtcp/sim_fleet.h"
#include "testkit/free_port.h"
#include "testkit/wait_for.h"
#include "webapi/user_store.h"
#include "webapi/web_api.h"

namespace {

using namespace std::chrono_literals;
using webtest::Client;
namespace http = webtest::http;

std::uint16_t freePort() {
    return testkit::freeListenPort();
}

// The runner's pauses between outlets 200 times shorter; a date no task here runs on.
class QuickClock : public ChronrunClock {
public:
    ChronrunLocalTime localNow() override { return {2024, 1, 29, 1, 8, 30, 0}; }
    std::chrono::nanoseconds realPause(std::chrono::milliseconds delay) override {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(delay) / 200;
    }
};

TEST(WebClient, ATokensCallsReachTheEngineAndTheDeviceAndItsEventsReachAStream) {
    testkit::TempDir dir;
    const std::string folder = dir.path().string() + "/";
    SetDataPath(folder);
    webapi::UserStore users(folder + "Users.ini");
    const std::string token = users.setToken("script", webapi::Role::Operator);
    const std::string adminToken = users.setToken("boss", webapi::Role::Admin);
    std::string problem;
    ASSERT_TRUE(users.save(problem)) << problem;

    SetChronrunOptions({std::make_shared<QuickClock>(), {}});
    consolecore::beginApplication();
    consolecore::SessionOptions options;
    options.programFolder = folder;
    options.port = 0;
    options.taskFolder = dir.file("TimingTask");
    webapi::WebOptions web;
    web.port = freePort();
    {
        coretest::EngineThread console(options, webapi::webApiFactory(web));
        const webtest::Headers bearer{{"Authorization", "Bearer " + token}};
        Client stream(*web.port);
        ASSERT_EQ(stream.openStream("/api/events", bearer).rfind("HTTP/1.1 200", 0), 0u);

        simtcp::SimFleet fleet("127.0.0.1", GetLanwirePort());
        auto config = simtcp::makeDeviceConfig(0, 77);
        simtcp::SimDevice& device = fleet.add(config);
        simtcp::SimDevice& chosen = fleet.add(simtcp::makeDeviceConfig(1, 78));
        simtcp::SimDevice& left = fleet.add(simtcp::makeDeviceConfig(2, 79));
        fleet.start();
        Client client(*web.port);
        ASSERT_TRUE(testkit::waitFor(
            [&] {
                return client.send(http::verb::get, "/api/devices/77", {}, bearer).status == 200;
            },
            30s));
        const auto reply =
            client.send(http::verb::put, "/api/devices/77/outlets/9", R"({"on":true})", bearer);
        EXPECT_EQ(reply.status, 200) << reply.body;
        EXPECT_TRUE(device.waitFrames(
            [](const std::vector<simtcp::ReceivedFrame>& frames) {
                for (const auto& f : frames) {
                    if (f.command() == protocol::NET_CMD_CHANNEL && f.param(0) == 9) return true;
                }
                return false;
            },
            30s));
        // The device's newest state on the stream: outlet 9 on.
        const std::string events = stream.readUntil(
            [](const std::string& t) {
                return t.find("false,false,false,false,false,false,false,false,true,false") !=
                       std::string::npos;
            },
            30s);
        EXPECT_NE(events.find("event: device\ndata: {\"group\":0,\"id\":77"), std::string::npos)
            << events;

        // A timed task applied now: its pattern reaches the device (outlet 16 on).
        TimTaskPoint_ task;
        SetTimNameUtf8(task, "一号");
        task.ttEnable = 1;
        DeviceOnOff_ entry;
        entry.devID = 77;
        entry.devLED[15] = 1;
        task.devList.push_back(entry);
        PlusTTPoint(task);
        const auto tasks = client.send(http::verb::get, "/api/tasks", {}, bearer);
        ASSERT_EQ(tasks.status, 200);
        EXPECT_EQ(nlohmann::json::parse(tasks.body)[0]["name"], "一号");
        const auto applied =
            client.send(http::verb::post, "/api/tasks/%E4%B8%80%E5%8F%B7/apply", {}, bearer);
        EXPECT_EQ(applied.body, R"({"applied":1,"refused":[],"sent":[77]})");
        EXPECT_TRUE(device.waitFrames(
            [](const std::vector<simtcp::ReceivedFrame>& frames) {
                for (const auto& f : frames) {
                    if (f.command() == protocol::NET_CMD_CHANNEL && f.param(0) == 16 &&
                        f.param(1) == 1)
                        return true;
                }
                return false;
            },
            30s));
        EXPECT_EQ(client.send(http::verb::post, "/api/tasks/none/apply", {}, bearer).status, 404);

        // Holidays and deleting a task are the admin's, written through the store.
        const webtest::Headers admin{{"Authorization", "Bearer " + adminToken}};
        const std::string dates = R"({"dates":["2026-12-25","2026-01-01"]})";
        EXPECT_EQ(client.send(http::verb::put, "/api/holidays", dates, bearer).status, 403);
        EXPECT_EQ(
            client.send(http::verb::put, "/api/holidays", R"({"dates":["2026-02-30"]})", admin)
                .status,
            400);
        const auto holidays = client.send(http::verb::put, "/api/holidays", dates, admin);
        EXPECT_EQ(holidays.body, R"({"dates":["2026-01-01","2026-12-25"]})");
        EXPECT_TRUE(IsHoliday(2026, 12, 25));
        // Editing tasks is the admin's too, with the editor's checks, written to the file.
        const std::string week =
            R"({"kind":"week","from":"2026-01-01","to":"2026-12-31","weekdays":[1],)"
            R"("start":"08:00:00","end":"09:00:00","skipHolidays":true,"devices":[{"id":77,)"
            R"("outlets":[false,true,false,false,false,false,false,false,false,false,false,)"
            R"(false,false,false,false,false]}]})";
        EXPECT_EQ(
            client.send(http::verb::put, "/api/tasks/%E4%B8%80%E5%8F%B7", week, bearer).status,
            403);
        std::string backwards = week;
        backwards.replace(backwards.find("09:00:00"), 8, "07:00:00");
        const auto refused =
            client.send(http::verb::put, "/api/tasks/%E4%B8%80%E5%8F%B7", backwards, admin);
        EXPECT_EQ(refused.status, 400);
        EXPECT_NE(refused.body.find(
                      consolecore::taskCheckMessage(consolecore::TaskCheck::StartNotBeforeEnd)),
                  std::string::npos)
            << refused.body;
        const auto changed =
            client.send(http::verb::put, "/api/tasks/%E4%B8%80%E5%8F%B7", week, admin);
        EXPECT_EQ(changed.status, 200) << changed.body;
        const auto added = client.send(http::verb::put, "/api/tasks/two", week, admin);
        EXPECT_EQ(added.status, 201) << added.body;
        {
            TimTaskGuard guard;
            ASSERT_EQ(GetTTPointCount(), 2);
            const TimTaskPoint_& first = GetTTPointByIndex(0);
            EXPECT_EQ(first.ttType, kTaskWeekMode);
            EXPECT_TRUE(first.monday && first.skipHolidays);
            EXPECT_EQ(first.statime, 8u * 3600);
            ASSERT_EQ(first.devList.size(), 1u);
            EXPECT_EQ(first.devList[0].devLED[1], 1);
            EXPECT_NE(GetTTPointByIndex(1).timID, first.timID);
        }
        std::ifstream file(dir.file("TimingTask") + "/TimingTask.ini");
        const std::string saved((std::istreambuf_iterator<char>(file)), {});
        EXPECT_NE(saved.find("two"), std::string::npos) << saved;
        EXPECT_EQ(client.send(http::verb::delete_, "/api/tasks/two", {}, admin).status, 200);
        EXPECT_EQ(
            client.send(http::verb::delete_, "/api/tasks/%E4%B8%80%E5%8F%B7", {}, bearer).status,
            403);
        EXPECT_EQ(
            client.send(http::verb::delete_, "/api/tasks/%E4%B8%80%E5%8F%B7", {}, admin).status,
            200);
        EXPECT_EQ(GetTTPointCount(), 0);

        // Applied to the devices chosen only: 78 gets the pattern, 79 nothing, 99 is not the
        // task's. Outlet 3 on marks this task's frames.
        ASSERT_TRUE(testkit::waitFor(
            [&] {
                return client.send(http::verb::get, "/api/devices/79", {}, bearer).status == 200;
            },
            30s));
        nlohmann::json outletThree = nlohmann::json::array();
        for (int k = 1; k <= 16; ++k) outletThree.push_back(k == 3);
        const std::string pair =
            R"({"kind":"week","from":"2024-01-01","to":"2024-01-01","weekdays":[3],)"
            R"("start":"10:00:00","end":"11:00:00","devices":[{"id":78,"outlets":)" +
            outletThree.dump() + R"(},{"id":79,"outlets":)" + outletThree.dump() + "}]}";
        ASSERT_EQ(client.send(http::verb::put, "/api/tasks/pair", pair, admin).status, 201);
        const auto some = client.send(http::verb::post, "/api/tasks/pair/apply",
                                      R"({"devices":[78,99]})", bearer);
        EXPECT_EQ(some.body, R"({"applied":1,"refused":[99],"sent":[78]})");
        EXPECT_EQ(
            client.send(http::verb::post, "/api/tasks/pair/apply", R"({"device":[78]})", bearer)
                .status,
            400);
        const auto marked = [](int outlet) {
            return [outlet](const std::vector<simtcp::ReceivedFrame>& frames) {
                for (const auto& f : frames) {
                    if (f.command() == protocol::NET_CMD_CHANNEL && f.param(0) == outlet &&
                        f.param(1) == (outlet == 3 ? 1 : 0))
                        return true;
                }
                return false;
            };
        };
        // 78's last outlet comes long after its third; had 79 been sent to, its third would be in.
        EXPECT_TRUE(chosen.waitFrames(marked(16), 30s));
        EXPECT_FALSE(marked(3)(left.frames()));

        // The next start of each task by the runner's rules, at Monday 2024-01-29 08:30:00.
        const struct {
            const char* name;
            const char* body;
            nlohmann::json nextRun;
        } starts[] = {
            {"wed", R"("kind":"week","weekdays":[3],"start":"10:00:00","end":"11:00:00")",
             "2024-01-31 10:00:00"},
            {"march", R"("kind":"date","weekdays":[],"start":"07:00:00","end":"08:00:00")",
             "2024-03-01 07:00:00"},
            {"off",
             R"("kind":"week","weekdays":[3],"start":"10:00:00","end":"11:00:00",)"
             R"("enabled":false)",
             nullptr},
        };
        for (const auto& c : starts) {
            const std::string body = std::string("{") + c.body +
                                     R"(,"from":"2024-03-01","to":"2024-03-05","devices":[]})";
            ASSERT_EQ(client.send(http::verb::put, std::string("/api/tasks/") + c.name, body, admin)
                          .status,
                      201)
                << body;
        }
        const auto listed = nlohmann::json::parse(
            client.send(http::verb::get, "/api/tasks", {}, bearer).body, nullptr, false);
        for (const auto& c : starts) {
            SCOPED_TRACE(c.name);
            bool found = false;
            for (const auto& task : listed) {
                if (task.value("name", "") != c.name) continue;
                found = true;
                EXPECT_EQ(task.value("nextRun", nlohmann::json("missing")), c.nextRun);
            }
            EXPECT_TRUE(found) << listed;
        }
    }
    consolecore::endApplication();
    SetChronrunOptions({});
    SetDataPath("");
}

}  // namespace

// A stream opened with a session cookie ends with that session: when the session's time is up
// (the clock moved to 300 ms before its end, then the stream opened), or when it logs out.
TEST(WebClient, AnEventStreamEndsWhenItsSessionExpiresOrLogsOut) {
    testkit::TempDir dir;
    const std::string folder = dir.path().string() + "/";
    SetDataPath(folder);
    webapi::UserStore users(folder + "Users.ini");
    ASSERT_TRUE(users.setUser("op", webapi::Role::Operator, "op-pass"));
    std::string problem;
    ASSERT_TRUE(users.save(problem)) << problem;

    consolecore::beginApplication();
    consolecore::SessionOptions options;
    options.programFolder = folder;
    options.port = 0;
    options.taskFolder = dir.file("TimingTask");
    webapi::WebOptions web;
    web.port = freePort();
    auto ahead = std::make_shared<std::atomic<std::chrono::steady_clock::duration>>(
        std::chrono::steady_clock::duration::zero());
    web.clock = [ahead] { return std::chrono::steady_clock::now() + ahead->load(); };
    {
        coretest::EngineThread console(options, webapi::webApiFactory(web));
        const auto login = [&](Client& client) {
            const auto reply = client.send(http::verb::post, "/api/login",
                                           R"({"user":"op","password":"op-pass"})");
            EXPECT_EQ(reply.status, 200) << reply.body;
            return webtest::Headers{
                {"Cookie", reply.cookie()},
                {"X-CSRF-Token", nlohmann::json::parse(reply.body).value("csrf", "")}};
        };
        using Step = std::function<void(Client&, const webtest::Headers&)>;
        const Step nothing = [](Client&, const webtest::Headers&) {};
        const struct {
            const char* name;
            Step beforeOpening;
            Step afterOpening;
        } cases[] = {
            // The stream's session ends a second after the stream starts.
            {"expiry", [&](Client&, const webtest::Headers&) { ahead->store(480min - 1s); },
             nothing},
            {"logout", nothing,
             [](Client& client, const webtest::Headers& who) {
                 EXPECT_EQ(client.send(http::verb::post, "/api/logout", {}, who).status, 200);
             }},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            ahead->store(std::chrono::steady_clock::duration::zero());
            Client client(*web.port);
            const webtest::Headers who = login(client);
            c.beforeOpening(client, who);
            Client stream(*web.port);
            ASSERT_EQ(stream.openStream("/api/events", who).rfind("HTTP/1.1 200", 0), 0u);
            EXPECT_FALSE(stream.closedWithin(200ms));
            c.afterOpening(client, who);
            EXPECT_TRUE(stream.closedWithin(10s));
            // The cookie opens no stream any more.
            EXPECT_EQ(Client(*web.port).send(http::verb::get, "/api/events", {}, who).status, 401);
        }
    }
    consolecore::endApplication();
    SetDataPath("");
}
